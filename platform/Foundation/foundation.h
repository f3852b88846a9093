/* Internals shared by Foundation's source modules (never installed). */
#ifndef FOUNDATION_INTERNAL_H
#define FOUNDATION_INTERNAL_H

#include <stdarg.h>
#include <objc/objc-load.h>
#include <Foundation/Foundation.h>

#ifndef FND_HIDDEN
#define FND_HIDDEN __attribute__((visibility("hidden")))
#endif

namespace fnd {

/* The instance layout of NSString and its subclasses; NSConstantString
   shares the first three words with NSConstantStringRecord. */
struct StringIvars {
  Class isa;
  char *characters; /* NUL-terminated */
  unsigned length;
  unsigned capacity; /* NSMutableString only: bytes in characters */
};

/* Messages used everywhere. */
FND_HIDDEN id retain(id obj) noexcept;
FND_HIDDEN void release(id obj) noexcept;
FND_HIDDEN id autorelease(id obj) noexcept;
/* The characters of any NSString (null for nil). */
FND_HIDDEN const char *cString(id str) noexcept;
FND_HIDDEN bool isKindOf(id obj, Class cls) noexcept;

/* A new NSString (retained, not autoreleased) owning a copy of the text. */
FND_HIDDEN id newString(const char *text, unsigned length) noexcept;
/* The same, autoreleased. */
FND_HIDDEN id stringWith(const char *text) noexcept;
/* An autoreleased NSString from a printf-style format. */
FND_HIDDEN id stringWithFormat(const char *format, ...) noexcept
    __attribute__((format(printf, 1, 2)));

/* Raises an exception named name with a printf-style reason. */
[[noreturn]] FND_HIDDEN void raise(id name, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

extern FND_HIDDEN struct objc_class NSStringClass;
extern FND_HIDDEN struct objc_class NSMutableStringClass;
extern FND_HIDDEN struct objc_class NSDataClass;

} // namespace fnd

#endif
