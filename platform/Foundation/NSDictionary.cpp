/* Dictionaries (NSDictionary, NSMutableDictionary, one layout): keys and
   objects retained, keys found with isEqual:, entries kept in the order
   they were first set. As small as the bridges need: a lookup walks the
   keys. */
#include <stdlib.h>
#include <string.h>
#include "foundation.h"

using namespace objc_module_records;

namespace {

struct DictionaryIvars {
  Class isa;
  id *keys;
  id *objects;
  unsigned count;
  unsigned capacity;
};

DictionaryIvars *ivarsOf(id self) {
  return reinterpret_cast<DictionaryIvars *>(self);
}

int indexOfKey(id self, id key) {
  DictionaryIvars *ivars = ivarsOf(self);
  for (unsigned i = 0; i < ivars->count; i++)
    if (objc_send<BOOL>(ivars->keys[i], "isEqual:", key))
      return static_cast<int>(i);
  return -1;
}

void reserve(id self, unsigned needed) {
  DictionaryIvars *ivars = ivarsOf(self);
  if (needed <= ivars->capacity)
    return;
  unsigned capacity = ivars->capacity ? ivars->capacity * 2 : 8;
  while (capacity < needed)
    capacity *= 2;
  void *keys = realloc(ivars->keys, capacity * sizeof(id));
  if (keys)
    ivars->keys = static_cast<id *>(keys);
  void *objects =
      keys ? realloc(ivars->objects, capacity * sizeof(id)) : nullptr;
  if (!objects)
    fnd::raise(NSInternalInconsistencyException, "dictionary: out of memory");
  ivars->objects = static_cast<id *>(objects);
  ivars->capacity = capacity;
}

void setEntry(id self, id object, id key) {
  if (!object || !key)
    fnd::raise(NSInvalidArgumentException, "-[%s setObject:forKey:]: nil %s",
               self->isa->name, key ? "object" : "key");
  int found = indexOfKey(self, key);
  DictionaryIvars *ivars = ivarsOf(self);
  if (found >= 0) {
    id old = ivars->objects[found];
    ivars->objects[found] = fnd::retain(object);
    fnd::release(old);
    return;
  }
  reserve(self, ivars->count + 1);
  ivars = ivarsOf(self);
  ivars->keys[ivars->count] = fnd::retain(key);
  ivars->objects[ivars->count] = fnd::retain(object);
  ivars->count++;
}

/* ---- NSDictionary ---- */

id Dictionary_dictionary(id self, SEL) {
  return fnd::autorelease(objc_send(objc_send(self, "alloc"), "init"));
}

id Dictionary_initWithObjectsForKeysCount(id self, SEL, const id *objects,
                                          const id *keys, unsigned count) {
  for (unsigned i = 0; i < count; i++)
    setEntry(self, objects[i], keys[i]);
  return self;
}

void Dictionary_dealloc(id self, SEL) {
  DictionaryIvars *ivars = ivarsOf(self);
  for (unsigned i = 0; i < ivars->count; i++) {
    fnd::release(ivars->keys[i]);
    fnd::release(ivars->objects[i]);
  }
  free(ivars->keys);
  free(ivars->objects);
  object_dispose(self);
}

unsigned Dictionary_count(id self, SEL) { return ivarsOf(self)->count; }

id Dictionary_objectForKey(id self, SEL, id key) {
  int found = key ? indexOfKey(self, key) : -1;
  return found >= 0 ? ivarsOf(self)->objects[found] : nil;
}

/* An NSArray of the keys (or the objects), in order, autoreleased. */
id arrayOf(id self, bool keys) {
  DictionaryIvars *ivars = ivarsOf(self);
  id array = objc_send(objc_getClass("NSArray"), "alloc");
  array = objc_send(array, "initWithObjects:count:",
                    const_cast<const id *>(keys ? ivars->keys : ivars->objects),
                    ivars->count);
  return fnd::autorelease(array);
}

id Dictionary_allKeys(id self, SEL) { return arrayOf(self, true); }
id Dictionary_allValues(id self, SEL) { return arrayOf(self, false); }

id Dictionary_keyEnumerator(id self, SEL) {
  return objc_send(arrayOf(self, true), "objectEnumerator");
}

id Dictionary_description(id self, SEL) {
  id text = objc_send_class("NSMutableString", "stringWithFormat:", NSSTR("{"));
  DictionaryIvars *ivars = ivarsOf(self);
  for (unsigned i = 0; i < ivars->count; i++)
    objc_send<void>(text, "appendFormat:", NSSTR("%s%@ = %@;"), i ? " " : "",
                    ivars->keys[i], ivars->objects[i]);
  objc_send<void>(text, "appendFormat:", NSSTR("}"));
  return text;
}

MethodList<8> Dictionary_imethods = {
    nullptr,
    8,
    {OBJC_DERIVED_METHOD("initWithObjects:forKeys:count:",
                         Dictionary_initWithObjectsForKeysCount),
     OBJC_DERIVED_METHOD("dealloc", Dictionary_dealloc),
     OBJC_DERIVED_METHOD("count", Dictionary_count),
     OBJC_DERIVED_METHOD("objectForKey:", Dictionary_objectForKey),
     OBJC_DERIVED_METHOD("allKeys", Dictionary_allKeys),
     OBJC_DERIVED_METHOD("allValues", Dictionary_allValues),
     OBJC_DERIVED_METHOD("keyEnumerator", Dictionary_keyEnumerator),
     OBJC_DERIVED_METHOD("description", Dictionary_description)}};

MethodList<1> Dictionary_cmethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("dictionary", Dictionary_dictionary)}};

