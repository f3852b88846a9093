// A language for driving the bridge core without one: values are plain
// records kept for the life of the script object. Shared by the core's
// tests and the fuzz targets that reach the core.
#ifndef ZEL_TESTS_FAKE_SCRIPT_H
#define ZEL_TESTS_FAKE_SCRIPT_H

#include <zelBridge/zelBridge.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace fake {

struct Value {
  enum Kind { None, Integer, Real, Text, List, Object, Pointer } kind = None;
  long long integer = 0;
  double real = 0;
  std::string text;
  std::vector<zelbridge::ScriptValue> items;
  zelbridge::Handle handle;
};

class Script : public zelbridge::Script {
public:
  using ScriptValue = zelbridge::ScriptValue;

  ScriptValue make(Value value) {
    values_.push_back(value);
    return &values_.back();
  }
  ScriptValue integer(long long n) {
    Value v;
    v.kind = Value::Integer;
    v.integer = n;
    return make(v);
  }
  ScriptValue real(double d) {
    Value v;
    v.kind = Value::Real;
    v.real = d;
    return make(v);
  }
  ScriptValue text(const std::string &text) {
    Value v;
    v.kind = Value::Text;
    v.text = text;
    return make(v);
  }
  ScriptValue list(std::vector<ScriptValue> items) {
    Value v;
    v.kind = Value::List;
    v.items = items;
    return make(v);
  }
  static Value &of(ScriptValue value) { return *static_cast<Value *>(value); }

  /* Same kind and contents, reals compared bit for bit. */
  static bool same(ScriptValue a, ScriptValue b) {
    const Value &x = of(a);
    const Value &y = of(b);
    if (x.kind != y.kind || x.items.size() != y.items.size())
      return false;
    for (size_t i = 0; i < x.items.size(); ++i)
      if (!same(x.items[i], y.items[i]))
        return false;
    return x.integer == y.integer && x.text == y.text &&
           std::memcmp(&x.real, &y.real, sizeof x.real) == 0 &&
           x.handle.object == y.handle.object &&
           x.handle.serial == y.handle.serial;
  }

  bool isNil(ScriptValue value, bool) override {
    return of(value).kind == Value::None;
  }
  bool getInteger(ScriptValue value, long long &out) override {
    out = of(value).integer;
    return of(value).kind == Value::Integer;
  }
  bool getBoolean(ScriptValue, bool &) override { return false; }
  bool getDouble(ScriptValue value, double &out) override {
    const Value &v = of(value);
    out = v.kind == Value::Real ? v.real : static_cast<double>(v.integer);
    return v.kind == Value::Real || v.kind == Value::Integer;
  }
  const char *getText(ScriptValue value, zelbridge::Arena &arena) override {
    const Value &v = of(value);
    std::string text = v.text;
    if (v.kind == Value::Integer)
      text = std::to_string(v.integer);
    else if (v.kind == Value::Real) {
      char digits[32];
      std::snprintf(digits, sizeof digits, "%.17g", v.real);
      text = digits;
    } else if (v.kind == Value::Object)
      text = zelbridge::formatHandle(v.handle);
    return arena.keep(text.c_str(), text.size());
  }
  bool getItems(ScriptValue value, std::vector<ScriptValue> &items) override {
    items = of(value).items;
    return of(value).kind == Value::List;
  }
  bool getHandle(ScriptValue value, zelbridge::Handle &out) override {
    out = of(value).handle;
    return of(value).kind == Value::Object;
  }
  ScriptValue newNil() override { return make(Value{}); }
  ScriptValue newInteger(long long n) override { return integer(n); }
  ScriptValue newWideInteger(const char *decimal) override {
    return text(decimal);
  }
  ScriptValue newDouble(double d) override { return real(d); }
  ScriptValue newText(const char *chars) override { return text(chars); }
  ScriptValue newList(ScriptValue *items, int count) override {
    return list(std::vector<ScriptValue>(items, items + count));
  }
  ScriptValue newHandle(const zelbridge::Handle &handle) override {
    Value v;
    v.kind = Value::Object;
    v.handle = handle;
    return make(v);
  }
  ScriptValue newPointer(void *pointer) override {
    Value v;
    v.kind = Value::Pointer;
    v.text = zelbridge::formatPointer(pointer);
    return make(v);
  }
  void discard(ScriptValue) override { ++discarded; }

  int discarded = 0;

private:
  std::deque<Value> values_; // stable addresses
};

} // namespace fake

#endif
