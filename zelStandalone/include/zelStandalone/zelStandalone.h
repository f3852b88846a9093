/** @file
    zelStandalone: runs an application bundle's main script.

   Loading the library also replaces NSApplication's sendEvent: (category
   ZELExceptionHandling): an exception that escapes the dispatch of an
   event is presented by the scripting language that claims it, or else in
   an alert offering "Continue" or "Quit". Events sent before
   ZELApplicationMain has run are dropped. */
#ifndef ZELSTANDALONE_ZELSTANDALONE_H
#define ZELSTANDALONE_ZELSTANDALONE_H

#include <objc/objc-runtime.h>

#ifndef ZEL_EXPORT
#define ZEL_EXPORT OBJC_EXPORT
#endif

OBJC_BEGIN_DECLS

/** The application's entry, called by main with its arguments. Runs the
   main script ("main" plus the language's file extension, in the bundle's
   resources) of the first registered language that has one, with the
   script's global variables "argc" and "argv" set from the arguments, then
   ends the process with exit status 1, whether a script ran or not. An
   exception raised meanwhile is logged by the first language that claims
   it, and the process ends the same way; one that no language claims is
   raised again and leaves this function. */
ZEL_EXPORT void ZELApplicationMain(int argc, char **argv) OBJC_NOEXCEPT
    __attribute__((noreturn));

OBJC_END_DECLS

#endif
