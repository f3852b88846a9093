/* The objc object of every JavaScript global: messages, classes and
   methods, instance variables, protocols, C functions and symbol tables,
   on the language-neutral bridge core. This file only says how JavaScript
   values stand for C values; the core does the rest.

   Values: null and undefined are nil; numbers are integers and floats;
   booleans are BOOL; strings are C strings, selectors and, where an object
   is expected, new NSStrings; arrays are structs, unions and C arrays;
   objects and classes are handle objects (their toString describes the
   object); pointers are "0x..." strings. 64-bit integers come back as
   numbers while they are exact as numbers, as BigInts beyond. */
#include "js_objects.h"

#include <zelBridge/zelBridge.h>
#include <Foundation/Foundation.h>

#include <jsfriendapi.h>
#include <js/Array.h>
#include <js/BigInt.h>
#include <js/GlobalObject.h>
#include <js/PropertyAndElement.h>
#include <js/String.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

using zelbridge::Handle;
using zelbridge::ScriptValue;

namespace {

/* ===================== Values lent to the core ===================== */

/* Every value handed to the core is a rooted copy kept here. A bridge
   function frees what it made when it returns (NativeScope); a script
   method called from outside any bridge function frees what earlier such
   calls left (their arguments and result, which the core is done with). */
std::vector<JS::PersistentRootedValue *> &pool() {
  static auto *values = new std::vector<JS::PersistentRootedValue *>;
  return *values;
}

int nativeDepth = 0;

ScriptValue lend(JSContext *cx, JS::HandleValue value) {
  pool().push_back(new JS::PersistentRootedValue(cx, value));
  return pool().back();
}

JS::HandleValue valueOf(ScriptValue value) {
  return *static_cast<JS::PersistentRootedValue *>(value);
}

void releaseFrom(size_t mark) {
  auto &values = pool();
  while (values.size() > mark) {
    delete values.back();
    values.pop_back();
  }
}

/* Frees the values older than every one of args. */
void releaseBefore(ScriptValue *args, int argc) {
  auto &values = pool();
  size_t first = values.size();
  for (int i = 0; i < argc; ++i)
    for (size_t at = 0; at < first; ++at)
      if (values[at] == args[i]) {
        first = at;
        break;
      }
  for (size_t at = 0; at < first; ++at)
    delete values[at];
  values.erase(values.begin(), values.begin() + static_cast<long>(first));
}

class NativeScope {
public:
  NativeScope() : mark_(pool().size()) { ++nativeDepth; }
  ~NativeScope() {
    --nativeDepth;
    releaseFrom(mark_);
  }
  NativeScope(const NativeScope &) = delete;
  NativeScope &operator=(const NativeScope &) = delete;

private:
  size_t mark_;
};

/* ===================== Handle objects ===================== */

enum { objectSlot, serialSlot, handleSlotCount };

JSClass handleClass = {"ObjCObject",
                       JSCLASS_HAS_RESERVED_SLOTS(handleSlotCount), nullptr,
                       nullptr, nullptr, nullptr};

bool handleOf(JS::HandleValue value, Handle &out) {
  if (!value.isObject() || JS::GetClass(&value.toObject()) != &handleClass)
    return false;
  JSObject *object = &value.toObject();
  out.object = static_cast<id>(
      JS::GetReservedSlot(object, objectSlot).toPrivate());
  out.serial = JS::GetReservedSlot(object, serialSlot).toPrivateUint32();
  return true;
}

/* ===================== The core's view of JavaScript ===================== */

/* One per global: values it makes belong to that global's realm (every
   global shares one compartment, so they pass between globals as they
   are). */
class JsScript : public zelbridge::Script {
public:
  JsScript(JSContext *cx, JSObject *global) : global_(cx, global) {}

  JSObject *global() const { return global_; }

  bool isNil(ScriptValue value, bool) override {
    return valueOf(value).isNullOrUndefined();
  }

  bool getInteger(ScriptValue value, long long &out) override {
    JS::HandleValue v = valueOf(value);
    if (v.isInt32()) {
      out = v.toInt32();
      return true;
    }
    if (!v.isDouble())
      return false;
    double number = v.toDouble();
    /* Integral and inside the signed 64-bit range. */
    if (std::trunc(number) != number || number < -9223372036854775808.0 ||
        number >= 9223372036854775808.0)
      return false;
    out = static_cast<long long>(number);
    return true;
  }

