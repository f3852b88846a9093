/** @file
    zelJavaScript: the JavaScript language (the system's SpiderMonkey 102),
   registered with zelRuntime when the library is loaded.

   - ZELJSInterp: alloc/init make an interpreter, a global object of its
     own; the first one made is the language's main interpreter
     (+mainInterp). An interpreter answers setVariable:toValue:global:
     (a property of its global object, whatever the flag says: a script's
     top level has no other scope) and sourceFile:, which runs a script
     file and answers its completion value as a ZELJSValue.
   - ZELJSValue: a JavaScript value; +valueWithInt:, and
     +valueWithPointer:toObjCType:, which makes an array of the C strings
     of a null-terminated vector for the type "*" and the pointer's address
     in hexadecimal for any other type. -description answers the value
     converted as String() would.
   - Scripts have print(...) and console.log/info (a line on standard
     output, the arguments separated by spaces) and console.warn/error (on
     standard error).
   - Every global has the object objc, the bridge to Objective-C and C:
     objc.class(NAME), objc.string(TEXT), objc.send(RECEIVER, SELECTOR,
     ARG...), objc.super(...), objc.former(...), objc.defineClass(NAME,
     SUPERCLASS, IVARS), objc.method(CLASS, ["-class",] SELECTOR, TYPES,
     FUNCTION) (the function gets self, _cmd and the arguments; this is
     self), objc.ivar(OBJECT, NAME, [VALUE]), objc.cfunction(NAME,
     [SIGNATURE, [JSNAME]]), objc.protocol.find/list/create/implements/
     conforms and objc.symbols.load/lookup/list. A bad call throws an Error
     with the reason; an Objective-C exception inside a send throws
     "NAME: REASON"; an error inside a method called from Objective-C
     raises ZELJavaScriptException there.
   - The language object (class ZELJSLanguage): file extension "js". A
     script that does not parse or throws an error it does not catch
     raises an exception named ZELJavaScriptException whose reason is
     "FILE:LINE: MESSAGE" followed by the stack, one frame a line; the
     language claims such exceptions and writes them on stderr, to log and
     to present alike.

   Languages are listed by availableLanguages in the order their libraries
   load: zelJavaScript loads zelTcl first, so Tcl comes before JavaScript,
   and a bundle with both main.tcl and main.js runs main.tcl.

   The engine is started at first use and shut down at exit. */
#ifndef ZELJAVASCRIPT_ZELJAVASCRIPT_H
#define ZELJAVASCRIPT_ZELJAVASCRIPT_H

#include <objc/objc-runtime.h>

#ifndef ZEL_EXPORT
#define ZEL_EXPORT OBJC_EXPORT
#endif

OBJC_BEGIN_DECLS

/** The name (an NSString) of the exceptions raised for JavaScript errors. */
ZEL_EXPORT extern id ZELJavaScriptException;

OBJC_END_DECLS

#endif
