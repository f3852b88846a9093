/* Arrays of retained objects (NSArray, NSMutableArray, one layout) and
   the enumerator over them. */
#include <stdlib.h>
#include <string.h>
#include "foundation.h"

using namespace objc_module_records;

namespace {

struct ArrayIvars {
  Class isa;
  id *items;
  unsigned count;
  unsigned capacity;
};

struct EnumeratorIvars {
  Class isa;
  id array; /* retained */
  unsigned next;
};

ArrayIvars *ivarsOf(id self) { return reinterpret_cast<ArrayIvars *>(self); }

void reserve(id self, unsigned needed) {
  ArrayIvars *ivars = ivarsOf(self);
  if (needed <= ivars->capacity)
    return;
  unsigned capacity = ivars->capacity ? ivars->capacity * 2 : 8;
  while (capacity < needed)
    capacity *= 2;
  void *grown = realloc(ivars->items, capacity * sizeof(id));
  if (!grown)
    fnd::raise(NSInternalInconsistencyException, "array: out of memory");
  ivars->items = static_cast<id *>(grown);
  ivars->capacity = capacity;
}

void checkIndex(id self, unsigned index, unsigned limit) {
  if (index >= limit)
    fnd::raise(NSRangeException, "-[%s]: index %u beyond count %u",
               self->isa->name, index, ivarsOf(self)->count);
}

void insertAt(id self, id obj, unsigned index) {
  if (!obj)
    fnd::raise(NSInvalidArgumentException, "-[%s]: nil object",
               self->isa->name);
  checkIndex(self, index, ivarsOf(self)->count + 1);
  reserve(self, ivarsOf(self)->count + 1);
  ArrayIvars *ivars = ivarsOf(self);
  memmove(&ivars->items[index + 1], &ivars->items[index],
          (ivars->count - index) * sizeof(id));
  ivars->items[index] = fnd::retain(obj);
  ivars->count++;
}

/* ---- NSArray ---- */

id Array_initWithObjectsCount(id self, SEL, const id *objects, unsigned count) {
  for (unsigned i = 0; i < count; i++)
    insertAt(self, objects[i], i);
  return self;
}

void Array_dealloc(id self, SEL) {
  ArrayIvars *ivars = ivarsOf(self);
  for (unsigned i = 0; i < ivars->count; i++)
    fnd::release(ivars->items[i]);
  free(ivars->items);
  object_dispose(self);
}

unsigned Array_count(id self, SEL) { return ivarsOf(self)->count; }

id Array_objectAtIndex(id self, SEL, unsigned index) {
  checkIndex(self, index, ivarsOf(self)->count);
  return ivarsOf(self)->items[index];
}

id Array_lastObject(id self, SEL) {
  ArrayIvars *ivars = ivarsOf(self);
  return ivars->count ? ivars->items[ivars->count - 1] : nil;
}

BOOL Array_containsObject(id self, SEL, id obj) {
  ArrayIvars *ivars = ivarsOf(self);
  for (unsigned i = 0; i < ivars->count; i++)
    if (objc_send<BOOL>(ivars->items[i], "isEqual:", obj))
      return YES;
  return NO;
}

id Array_objectEnumerator(id self, SEL) {
  id enumerator = objc_send(objc_getClass("NSEnumerator"), "alloc");
  reinterpret_cast<EnumeratorIvars *>(enumerator)->array = fnd::retain(self);
  return fnd::autorelease(enumerator);
}

id Array_copyWithZone(id self, SEL, NSZone *) {
  if (!fnd::isKindOf(self,
                     reinterpret_cast<Class>(objc_getClass("NSMutableArray"))))
    return fnd::retain(self);
  id copy = objc_send(objc_getClass("NSArray"), "alloc");
  return objc_send(copy, "initWithObjects:count:",
                   const_cast<const id *>(ivarsOf(self)->items),
                   ivarsOf(self)->count);
}

id Array_description(id self, SEL) {
  id text = objc_send_class("NSMutableString", "stringWithFormat:", NSSTR("("));
  ArrayIvars *ivars = ivarsOf(self);
  for (unsigned i = 0; i < ivars->count; i++)
    objc_send<void>(text, "appendFormat:", NSSTR("%s%@"), i ? ", " : "",
                    ivars->items[i]);
  objc_send<void>(text, "appendFormat:", NSSTR(")"));
  return text;
}

MethodList<9> Array_imethods = {
    nullptr,
    9,
    {OBJC_DERIVED_METHOD("initWithObjects:count:", Array_initWithObjectsCount),
     OBJC_DERIVED_METHOD("dealloc", Array_dealloc),
     OBJC_DERIVED_METHOD("count", Array_count),
     OBJC_DERIVED_METHOD("objectAtIndex:", Array_objectAtIndex),
     OBJC_DERIVED_METHOD("lastObject", Array_lastObject),
     OBJC_DERIVED_METHOD("containsObject:", Array_containsObject),
     OBJC_DERIVED_METHOD("objectEnumerator", Array_objectEnumerator),
     OBJC_DERIVED_METHOD("copyWithZone:", Array_copyWithZone),
     OBJC_DERIVED_METHOD("description", Array_description)}};

id Array_array(id self, SEL) {
  return fnd::autorelease(objc_send(objc_send(self, "alloc"), "init"));
}

id Array_arrayWithObject(id self, SEL, id obj) {
  id array = objc_send(self, "alloc");
  return fnd::autorelease(objc_send(
      array, "initWithObjects:count:", const_cast<const id *>(&obj), 1u));
}

/* The objects up to the first nil. */
id Array_arrayWithObjects(id self, SEL, id first, ...) {
  id array = fnd::autorelease(objc_send(objc_send(self, "alloc"), "init"));
  va_list args;
  va_start(args, first);
  for (id obj = first; obj; obj = va_arg(args, id))
    insertAt(array, obj, ivarsOf(array)->count);
  va_end(args);
  return array;
}

MethodList<3> Array_cmethods = {
    nullptr,
    3,
    {OBJC_DERIVED_METHOD("array", Array_array),
     OBJC_DERIVED_METHOD("arrayWithObject:", Array_arrayWithObject),
     OBJC_DERIVED_METHOD("arrayWithObjects:", Array_arrayWithObjects)}};

IvarList<3> Array_ivars = {
    3, {{"items", "^@", 4}, {"count", "I", 8}, {"capacity", "I", 12}}};

/* ---- NSMutableArray ---- */

void MutableArray_addObject(id self, SEL, id obj) {
  insertAt(self, obj, ivarsOf(self)->count);
}

void MutableArray_insertObjectAtIndex(id self, SEL, id obj, unsigned index) {
  insertAt(self, obj, index);
}

void MutableArray_removeObjectAtIndex(id self, SEL, unsigned index) {
  checkIndex(self, index, ivarsOf(self)->count);
  ArrayIvars *ivars = ivarsOf(self);
  id removed = ivars->items[index];
  ivars->count--;
  memmove(&ivars->items[index], &ivars->items[index + 1],
          (ivars->count - index) * sizeof(id));
  fnd::release(removed);
}

void MutableArray_removeLastObject(id self, SEL sel) {
  unsigned count = ivarsOf(self)->count;
  if (count == 0)
    fnd::raise(NSRangeException, "-[%s removeLastObject]: empty array",
               self->isa->name);
  MutableArray_removeObjectAtIndex(self, sel, count - 1);
}

void MutableArray_removeAllObjects(id self, SEL sel) {
  while (ivarsOf(self)->count)
    MutableArray_removeObjectAtIndex(self, sel, ivarsOf(self)->count - 1);
}

MethodList<5> MutableArray_imethods = {
    nullptr,
    5,
    {OBJC_DERIVED_METHOD("addObject:", MutableArray_addObject),
     OBJC_DERIVED_METHOD("insertObject:atIndex:",
                         MutableArray_insertObjectAtIndex),
     OBJC_DERIVED_METHOD("removeObjectAtIndex:",
                         MutableArray_removeObjectAtIndex),
     OBJC_DERIVED_METHOD("removeLastObject", MutableArray_removeLastObject),
     OBJC_DERIVED_METHOD("removeAllObjects", MutableArray_removeAllObjects)}};

/* ---- NSEnumerator ---- */

EnumeratorIvars *enumeratorOf(id self) {
  return reinterpret_cast<EnumeratorIvars *>(self);
}

id Enumerator_nextObject(id self, SEL) {
  EnumeratorIvars *ivars = enumeratorOf(self);
  if (!ivars->array || ivars->next >= ivarsOf(ivars->array)->count)
    return nil;
  return ivarsOf(ivars->array)->items[ivars->next++];
}

void Enumerator_dealloc(id self, SEL) {
  fnd::release(enumeratorOf(self)->array);
  object_dispose(self);
}

/* Enumerators are not copied: the copy is the same enumerator. */
id Enumerator_copyWithZone(id self, SEL, NSZone *) { return fnd::retain(self); }

MethodList<3> Enumerator_imethods = {
    nullptr,
    3,
    {OBJC_DERIVED_METHOD("nextObject", Enumerator_nextObject),
     OBJC_DERIVED_METHOD("dealloc", Enumerator_dealloc),
     OBJC_DERIVED_METHOD("copyWithZone:", Enumerator_copyWithZone)}};

IvarList<2> Enumerator_ivars = {2, {{"array", "@", 4}, {"next", "I", 8}}};

OBJC_CLASS_RECORDS(NSArrayClass, "NSArray", "NSObject", sizeof(ArrayIvars),
                   &Array_ivars, &Array_imethods, &Array_cmethods);

OBJC_CLASS_RECORDS(NSMutableArrayClass, "NSMutableArray", "NSArray",
                   sizeof(ArrayIvars), nullptr, &MutableArray_imethods,
                   nullptr);

OBJC_CLASS_RECORDS(NSEnumeratorClass, "NSEnumerator", "NSObject",
                   sizeof(EnumeratorIvars), &Enumerator_ivars,
                   &Enumerator_imethods, nullptr);

OBJC_MODULE_RECORD(module, 3, 0, &NSArrayClass, &NSMutableArrayClass,
                   &NSEnumeratorClass);

} // namespace

OBJC_REGISTER_MODULE(module)
OBJC_CLASS_SYMBOL(NSArray);
OBJC_CLASS_SYMBOL(NSMutableArray);
OBJC_CLASS_SYMBOL(NSEnumerator);
