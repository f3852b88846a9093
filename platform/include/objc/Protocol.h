/* Protocol objects: instances of the class Protocol, five words. */
#ifndef OBJC_PROTOCOL_H
#define OBJC_PROTOCOL_H

#include <stddef.h>
#include <objc/objc.h>

struct objc_protocol_list;

/* One required method of a protocol. */
struct objc_method_description {
  SEL name;
  char *types;
};

struct objc_method_description_list {
  int count; /* 0 or less: empty */
  struct objc_method_description list[1];
};

/* The layout of a Protocol instance (20 bytes). */
struct objc_protocol {
  Class isa;                                           /*  0: Protocol */
  const char *protocol_name;                           /*  4 */
  struct objc_protocol_list *protocol_list;            /*  8: incorporated */
  struct objc_method_description_list *instance_methods; /* 12 */
  struct objc_method_description_list *class_methods;    /* 16 */
};
typedef struct objc_protocol Protocol;

#ifdef __cplusplus
static_assert(sizeof(struct objc_protocol) == 20, "protocol object");
static_assert(sizeof(struct objc_method_description) == 8, "description");
#endif

/* The class Protocol answers +new (an empty protocol), and its instances
   -name and -conformsTo: (by name, through incorporated protocols). */

#endif
