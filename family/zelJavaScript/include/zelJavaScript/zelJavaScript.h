/** @file
    zelJavaScript: the JavaScript language (the system's SpiderMonkey 102),
   registered with zelRuntime when the library is loaded: the classes
   ZELJSInterp, ZELJSValue and ZELJSLanguage, and the object objc of every
   global (see @ref js_commands).

   Scripts have print(...) and console.log/info (a line on standard output,
   the arguments separated by spaces) and console.warn/error (on standard
   error). A script that does not parse or throws an error it does not
   catch raises an exception named ZELJavaScriptException whose reason is
   "FILE:LINE: MESSAGE" followed by the stack, one frame a line; the
   language claims such exceptions and writes them on stderr, to log and to
   present alike.

   Languages are listed by availableLanguages in the order their libraries
   load: zelJavaScript loads zelTcl first, so Tcl comes before JavaScript,
   and a bundle with both main.tcl and main.js runs main.tcl. The engine is
   started at first use and shut down at exit. */

/** @class ZELJSInterp
   @extends NSObject
   A JavaScript interpreter: a global object of its own. alloc and init make
   one; the first one made is the language's main interpreter.
   @verbatim
   +mainInterp          the main interpreter
   -setVariable:toValue:global:
                        a property of its global object, whatever the flag
                        says: a script's top level has no other scope
   -sourceFile:         runs a script file; answers its completion value
                        as a ZELJSValue
   -evaluate:           the same for a script given as an NSString
   -isCompleteScript:   whether the text is a whole script
   @endverbatim */

/** @class ZELJSValue
   @extends NSObject
   A JavaScript value.
   @verbatim
   +valueWithInt:       the integer's value
   +valueWithPointer:toObjCType:
                        an array of the C strings of a null-terminated
                        vector for the type "*", the pointer's address in
                        hexadecimal for any other type
   -description         the value converted as String() would
   @endverbatim */

/** @class ZELJSLanguage
   @extends ZELScriptingLanguage
   The JavaScript language object: file extension "js", interpreter class
   ZELJSInterp, value class ZELJSValue; it claims the exceptions named
   ZELJavaScriptException. */

/** @page js_commands JavaScript commands
   Every global has the object objc with the commands of the bridge (see
   @ref commands): `objc.send(RECEIVER, SELECTOR, ...ARGS)`, a group as an
   object of functions (`objc.protocol.create(...)`), `objc.callback(TYPES,
   FUNCTION)` a function with `objc.callback.free`. Method bodies are
   functions of self, _cmd and the arguments (this is self). Values: null
   and undefined are nil, numbers, booleans, strings, arrays (structs,
   lists), plain objects (maps), handle objects (one per live object in a
   global, so === and Map keys go by the object; their String() describes
   the object, equals() compares), BigInts for 64-bit integers beyond 2^53.
   Arrays, plain objects and numbers passed where an object is expected
   become NSArray, NSDictionary and NSNumber. A bad call throws an Error;
   an Objective-C exception an Error whose name, reason and exception are
   the exception's. The globals also have print, console, exit, quit and
   gc. */
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
