/** @file
    zelTcl: the Tcl language, registered with zelRuntime when the library is
   loaded: the classes ZELTclInterp, ZELTclValue and ZELTclLanguage, and the
   commands of namespace objc in every interpreter (see @ref tcl_commands).
   A script error raises an exception named ZELTclException whose reason is
   Tcl's error information (message and trace); the language claims such
   exceptions and writes them on stderr, to log and to present alike. */

/** @class ZELTclInterp
   @extends NSObject
   A Tcl interpreter with the objc commands. alloc and init make one; the
   first one made is the language's main interpreter.
   @verbatim
   +mainInterp          the main interpreter
   -setVariable:toValue:global:
                        sets a variable of the interpreter
   -sourceFile:         runs a script file; answers its result as a
                        ZELTclValue
   -evaluate:           the same for a script given as an NSString
   -isCompleteScript:   whether the text is a whole script (a console
                        reads on while it is not)
   @endverbatim */

/** @class ZELTclValue
   @extends NSObject
   A Tcl value.
   @verbatim
   +valueWithInt:       the integer's value
   +valueWithPointer:toObjCType:
                        a list of the C strings of a null-terminated vector
                        for the type "*", the pointer's address in
                        hexadecimal for any other type
   -description         its text
   @endverbatim */

/** @class ZELTclLanguage
   @extends ZELScriptingLanguage
   The Tcl language object: file extension "tcl", interpreter class
   ZELTclInterp, value class ZELTclValue; it claims the exceptions named
   ZELTclException. */

/** @page tcl_commands Tcl commands
   Every ZELTclInterp (and every interpreter that ran `package require
   zelTcl`) has the commands of the bridge (see @ref commands) in namespace
   objc: `objc::send RECEIVER SELECTOR ?ARG ...?`, groups as ensembles
   (`objc::protocol create ...`), and `objc::classes` for classNames.
   Method bodies are ARGNAMES and BODY, run as a procedure of self, _cmd and
   ARGNAMES. Objects and classes are handles "0x...#N" (address and serial);
   a class name stands for the class wherever a receiver or class is
   expected; nil is "" (or the word nil; only "nil" where a C string is
   expected). Where an object is expected, any text that is not a handle
   becomes an NSString. Integers are range-checked; 64-bit ones are decimal
   text; structs and arrays are lists (a union: its first member); truth
   values 1 and 0. An Objective-C exception gives -errorcode {OBJC NAME
   REASON}; a Tcl error in a method called from Objective-C raises
   ZELTclException with Tcl's error information. */
#ifndef ZELTCL_ZELTCL_H
#define ZELTCL_ZELTCL_H

#include <objc/objc-runtime.h>

#ifndef ZEL_EXPORT
#define ZEL_EXPORT OBJC_EXPORT
#endif

OBJC_BEGIN_DECLS

/** The name (an NSString) of the exceptions raised for Tcl errors. */
ZEL_EXPORT extern id ZELTclException;

struct Tcl_Interp;

/** The package entry of `load libzelTcl.so` (and of `package require
   zelTcl`, through the package index installed in lib/zelTcl/): makes the
   objc commands in the interpreter and provides the package zelTcl.
   TCL_OK or TCL_ERROR. */
ZEL_EXPORT int Zeltcl_Init(struct Tcl_Interp *interp);
/** Refuses a safe interpreter (TCL_ERROR): every command of the bridge can
   reach the process's memory. */
ZEL_EXPORT int Zeltcl_SafeInit(struct Tcl_Interp *interp);

OBJC_END_DECLS

#endif
