/* Run-time protocols: a registry of protocols by name, protocols made at
   run time, their method descriptions, and testing classes against them. */
#include <zelObjCRuntime/zelObjCRuntime.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_set>

namespace {

/* Name -> protocol. Keys are NSStrings (retained, compared by content),
   values protocol objects (not owned). Made on first use, never freed. */
NSMapTable *protocols = nullptr;

/* NSObject's own +conformsToProtocol:, fetched on first use. */
IMP conforms = nullptr;

constexpr unsigned kRegistryCapacity = 50;

/* An autoreleased NSString with the text of name: the registry's key. */
id nameKey(const char *name) {
  return objc_send(objc_getClass("NSString"), "stringWithCString:", name);
}

/* Calls visit(protocol) for each entry of the linked protocol lists, in
   order; stops early and answers true when visit answers true. */
template <typename Visit>
bool anyListedProtocol(struct objc_protocol_list *list, Visit visit) {
  for (; list; list = list->next)
    for (int i = 0; i < list->count; ++i) {
      auto *protocol = reinterpret_cast<Protocol *>(list->list[i]);
      if (protocol && visit(protocol))
        return true;
    }
  return false;
}

/* Calls visit(protocol) for each protocol that some registered class
   lists directly, in class-table order; stops when visit answers true. */
template <typename Visit> bool anyAdoptedProtocol(Visit visit) {
  NXHashTable *classes = objc_getClasses();
  NXHashState state = NXInitHashState(classes);
  void *entry = nullptr;
  while (NXNextHashState(classes, &state, &entry)) {
    Class cls = static_cast<Class>(entry);
    if (anyListedProtocol(cls->protocols, visit))
      return true;
  }
  return false;
}

void enterProtocol(Protocol *protocol) {
  NSMapInsert(protocols, nameKey(protocol->protocol_name), protocol);
}

/* Makes the registry and enters the protocols that the registered classes
   adopt (not those they incorporate: protocols of protocols are reached
   through their includers, and metaclasses adopt nothing of their own). */
void initProtocols() {
  protocols =
      NSCreateMapTable(NSObjectMapKeyCallBacks,
                       NSNonOwnedPointerMapValueCallBacks, kRegistryCapacity);
  anyAdoptedProtocol([](Protocol *protocol) {
    enterProtocol(protocol);
    return false;
  });
}

/* Walks every class again for a protocol named name (a class may have been
   loaded since the registry was filled); enters and answers the first one
   found, or null. */
Protocol *rescanFor(const char *name, id key) {
  Protocol *found = nullptr;
  anyAdoptedProtocol([&](Protocol *protocol) {
    if (std::strcmp(protocol->protocol_name, name) != 0)
      return false;
    found = protocol;
    return true;
  });
  if (found)
    NSMapInsert(protocols, key, found);
  return found;
}

char *copyName(const char *name) {
  size_t size = std::strlen(name) + 1;
  char *copy = static_cast<char *>(std::malloc(size));
  if (copy)
    std::memcpy(copy, name, size);
  return copy;
}

/* Protocols already met during one search: incorporated protocols may form
   a cycle, and a shared one is searched once only. */
class Visited {
public:
  /* True the first time protocol is offered. */
  bool first(const Protocol *protocol) { return seen_.insert(protocol).second; }

private:
  std::unordered_set<const Protocol *> seen_;
};

struct objc_method_description *
ownDescription(struct objc_method_description_list *list, SEL sel) {
  if (!list)
    return nullptr;
  for (int i = 0; i < list->count; ++i)
    if (list->list[i].name == sel)
      return &list->list[i];
  return nullptr;
}

/* Depth first: a description in an incorporated protocol, however deep,
   wins over the protocol's own. */
struct objc_method_description *
findDescription(Protocol *protocol, SEL sel, BOOL instance, Visited &visited) {
  if (!visited.first(protocol))
    return nullptr;
  struct objc_method_description *found = nullptr;
  anyListedProtocol(protocol->protocol_list, [&](Protocol *incorporated) {
    found = findDescription(incorporated, sel, instance, visited);
    return found != nullptr;
  });
  if (found)
    return found;
  return ownDescription(
      instance ? protocol->instance_methods : protocol->class_methods, sel);
}

using MethodFinder = Method (*)(Class, SEL);

/* True when cls has, through find, a method with compatible types for
   every description of the list. */
bool hasMethods(Class cls, struct objc_method_description_list *list,
                MethodFinder find) {
  if (!list)
    return true;
  for (int i = 0; i < list->count; ++i) {
    const struct objc_method_description &wanted = list->list[i];
    Method method = find(cls, wanted.name);
    if (!method || !zelObjC_CompatibleTypes(method->method_types, wanted.types))
      return false;
  }
  return true;
}

bool implements(Class cls, Protocol *protocol, Visited &visited) {
  /* A protocol met before has passed already, or the search ended. */
  if (!visited.first(protocol))
    return true;
  bool missing =
      anyListedProtocol(protocol->protocol_list, [&](Protocol *incorporated) {
        return !implements(cls, incorporated, visited);
      });
  return !missing &&
         hasMethods(cls, protocol->instance_methods, class_getInstanceMethod) &&
         hasMethods(cls, protocol->class_methods, class_getClassMethod);
}

IMP nsObjectConforms() {
  if (conforms)
    return conforms;
  Class root = reinterpret_cast<Class>(objc_lookUpClass("NSObject"));
  if (!root)
    return nullptr;
  Method method =
      class_getClassMethod(root, sel_registerName("conformsToProtocol:"));
  if (method)
    conforms = method->method_imp;
  return conforms;
}

} // namespace

