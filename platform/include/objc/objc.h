/** @file
    Basic Objective-C types: objects, classes, selectors, implementations. */
#ifndef OBJC_OBJC_H
#define OBJC_OBJC_H

#include <objc/objc-api.h>

/** A class: its record (see <objc/objc-class.h>). */
typedef struct objc_class *Class;

/** Every object begins with its class. */
typedef struct objc_object {
  Class isa; /**< the object's class */
} * id;

/** A selector is the address of its unique, interned name text: two
   selectors are equal exactly when the pointers are. */
typedef const struct objc_selector *SEL;

/** A method's implementation: receiver, selector, then the method's own
   arguments. */
typedef id (*IMP)(id, SEL, ...);
/** A truth value: YES or NO (encoded "c"). */
typedef signed char BOOL;

#define YES ((BOOL)1)  /**< true */
#define NO ((BOOL)0)   /**< false */
#define nil ((id)0)    /**< the null object */
#define Nil ((Class)0) /**< the null class */

OBJC_BEGIN_DECLS

/** The unique selector for a name, made on first use. */
OBJC_EXPORT SEL sel_registerName(const char *name) OBJC_NOEXCEPT;
/** Same as sel_registerName. */
OBJC_EXPORT SEL sel_getUid(const char *name) OBJC_NOEXCEPT;
/** The name of a selector; null for a null selector. */
OBJC_EXPORT const char *sel_getName(SEL sel) OBJC_NOEXCEPT;
/** YES when the text is the name of a selector already made. */
OBJC_EXPORT BOOL sel_isMapped(SEL sel) OBJC_NOEXCEPT;

OBJC_END_DECLS

#endif
