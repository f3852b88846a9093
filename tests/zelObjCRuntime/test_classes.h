/* Test classes written as module records, and short lookups by name. */
#ifndef ZEL_TESTS_TEST_CLASSES_H
#define ZEL_TESTS_TEST_CLASSES_H

#include <objc/objc-load.h>
#include <zelObjCRuntime/zelObjCRuntime.h>

/* A class record sym and its metaclass sym_meta. super is the superclass's
   name (OBJC_SUPER_NAME) or null; instances hold only isa. */
#define TEST_CLASS(sym, name, super, imethods, cmethods)                     \
  struct objc_class sym##_meta = {nullptr, nullptr, name, 0, CLS_META,       \
                                  sizeof(struct objc_class), nullptr,        \
                                  cmethods, nullptr, nullptr};               \
  struct objc_class sym = {&sym##_meta, super, name, 0, CLS_CLASS, 4,       \
                           nullptr, imethods, nullptr, nullptr}

inline SEL sel(const char *name) { return sel_registerName(name); }

inline Class cls(const char *name) {
  return reinterpret_cast<Class>(objc_getClass(name));
}

#endif