  bool getBoolean(ScriptValue value, bool &out) override {
    JS::HandleValue v = valueOf(value);
    if (v.isBoolean())
      out = v.toBoolean();
    else if (v.isNumber())
      out = v.toNumber() != 0;
    else
      return false;
    return true;
  }

  bool getDouble(ScriptValue value, double &out) override {
    JS::HandleValue v = valueOf(value);
    if (!v.isNumber())
      return false;
    out = v.toNumber();
    return true;
  }

  const char *getText(ScriptValue value, zelbridge::Arena &arena) override {
    JSContext *cx = zeljs::context();
    JSAutoRealm realm(cx, global_);
    std::string text;
    if (!zeljs::textOf(cx, valueOf(value), text)) {
      JS_ClearPendingException(cx);
      text = "";
    }
    return arena.keep(text.data(), text.size());
  }

  bool getItems(ScriptValue value, std::vector<ScriptValue> &items) override {
    JSContext *cx = zeljs::context();
    JSAutoRealm realm(cx, global_);
    bool isArray = false;
    if (!JS::IsArrayObject(cx, valueOf(value), &isArray) || !isArray) {
      JS_ClearPendingException(cx);
      return false;
    }
    JS::RootedObject array(cx, &valueOf(value).toObject());
    uint32_t length = 0;
    JS::RootedValue item(cx);
    if (!JS::GetArrayLength(cx, array, &length)) {
      JS_ClearPendingException(cx);
      return false;
    }
    items.clear();
    for (uint32_t index = 0; index < length; ++index) {
      if (!JS_GetElement(cx, array, index, &item)) {
        JS_ClearPendingException(cx);
        return false;
      }
      items.push_back(lend(cx, item));
    }
    return true;
  }

  bool getHandle(ScriptValue value, Handle &out) override {
    return handleOf(valueOf(value), out);
  }

  ScriptValue newNil() override { return make(JS::NullValue()); }

  ScriptValue newInteger(long long value) override {
    return make(JS::NumberValue(static_cast<double>(value)));
  }

  ScriptValue newWideInteger(const char *decimal) override;

  ScriptValue newDouble(double value) override {
    return make(JS::DoubleValue(JS::CanonicalizeNaN(value)));
  }

  ScriptValue newText(const char *text) override {
    JSContext *cx = zeljs::context();
    JSAutoRealm realm(cx, global_);
    JSString *string = zeljs::newString(cx, text);
    return make(string ? JS::StringValue(string) : JS::NullValue());
  }

  ScriptValue newList(ScriptValue *items, int count) override {
    JSContext *cx = zeljs::context();
    JSAutoRealm realm(cx, global_);
    JS::RootedValueVector values(cx);
    for (int i = 0; i < count; ++i)
      if (!values.append(valueOf(items[i])))
        break;
    JSObject *array = JS::NewArrayObject(cx, values);
    if (!array)
      JS_ClearPendingException(cx);
    return make(array ? JS::ObjectValue(*array) : JS::NullValue());
  }

  ScriptValue newHandle(const Handle &handle) override {
    JSContext *cx = zeljs::context();
    JSAutoRealm realm(cx, global_);
    JS::RootedObject prototype(
        cx, &JS::GetReservedSlot(global_, zeljs::handlePrototypeSlot)
                 .toObject());
    JSObject *object =
        JS_NewObjectWithGivenProto(cx, &handleClass, prototype);
    if (!object) {
      JS_ClearPendingException(cx);
      return make(JS::NullValue());
    }
    JS::SetReservedSlot(object, objectSlot, JS::PrivateValue(handle.object));
    JS::SetReservedSlot(object, serialSlot,
                        JS::PrivateUint32Value(handle.serial));
    return make(JS::ObjectValue(*object));
  }

  ScriptValue newPointer(void *pointer) override {
    return newText(zelbridge::formatPointer(pointer).c_str());
  }

