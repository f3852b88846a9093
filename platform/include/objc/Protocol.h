/** @file
    Protocol objects: instances of the class Protocol, five words. */
#ifndef OBJC_PROTOCOL_H
#define OBJC_PROTOCOL_H

#include <stddef.h>
#include <objc/objc.h>

struct objc_protocol_list;

/** One required method of a protocol. */
struct objc_method_description {
  SEL name;    /**< 0: the selector */
  char *types; /**< 4: its type encoding */
};

/** The methods a protocol requires, of one side (instance or class). */
struct objc_method_description_list {
  int count;                              /**< 0 or less: empty */
  struct objc_method_description list[1]; /**< count descriptions */
};

/** The layout of a Protocol instance (20 bytes). */
struct objc_protocol {
  Class isa;                                /**<  0: Protocol */
  const char *protocol_name;                /**<  4 */
  struct objc_protocol_list *protocol_list; /**<  8: incorporated */
  struct objc_method_description_list *instance_methods; /**< 12 */
  struct objc_method_description_list *class_methods;    /**< 16 */
};
/** A protocol object. */
typedef struct objc_protocol Protocol;

#ifdef __cplusplus
static_assert(sizeof(struct objc_protocol) == 20, "protocol object");
static_assert(sizeof(struct objc_method_description) == 8, "description");
#endif

/** @class Protocol
   A root class of the runtime; instances are the records above. Protocols
   are never freed, and answer nothing but these messages (no retain, release
   or description).
   @verbatim
   +new                 an empty protocol: name "", no methods, nothing
                        incorporated
   -name                the name (a C string; encoded "*")
   -conformsTo:         YES for the same protocol, one of the same name,
                        or one that this protocol incorporates, at any
                        depth
   -descriptionForInstanceMethod:
                        the instance method description of the selector,
                        from this protocol or else from one it
                        incorporates (depth first); null when none. A
                        struct objc_method_description *, encoded "^v"
   -descriptionForClassMethod:
                        the same among the class methods
   @endverbatim */

#endif
