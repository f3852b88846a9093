/* ZELTclValue: a Tcl value as an object, made from C values. */
#include "tcl_objects.h"

#include <objc/objc-load.h>
#include <Foundation/Foundation.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

using namespace objc_module_records;
using zeltcl::ValueObject;

namespace {

/* The C strings of a null-terminated vector, as a Tcl list. */
Tcl_Obj *listOfStrings(char **strings) {
  Tcl_Obj *list = Tcl_NewListObj(0, nullptr);
  for (; strings && *strings; ++strings)
    Tcl_ListObjAppendElement(nullptr, list, Tcl_NewStringObj(*strings, -1));
  return list;
}

Tcl_Obj *address(void *pointer) {
  char text[2 + 2 * sizeof pointer + 1];
  std::snprintf(text, sizeof text, "0x%08lx",
                static_cast<unsigned long>(
                    reinterpret_cast<uintptr_t>(pointer)));
  return Tcl_NewStringObj(text, -1);
}

id valueWithInt(id, SEL, int number) {
  zeltcl::prepareTcl();
  return zeltcl::newValue(Tcl_NewIntObj(number));
}

id valueWithPointer(id, SEL, void *pointer, char *type) {
  zeltcl::prepareTcl();
  if (type && std::strcmp(type, "*") == 0)
    return zeltcl::newValue(listOfStrings(static_cast<char **>(pointer)));
  return zeltcl::newValue(address(pointer));
}

void dealloc(id self, SEL) {
  if (Tcl_Obj *object = reinterpret_cast<ValueObject *>(self)->object)
    Tcl_DecrRefCount(object);
  zeltcl::superDealloc(self);
}

id description(id self, SEL) {
  const char *text = Tcl_GetString(zeltcl::objectOf(self));
  return objc_send_class("NSString", "stringWithCString:", text);
}

MethodList<2> Value_cmethods = {
    nullptr, 2,
    {OBJC_METHOD("valueWithInt:", "@12@0:4i8", valueWithInt),
     OBJC_METHOD("valueWithPointer:toObjCType:", "@16@0:4^v8*12",
                 valueWithPointer)}};
MethodList<2> Value_imethods = {
    nullptr, 2,
    {OBJC_METHOD("dealloc", "v8@0:4", dealloc),
     OBJC_METHOD("description", "@8@0:4", description)}};

OBJC_CLASS_RECORDS(Value_class, "ZELTclValue", "NSObject", sizeof(ValueObject),
                   nullptr, &Value_imethods, &Value_cmethods);

OBJC_MODULE_RECORD(Value_module, 1, 0, &Value_class);

} // namespace

OBJC_REGISTER_MODULE(Value_module)

namespace zeltcl {

void prepareTcl() {
  static bool prepared = false;
  if (prepared)
    return;
  Tcl_FindExecutable(nullptr);
  prepared = true;
}

id newValue(Tcl_Obj *object) {
  id value = objc_send(objc_getClass("ZELTclValue"), "alloc");
  Tcl_IncrRefCount(object);
  reinterpret_cast<ValueObject *>(value)->object = object;
  return objc_send(objc_send(value, "init"), "autorelease");
}

Tcl_Obj *objectOf(id value) {
  Tcl_Obj *object =
      value ? reinterpret_cast<ValueObject *>(value)->object : nullptr;
  return object ? object : Tcl_NewObj();
}

void superDealloc(id self) {
  SEL selector = sel_registerName("dealloc");
  Method method = class_getInstanceMethod(
      reinterpret_cast<Class>(objc_getClass("NSObject")), selector);
  objc_call_imp<void>(method->method_imp, self, selector);
}

} // namespace zeltcl
