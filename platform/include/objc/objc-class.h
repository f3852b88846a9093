/** @file
    The runtime's records, laid out as 32-bit words, and the operations on
   classes, method lists and instance variables. */
#ifndef OBJC_OBJC_CLASS_H
#define OBJC_OBJC_CLASS_H

#include <stddef.h>
#include <objc/objc.h>

struct objc_ivar_list;
struct objc_method_list;
struct objc_cache;
struct objc_protocol_list;

/** A class or metaclass record (40 bytes). */
struct objc_class {
  Class isa;                    /**<  0: metaclass; for a metaclass, the
                                              root metaclass */
  Class super_class;            /**<  4: null for a root class */
  const char *name;             /**<  8 */
  long version;                 /**< 12 */
  long info;                    /**< 16: CLS_* bits */
  long instance_size;           /**< 20: bytes of one instance */
  struct objc_ivar_list *ivars; /**< 24: null when none */
  struct objc_method_list **methodLists; /**< 28: newest first, ended by
                                             END_OF_METHODS_LIST (or null) */
  struct objc_cache *cache;              /**< 32 */
  struct objc_protocol_list *protocols;  /**< 36: adopted protocols */
};

#define CLS_CLASS 0x1L       /**< info bit of a class record */
#define CLS_META 0x2L        /**< info bit of a metaclass record */
#define CLS_INITIALIZED 0x4L /**< set in the metaclass's info */

/** Ends every method-list array. */
#define END_OF_METHODS_LIST ((struct objc_method_list *)-1)

/** One method (12 bytes). */
struct objc_method {
  SEL method_name;          /**< 0 */
  const char *method_types; /**< 4: type encoding */
  IMP method_imp;           /**< 8 */
};
/** A method record. */
typedef struct objc_method *Method;

/** A list of methods: link word, count, records. */
struct objc_method_list {
  struct objc_method_list *obsolete; /**< 0: link word, unused */
  int method_count;                  /**< 4 */
  struct objc_method method_list[1]; /**< 8: method_count records */
};

/** One instance variable (12 bytes). */
struct objc_ivar {
  const char *ivar_name; /**< 0 */
  const char *ivar_type; /**< 4 */
  int ivar_offset;       /**< 8 */
};
/** An instance variable record. */
typedef struct objc_ivar *Ivar;

/** The instance variables a class adds to its superclass's. */
struct objc_ivar_list {
  int ivar_count;                /**< 0 */
  struct objc_ivar ivar_list[1]; /**< 4: ivar_count records */
};

/** A method cache: selector s sits in bucket (s & mask) or the first free
   one after it, wrapping; one bucket at least is always empty. */
struct objc_cache {
  unsigned int mask;     /**< 0: buckets - 1 */
  unsigned int occupied; /**< 4: filled buckets */
  Method buckets[1];     /**< 8: mask + 1 entries, null when empty */
};

/** Protocols adopted by a class, or incorporated by a protocol. */
struct objc_protocol_list {
  struct objc_protocol_list *next; /**< 0 */
  int count;                       /**< 4 */
  id list[1];                      /**< 8: Protocol objects */
};

#ifdef __cplusplus
static_assert(sizeof(struct objc_class) == 40, "class record");
static_assert(offsetof(struct objc_class, info) == 16, "info");
static_assert(offsetof(struct objc_class, methodLists) == 28, "lists");
static_assert(offsetof(struct objc_class, cache) == 32, "cache");
static_assert(offsetof(struct objc_class, protocols) == 36, "protocols");
static_assert(sizeof(struct objc_method) == 12, "method record");
static_assert(offsetof(struct objc_method_list, method_list) == 8, "list");
static_assert(sizeof(struct objc_ivar) == 12, "ivar record");
static_assert(offsetof(struct objc_ivar_list, ivar_list) == 4, "ivars");
static_assert(offsetof(struct objc_cache, buckets) == 8, "buckets");
static_assert(offsetof(struct objc_protocol_list, list) == 8, "protos");
#endif

