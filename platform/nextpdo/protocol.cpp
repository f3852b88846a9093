/* The class Protocol, and the fix-up of protocol objects that modules
   carry. This file also registers the runtime's own module. */
#include "runtime.h"

#include <objc/objc-load.h>

#include <cstring>

using namespace objc_module_records;

namespace {

Class protocolClassCache;

void uniqueDescriptions(struct objc_method_description_list *list) {
  for (int i = 0; list && i < list->count; ++i) {
    struct objc_method_description &d = list->list[i];
    d.name = sel_registerName(reinterpret_cast<const char *>(d.name));
  }
}

void fixProtocol(Protocol *p) {
  if (!p)
    return;
  if (!p->isa)
    p->isa = nextpdo::protocolClass();
  uniqueDescriptions(p->instance_methods);
  uniqueDescriptions(p->class_methods);
  nextpdo::fixProtocols(p->protocol_list);
}

bool sameName(Protocol *a, Protocol *b) {
  return a->protocol_name && b->protocol_name &&
         strcmp(a->protocol_name, b->protocol_name) == 0;
}

/* By name, through incorporated protocols. */
bool conformsTo(Protocol *p, Protocol *other) {
  if (!p || !other)
    return false;
  if (p == other || sameName(p, other))
    return true;
  for (struct objc_protocol_list *l = p->protocol_list; l; l = l->next)
    for (int i = 0; i < l->count; ++i)
      if (conformsTo(reinterpret_cast<Protocol *>(l->list[i]), other))
        return true;
  return false;
}

struct objc_method_description *
describe(struct objc_method_description_list *list, SEL sel) {
  for (int i = 0; list && i < list->count; ++i)
    if (list->list[i].name == sel)
      return &list->list[i];
  return nullptr;
}

/* Searches this protocol first, then the ones it incorporates. */
struct objc_method_description *describeIn(Protocol *p, SEL sel,
                                           bool instance) {
  auto *found =
      describe(instance ? p->instance_methods : p->class_methods, sel);
  for (struct objc_protocol_list *l = p->protocol_list; l && !found;
       l = l->next)
    for (int i = 0; i < l->count && !found; ++i)
      found =
          describeIn(reinterpret_cast<Protocol *>(l->list[i]), sel, instance);
  return found;
}

id Protocol_new(id self, SEL) {
  auto *p = reinterpret_cast<Protocol *>(
      class_createInstance(reinterpret_cast<Class>(self), 0));
  if (p)
    p->protocol_name = "";
  return reinterpret_cast<id>(p);
}

const char *Protocol_name(id self, SEL) {
  return reinterpret_cast<Protocol *>(self)->protocol_name;
}

BOOL Protocol_conformsTo(id self, SEL, Protocol *other) {
  return conformsTo(reinterpret_cast<Protocol *>(self), other) ? YES : NO;
}

struct objc_method_description *Protocol_instanceDescription(id self, SEL,
                                                             SEL sel) {
  return describeIn(reinterpret_cast<Protocol *>(self), sel, true);
}

struct objc_method_description *Protocol_classDescription(id self, SEL,
                                                          SEL sel) {
  return describeIn(reinterpret_cast<Protocol *>(self), sel, false);
}

MethodList<1> Protocol_cmethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("new", Protocol_new)}};

MethodList<4> Protocol_imethods = {
    nullptr,
    4,
    {OBJC_DERIVED_METHOD("name", Protocol_name),
     OBJC_DERIVED_METHOD("conformsTo:", Protocol_conformsTo),
     OBJC_DERIVED_METHOD("descriptionForInstanceMethod:",
                         Protocol_instanceDescription),
     OBJC_DERIVED_METHOD("descriptionForClassMethod:",
                         Protocol_classDescription)}};

OBJC_CLASS_RECORDS(Protocol_class, "Protocol", nullptr,
                   sizeof(struct objc_protocol), nullptr, &Protocol_imethods,
                   &Protocol_cmethods);

OBJC_MODULE_RECORD(runtimeModule, 1, 0, &Protocol_class);

} // namespace

namespace nextpdo {

Class protocolClass() noexcept {
  if (!protocolClassCache)
    protocolClassCache = classNamed("Protocol");
  return protocolClassCache;
}

void fixProtocols(struct objc_protocol_list *list) noexcept {
  for (; list; list = list->next)
    for (int i = 0; i < list->count; ++i)
      fixProtocol(reinterpret_cast<Protocol *>(list->list[i]));
}

} // namespace nextpdo

OBJC_REGISTER_MODULE(runtimeModule)
OBJC_LIBRARY_REGISTRATION()
