/* Short lookups by name for tests with classes written as module records. */
#ifndef ZEL_TESTS_TEST_CLASSES_H
#define ZEL_TESTS_TEST_CLASSES_H

#include <objc/objc-load.h>
#include <zelObjCRuntime/zelObjCRuntime.h>

inline SEL sel(const char *name) { return sel_registerName(name); }

inline Class cls(const char *name) {
  return reinterpret_cast<Class>(objc_getClass(name));
}

#endif