IvarList<4> Dictionary_ivars = {4,
                                {{"keys", "^@", 4},
                                 {"objects", "^@", 8},
                                 {"count", "I", 12},
                                 {"capacity", "I", 16}}};

/* ---- NSMutableDictionary ---- */

void MutableDictionary_setObjectForKey(id self, SEL, id object, id key) {
  setEntry(self, object, key);
}

void MutableDictionary_removeObjectForKey(id self, SEL, id key) {
  int found = key ? indexOfKey(self, key) : -1;
  if (found < 0)
    return;
  DictionaryIvars *ivars = ivarsOf(self);
  id oldKey = ivars->keys[found], oldObject = ivars->objects[found];
  unsigned after = ivars->count - static_cast<unsigned>(found) - 1;
  memmove(&ivars->keys[found], &ivars->keys[found + 1], after * sizeof(id));
  memmove(&ivars->objects[found], &ivars->objects[found + 1],
          after * sizeof(id));
  ivars->count--;
  fnd::release(oldKey);
  fnd::release(oldObject);
}

MethodList<2> MutableDictionary_imethods = {
    nullptr,
    2,
    {OBJC_DERIVED_METHOD("setObject:forKey:",
                         MutableDictionary_setObjectForKey),
     OBJC_DERIVED_METHOD("removeObjectForKey:",
                         MutableDictionary_removeObjectForKey)}};

OBJC_CLASS_RECORDS(NSDictionaryClass, "NSDictionary", "NSObject",
                   sizeof(DictionaryIvars), &Dictionary_ivars,
                   &Dictionary_imethods, &Dictionary_cmethods);

OBJC_CLASS_RECORDS(NSMutableDictionaryClass, "NSMutableDictionary",
                   "NSDictionary", sizeof(DictionaryIvars), nullptr,
                   &MutableDictionary_imethods, nullptr);

OBJC_MODULE_RECORD(module, 2, 0, &NSDictionaryClass, &NSMutableDictionaryClass);

} // namespace

OBJC_REGISTER_MODULE(module)
OBJC_CLASS_SYMBOL(NSDictionary);
OBJC_CLASS_SYMBOL(NSMutableDictionary);
