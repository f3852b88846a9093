/* ZELJSValue: a JavaScript value as an object, made from C values. */
#include "js_objects.h"

#include <objc/objc-load.h>
#include <Foundation/Foundation.h>

#include <js/Array.h>
#include <js/PropertyAndElement.h>
#include <js/String.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

using namespace objc_module_records;
using zeljs::ValueObject;

namespace {

/* The C strings of a null-terminated vector, as an array. */
bool arrayOfStrings(JSContext *cx, char **strings,
                    JS::MutableHandleValue out) {
  JS::RootedObject array(cx, JS::NewArrayObject(cx, 0));
  if (!array)
    return false;
  JS::RootedString item(cx);
  for (uint32_t index = 0; strings && strings[index]; ++index) {
    item = zeljs::newString(cx, strings[index]);
    if (!item || !JS_SetElement(cx, array, index, item))
      return false;
  }
  out.setObject(*array);
  return true;
}

bool address(JSContext *cx, void *pointer, JS::MutableHandleValue out) {
  char text[2 + 2 * sizeof pointer + 1];
  std::snprintf(text, sizeof text, "0x%08lx",
                static_cast<unsigned long>(
                    reinterpret_cast<uintptr_t>(pointer)));
  JSString *string = JS_NewStringCopyZ(cx, text);
  if (!string)
    return false;
  out.setString(string);
  return true;
}

id valueWithInt(id, SEL, int number) {
  JSContext *cx = zeljs::context();
  if (!cx)
    return nil;
  JS::RootedValue value(cx, JS::Int32Value(number));
  return zeljs::newValue(cx, value);
}

/* The value made in the main interpreter's realm; nil when the engine
   failed. */
id pointerValue(void *pointer, const char *type) {
  JSContext *cx = zeljs::context();
  JSObject *global = cx ? zeljs::mainGlobal() : nullptr;
  if (!global)
    return nil;
  JSAutoRealm realm(cx, global);
  JS::RootedValue value(cx);
  bool made = type && std::strcmp(type, "*") == 0
                  ? arrayOfStrings(cx, static_cast<char **>(pointer), &value)
                  : address(cx, pointer, &value);
  if (!made) {
    JS_ClearPendingException(cx);
    return nil;
  }
  return zeljs::newValue(cx, value);
}

id valueWithPointer(id, SEL, void *pointer, char *type) {
  return pointerValue(pointer, type);
}

void dealloc(id self, SEL) {
  if (!zeljs::engineStopped())
    delete reinterpret_cast<ValueObject *>(self)->value;
  zeljs::superDealloc(self);
}

std::string text(id self) {
  JSContext *cx = zeljs::context();
  JSObject *global = cx ? zeljs::mainGlobal() : nullptr;
  if (!global)
    return "";
  JSAutoRealm realm(cx, global);
  JS::RootedValue value(cx, zeljs::valueOf(self));
  std::string result;
  if (!zeljs::textOf(cx, value, result))
    JS_ClearPendingException(cx);
  return result;
}

id description(id self, SEL) {
  return objc_send_class("NSString", "stringWithCString:",
                         text(self).c_str());
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

OBJC_CLASS_RECORDS(Value_class, "ZELJSValue", "NSObject", sizeof(ValueObject),
                   nullptr, &Value_imethods, &Value_cmethods);

OBJC_MODULE_RECORD(Value_module, 1, 0, &Value_class);

} // namespace

OBJC_REGISTER_MODULE(Value_module)

namespace zeljs {

id newValue(JSContext *cx, JS::HandleValue value) {
  id object = objc_send(objc_getClass("ZELJSValue"), "alloc");
  reinterpret_cast<ValueObject *>(object)->value =
      new JS::PersistentRootedValue(cx, value);
  return objc_send(objc_send(object, "init"), "autorelease");
}

JS::Value valueOf(id value) {
  JS::PersistentRootedValue *rooted =
      value ? reinterpret_cast<ValueObject *>(value)->value : nullptr;
  return rooted ? rooted->get() : JS::UndefinedValue();
}

void superDealloc(id self) {
  SEL selector = sel_registerName("dealloc");
  Method method = class_getInstanceMethod(
      reinterpret_cast<Class>(objc_getClass("NSObject")), selector);
  objc_call_imp<void>(method->method_imp, self, selector);
}

} // namespace zeljs
