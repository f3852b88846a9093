/* zelTcl: the Tcl language, registered with zelRuntime when the library is
   loaded.

   - ZELTclInterp: alloc/init make a Tcl interpreter; the first one made is
     the language's main interpreter (+mainInterp). An interpreter answers
     setVariable:toValue:global: and sourceFile:, which runs a script file
     and answers its result as a ZELTclValue.
   - ZELTclValue: a Tcl value; +valueWithInt:, and
     +valueWithPointer:toObjCType:, which makes a list of the C strings of a
     null-terminated vector for the type "*" and the pointer's address in
     hexadecimal for any other type. -description answers its text.
   - The language object (class ZELTclLanguage): file extension "tcl". A
     script error raises an exception named ZELTclException whose reason is
     Tcl's error information (message and trace); the language claims such
     exceptions and writes them on stderr, to log and to present alike. */
#ifndef ZELTCL_ZELTCL_H
#define ZELTCL_ZELTCL_H

#include <objc/objc-runtime.h>

#ifndef ZEL_EXPORT
#define ZEL_EXPORT OBJC_EXPORT
#endif

OBJC_BEGIN_DECLS

/* The name (an NSString) of the exceptions raised for Tcl errors. */
ZEL_EXPORT extern id ZELTclException;

OBJC_END_DECLS

#endif
