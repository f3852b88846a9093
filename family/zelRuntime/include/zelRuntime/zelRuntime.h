/** @file
    zelRuntime: the registry of the scripting languages loaded in a process.
   A language library registers its language object when it is loaded,
   after its Objective-C modules (a constructor of priority 110 or later). */

/** @class ZELScriptingLanguage
   @extends NSObject
   The registry of languages, and a convenient superclass for a language
   object: its instances have no scripts and claim nothing.

   A language object answers fileExtension (an NSString), interpClass (a
   class answering mainInterp), valueClass (a class answering valueWithInt:
   and valueWithPointer:toObjCType:), isResponsibleForException:,
   logException: and presentException:.
   @verbatim
   +availableLanguages  an array of the registered language objects, in
                        the order they were registered
   -fileExtension       nil
   -interpClass         Nil
   -valueClass          Nil
   -isResponsibleForException:
                        NO
   -logException:       nothing
   -presentException:   nothing
   @endverbatim */
#ifndef ZELRUNTIME_ZELRUNTIME_H
#define ZELRUNTIME_ZELRUNTIME_H

#include <objc/objc-runtime.h>

#ifndef ZEL_EXPORT
#define ZEL_EXPORT OBJC_EXPORT
#endif

OBJC_BEGIN_DECLS

/** Appends a language (retained) to the registry; a language already there
   keeps its place. */
ZEL_EXPORT void ZELRegisterScriptingLanguage(id language) OBJC_NOEXCEPT;

/** Takes a language out of the registry and releases it; does nothing for
   one not registered. */
ZEL_EXPORT void ZELUnregisterScriptingLanguage(id language) OBJC_NOEXCEPT;

OBJC_END_DECLS

#endif
