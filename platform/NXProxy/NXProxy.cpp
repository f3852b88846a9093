/* NXProxy: a root class standing in for an object elsewhere. Instances are
   freed with -freeProxy and, after being decoded, may replace themselves
   with another object through -decodeUsing:. */
#include <objc/objc-load.h>

using namespace objc_module_records;

namespace {

id NXProxy_alloc(id self, SEL) {
  return class_createInstance(reinterpret_cast<Class>(self), 0);
}

id NXProxy_freeProxy(id self, SEL) { return object_dispose(self); }

/* A plain proxy decodes as itself. */
id NXProxy_decodeUsing(id self, SEL, id) { return self; }

Class NXProxy_class_(id self, SEL) { return reinterpret_cast<Class>(self); }

Class NXProxy_class(id self, SEL) { return self->isa; }

MethodList<3> NXProxy_cmethods = {
    nullptr,
    3,
    {OBJC_DERIVED_METHOD("alloc", NXProxy_alloc),
     OBJC_DERIVED_METHOD("new", NXProxy_alloc),
     OBJC_DERIVED_METHOD("class", NXProxy_class_)}};

MethodList<3> NXProxy_imethods = {
    nullptr,
    3,
    {OBJC_DERIVED_METHOD("freeProxy", NXProxy_freeProxy),
     OBJC_DERIVED_METHOD("decodeUsing:", NXProxy_decodeUsing),
     OBJC_DERIVED_METHOD("class", NXProxy_class)}};

OBJC_CLASS_RECORDS(NXProxyClass, "NXProxy", nullptr, sizeof(id), nullptr,
                   &NXProxy_imethods, &NXProxy_cmethods);

OBJC_MODULE_RECORD(module, 1, 0, &NXProxyClass);

} // namespace

OBJC_CLASS_SYMBOL(NXProxy);
OBJC_REGISTER_MODULE(module)
OBJC_LIBRARY_REGISTRATION()