  /* Freed with the rest when the bridge function returns. */
  void discard(ScriptValue) override {}

private:
  ScriptValue make(const JS::Value &value) {
    JSContext *cx = zeljs::context();
    JS::RootedValue rooted(cx, value);
    return lend(cx, rooted);
  }

  JS::PersistentRootedObject global_;
};

/* Integers beyond 2^53 lose digits as numbers: those become BigInts. */
ScriptValue JsScript::newWideInteger(const char *decimal) {
  const double exact = 9007199254740992.0; /* 2^53 */
  bool negative = decimal[0] == '-';
  unsigned long long magnitude =
      std::strtoull(decimal + (negative ? 1 : 0), nullptr, 10);
  if (static_cast<double>(magnitude) < exact) {
    double number = static_cast<double>(magnitude);
    return make(JS::NumberValue(negative ? -number : number));
  }
  JSContext *cx = zeljs::context();
  JSAutoRealm realm(cx, global_);
  JS::BigInt *big =
      negative ? JS::NumberToBigInt(cx, static_cast<int64_t>(
                                            std::strtoll(decimal, nullptr, 10)))
               : JS::NumberToBigInt(cx, static_cast<uint64_t>(magnitude));
  if (!big) {
    JS_ClearPendingException(cx);
    return make(JS::NullValue());
  }
  return make(JS::BigIntValue(big));
}

JsScript &scriptOf(JSContext *cx) {
  JSObject *global = JS::CurrentGlobalOrNull(cx);
  return *static_cast<JsScript *>(
      JS::GetReservedSlot(global, zeljs::bridgeSlot).toPrivate());
}

/* ===================== Helpers of the bridge functions ===================== */

bool fail(JSContext *cx, const std::string &message) {
  JS_ReportErrorUTF8(cx, "%s", message.c_str());
  return false;
}

bool usage(JSContext *cx, const char *function, const char *arguments) {
  return fail(cx, std::string("objc.") + function + ": expected (" +
                      arguments + ")");
}

/* The value made by the core as this call's result. */
bool succeed(JS::CallArgs &args, ScriptValue value) {
  args.rval().set(value ? valueOf(value) : JS::NullHandleValue);
  return true;
}

bool textArg(JSContext *cx, JS::HandleValue value, std::string &text) {
  return zeljs::textOf(cx, value, text);
}

bool objectArg(JSContext *cx, JsScript &script, JS::HandleValue value,
               id &object) {
  std::string error;
  if (zelbridge::objectFrom(script, lend(cx, value), true, object, error))
    return true;
  return fail(cx, error);
}

bool isClass(id object) { return object && (object->isa->info & CLS_META); }

bool classArg(JSContext *cx, JsScript &script, JS::HandleValue value,
              Class &cls) {
  id object = nil;
  if (!objectArg(cx, script, value, object))
    return false;
  if (!isClass(object)) {
    std::string text;
    textArg(cx, value, text);
    JS_ClearPendingException(cx);
    return fail(cx, "expected a class but got \"" + text + "\"");
  }
  cls = reinterpret_cast<Class>(object);
  return true;
}

/* Lends the call's arguments from `first` on to the core. */
std::vector<ScriptValue> lendArgs(JSContext *cx, const JS::CallArgs &args,
                                  unsigned first) {
  std::vector<ScriptValue> values;
  for (unsigned i = first; i < args.length(); ++i)
    values.push_back(lend(cx, args[i]));
  return values;
}

JS::Value handleValue(JsScript &script, id object) {
  ScriptValue value = script.newHandle(zelbridge::handleFor(object));
  return valueOf(value);
}

/* ===================== objc.class, objc.string ===================== */

bool classFunction(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  NativeScope scope;
  std::string name;
  if (args.length() != 1 || !args[0].isString())
    return usage(cx, "class", "NAME");
  if (!textArg(cx, args[0], name))
    return false;
  id cls = objc_lookUpClass(name.c_str());
  if (!cls)
    return fail(cx, "no class named " + name);
  args.rval().set(handleValue(scriptOf(cx), cls));
  return true;
}

bool stringFunction(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  NativeScope scope;
  std::string text;
  if (args.length() != 1)
    return usage(cx, "string", "TEXT");
  if (!textArg(cx, args[0], text))
    return false;
  id string = objc_send_class("NSString", "stringWithCString:", text.c_str());
  args.rval().set(handleValue(scriptOf(cx), string));
  return true;
}

/* ===================== objc.send, objc.super, objc.former ===================== */

using Sender = bool (*)(zelbridge::Script &, id, SEL, ScriptValue *, int,
                        ScriptValue &, std::string &);

bool sendWith(Sender sender, const char *name, JSContext *cx, unsigned argc,
              JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  NativeScope scope;
  JsScript &script = scriptOf(cx);
  if (args.length() < 2 || !args[1].isString())
    return usage(cx, name, "RECEIVER, SELECTOR, ARG...");
  id receiver = nil;
  std::string selector;
  if (!objectArg(cx, script, args[0], receiver) ||
      !textArg(cx, args[1], selector))
    return false;
  std::vector<ScriptValue> values = lendArgs(cx, args, 2);
  ScriptValue result = nullptr;
  std::string error;
  if (!sender(script, receiver, sel_registerName(selector.c_str()),
              values.data(), static_cast<int>(values.size()), result, error))
    return fail(cx, error);
  return succeed(args, result);
}

bool sendFunction(JSContext *cx, unsigned argc, JS::Value *vp) {
  return sendWith(zelbridge::send, "send", cx, argc, vp);
}

bool superFunction(JSContext *cx, unsigned argc, JS::Value *vp) {
  return sendWith(zelbridge::sendSuper, "super", cx, argc, vp);
}

bool formerFunction(JSContext *cx, unsigned argc, JS::Value *vp) {
  return sendWith(zelbridge::sendFormer, "former", cx, argc, vp);
}

/* ===================== objc.defineClass, objc.method ===================== */

bool defineClassFunction(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  NativeScope scope;
  JsScript &script = scriptOf(cx);
  if (args.length() < 2 || args.length() > 3 || !args[0].isString())
    return usage(cx, "defineClass", "NAME, SUPERCLASS, IVARS");
  std::string name, ivars;
  id superclass = nil;
  if (!textArg(cx, args[0], name) ||
      !objectArg(cx, script, args[1], superclass))
    return false;
  if (superclass && !isClass(superclass))
    return fail(cx, "expected a class as the superclass of " + name);
  bool hasIvars = args.length() == 3 && !args[2].isNullOrUndefined();
  if (hasIvars && !textArg(cx, args[2], ivars))
    return false;
  std::string error;
  Class cls = zelbridge::defineClass(name.c_str(),
                                     reinterpret_cast<Class>(superclass),
                                     hasIvars ? ivars.c_str() : nullptr, error);
  if (!cls)
    return fail(cx, error);
  args.rval().set(handleValue(script, reinterpret_cast<id>(cls)));
  return true;
}

/* A method written in JavaScript: the function, called with self as this
   and self, _cmd and the arguments as its parameters. */
class JsMethodBody : public zelbridge::MethodBody {
public:
  JsMethodBody(JSContext *cx, JsScript &script, JSObject *function)
      : script_(script), function_(cx, function) {}

