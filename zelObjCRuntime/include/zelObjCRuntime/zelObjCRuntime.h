/** @file
    zelObjCRuntime: what a scripting bridge needs to reach Objective-C and C
   while a program runs. Usable from C and C++. */
#ifndef ZELOBJCRUNTIME_ZELOBJCRUNTIME_H
#define ZELOBJCRUNTIME_ZELOBJCRUNTIME_H

#include <objc/objc-runtime.h>
#include <Foundation/Foundation.h>

/** Marks what the library exports (see OBJC_EXPORT). */
#define ZEL_EXPORT OBJC_EXPORT

OBJC_BEGIN_DECLS

/* ===================== Type encodings ===================== */

/** Position after a leading member name and the qualifier letters. */
ZEL_EXPORT const char *
objc_skip_type_qualifiers(const char *type) OBJC_NOEXCEPT;
/** Size in bytes, without padding at the end of a struct. The measures
   read no further than objc_skip_typespec's end for the same type, and
   are 0 for a type nested beyond 1000 levels. */
ZEL_EXPORT int objc_sizeof_type(const char *type) OBJC_NOEXCEPT;
/** Alignment in bytes, with the same limits as objc_sizeof_type. */
ZEL_EXPORT int objc_alignof_type(const char *type) OBJC_NOEXCEPT;
/** Size rounded up to the alignment. */
ZEL_EXPORT int objc_aligned_size(const char *type) OBJC_NOEXCEPT;
/** Room taken on the argument stack. */
ZEL_EXPORT int objc_promoted_size(const char *type) OBJC_NOEXCEPT;
/** Position right after the one type. */
ZEL_EXPORT const char *objc_skip_typespec(const char *type) OBJC_NOEXCEPT;
/** Position after the offset digits behind a type in a method signature. */
ZEL_EXPORT const char *objc_skip_offset(const char *type) OBJC_NOEXCEPT;
/** Position of the next argument's type in a method signature. */
ZEL_EXPORT const char *objc_skip_argspec(const char *type) OBJC_NOEXCEPT;

/* ===================== Dynamic call ===================== */

/** Call kinds: how an argument or result is passed. */
enum {
  APPLY_POINTER = 0,
  APPLY_VOID = 1,
  APPLY_CHAR = 2,
  APPLY_UCHAR = 3,
  APPLY_SHORT = 4,
  APPLY_USHORT = 5,
  APPLY_INT = 6,
  APPLY_UINT = 7,
  APPLY_LONG = 8,
  APPLY_ULONG = 9,
  APPLY_LONGLONG = 10,
  APPLY_ULONGLONG = 11,
  APPLY_FLOAT = 12,
  APPLY_DOUBLE = 13,
  APPLY_AGGREGATE = 14
};
/** One of the APPLY_ call kinds above. */
typedef int ApplyKind;

/** One argument or the result of a dynamic call (12 bytes). */
typedef struct {
  int kind;   /**< 0: an ApplyKind; read only in the result */
  int size;   /**< 4: bytes of the value */
  void *data; /**< 8: the caller's storage */
} ApplyVal;

/** Calls function with argc arguments described by argv, storing the
   result as result->kind says (result may be null). Answers 1; a result
   kind outside 0 to 14 makes no call. A function that returns an
   aggregate needs a result record of kind APPLY_AGGREGATE and the
   aggregate's size, also when the result is not wanted: its data may then
   be null, and the aggregate goes to scratch room of that size. With a
   null record no hidden pointer is passed, and the function takes its
   first argument word for one. Whatever the function leaves on the x87
   stack besides a float or double result is dropped. */
ZEL_EXPORT int apply(void *function, ApplyVal *result, int argc,
                     ApplyVal *argv) OBJC_NOEXCEPT;

/** Flags of zelObjC_TypeToApplyVal. */
#define APPLY_ARRAY_AS_POINTER 1 /**< an array is passed as its address */
#define APPLY_PROMOTE 2          /**< sizes as promoted on the stack */

/** Sets kind and size of val from the first type of the encoding; answers
   1, or 0 for an unsupported type (val untouched): also an aggregate that
   cannot be measured (cut short, nested too deep, or larger than 32 bits
   can hold). */
ZEL_EXPORT int zelObjC_TypeToApplyVal(const char *type, int flags,
                                      ApplyVal *val) OBJC_NOEXCEPT;
/** 1 when the offered method encoding can stand where declared is; 0 when
   either is null. */
ZEL_EXPORT int zelObjC_CompatibleTypes(const char *offered,
                                       const char *declared) OBJC_NOEXCEPT;

/* ===================== 64-bit integer text ===================== */

/** Reads an unsigned 64-bit integer (base 0 or 2 to 36); ERANGE on
   overflow. */
ZEL_EXPORT unsigned long long zelObjC_strtoull(const char *str, char **end,
                                               int base) OBJC_NOEXCEPT;
