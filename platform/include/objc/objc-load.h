/** @file
    Writing a library's Objective-C module records by hand in C++, and
   registering them when the library is loaded.

   Per library, exactly one source file says OBJC_LIBRARY_REGISTRATION();
   every source file that has a module record says
   OBJC_REGISTER_MODULE(record). At load the library passes its own path to
   objc_register_header, hands each module record to __objc_execClass, then
   calls objc_finish_header (constructor priorities keep that order). */
#ifndef OBJC_OBJC_LOAD_H
#define OBJC_OBJC_LOAD_H

#include <dlfcn.h>
#include <objc/objc-runtime.h>

#ifdef __cplusplus
#include <objc/objc-encoding.h>
#endif

#ifdef __cplusplus

namespace objc_module_records {

/* Layout-compatible fixed-size forms of the runtime's variable records. */

/** struct objc_method_list with room for N methods. */
template <int N> struct MethodList {
  struct objc_method_list *obsolete; /**< link word, unused */
  int method_count;                  /**< N */
  struct objc_method method_list[N]; /**< the methods */
};

/** struct objc_ivar_list with room for N instance variables. */
template <int N> struct IvarList {
  int ivar_count;                /**< N */
  struct objc_ivar ivar_list[N]; /**< the instance variables */
};

/** struct objc_protocol_list with room for N protocols. */
template <int N> struct ProtocolList {
  struct objc_protocol_list *next; /**< another list, or null */
  int count;                       /**< N */
  id list[N];                      /**< the Protocol objects */
};

/** struct objc_method_description_list with room for N descriptions. */
template <int N> struct MethodDescriptionList {
  int count;                              /**< N */
  struct objc_method_description list[N]; /**< the descriptions */
};

/** struct objc_symtab with room for N class and category records. */
template <int N> struct Symtab {
  unsigned long sel_ref_cnt;  /**< entries in refs */
  SEL *refs;                  /**< selector references, or null */
  unsigned short cls_def_cnt; /**< class records in defs */
  unsigned short cat_def_cnt; /**< category records after them */
  void *defs[N];              /**< the records */
};

/** A record seen as another record type (same layout). */
template <typename T> inline T *as(void *record) {
  return static_cast<T *>(record);
}

} // namespace objc_module_records

/** One method record of a module: name text, type encoding, function (of
   any function type: the cast goes through void (*)(void), which the
   compiler accepts without a function-type warning). */
#define OBJC_METHOD(name, types, fn)                                           \
  {                                                                            \
    reinterpret_cast<SEL>(name), types,                                        \
        reinterpret_cast<IMP>(reinterpret_cast<void (*)(void)>(fn))            \
  }

/** One method record whose type encoding is derived from fn's own type
    (see <objc/objc-encoding.h>), so that the two cannot disagree. */
#define OBJC_DERIVED_METHOD(name, fn)                                          \
  OBJC_METHOD(name, OBJC_FUNCTION_TYPES(fn), fn)

/** A MethodList seen as a struct objc_method_list. */
#define OBJC_METHOD_LIST(list)                                                 \
  reinterpret_cast<struct objc_method_list *>(&(list))
/** A class record's methodLists field holds one list in a module. */
#define OBJC_MODULE_METHODS(list)                                              \
  reinterpret_cast<struct objc_method_list **>(&(list))
/** An IvarList seen as a struct objc_ivar_list. */
#define OBJC_IVAR_LIST(list) reinterpret_cast<struct objc_ivar_list *>(&(list))
/** A ProtocolList seen as a struct objc_protocol_list. */
#define OBJC_PROTOCOL_LIST(list)                                               \
  reinterpret_cast<struct objc_protocol_list *>(&(list))
/** A superclass's name text in a class record's super_class field. */
#define OBJC_SUPER_NAME(name) reinterpret_cast<Class>(const_cast<char *>(name))

/** A class record sym and its metaclass record sym_meta, as a module defines
   them: superName is the superclass's name text (null for a root class);
   ivars, imethods and cmethods point at an IvarList / MethodList or are
   null. The metaclass's isa is set at load. No storage class is added:
   file-local records go in an anonymous namespace. */
