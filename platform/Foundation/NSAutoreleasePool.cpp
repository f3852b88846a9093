/* Autorelease pools: a stack per thread. Releasing a pool first releases
   the pools made after it on the same thread, then sends release to each
   object autoreleased into it, once per autorelease. */
#include <stdio.h>
#include <stdlib.h>
#include "foundation.h"

using namespace objc_module_records;

namespace {

struct PoolIvars {
  Class isa;
  id *objects;
  unsigned count;
  unsigned capacity;
  id parent; /* the pool below on this thread's stack */
};

thread_local id innermostPool = nil;

PoolIvars *ivarsOf(id pool) { return reinterpret_cast<PoolIvars *>(pool); }

void addToPool(id pool, id obj) {
  PoolIvars *ivars = ivarsOf(pool);
  if (ivars->count == ivars->capacity) {
    unsigned capacity = ivars->capacity ? ivars->capacity * 2 : 32;
    void *grown = realloc(ivars->objects, capacity * sizeof(id));
    if (!grown)
      fnd::raise(NSInternalInconsistencyException,
                 "autorelease: out of memory");
    ivars->objects = static_cast<id *>(grown);
    ivars->capacity = capacity;
  }
  ivars->objects[ivars->count++] = obj;
}

bool onStack(id pool) {
  for (id p = innermostPool; p; p = ivarsOf(p)->parent)
    if (p == pool)
      return true;
  return false;
}

/* Releasing objects may autorelease more into this pool: drain until
   it stays empty. */
void drain(id pool) {
  PoolIvars *ivars = ivarsOf(pool);
  for (unsigned i = 0; i < ivars->count; i++)
    fnd::release(ivars->objects[i]);
  ivars->count = 0;
}

void popAndDispose(id self) {
  if (onStack(self)) {
    while (innermostPool != self)
      objc_send<void>(innermostPool, "release");
  }
  drain(self);
  if (innermostPool == self)
    innermostPool = ivarsOf(self)->parent;
  free(ivarsOf(self)->objects);
  object_dispose(self);
}

id Pool_init(id self, SEL) {
  ivarsOf(self)->parent = innermostPool;
  innermostPool = self;
  return self;
}

void Pool_release(id self, SEL) { popAndDispose(self); }

void Pool_addObject(id self, SEL, id obj) { addToPool(self, obj); }

id Pool_refuseRetain(id self, SEL sel) {
  fnd::raise(NSInvalidArgumentException,
             "-[NSAutoreleasePool %s]: pools "
             "cannot be retained or autoreleased",
             sel_getName(sel));
  return self;
}

void Class_addObject(id, SEL, id obj) {
  if (!innermostPool) {
    fprintf(stderr, "autorelease with no pool in place: %s %p leaks\n",
            obj ? obj->isa->name : "nil", static_cast<void *>(obj));
    return;
  }
  addToPool(innermostPool, obj);
}

MethodList<7> Pool_imethods = {
    nullptr,
    7,
    {OBJC_DERIVED_METHOD("init", Pool_init),
     OBJC_DERIVED_METHOD("release", Pool_release),
     OBJC_DERIVED_METHOD("drain", Pool_release),
     OBJC_DERIVED_METHOD("dealloc", Pool_release),
     OBJC_DERIVED_METHOD("addObject:", Pool_addObject),
     OBJC_DERIVED_METHOD("retain", Pool_refuseRetain),
     OBJC_DERIVED_METHOD("autorelease", Pool_refuseRetain)}};

MethodList<1> Pool_cmethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("addObject:", Class_addObject)}};

IvarList<4> Pool_ivars = {4,
                          {{"objects", "^@", 4},
                           {"count", "I", 8},
                           {"capacity", "I", 12},
                           {"parent", "@", 16}}};

OBJC_CLASS_RECORDS(NSAutoreleasePoolClass, "NSAutoreleasePool", "NSObject",
                   sizeof(PoolIvars), &Pool_ivars, &Pool_imethods,
                   &Pool_cmethods);

OBJC_MODULE_RECORD(module, 1, 0, &NSAutoreleasePoolClass);

} // namespace

OBJC_REGISTER_MODULE(module)
OBJC_CLASS_SYMBOL(NSAutoreleasePool);
