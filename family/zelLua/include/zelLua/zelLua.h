/** @file
    zelLua: the Lua language (Lua 5.4), registered with zelRuntime when the
   library is loaded: the classes ZELLuaInterp, ZELLuaValue and
   ZELLuaLanguage, made by the bridge core, and the table objc of every Lua
   state (see @ref lua_commands). Languages are listed in the order their
   libraries load: zelLua loads zelJavaScript (and so zelTcl) first: Tcl,
   JavaScript, Lua. */

/** @class ZELLuaInterp
   @extends NSObject
   A Lua state with the table objc. alloc and init make one; the first one
   made is the language's main interpreter.
   @verbatim
   +mainInterp          the main interpreter
   -setVariable:toValue:global:
                        sets a global
   -sourceFile:         runs a script file; answers its first result as a
                        ZELLuaValue
   -evaluate:           the same for a text (an expression answers its
                        value, as in Lua's own console)
   -isCompleteScript:   whether the text is a whole chunk
   @endverbatim */

/** @class ZELLuaValue
   @extends NSObject
   A Lua value.
   @verbatim
   +valueWithInt:       the integer's value
   +valueWithPointer:toObjCType:
                        a list of the C strings of a null-terminated vector
                        for the type "*", the pointer's address in
                        hexadecimal for any other type
   -description         the value's text
   @endverbatim */

/** @class ZELLuaLanguage
   @extends ZELScriptingLanguage
   The Lua language object: file extension "lua"; it claims the exceptions
   named ZELLuaException, whose reason is the error and Lua's traceback,
   and writes them on stderr. */

/** @page lua_commands Lua commands
   Every state has the table objc with the commands of the bridge (see
   @ref commands): `objc.send(RECEIVER, SELECTOR, ...)`, groups as tables
   (`objc.protocol.create(...)`), `objc.callback(TYPES, FUNCTION)` callable
   with `objc.callback.free`. Method bodies are functions of self, _cmd and
   the arguments. Values: nil, integers (64 bits; a `Q` beyond 2^63-1 as
   decimal text), floats, booleans, strings, tables with the keys 1..n
   (structs, lists), other tables (maps), handles (full userdata, one per
   live object, so that they work as table keys; `tostring` describes the
   object). Tables and numbers
   passed where an object is expected become NSArray, NSDictionary and
   NSNumber. A bad call raises a Lua error; an Objective-C exception an
   error table with name, reason and exception whose tostring is
   "NAME: REASON"; a Lua error inside a method called from Objective-C
   raises ZELLuaException there. */
#ifndef ZELLUA_ZELLUA_H
#define ZELLUA_ZELLUA_H

#include <objc/objc-runtime.h>

#ifndef ZEL_EXPORT
#define ZEL_EXPORT OBJC_EXPORT
#endif

OBJC_BEGIN_DECLS

/** The name (an NSString) of the exceptions raised for Lua errors. */
ZEL_EXPORT extern id ZELLuaException;

OBJC_END_DECLS

#endif