  zelbridge::Script &script() override { return script_; }
  const char *exceptionName() override { return "ZELJavaScriptException"; }

  bool run(ScriptValue *args, int argc, ScriptValue &result,
           std::string &error) override {
    JSContext *cx = zeljs::context();
    if (!cx) {
      error = "the JavaScript engine was shut down";
      return false;
    }
    if (nativeDepth == 0)
      releaseBefore(args, argc);
    JSAutoRealm realm(cx, function_);
    JS::RootedValueVector argv(cx);
    for (int i = 0; i < argc; ++i)
      if (!argv.append(valueOf(args[i])))
        return failed(cx, error);
    JS::RootedValue self(cx, argc > 0 ? valueOf(args[0]).get()
                                      : JS::UndefinedValue());
    JS::RootedValue function(cx, JS::ObjectValue(*function_));
    JS::RootedValue returned(cx);
    zeljs::Running running;
    if (!JS::Call(cx, self, function, JS::HandleValueArray(argv), &returned))
      return failed(cx, error);
    result = lend(cx, returned);
    return true;
  }

private:
  static bool failed(JSContext *cx, std::string &error) {
    error = zeljs::pendingErrorText(cx);
    return false;
  }

  JsScript &script_;
  JS::PersistentRootedObject function_;
};

/* objc.method(CLASS, ["-class",] SELECTOR, TYPES, FUNCTION) */
bool methodFunction(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  NativeScope scope;
  JsScript &script = scriptOf(cx);
  std::string flag;
  bool classSide = args.length() == 5 && args[1].isString() &&
                   textArg(cx, args[1], flag) && flag == "-class";
  unsigned at = classSide ? 2 : 1;
  if ((args.length() != 4 && !classSide) || !args[at].isString() ||
      !args[at + 1].isString() || !args[at + 2].isObject() ||
      !JS::IsCallable(&args[at + 2].toObject()))
    return usage(cx, "method", "CLASS, [\"-class\",] SELECTOR, TYPES, FUNCTION");
  Class cls = nullptr;
  std::string selector, types;
  if (!classArg(cx, script, args[0], cls) ||
      !textArg(cx, args[at], selector) || !textArg(cx, args[at + 1], types))
    return false;
  auto body = std::make_unique<JsMethodBody>(cx, script,
                                             &args[at + 2].toObject());
  std::string error;
  if (!zelbridge::defineMethod(cls, classSide,
                               sel_registerName(selector.c_str()),
                               types.c_str(), std::move(body), error))
    return fail(cx, error);
  args.rval().setUndefined();
  return true;
}

/* ===================== objc.ivar ===================== */

bool ivarFunction(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  NativeScope scope;
  JsScript &script = scriptOf(cx);
  if (args.length() < 2 || args.length() > 3 || !args[1].isString())
    return usage(cx, "ivar", "OBJECT, NAME, VALUE");
  id object = nil;
  std::string name;
  if (!objectArg(cx, script, args[0], object) || !textArg(cx, args[1], name))
    return false;
  std::string error;
  if (args.length() == 3) {
    if (!zelbridge::setIvar(script, object, name.c_str(), lend(cx, args[2]),
                            error))
      return fail(cx, error);
    args.rval().set(args[2]);
    return true;
  }
  ScriptValue value = nullptr;
  if (!zelbridge::getIvar(script, object, name.c_str(), value, error))
    return fail(cx, error);
  return succeed(args, value);
}

/* ===================== objc.protocol ===================== */

bool protocolArg(JSContext *cx, JsScript &script, JS::HandleValue value,
                 Protocol *&protocol) {
  Handle handle;
  if (handleOf(value, handle)) {
    id object = nil;
    std::string error;
    if (!zelbridge::resolve(handle, object, error))
      return fail(cx, error);
    protocol = reinterpret_cast<Protocol *>(object);
    return true;
  }
  std::string name;
  if (!textArg(cx, value, name))
    return false;
  protocol = zelbridge::findProtocol(name.c_str());
  (void)script;
  return protocol ? true : fail(cx, "no protocol named " + name);
}

bool protocolFind(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  NativeScope scope;
  std::string name;
  if (args.length() != 1 || !args[0].isString())
    return usage(cx, "protocol.find", "NAME");
  if (!textArg(cx, args[0], name))
    return false;
  Protocol *protocol = zelbridge::findProtocol(name.c_str());
  if (!protocol) {
    args.rval().setNull();
    return true;
  }
  args.rval().set(handleValue(scriptOf(cx), reinterpret_cast<id>(protocol)));
  return true;
}

bool protocolList(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  NativeScope scope;
  JsScript &script = scriptOf(cx);
  std::vector<ScriptValue> names;
  for (const std::string &name : zelbridge::protocolNames())
    names.push_back(script.newText(name.c_str()));
  return succeed(args, script.newList(names.data(),
                                      static_cast<int>(names.size())));
}

/* The selector: types pairs of a plain object. */
bool methodDescriptions(JSContext *cx, JS::HandleValue value,
                        std::vector<zelbridge::MethodDescription> &out) {
  if (value.isNullOrUndefined())
    return true;
  if (!value.isObject())
    return fail(cx, "objc.protocol.create: methods are given as an object "
                    "of selector: types pairs");
  JS::RootedObject object(cx, &value.toObject());
  JS::Rooted<JS::IdVector> ids(cx, JS::IdVector(cx));
  if (!JS_Enumerate(cx, object, &ids))
    return false;
  JS::RootedValue key(cx), types(cx);
  for (size_t i = 0; i < ids.length(); ++i) {
    zelbridge::MethodDescription description;
    if (!JS_IdToValue(cx, ids[i], &key) ||
        !textArg(cx, key, description.selector) ||
        !JS_GetPropertyById(cx, object, ids[i], &types) ||
        !textArg(cx, types, description.types))
      return false;
    out.push_back(description);
  }
  return true;
}

bool protocolNamesOf(JSContext *cx, JS::HandleValue value,
                     std::vector<std::string> &out) {
  if (value.isNullOrUndefined())
    return true;
  bool isArray = false;
  if (!JS::IsArrayObject(cx, value, &isArray))
    return false;
  if (!isArray)
    return fail(cx, "objc.protocol.create: incorporated protocols are given "
                    "as an array of names");
  JS::RootedObject array(cx, &value.toObject());
  uint32_t length = 0;
  if (!JS::GetArrayLength(cx, array, &length))
    return false;
  JS::RootedValue item(cx);
  for (uint32_t index = 0; index < length; ++index) {
    std::string name;
    if (!JS_GetElement(cx, array, index, &item) || !textArg(cx, item, name))
      return false;
    out.push_back(name);
  }
  return true;
}

/* objc.protocol.create(NAME, INCORPORATED, INSTANCE, CLASS) */
bool protocolCreate(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  NativeScope scope;
  if (args.length() < 1 || args.length() > 4 || !args[0].isString())
    return usage(cx, "protocol.create",
                 "NAME, INCORPORATED, INSTANCEMETHODS, CLASSMETHODS");
  std::string name;
  std::vector<std::string> incorporated;
  std::vector<zelbridge::MethodDescription> instance, classSide;
  if (!textArg(cx, args[0], name) ||
      !protocolNamesOf(cx, args.get(1), incorporated) ||
      !methodDescriptions(cx, args.get(2), instance) ||
      !methodDescriptions(cx, args.get(3), classSide))
    return false;
  std::string error;
  Protocol *protocol = zelbridge::createProtocol(name.c_str(), incorporated,
                                                 instance, classSide, error);
  if (!protocol)
    return fail(cx, error);
  args.rval().set(handleValue(scriptOf(cx), reinterpret_cast<id>(protocol)));
  return true;
}

using ProtocolTest = BOOL (*)(Class, Protocol *);

bool protocolTest(ProtocolTest test, const char *name, JSContext *cx,
                  unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  NativeScope scope;
  JsScript &script = scriptOf(cx);
  if (args.length() != 2)
    return usage(cx, name, "CLASS, PROTOCOL");
  Class cls = nullptr;
  Protocol *protocol = nullptr;
  if (!classArg(cx, script, args[0], cls) ||
      !protocolArg(cx, script, args[1], protocol))
    return false;
  args.rval().setBoolean(test(cls, protocol) != NO);
  return true;
}

bool protocolImplements(JSContext *cx, unsigned argc, JS::Value *vp) {
  return protocolTest(ZelObjC_ImplementsProtocol, "protocol.implements", cx,
                      argc, vp);
}

bool protocolConforms(JSContext *cx, unsigned argc, JS::Value *vp) {
  return protocolTest(ZelObjC_ConformsToProtocol, "protocol.conforms", cx,
                      argc, vp);
}

/* ===================== objc.cfunction ===================== */

/* C functions live as long as the process: a script may keep the
   JavaScript function anywhere. */
enum { functionSlot };

bool callCFunction(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  NativeScope scope;
  JsScript &script = scriptOf(cx);
  auto *function = static_cast<zelbridge::Function *>(
      js::GetFunctionNativeReserved(&args.callee(), functionSlot).toPrivate());
  std::vector<ScriptValue> values = lendArgs(cx, args, 0);
  ScriptValue result = nullptr;
  std::string error;
  if (!zelbridge::call(script, *function->signature, function->address,
                       values.data(), static_cast<int>(values.size()), result,
                       error))
    return fail(cx, error);
  return succeed(args, result);
}

/* objc.cfunction(NAME, [SIGNATURE, [JSNAME]]): a function calling the C
   function; with JSNAME it is also a global of that name. */
bool cfunctionFunction(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  NativeScope scope;
  if (args.length() < 1 || args.length() > 3 || !args[0].isString())
    return usage(cx, "cfunction", "NAME, SIGNATURE, JSNAME");
  std::string name, types, jsName;
  bool typed = args.length() >= 2 && !args[1].isNullOrUndefined();
  if (!textArg(cx, args[0], name) || (typed && !textArg(cx, args[1], types)) ||
      (args.length() == 3 && !textArg(cx, args[2], jsName)))
    return false;
  std::string error;
  std::unique_ptr<zelbridge::Function> function =
      zelbridge::cfunction(name.c_str(), typed ? types.c_str() : nullptr,
                           error);
  if (!function)
    return fail(cx, error);
  const std::string &shown = jsName.empty() ? name : jsName;
  JSFunction *made = js::NewFunctionWithReserved(
      cx, callCFunction,
      static_cast<unsigned>(function->signature->arguments.size()), 0,
      shown.c_str());
  if (!made)
    return false;
  JS::RootedObject object(cx, JS_GetFunctionObject(made));
  js::SetFunctionNativeReserved(object, functionSlot,
                                JS::PrivateValue(function.release()));
  if (!jsName.empty()) {
    JS::RootedObject global(cx, JS::CurrentGlobalOrNull(cx));
    if (!JS_DefineProperty(cx, global, jsName.c_str(), object,
                           JSPROP_ENUMERATE))
      return false;
  }
  args.rval().setObject(*object);
  return true;
}

/* ===================== objc.symbols ===================== */

bool symbolsLoad(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  NativeScope scope;
  std::string path, error;
  if (args.length() != 1 || !args[0].isString())
    return usage(cx, "symbols.load", "PATH");
  if (!textArg(cx, args[0], path))
    return false;
  if (!zelbridge::loadSymbols(path.c_str(), error))
    return fail(cx, error);
  args.rval().setInt32(
      static_cast<int32_t>(zelbridge::loadedSymbolTables().size()));
  return true;
}

JSObject *definition(JSContext *cx, int kind, const char *name,
                     const char *type) {
  JS::RootedObject object(cx, JS_NewPlainObject(cx));
  const char *kindName = zelbridge::symbolKindName(kind);
  JS::RootedValue value(cx);
  for (auto [key, text] : {std::pair<const char *, const char *>{"kind",
                                                                 kindName},
                           {"name", name},
                           {"type", type}}) {
    JSString *string = zeljs::newString(cx, text ? text : "");
    if (!object || !string)
      return nullptr;
    value.setString(string);
    if (!JS_SetProperty(cx, object, key, value))
      return nullptr;
  }
  return object;
}

/* objc.symbols.lookup(NAME): {kind, name, type} from the first loaded
   table that defines it, or null. */
bool symbolsLookup(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  NativeScope scope;
  std::string name;
  if (args.length() != 1 || !args[0].isString())
    return usage(cx, "symbols.lookup", "NAME");
  if (!textArg(cx, args[0], name))
    return false;
  for (SymbolTable *table : zelbridge::loadedSymbolTables()) {
    const char *type = nullptr;
    if (int kind = ZelObjC_LookupSymbol(table, name.c_str(), &type)) {
      JSObject *found = definition(cx, kind, name.c_str(), type);
      if (!found)
        return false;
      args.rval().setObject(*found);
      return true;
    }
  }
  args.rval().setNull();
  return true;
}

struct Listing {
  JSContext *cx;
  JS::RootedValueVector *items;
  bool ok;
};

void listDefinition(int kind, const char *name, const char *type,
                    void *context) {
  auto *listing = static_cast<Listing *>(context);
  if (!listing->ok)
    return;
  JSObject *object = definition(listing->cx, kind, name, type);
  listing->ok = object && listing->items->append(JS::ObjectValue(*object));
}

/* objc.symbols.list(): every definition of every loaded table. */
bool symbolsList(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  NativeScope scope;
  JS::RootedValueVector items(cx);
  Listing listing{cx, &items, true};
  for (SymbolTable *table : zelbridge::loadedSymbolTables())
    ZelObjC_EnumerateSymbols(table, listDefinition, &listing);
  JSObject *array = listing.ok ? JS::NewArrayObject(cx, items) : nullptr;
  if (!array)
    return false;
  args.rval().setObject(*array);
  return true;
}

/* ===================== Handle objects' methods ===================== */

/* "<NSString 0x...>", a class's name, or what became of a freed object. */
bool handleToString(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  NativeScope scope;
  Handle handle;
  if (!handleOf(args.thisv(), handle))
    return fail(cx, "toString: not an Objective-C object");
  id object = nil;
  std::string error;
  std::string text = zelbridge::resolve(handle, object, error)
                         ? zelbridge::describe(object)
                         : "<" + error + ">";
  JSString *string = zeljs::newString(cx, text.c_str());
  if (!string)
    return false;
  args.rval().setString(string);
  return true;
}

/* Two handle objects are equal when they hold the same live object. */
bool handleEquals(JSContext *cx, unsigned argc, JS::Value *vp) {
  JS::CallArgs args = JS::CallArgsFromVp(argc, vp);
  Handle mine, other;
  if (!handleOf(args.thisv(), mine))
    return fail(cx, "equals: not an Objective-C object");
  args.rval().setBoolean(handleOf(args.get(0), other) &&
                         mine.object == other.object &&
                         mine.serial == other.serial);
  return true;
}

/* ===================== Installation ===================== */

const JSFunctionSpec objcFunctions[] = {
    JS_FN("class", classFunction, 1, 0),
    JS_FN("string", stringFunction, 1, 0),
    JS_FN("send", sendFunction, 2, 0),
    JS_FN("super", superFunction, 2, 0),
    JS_FN("former", formerFunction, 2, 0),
    JS_FN("defineClass", defineClassFunction, 3, 0),
    JS_FN("method", methodFunction, 4, 0),
    JS_FN("ivar", ivarFunction, 2, 0),
    JS_FN("cfunction", cfunctionFunction, 2, 0),
    JS_FS_END};

const JSFunctionSpec protocolFunctions[] = {
    JS_FN("find", protocolFind, 1, 0),
    JS_FN("list", protocolList, 0, 0),
    JS_FN("create", protocolCreate, 4, 0),
    JS_FN("implements", protocolImplements, 2, 0),
    JS_FN("conforms", protocolConforms, 2, 0),
    JS_FS_END};

const JSFunctionSpec symbolFunctions[] = {
    JS_FN("load", symbolsLoad, 1, 0),
    JS_FN("lookup", symbolsLookup, 1, 0),
    JS_FN("list", symbolsList, 0, 0),
    JS_FS_END};

const JSFunctionSpec handleFunctions[] = {
    JS_FN("toString", handleToString, 0, 0),
    JS_FN("equals", handleEquals, 1, 0),
    JS_FS_END};

bool defineGroup(JSContext *cx, JS::HandleObject objc, const char *name,
                 const JSFunctionSpec *functions) {
  JS::RootedObject group(cx, JS_NewPlainObject(cx));
  return group && JS_DefineFunctions(cx, group, functions) &&
         JS_DefineProperty(cx, objc, name, group, JSPROP_ENUMERATE);
}

} // namespace

namespace zeljs {

bool installObjc(JSContext *cx, JS::HandleObject global) {
  JS::RootedObject prototype(cx, JS_NewPlainObject(cx));
  if (!prototype || !JS_DefineFunctions(cx, prototype, handleFunctions))
    return false;
  JS::SetReservedSlot(global, handlePrototypeSlot, JS::ObjectValue(*prototype));
  /* Kept for the life of the process: method bodies refer to it. */
  JS::SetReservedSlot(global, bridgeSlot,
                      JS::PrivateValue(new JsScript(cx, global)));
  JS::RootedObject objc(cx, JS_NewPlainObject(cx));
  return objc && JS_DefineFunctions(cx, objc, objcFunctions) &&
         defineGroup(cx, objc, "protocol", protocolFunctions) &&
         defineGroup(cx, objc, "symbols", symbolFunctions) &&
         JS_DefineProperty(cx, global, "objc", objc, JSPROP_ENUMERATE);
}

} // namespace zeljs
