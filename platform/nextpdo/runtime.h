/* Internals shared by the runtime's source modules (never exported). */
#ifndef NEXTPDO_RUNTIME_H
#define NEXTPDO_RUNTIME_H

#include <objc/objc-runtime.h>

#define NEXTPDO_HIDDEN __attribute__((visibility("hidden")))

namespace nextpdo {

/* One lock for the class table, method lists and cache fills. Recursive:
   +initialize sends messages while it is held. */
NEXTPDO_HIDDEN void lock() noexcept;
NEXTPDO_HIDDEN void unlock() noexcept;

/* Classes. */
NEXTPDO_HIDDEN Class classNamed(const char *name) noexcept;
/* The class whose metaclass is meta; Nil when unknown. */
NEXTPDO_HIDDEN Class classOfMeta(Class meta) noexcept;
NEXTPDO_HIDDEN bool isMeta(Class cls) noexcept;

/* Method lists. */
NEXTPDO_HIDDEN struct objc_method_list **
newMethodListArray(struct objc_method_list *first) noexcept;
NEXTPDO_HIDDEN void uniqueSelectors(struct objc_method_list *list) noexcept;
NEXTPDO_HIDDEN void addMethodsUnlocked(Class cls,
                                       struct objc_method_list *list) noexcept;
NEXTPDO_HIDDEN Method findMethod(Class cls, SEL sel) noexcept;

/* Protocol objects of a module: selectors made unique, isa set. */
NEXTPDO_HIDDEN void fixProtocols(struct objc_protocol_list *list) noexcept;
NEXTPDO_HIDDEN Class protocolClass() noexcept;

} // namespace nextpdo

/* Called from the messaging code (C linkage, not exported). */
extern "C" {
NEXTPDO_HIDDEN IMP nextpdo_lookup(Class cls, SEL sel) noexcept;
NEXTPDO_HIDDEN id nextpdo_forward(id self, SEL op) noexcept;
/* _objc_msgForward under a name that stays inside this library. */
NEXTPDO_HIDDEN id nextpdo_msgForward(id self, SEL op, ...);
}

#endif