OBJC_BEGIN_DECLS

/** Method record of the class or a superclass, or null; reads method lists,
   never caches. */
OBJC_EXPORT Method class_getInstanceMethod(Class cls, SEL sel) OBJC_NOEXCEPT;
/** The same on the metaclass. */
OBJC_EXPORT Method class_getClassMethod(Class cls, SEL sel) OBJC_NOEXCEPT;
/** The class's own method lists, newest first; *iterator starts null.
   Answers null after the last. */
OBJC_EXPORT struct objc_method_list *
class_nextMethodList(Class cls, void **iterator) OBJC_NOEXCEPT;
/** Puts a list in front of the class's lists (selector names already
   unique) and flushes the caches it affects. */
OBJC_EXPORT void class_addMethods(Class cls,
                                  struct objc_method_list *list) OBJC_NOEXCEPT;
/** Takes a list out again and flushes the caches it affects. */
OBJC_EXPORT void
class_removeMethods(Class cls, struct objc_method_list *list) OBJC_NOEXCEPT;
/** The instance variable of that name in the class or a superclass. */
OBJC_EXPORT Ivar class_getInstanceVariable(Class cls,
                                           const char *name) OBJC_NOEXCEPT;
/** The class of an object (its isa); Nil for nil. */
OBJC_EXPORT Class object_getClass(id obj) OBJC_NOEXCEPT;
/** The name of the class (its record's name); null for Nil. */
OBJC_EXPORT const char *class_getName(Class cls) OBJC_NOEXCEPT;

/* Instances, through the allocation hook variables below. Instances are
   zero-filled with isa set. */

/** A new instance of cls with extraBytes more than its instance size
   (_alloc). */
OBJC_EXPORT id class_createInstance(Class cls,
                                    unsigned extraBytes) OBJC_NOEXCEPT;
/** The same from a zone (_zoneAlloc). */
OBJC_EXPORT id class_createInstanceFromZone(Class cls, unsigned extraBytes,
                                            void *zone) OBJC_NOEXCEPT;
/** A byte-for-byte copy of obj with extraBytes more (_copy). */
OBJC_EXPORT id object_copy(id obj, unsigned extraBytes) OBJC_NOEXCEPT;
/** The same from a zone (_zoneCopy). */
OBJC_EXPORT id object_copyFromZone(id obj, unsigned extraBytes,
                                   void *zone) OBJC_NOEXCEPT;
/** obj resized to size bytes, maybe moved (_realloc). */
OBJC_EXPORT id object_realloc(id obj, unsigned size) OBJC_NOEXCEPT;
/** The same in a zone (_zoneRealloc). */
OBJC_EXPORT id object_reallocFromZone(id obj, unsigned size,
                                      void *zone) OBJC_NOEXCEPT;
/** Frees obj (_dealloc); answers nil unless a hook says otherwise. */
OBJC_EXPORT id object_dispose(id obj) OBJC_NOEXCEPT;

/* Allocation hooks: every allocation, copy, reallocation and deallocation
   of an object goes through them, and a program may replace them. */

/** Hook of class_createInstance. */
OBJC_EXPORT extern id (*_alloc)(Class cls, unsigned extraBytes);
/** Hook of class_createInstanceFromZone. */
OBJC_EXPORT extern id (*_zoneAlloc)(Class cls, unsigned extraBytes, void *zone);
/** Hook of object_copy. */
OBJC_EXPORT extern id (*_copy)(id obj, unsigned extraBytes);
/** Hook of object_copyFromZone. */
OBJC_EXPORT extern id (*_zoneCopy)(id obj, unsigned extraBytes, void *zone);
/** Hook of object_realloc. */
OBJC_EXPORT extern id (*_realloc)(id obj, unsigned size);
/** Hook of object_reallocFromZone. */
OBJC_EXPORT extern id (*_zoneRealloc)(id obj, unsigned size, void *zone);
/** Hook of object_dispose. */
OBJC_EXPORT extern id (*_dealloc)(id obj);

OBJC_END_DECLS

#endif
