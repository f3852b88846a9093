/** @file
    The proxy root class NXProxy, in the library NXProxy: a process that
   links the library has it, any other has no proxies. Reached by name and
   by message; this header declares nothing else. */
#ifndef OBJC_NXPROXY_H
#define OBJC_NXPROXY_H

#include <objc/objc.h>

/** @class NXProxy
   A root class standing in for an object elsewhere; instances are isa alone.
   Apart from these it answers nothing (no retain, release or init): a
   subclass adds what its proxies forward.
   @verbatim
   +alloc               a zero-filled instance with isa set, through the
                        runtime's allocation hooks
   +new                 the same as alloc (no init is sent)
   +class               the class itself
   -freeProxy           frees the instance; answers what object_dispose
                        answers (nil unless a hook says otherwise)
   -decodeUsing:        the object that stands for the proxy once decoded:
                        itself for a plain proxy; a subclass may answer
                        another object, which replaces it
   -class               the instance's class
   @endverbatim */

#endif
