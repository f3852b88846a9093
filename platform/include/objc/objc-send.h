/** @file
    Sending messages from C++: objc_msgSend cast to the method's type. */
#ifndef OBJC_OBJC_SEND_H
#define OBJC_OBJC_SEND_H

#include <objc/objc-runtime.h>

#ifdef __cplusplus
#include <type_traits>

/** A function pointer as another function type; going through
   void (*)(void) keeps the compiler's function-type warning quiet. */
template <typename Fn, typename From> inline Fn objc_fn_cast(From fn) {
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)(void)>(fn));
}

/** Sends op to self with args and answers the method's result of type R.
   Aggregate results go through objc_msgSend_stret, floating-point ones
   through objc_msgSend_fpret. Arguments are passed
   as written: convert them to the method's exact parameter types. */
template <typename R = id, typename... A>
inline R objc_send(id self, SEL op, A... args) {
  using Fn = R (*)(id, SEL, A...);
  if constexpr (std::is_class_v<R> || std::is_union_v<R>)
    return objc_fn_cast<Fn>(objc_msgSend_stret)(self, op, args...);
  else if constexpr (std::is_floating_point_v<R>)
    return objc_fn_cast<Fn>(objc_msgSend_fpret)(self, op, args...);
  else
    return objc_fn_cast<Fn>(objc_msgSend)(self, op, args...);
}

/** The same with the selector named by its text. */
template <typename R = id, typename... A>
inline R objc_send(id self, const char *name, A... args) {
  return objc_send<R>(self, sel_registerName(name), args...);
}

/** The same sent to a class, the selector named by its text. */
template <typename R = id, typename... A>
inline R objc_send(Class cls, const char *name, A... args) {
  return objc_send<R>(reinterpret_cast<id>(cls), sel_registerName(name),
                      args...);
}

/** The same sent to a class. */
template <typename R = id, typename... A>
inline R objc_send(Class cls, SEL op, A... args) {
  return objc_send<R>(reinterpret_cast<id>(cls), op, args...);
}

/** Sends to the class of that name (nil when no such class is loaded). */
template <typename R = id, typename... A>
inline R objc_send_class(const char *className, const char *name, A... args) {
  return objc_send<R>(objc_getClass(className), sel_registerName(name),
                      args...);
}

/** Calls an implementation directly, bypassing lookup. */
template <typename R = id, typename... A>
inline R objc_call_imp(IMP imp, id self, SEL op, A... args) {
  using Fn = R (*)(id, SEL, A...);
  return objc_fn_cast<Fn>(imp)(self, op, args...);
}

#endif
#endif