ZEL_EXPORT Protocol *ZelObjC_LookupProtocol(const char *name) noexcept {
  if (!name)
    return nullptr;
  id key = nameKey(name);
  if (!protocols) {
    initProtocols();
    return static_cast<Protocol *>(NSMapGet(protocols, key));
  }
  if (auto *known = static_cast<Protocol *>(NSMapGet(protocols, key)))
    return known;
  return rescanFor(name, key);
}

ZEL_EXPORT Protocol *ZelObjC_NewProtocol(
    const char *name, struct objc_protocol_list *incorporated,
    struct objc_method_description_list *instanceMethods,
    struct objc_method_description_list *classMethods) noexcept {
  if (!name || ZelObjC_LookupProtocol(name))
    return nullptr;
  char *nameCopy = copyName(name);
  if (!nameCopy)
    return nullptr;
  auto *protocol =
      reinterpret_cast<Protocol *>(objc_send(objc_getClass("Protocol"), "new"));
  if (!protocol) {
    std::free(nameCopy);
    return nullptr;
  }
  protocol->protocol_name = nameCopy;
  protocol->protocol_list = incorporated;
  protocol->instance_methods = instanceMethods;
  protocol->class_methods = classMethods;
  enterProtocol(protocol);
  return protocol;
}

ZEL_EXPORT NSMapEnumerator ZelObjC_EnumerateProtocols(void) noexcept {
  if (!protocols)
    initProtocols();
  return NSEnumerateMapTable(protocols);
}

ZEL_EXPORT struct objc_method_description *
ZelObjC_LookupProtocolMethod(Protocol *protocol, SEL sel,
                             BOOL instance) noexcept {
  if (!protocol)
    return nullptr;
  try {
    Visited visited;
    return findDescription(protocol, sel, instance, visited);
  } catch (const std::bad_alloc &) {
    return nullptr;
  }
}

ZEL_EXPORT BOOL ZelObjC_ImplementsProtocol(Class cls,
                                           Protocol *protocol) noexcept {
  if (!protocol)
    return NO;
  try {
    Visited visited;
    return implements(cls, protocol, visited) ? YES : NO;
  } catch (const std::bad_alloc &) {
    return NO;
  }
}

ZEL_EXPORT BOOL ZelObjC_ConformsToProtocol(Class cls,
                                           Protocol *protocol) noexcept {
  IMP imp = nsObjectConforms();
  if (!imp)
    return NO;
  /* Called directly: cls's own conformsToProtocol:, if any, is bypassed. */
  return objc_call_imp<BOOL>(imp, reinterpret_cast<id>(cls),
                             sel_registerName("conformsToProtocol:"), protocol);
}