/** Writes the decimal text of value into buf (21 bytes, NUL included);
   answers its length. */
ZEL_EXPORT int zelObjC_lltostr(long long value, char *buf) OBJC_NOEXCEPT;
/** The same for an unsigned value. */
ZEL_EXPORT int zelObjC_ulltostr(unsigned long long value,
                                char *buf) OBJC_NOEXCEPT;

/* ===================== Methods ===================== */

/** The method record a message to an instance of cls would run; never
   null. Pass the metaclass for class methods. The record always carries
   sel and the implementation to call, but only a record from a method
   list carries the method's types. Three other records come back:

   - Nothing implements sel (cache path): the record the runtime cached
     for such a message, shared by every class that misses sel. Its
     implementation is the forwarder and its types are not a method's.
     class_getInstanceMethod(cls, sel) answers null.
   - The emergency record: while cls is being initialised (a message sent
     from its own +initialize, or from code that +initialize runs) the
     runtime loads nothing into the cache, and the second probe misses.
     The answer is then one record owned by this library, at the same
     address every time, whose selector and implementation are rewritten
     at each such miss: the implementation is the runtime's answer (the
     method's own when there is one, else the forwarder) and the types are
     always "v8@8:12", which no compiled method has (the receiver at
     offset 8). Take the types from class_getInstanceMethod(cls, sel) (null
     when nothing implements sel) and call the implementation found here.
   - After ZelObjC_SetMultithreaded, for a selector that nothing
     implements: another record of this library, with the types "" (empty)
     and the forwarder as implementation.

   Callers that keep records (to cache what they prepared from the types)
   must not keep the emergency record or the multithreaded one. A null cls
   answers the multithreaded not-found record in either mode. */
ZEL_EXPORT Method ZelObjC_LookupMethod(Class cls, SEL sel) OBJC_NOEXCEPT;
/** Removes sel from the caches of cls, its subclasses and their
   metaclasses. */
ZEL_EXPORT void zelObjC_FlushCaches(Class cls, SEL sel) OBJC_NOEXCEPT;
/** Makes ZelObjC_LookupMethod stop reading caches, for good. */
ZEL_EXPORT void ZelObjC_SetMultithreaded(void) OBJC_NOEXCEPT;

/* ===================== Classes ===================== */

/** A new class (and metaclass) with the instance variables described by
   ivars, a struct encoding (may be null); null when the name is taken or
   the description is not a struct. */
ZEL_EXPORT Class ZelObjC_NewClass(const char *name, Class superclass,
                                  const char *ivars) OBJC_NOEXCEPT;
/** Destroys a class made by ZelObjC_NewClass: 1, or 0 while it or its
   metaclass still has a method list or a registered class has it as its
   superclass. */
ZEL_EXPORT int ZelObjC_DestroyClass(Class cls) OBJC_NOEXCEPT;
/** The instance layout as a struct encoding, superclasses included. The
   text lives as long as the class: ZelObjC_DestroyClass frees it, so that
   a class made later at the same address gets a description of its own.
   @pre An NSAutoreleasePool is in place on the thread: the call
   autoreleases objects (without a pool, each call says on standard error
   that an object leaks). */
ZEL_EXPORT const char *ZelObjC_IVarStruct(Class cls) OBJC_NOEXCEPT;
/** The instance variable of that name (class-record fields for a
   metaclass), or null. */
ZEL_EXPORT Ivar ZelObjC_GetInstanceVariable(Class cls,
                                            const char *name) OBJC_NOEXCEPT;

/* ===================== Protocols ===================== */

/** A new protocol; null when the name is known already. The lists are
   kept, not copied.
   @pre An NSAutoreleasePool is in place on the thread: the call
   autoreleases objects (without a pool, each call says on standard error
   that an object leaks). */
ZEL_EXPORT Protocol *ZelObjC_NewProtocol(
    const char *name, struct objc_protocol_list *incorporated,
    struct objc_method_description_list *instanceMethods,
    struct objc_method_description_list *classMethods) OBJC_NOEXCEPT;
/** The protocol of that name (made at run time or compiled in), or null.
   @pre An NSAutoreleasePool is in place on the thread: the call
   autoreleases objects (without a pool, each call says on standard error
   that an object leaks). */
ZEL_EXPORT Protocol *ZelObjC_LookupProtocol(const char *name) OBJC_NOEXCEPT;
/** Pairs of NSString name and Protocol, walked with
   NSNextMapEnumeratorPair. */
ZEL_EXPORT NSMapEnumerator ZelObjC_EnumerateProtocols(void) OBJC_NOEXCEPT;
/** The description of sel (instance nonzero: instance methods), incorporated
   protocols first; null when none. */
ZEL_EXPORT struct objc_method_description *
ZelObjC_LookupProtocolMethod(Protocol *protocol, SEL sel,
                             BOOL instance) OBJC_NOEXCEPT;
