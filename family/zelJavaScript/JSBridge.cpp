/* JavaScript values for the bridge core (the commands are bound in
   JSCommands.cpp, handle objects made in JSHandles.cpp) and method bodies
   written in JavaScript.

   Values: null and undefined are nil; numbers are integers and floats;
   booleans are BOOL; strings are C strings, selectors and, where an object
   is expected, new NSStrings; arrays are structs, unions and C arrays;
   objects and classes are handle objects, one per object (JSHandles.cpp);
   pointers are "0x..." strings. 64-bit integers come back as
   numbers while they are exact as numbers, as BigInts beyond. */
#include "js_objects.h"

#include <zelBridge/zelBridge.h>

#include <js/Array.h>
#include <js/BigInt.h>
#include <js/Object.h>
#include <js/PropertyAndElement.h>
#include <js/String.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <Foundation/Foundation.h>

using zelbridge::Handle;
using zelbridge::ScriptValue;

namespace {

/* ===================== Values lent to the core ===================== */

/* Every value handed to the core is a rooted copy kept here, freed back
   to a mark: by a bridge function when it returns (LentScope), by the
   core once a script method's result is converted. */
std::vector<JS::PersistentRootedValue *> &pool() {
  static auto *values = new std::vector<JS::PersistentRootedValue *>;
  return *values;
}

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
    size_t length = 0;
    return getBytes(value, arena, length);
  }
  const char *getBytes(ScriptValue value, zelbridge::Arena &arena,
                       size_t &length) override {
    JSContext *cx = zeljs::context();
    JSAutoRealm realm(cx, global_);
    std::string text;
    if (!zeljs::textOf(cx, valueOf(value), text)) {
      JS_ClearPendingException(cx);
      text = "";
    }
    length = text.size();
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

  /* The own enumerable properties of a plain object. */
  bool
  getEntries(ScriptValue value,
             std::vector<std::pair<ScriptValue, ScriptValue>> &out) override {
    JS::HandleValue v = valueOf(value);
    if (!v.isObject() || JS::GetClass(&v.toObject()) != JS::GetClass(plain()))
      return false;
    JSContext *cx = zeljs::context();
    JSAutoRealm realm(cx, global_);
    JS::RootedObject object(cx, &v.toObject());
    JS::Rooted<JS::IdVector> ids(cx, JS::IdVector(cx));
    JS::RootedValue key(cx), item(cx);
    if (!JS_Enumerate(cx, object, &ids)) {
      JS_ClearPendingException(cx);
      return false;
    }
    for (size_t i = 0; i < ids.length(); ++i) {
      if (!JS_IdToValue(cx, ids[i], &key) ||
          !JS_GetPropertyById(cx, object, ids[i], &item)) {
        JS_ClearPendingException(cx);
        return false;
      }
      out.emplace_back(lend(cx, key), lend(cx, item));
    }
    return true;
  }

  bool getHandle(ScriptValue value, Handle &out) override {
    return zeljs::handleOf(valueOf(value), out);
  }
  bool structuredValues() override { return true; }

  ScriptValue newNil() override { return make(JS::NullValue()); }

  ScriptValue newInteger(long long value) override {
    return make(JS::NumberValue(static_cast<double>(value)));
  }

  ScriptValue newWideInteger(const char *decimal) override;

  ScriptValue newDouble(double value) override {
    return make(JS::DoubleValue(JS::CanonicalizeNaN(value)));
  }

  ScriptValue newBoolean(bool value) override {
    return make(JS::BooleanValue(value));
  }

  ScriptValue newText(const char *text) override {
    return newBytes(text, std::strlen(text));
  }
  ScriptValue newBytes(const char *bytes, size_t length) override {
    JSContext *cx = zeljs::context();
    JSAutoRealm realm(cx, global_);
    JSString *string = zeljs::newString(cx, bytes, length);
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

  ScriptValue newRecord(const char *const *names, ScriptValue *values,
                        int count) override {
    JSContext *cx = zeljs::context();
    JSAutoRealm realm(cx, global_);
    JS::RootedObject object(cx, JS_NewPlainObject(cx));
    for (int i = 0; object && i < count; ++i)
      if (!JS_SetProperty(cx, object, names[i], valueOf(values[i])))
        object = nullptr;
    if (!object)
      JS_ClearPendingException(cx);
    return make(object ? JS::ObjectValue(*object) : JS::NullValue());
  }

  /* The global's handle object of the object (see JSHandles.cpp). */
  ScriptValue newHandle(const Handle &handle) override {
    JSContext *cx = zeljs::context();
    JSAutoRealm realm(cx, global_);
    JSObject *object = zeljs::handleObject(cx, global_, handle);
    if (!object)
      JS_ClearPendingException(cx);
    return make(object ? JS::ObjectValue(*object) : JS::NullValue());
  }

  ScriptValue newPointer(void *pointer) override {
    return newText(zelbridge::formatPointer(pointer).c_str());
  }

  /* Freed with the rest back to the next mark. */
  void discard(ScriptValue) override {}

  size_t mark() override { return pool().size(); }
  void release(size_t mark) override { releaseFrom(mark); }

  void *keep(ScriptValue value) override {
    return new JS::PersistentRootedValue(zeljs::context(), valueOf(value));
  }
  ScriptValue kept(void *hold) override {
    return make(*static_cast<JS::PersistentRootedValue *>(hold));
  }
  void unkeep(void *hold) override {
    if (!zeljs::engineStopped())
      delete static_cast<JS::PersistentRootedValue *>(hold);
  }

  bool runBlock(ScriptValue block, ScriptValue &result,
                std::string &error) override;
  bool isFunction(ScriptValue value) override {
    JS::HandleValue v = valueOf(value);
    return v.isObject() && JS::IsCallable(&v.toObject());
  }
  std::unique_ptr<zelbridge::MethodBody> newBody(ScriptValue *words,
                                                 const char *, int, bool,
                                                 std::string &error) override;
  ScriptValue newFunction(std::unique_ptr<zelbridge::Function> function,
                          const char *name, bool nameGiven,
                          std::string &error) override;
  const char *exceptionName() override { return "ZELJavaScriptException"; }

  /* The value a method body just threw, for keepFailure. */
  void noteFailure(JS::HandleValue thrown) {
    delete failed_;
    failed_ = new JS::PersistentRootedValue(zeljs::context(), thrown);
  }
  void *keepFailure() override { return std::exchange(failed_, nullptr); }
  void dropFailure(void *hold) override {
    if (!zeljs::engineStopped())
      delete static_cast<JS::PersistentRootedValue *>(hold);
  }

private:
  JS::PersistentRootedValue *failed_ = nullptr;
  ScriptValue make(const JS::Value &value) {
    JSContext *cx = zeljs::context();
    JS::RootedValue rooted(cx, value);
    return lend(cx, rooted);
  }

  /* An object of the class plain objects have, to tell them apart. */
  JSObject *plain() {
    if (!plain_) {
      JSContext *cx = zeljs::context();
      JSAutoRealm realm(cx, global_);
      plain_.init(cx, JS_NewPlainObject(cx));
    }
    return plain_;
  }

  JS::PersistentRootedObject global_;
  JS::PersistentRootedObject plain_;
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

JsScript &scriptOf(JSObject *global) {
  return *static_cast<JsScript *>(
      JS::GetReservedSlot(global, zeljs::bridgeSlot).toPrivate());
}

ScriptValue JsScript::newFunction(std::unique_ptr<zelbridge::Function> function,
                                  const char *name, bool nameGiven,
                                  std::string &error) {
  JSContext *cx = zeljs::context();
  JS::RootedObject global(cx, global_);
  JSObject *made = zeljs::newCFunction(cx, global, std::move(function), name,
                                       nameGiven, error);
  return made ? make(JS::ObjectValue(*made)) : nullptr;
}

/* ===================== Method bodies ===================== */

/* A method written in JavaScript: the function, called with self as this
   and self, _cmd and the arguments as its parameters. */
class JsMethodBody : public zelbridge::MethodBody {
public:
  JsMethodBody(JSContext *cx, JsScript &script, JSObject *function)
      : script_(script), function_(cx, function) {}

  zelbridge::Script &script() override { return script_; }

  bool run(ScriptValue *args, int argc, ScriptValue &result,
           std::string &error) override {
    JSContext *cx = zeljs::context();
    if (!cx) {
      error = "the JavaScript engine was shut down";
      return false;
    }
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
  bool failed(JSContext *cx, std::string &error) {
    JS::RootedValue thrown(cx);
    if (JS_GetPendingException(cx, &thrown))
      script_.noteFailure(thrown);
    error = zeljs::pendingErrorText(cx);
    return false;
  }

  JsScript &script_;
  JS::PersistentRootedObject function_;
};

bool JsScript::runBlock(ScriptValue block, ScriptValue &result,
                        std::string &error) {
  JsMethodBody body(zeljs::context(), *this, &valueOf(block).toObject());
  return body.run(nullptr, 0, result, error);
}

std::unique_ptr<zelbridge::MethodBody>
JsScript::newBody(ScriptValue *words, const char *, int, bool, std::string &) {
  return std::make_unique<JsMethodBody>(zeljs::context(), *this,
                                        &valueOf(words[0]).toObject());
}

} // namespace

namespace zeljs {

bool installObjc(JSContext *cx, JS::HandleObject global) {
  if (!installHandles(cx, global))
    return false;
  /* Kept for the life of the process: method bodies refer to it. */
  JS::SetReservedSlot(global, bridgeSlot,
                      JS::PrivateValue(new JsScript(cx, global)));
  JS::RootedObject objc(cx, JS_NewPlainObject(cx));
  return objc && bindCommands(cx, objc) &&
         JS_DefineProperty(cx, global, "objc", objc, JSPROP_ENUMERATE) &&
         runIdiom(cx);
}

LentScope::LentScope() : mark_(pool().size()) {}
LentScope::~LentScope() { releaseFrom(mark_); }

zelbridge::ScriptValue lendValue(JSContext *cx, JS::HandleValue value) {
  return lend(cx, value);
}

JS::HandleValue lentValue(zelbridge::ScriptValue value) {
  return valueOf(value);
}

zelbridge::Script &scriptOfGlobal(JSObject *global) { return scriptOf(global); }

} // namespace zeljs
