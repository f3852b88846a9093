/** @file
    The Objective-C runtime: messaging, the class table, caches and the
   registration of compiled modules. */
#ifndef OBJC_OBJC_RUNTIME_H
#define OBJC_OBJC_RUNTIME_H

#include <objc/objc.h>
#include <objc/objc-class.h>
#include <objc/hashtable.h>
#include <objc/Protocol.h>

/* ---- Module records, as a compiler of this platform writes them ----

   A library describes its classes, categories and selector references in
   one record per source module and hands each to __objc_execClass between
   objc_register_header and objc_finish_header (see <objc/objc-load.h>).

   In a module, before registration:
   - every method name (method_name, and the name of a protocol's method
     description) holds the selector's name text; registration replaces it
     with the unique selector;
   - a class record's isa points at its metaclass record; its super_class
     holds the superclass's name text (null for a root class); the
     metaclass's isa and super_class are filled in by the runtime;
   - a class record's methodLists field holds one method list (or null),
     not an array; registration makes the array;
   - a protocol object's isa may be null; it is set to the class Protocol.
   A class whose superclass is not registered yet waits for it, and so
   does a category whose class is not registered yet. */

/** Methods a module adds to a class defined elsewhere. */
struct objc_category {
  const char *category_name;                 /**< 0 */
  const char *class_name;                    /**< 4: the class it extends */
  struct objc_method_list *instance_methods; /**< 8: or null */
  struct objc_method_list *class_methods;    /**< 12: or null */
  struct objc_protocol_list *protocols;      /**< 16: adopted, or null */
};
/** A category record. */
typedef struct objc_category *Category;

/** What a module defines: selector references, classes, categories. */
struct objc_symtab {
  unsigned long sel_ref_cnt;  /**< entries in refs */
  SEL *refs;                  /**< selector references, name texts until
                                registration makes them selectors */
  unsigned short cls_def_cnt; /**< class records in defs */
  unsigned short cat_def_cnt; /**< category records after them */
  void *defs[1]; /**< cls_def_cnt classes, then cat_def_cnt categories */
};

/** One compiled source module, as handed to __objc_execClass. */
struct objc_module {
  unsigned long version;      /**< OBJC_MODULE_VERSION */
  unsigned long size;         /**< sizeof(struct objc_module) */
  const char *name;           /**< source file name */
  struct objc_symtab *symtab; /**< what the module defines */
};

/** The module record version this runtime reads. */
#define OBJC_MODULE_VERSION 7

OBJC_BEGIN_DECLS

/* ---- Messaging ---- */

/** Sends a message: probes the receiver's class cache, else asks
   _class_lookupMethodAndLoadCache, then jumps to the implementation with
   the caller's arguments untouched. A nil receiver answers 0. Declared
   without a prototype of its own: cast it to the method's type. */
OBJC_EXPORT id objc_msgSend(id self, SEL op, ...);
/** The same for methods returning an aggregate: the hidden result pointer
   comes first, the receiver second. */
OBJC_EXPORT void objc_msgSend_stret(void *result, id self, SEL op, ...);
/** The same as objc_msgSend for methods returning float, double or long
   double: a nil receiver answers 0.0 on the x87 stack, which the caller
   of such a method pops. */
OBJC_EXPORT double objc_msgSend_fpret(id self, SEL op, ...);

/** What a message to an instance of cls would run, now in the class's
   cache (unless the class is still being initialised). For a selector that
   nothing implements, a null one included, the forwarding implementation,
   also cached. Runs +initialize first when the class has not been. */
OBJC_EXPORT IMP _class_lookupMethodAndLoadCache(Class cls,
                                                SEL sel) OBJC_NOEXCEPT;

/** The forwarding implementation: sends doesNotRecognizeSelector: to the
   receiver when its class has that method, else aborts naming class and
   selector. */
OBJC_EXPORT id _objc_msgForward(id self, SEL op, ...);

/** The shared empty cache: mask 0, occupied 0, never freed. */
OBJC_EXPORT extern struct objc_cache _objc_empty_cache;

/** Empties the caches of a class and of all classes that inherit from it,
   instance and class side. */
OBJC_EXPORT void _objc_flush_caches(Class cls) OBJC_NOEXCEPT;

/* ---- Classes ---- */

/** The class of that name, known to be loaded; nil otherwise. */
OBJC_EXPORT id objc_getClass(const char *name) OBJC_NOEXCEPT;
/** The class of that name, or nil with no other effect. */
OBJC_EXPORT id objc_lookUpClass(const char *name) OBJC_NOEXCEPT;
/** The metaclass of the class of that name, or nil. */
OBJC_EXPORT id objc_getMetaClass(const char *name) OBJC_NOEXCEPT;
/** The table of all registered classes (never metaclasses). */
OBJC_EXPORT NXHashTable *objc_getClasses(void) OBJC_NOEXCEPT;
/** Registers a class made at run time and its metaclass (through isa).
   super_class fields are pointers here. A null cache becomes the shared
   empty cache, on class and metaclass. */
OBJC_EXPORT void objc_addClass(Class cls) OBJC_NOEXCEPT;
/** Takes a class out of the class table again. */
OBJC_EXPORT void _objc_removeClass(Class cls) OBJC_NOEXCEPT;

/* ---- Module registration ---- */

/** Opens the registration of one loaded library, named by its path. */
OBJC_EXPORT void objc_register_header(const char *path) OBJC_NOEXCEPT;
/** Registers a module's selectors, classes and categories. */
OBJC_EXPORT void __objc_execClass(struct objc_module *module) OBJC_NOEXCEPT;
/** Closes the registration begun by objc_register_header. */
OBJC_EXPORT void objc_finish_header(void) OBJC_NOEXCEPT;

OBJC_END_DECLS

#endif