#define OBJC_CLASS_RECORDS(sym, name, superName, size, ivars, imethods,        \
                           cmethods)                                           \
  struct objc_class sym##_meta = {nullptr,  nullptr,                           \
                                  name,     0,                                 \
                                  CLS_META, sizeof(struct objc_class),         \
                                  nullptr,  OBJC_OPTIONAL_METHODS(cmethods),   \
                                  nullptr,  nullptr};                          \
  struct objc_class sym = {&sym##_meta,                                        \
                           OBJC_OPTIONAL_SUPER_NAME(superName),                \
                           name,                                               \
                           0,                                                  \
                           CLS_CLASS,                                          \
                           size,                                               \
                           OBJC_OPTIONAL_IVARS(ivars),                         \
                           OBJC_OPTIONAL_METHODS(imethods),                    \
                           nullptr,                                            \
                           nullptr}

/** A module record sym (named after its source file) and its symbol table
   sym_symtab, without selector references: the class records come first
   in defs, then the categories. */
#define OBJC_MODULE_RECORD(sym, classCount, categoryCount, ...)                \
  ::objc_module_records::Symtab<(classCount) + (categoryCount)> sym##_symtab = \
      {0, nullptr, classCount, categoryCount, {__VA_ARGS__}};                  \
  struct objc_module sym = {                                                   \
      OBJC_MODULE_VERSION, sizeof(struct objc_module), __FILE__,               \
      reinterpret_cast<struct objc_symtab *>(&sym##_symtab)}

/* Helpers of the two above: a null argument stays null (a reinterpret_cast
   would refuse it); going through void * keeps the result an address
   constant. */

/** A MethodList address, or null, as a methodLists field. */
#define OBJC_OPTIONAL_METHODS(list)                                            \
  static_cast<struct objc_method_list **>(static_cast<void *>(list))
/** An IvarList address, or null, as an ivars field. */
#define OBJC_OPTIONAL_IVARS(list)                                              \
  static_cast<struct objc_ivar_list *>(static_cast<void *>(list))
/** A name text, or null, as a super_class field. */
#define OBJC_OPTIONAL_SUPER_NAME(name)                                         \
  static_cast<Class>(const_cast<void *>(static_cast<const void *>(name)))

/** The linkage symbol of a class that other libraries import: defining it
   (OBJC_CLASS_SYMBOL, in the library that has the class) and referring to
   it (OBJC_IMPORT_CLASS, in the importer) makes the importer load and
   register the exporting library first. */
#define OBJC_CLASS_SYMBOL(className)                                           \
  extern "C" __attribute__((visibility("default")))                            \
  const char objc_class_name_##className __asm__(                              \
      ".objc_class_name_" #className);                                         \
  const char objc_class_name_##className = 0

/** Refers to the linkage symbol of a class of another library (see
   OBJC_CLASS_SYMBOL), so that the linker keeps that library. */
#define OBJC_IMPORT_CLASS(className)                                           \
  extern "C" const char objc_class_name_##className __asm__(                   \
      ".objc_class_name_" #className);                                         \
  __attribute__((used)) static const char *const objc_import_##className =     \
      &objc_class_name_##className

/** The constructors that open and close the library's registration (once
   per library). */
#define OBJC_LIBRARY_REGISTRATION()                                            \
  __attribute__((constructor(101))) static void objc_library_begin() {         \
    Dl_info info;                                                              \
    const char *path = "";                                                     \
    if (dladdr(reinterpret_cast<void *>(&objc_library_begin), &info) &&        \
        info.dli_fname)                                                        \
      path = info.dli_fname;                                                   \
    objc_register_header(path);                                                \
  }                                                                            \
  __attribute__((constructor(103))) static void objc_library_finish() {        \
    objc_finish_header();                                                      \
  }

/** The constructor that hands a module record to __objc_execClass (once
   per source file with a module record). */
#define OBJC_REGISTER_MODULE(record)                                           \
  __attribute__((constructor(102))) static void objc_module_register() {       \
    __objc_execClass(&(record));                                               \
  }

#endif
#endif
