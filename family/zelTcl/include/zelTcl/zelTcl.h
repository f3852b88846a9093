/** @file
    zelTcl: the Tcl language, registered with zelRuntime when the library is
   loaded.

   - ZELTclInterp: alloc/init make a Tcl interpreter; the first one made is
     the language's main interpreter (+mainInterp). An interpreter answers
     setVariable:toValue:global: and sourceFile:, which runs a script file
     and answers its result as a ZELTclValue, and evaluate:, the same for a
     script given as an NSString.
   - Every interpreter has the commands of namespace objc, the bridge to
     Objective-C and C:
       objc::class NAME                      the class, or an error
       objc::send RECEIVER SELECTOR ?ARG ...?
       objc::super RECEIVER SELECTOR ?ARG ...?   the superclass's method
       objc::former RECEIVER SELECTOR ?ARG ...?  the method it displaced
       objc::string TEXT                     an autoreleased NSString
       objc::defineClass NAME SUPERCLASS ?IVARS?  IVARS a struct encoding
       objc::method CLASS ?-class? SELECTOR TYPES ARGNAMES BODY
       objc::ivar OBJECT NAME ?VALUE?
       objc::protocol find|list|create|implements|conforms|name ...
       objc::cfunction NAME ?SIGNATURE? ?TCLNAME?  a command calling NAME
       objc::symbols load|lookup|enumerate|tables ...
     Objects and classes are handles "0x...#N" (address and serial); a
     class name stands for the class wherever a receiver or class is
     expected. nil is "" (or the word nil; only "nil" where a C string is
     expected). Where an object is expected, any text that is not a handle
     becomes an NSString. Integers are range-checked; 64-bit ones are
     decimal text; structs, arrays are lists (a union: its first member).
     A method body runs as a procedure of self, _cmd and ARGNAMES; a Tcl
     error in it raises ZELTclException with Tcl's error information.
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

/** The name (an NSString) of the exceptions raised for Tcl errors. */
ZEL_EXPORT extern id ZELTclException;

OBJC_END_DECLS

#endif