/** YES when cls has every method of the protocol with compatible types. */
ZEL_EXPORT BOOL ZelObjC_ImplementsProtocol(Class cls,
                                           Protocol *protocol) OBJC_NOEXCEPT;
/** NSObject's own conformsToProtocol: answer for cls. */
ZEL_EXPORT BOOL ZelObjC_ConformsToProtocol(Class cls,
                                           Protocol *protocol) OBJC_NOEXCEPT;

/* ===================== Object notifications ===================== */

/** Caller-owned notification record; must live for the process. */
typedef struct IdHooks {
  void (*registerId)(id object);              /**< a new object */
  void (*moveId)(id oldObject, id newObject); /**< an object moved */
  void (*unregisterId)(id object);            /**< an object going away */
  struct IdHooks *next; /**< written by zelObjC_InstallIdHooks */
} IdHooks;

/** Installs a record (called before those installed earlier); a record
   already installed stays where it is. */
ZEL_EXPORT void zelObjC_InstallIdHooks(IdHooks *hooks) OBJC_NOEXCEPT;
/** Switches notification of allocations and copies on or off. */
ZEL_EXPORT void zelObjC_SetRegistersIdsOnAlloc(BOOL on) OBJC_NOEXCEPT;
/** 1 while allocations and copies are notified, else 0. */
ZEL_EXPORT int zelObjC_RegistersIdsOnAlloc(void) OBJC_NOEXCEPT;
/** Tells every record of the object; answers it. */
ZEL_EXPORT id ZelObjC_RegisterId(id object) OBJC_NOEXCEPT;
/** Tells every record that the object goes away. */
ZEL_EXPORT void ZelObjC_UnregisterId(id object) OBJC_NOEXCEPT;

/* ===================== Symbol tables ===================== */

/** Kinds of definition. */
enum {
  ZEL_SYMBOL_MACRO = 1,
  ZEL_SYMBOL_TYPEDEF = 2,
  ZEL_SYMBOL_VARIABLE = 3,
  ZEL_SYMBOL_FUNCTION = 4,
  ZEL_SYMBOL_INLINEFUNCTION = 5,
  ZEL_SYMBOL_IMPORTED = 6
};

typedef struct SymbolTable SymbolTable; /**< opaque */

/** Called by ZelObjC_EnumerateSymbols once per definition. */
typedef void (*SymbolEnumerationFunction)(int kind, const char *name,
                                          const char *type, void *context);

/** A new empty table with one holder. */
ZEL_EXPORT SymbolTable *ZelObjC_NewSymbolTable(void) OBJC_NOEXCEPT;
/** Defines (or redefines) name; kinds outside 1 to 6 and empty names are
   ignored. */
ZEL_EXPORT void ZelObjC_DefineSymbol(SymbolTable *table, const char *name,
                                     char kind, const char *type) OBJC_NOEXCEPT;
/** The kind of name (0 when undefined); *type receives its type text. */
ZEL_EXPORT int ZelObjC_LookupSymbol(SymbolTable *table, const char *name,
                                    const char **type) OBJC_NOEXCEPT;
/** Calls function with each definition of the table and context. */
ZEL_EXPORT void ZelObjC_EnumerateSymbols(SymbolTable *table,
                                         SymbolEnumerationFunction function,
                                         void *context) OBJC_NOEXCEPT;
/** Drops one holder; the last one frees the table. */
ZEL_EXPORT void ZelObjC_DestroySymbolTable(SymbolTable *table) OBJC_NOEXCEPT;
/** The table saved at path (shared by every load of that path), or null:
   also for a file that is not a well-formed table, not a regular file
   (pipes, devices and sockets are refused without waiting), larger than a
   table can address (4 GiB), or that cannot be read to its end. A refused
   path is not registered.
   @pre An NSAutoreleasePool is in place on the thread: the call
   autoreleases objects (without a pool, each call says on standard error
   that an object leaks). */
ZEL_EXPORT SymbolTable *ZelObjC_LoadSymbolTable(const char *path) OBJC_NOEXCEPT;
/** YES when the whole table was written and the file closed. The table is
   written beside the file (same folder) and renamed over it when
   complete, so a failed save leaves the previous file as it was and a
   reader sees the old file or the new one. A link keeps leading to the
   saved file; a device or pipe is written in place. */
ZEL_EXPORT BOOL ZelObjC_SaveSymbolTable(SymbolTable *table,
                                        const char *path) OBJC_NOEXCEPT;
/** Address of a symbol exported by a loaded module: "symbol" searches every
   module, "module:symbol" one; also tried with a leading underscore. A
   module is named by the path it was loaded with, its file name or
   soname, or else by any path to its file ("./prog", a full path, a link
   such as a library's linker name in its own folder). Modules loaded or
   unloaded since the last call are seen. */
ZEL_EXPORT void *ZelObjC_LookupExternalSymbol(const char *name) OBJC_NOEXCEPT;

OBJC_END_DECLS

#endif
