/* zelLua: the Lua language (Lua 5.4), registered with zelRuntime when the
   library is loaded; its classes are made by the bridge core.

   - ZELLuaInterp: alloc/init make an interpreter, a Lua state of its own;
     the first one made is the language's main interpreter (+mainInterp).
     setVariable:toValue:global: sets a global; sourceFile: and evaluate:
     run a file or a text and answer its first result as a ZELLuaValue.
   - ZELLuaValue: a Lua value; +valueWithInt:, +valueWithPointer:toObjCType:
     (a list of the C strings of a null-terminated vector for the type "*",
     the pointer's address in hexadecimal for any other), -description.
   - Every state has the table objc, the bridge to Objective-C and C:
     objc.class, objc.send, objc.super, objc.former, objc.string,
     objc.defineClass, objc.method(CLASS, ["-class",] SELECTOR, TYPES,
     FUNCTION) (the function gets self, _cmd and the arguments), objc.ivar,
     objc.protocol.find/list/create/implements/conforms/name, objc.cfunction
     and objc.symbols.load/lookup/enumerate/tables. A bad call raises a Lua
     error with the reason; an Objective-C exception inside a send raises
     "NAME: REASON"; a Lua error inside a method called from Objective-C
     raises ZELLuaException there.
   - The language object (class ZELLuaLanguage): file extension "lua"; it
     claims ZELLuaException, whose reason is the error and Lua's traceback,
     and writes it on stderr.

   Languages are listed in the order their libraries load: zelLua loads
   zelJavaScript (and so zelTcl) first: Tcl, JavaScript, Lua. */
#ifndef ZELLUA_ZELLUA_H
#define ZELLUA_ZELLUA_H

#include <objc/objc-runtime.h>

#ifndef ZEL_EXPORT
#define ZEL_EXPORT OBJC_EXPORT
#endif

OBJC_BEGIN_DECLS

/* The name (an NSString) of the exceptions raised for Lua errors. */
ZEL_EXPORT extern id ZELLuaException;

OBJC_END_DECLS

#endif
