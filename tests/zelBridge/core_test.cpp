// The bridge core without a language: handles and the registry (freed,
// reused and moved objects), conversion by type encoding with the layout of
// structs, arrays and unions, prepared signatures and their cache.
#include <zelBridge/zelBridge.h>
#include <objc/objc-load.h>
#include <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <set>
#include <string>

using namespace objc_module_records;
using zelbridge::Handle;
using zelbridge::ScriptValue;

OBJC_LIBRARY_REGISTRATION()

namespace {

int answer(id, SEL) { return 1; }
int otherAnswer(id, SEL) { return 2; }

MethodList<1> Core_imethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("answer", answer)}};
OBJC_CLASS_RECORDS(Core_class, "CoreProbe", "NSObject", sizeof(id), nullptr,
                   &Core_imethods, nullptr);
OBJC_MODULE_RECORD(Core_module, 1, 0, &Core_class);

} // namespace

OBJC_REGISTER_MODULE(Core_module)

namespace {

// A language whose values are plain records: enough to drive the core.
struct Value {
  enum Kind { None, Integer, Real, Text, List, Object, Pointer } kind = None;
  long long integer = 0;
  double real = 0;
  std::string text;
  std::vector<ScriptValue> items;
  Handle handle;
};

class FakeScript : public zelbridge::Script {
public:
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
  ScriptValue list(std::vector<ScriptValue> items) {
    Value v;
    v.kind = Value::List;
    v.items = items;
    return make(v);
  }
  static Value &of(ScriptValue value) { return *static_cast<Value *>(value); }

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
    std::string text = of(value).kind == Value::Integer
                           ? std::to_string(of(value).integer)
                           : of(value).text;
    return arena.keep(text.c_str(), text.size());
  }
  bool getItems(ScriptValue value, std::vector<ScriptValue> &items) override {
    items = of(value).items;
    return of(value).kind == Value::List;
  }
  bool getHandle(ScriptValue value, Handle &out) override {
    out = of(value).handle;
    return of(value).kind == Value::Object;
  }
  ScriptValue newNil() override { return make(Value{}); }
  ScriptValue newInteger(long long n) override { return integer(n); }
  ScriptValue newWideInteger(const char *decimal) override {
    Value v;
    v.kind = Value::Text;
    v.text = decimal;
    return make(v);
  }
  ScriptValue newDouble(double d) override {
    Value v;
    v.kind = Value::Real;
    v.real = d;
    return make(v);
  }
  ScriptValue newText(const char *text) override {
    Value v;
    v.kind = Value::Text;
    v.text = text;
    return make(v);
  }
  ScriptValue newList(ScriptValue *items, int count) override {
    return list(std::vector<ScriptValue>(items, items + count));
  }
  ScriptValue newHandle(const Handle &handle) override {
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

id newObject() {
  return objc_send(objc_send_class("NSObject", "alloc"), "init");
}

// ---- handles and the registry ----

TEST(Handles, KeepOneSerialPerLiveObjectAndRefuseFreedOnes) {
  id first = newObject();
  Handle handle = zelbridge::handleFor(first);
  EXPECT_EQ(zelbridge::handleFor(first).serial, handle.serial);
  EXPECT_EQ(zelbridge::handleFor(nil).serial, 0u);
  id resolved = nil;
  std::string error;
  ASSERT_TRUE(zelbridge::resolve(handle, resolved, error));
  EXPECT_EQ(resolved, first);
  objc_send<void>(first, "release");
  EXPECT_FALSE(zelbridge::resolve(handle, resolved, error));
  EXPECT_EQ(error, "object " + zelbridge::formatPointer(first) + " was freed");
  id second = newObject(); // often at the same address
  EXPECT_NE(zelbridge::handleFor(second).serial, handle.serial);
  EXPECT_FALSE(zelbridge::resolve(handle, resolved, error));
  objc_send<void>(second, "release");
}

TEST(Handles, FollowAnObjectThatMoved) {
  id object = newObject();
  Handle handle = zelbridge::handleFor(object);
  std::string text = zelbridge::formatHandle(handle);
  id moved = object_realloc(object, 4096);
  id resolved = nil;
  std::string error;
  ASSERT_TRUE(zelbridge::resolve(handle, resolved, error)) << error;
  EXPECT_EQ(resolved, moved);
  EXPECT_EQ(zelbridge::handleFor(moved).serial, handle.serial);
  EXPECT_EQ(zelbridge::formatHandle(handle), text); // first address stays
  object_dispose(moved);
}

TEST(Handles, TextRoundTripsAndOtherTextIsRefused) {
  Handle handle;
  handle.object = reinterpret_cast<id>(0x0812a0b0);
  handle.serial = 3;
  EXPECT_EQ(zelbridge::formatHandle(handle), "0x0812a0b0#3");
  Handle read;
  ASSERT_TRUE(zelbridge::parseHandle("0x0812a0b0#3", read));
  EXPECT_EQ(read.object, handle.object);
  EXPECT_EQ(read.serial, 3u);
  for (const char *text :
       {"0x12", "0x12#", "0x12#0", "12#3", "0x12#3x", "0x#3", "0x12#-3", ""})
    EXPECT_FALSE(zelbridge::parseHandle(text, read)) << text;
  void *pointer = nullptr;
  EXPECT_TRUE(zelbridge::parsePointer("0x10", pointer));
  EXPECT_EQ(pointer, reinterpret_cast<void *>(16));
  EXPECT_TRUE(zelbridge::parsePointer("32", pointer));
  EXPECT_FALSE(zelbridge::parsePointer("-1", pointer));
  EXPECT_FALSE(zelbridge::parsePointer("0x1g", pointer));
  EXPECT_FALSE(zelbridge::parsePointer("0x100000000", pointer));
}

// ---- conversion ----

TEST(Conversion, LaysStructMembersOutAsTheEncodingMeasuresThem) {
  FakeScript script;
  zelbridge::Arena arena;
  std::string error;
  unsigned char bytes[24] = {};
  // {x=ci}: the int after three bytes of padding; {o={i=cs}d}: nested.
  ASSERT_TRUE(zelbridge::toC(
      script, script.list({script.integer(-1), script.integer(7)}), "{x=ci}",
      bytes, false, arena, error))
      << error;
  EXPECT_EQ(bytes[0], 0xff);
  int i = 0;
  std::memcpy(&i, bytes + 4, sizeof i);
  EXPECT_EQ(i, 7);
  ScriptValue back = zelbridge::fromC(script, "{x=ci}", bytes, error);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(FakeScript::of(FakeScript::of(back).items[1]).integer, 7);

  unsigned char nested[16] = {};
  ScriptValue inner = script.list({script.integer(2), script.integer(-3)});
  ASSERT_TRUE(zelbridge::toC(script,
                             script.list({inner, script.newDouble(1.5)}),
                             "{o={i=cs}d}", nested, false, arena, error))
      << error;
  short s = 0;
  double d = 0;
  std::memcpy(&s, nested + 2, sizeof s);
  std::memcpy(&d, nested + 4, sizeof d);
  EXPECT_EQ(nested[0], 2);
  EXPECT_EQ(s, -3);
  EXPECT_EQ(d, 1.5);
}

TEST(Conversion, ArraysUnionsAndUnsupportedMembers) {
  FakeScript script;
  zelbridge::Arena arena;
  std::string error;
  short shorts[3] = {};
  ASSERT_TRUE(zelbridge::toC(
      script,
      script.list({script.integer(1), script.integer(2), script.integer(3)}),
      "[3s]", shorts, false, arena, error));
  EXPECT_EQ(shorts[2], 3);
  EXPECT_FALSE(zelbridge::toC(script, script.list({script.integer(1)}), "[3s]",
                              shorts, false, arena, error));
  EXPECT_EQ(error, "expected a list of 3 elements but got \"\"");
  int unionBytes = 0;
  ASSERT_TRUE(zelbridge::toC(script, script.integer(9), "(u=if)", &unionBytes,
                             false, arena, error));
  EXPECT_EQ(unionBytes, 9);
  int bits = 0;
  EXPECT_FALSE(zelbridge::toC(script, script.list({script.integer(1)}),
                              "{b=b3}", &bits, false, arena, error));
  EXPECT_EQ(error, "unsupported type encoding \"b3\"");
  EXPECT_EQ(zelbridge::fromC(script, "{opaque}", &bits, error), nullptr);
}

TEST(Conversion, PromotedSmallIntegersFillAWholeWord) {
  FakeScript script;
  zelbridge::Arena arena;
  std::string error;
  int word = 0x55555555;
  ASSERT_TRUE(zelbridge::toC(script, script.integer(-2), "c", &word, true,
                             arena, error));
  EXPECT_EQ(word, -2);
  word = 0x55555555;
  ASSERT_TRUE(zelbridge::toC(script, script.integer(-2), "c", &word, false,
                             arena, error));
  EXPECT_EQ(word, 0x555555fe); // only its own byte
}

TEST(Conversion, DiscardsTheMembersMadeBeforeAFailure) {
  FakeScript script;
  std::string error;
  struct {
    int i;
    int bits;
  } record = {1, 0};
  // The whole type is checked first: nothing is made for a type with a
  // member that has no conversion.
  EXPECT_EQ(zelbridge::fromC(script, "{r=ib3}", &record, error), nullptr);
  EXPECT_EQ(error, "unsupported type encoding \"b3\"");
  EXPECT_EQ(script.discarded, 0);
}

// ---- prepared signatures ----

TEST(Signatures, SlotsHaveCallKindsSizesAndOffsets) {
  std::string error;
  auto signature = zelbridge::prepare("d24@0:4c8[3i]12{p=ii}16", error);
  ASSERT_NE(signature, nullptr) << error;
  EXPECT_EQ(signature->result.val.kind, APPLY_DOUBLE);
  ASSERT_EQ(signature->arguments.size(), 5u);
  EXPECT_EQ(signature->arguments[2].val.kind, APPLY_INT);     // promoted
  EXPECT_EQ(signature->arguments[3].val.kind, APPLY_POINTER); // array
  EXPECT_EQ(signature->arguments[4].val.kind, APPLY_AGGREGATE);
  EXPECT_EQ(signature->arguments[4].val.size, 8);
  EXPECT_EQ(zelbridge::prepare("v8@0:4B8", error), nullptr);
  EXPECT_EQ(error, "unsupported type encoding \"B\"");
  EXPECT_EQ(zelbridge::prepare("", error), nullptr);
}

TEST(Signatures, AMethodRecordIsPreparedAgainWhenItsImplementationChanges) {
  FakeScript script;
  std::string error;
  id probe = objc_send_class("CoreProbe", "alloc");
  SEL sel = sel_registerName("answer");
  ScriptValue result = nullptr;
  ASSERT_TRUE(zelbridge::send(script, probe, sel, nullptr, 0, result, error));
  EXPECT_EQ(FakeScript::of(result).integer, 1);
  Method method = class_getInstanceMethod(probe->isa, sel);
  method->method_imp = objc_fn_cast<IMP>(otherAnswer);
  ASSERT_TRUE(zelbridge::send(script, probe, sel, nullptr, 0, result, error));
  EXPECT_EQ(FakeScript::of(result).integer, 2);
  method->method_imp = objc_fn_cast<IMP>(answer);
  EXPECT_FALSE(zelbridge::send(script, probe, sel_registerName("unknown"),
                               nullptr, 0, result, error));
  EXPECT_EQ(error, zelbridge::describe(probe) + " does not respond to unknown");
  // A second miss is answered from the cache, with the same message.
  EXPECT_FALSE(zelbridge::send(script, probe, sel_registerName("unknown"),
                               nullptr, 0, result, error));
  EXPECT_EQ(error, zelbridge::describe(probe) + " does not respond to unknown");
  object_dispose(probe);
}

// ---- live instances ----

/* What the instances command answers for cls: the objects of its handles. */
std::set<id> instancesOf(FakeScript &script, Class cls) {
  const zelbridge::Command *command = zelbridge::commands();
  while (std::strcmp(command->name, "instances") != 0)
    ++command;
  ScriptValue argument =
      script.newHandle(zelbridge::handleFor(reinterpret_cast<id>(cls)));
  ScriptValue result = nullptr;
  std::string error;
  EXPECT_TRUE(
      zelbridge::runCommand(*command, script, &argument, 1, result, error))
      << error;
  std::set<id> objects;
  for (ScriptValue item : FakeScript::of(result).items)
    objects.insert(FakeScript::of(item).handle.object);
  return objects;
}

TEST(Registry, InstancesFollowEveryAllocationMoveAndFree) {
  FakeScript script;
  std::string error;
  Class cls = zelbridge::defineClass(
      "LiveProbe", reinterpret_cast<Class>(objc_getClass("NSObject")), nullptr,
      error);
  ASSERT_NE(cls, nullptr) << error;
  EXPECT_TRUE(instancesOf(script, cls).empty()); /* from now on, all seen */
  /* Thousands of objects the script never sees, two of every three freed
     in between, so that removals shift entries that collided. */
  std::vector<id> made;
  for (int i = 0; i < 3000; ++i)
    made.push_back(
        objc_send(objc_send(reinterpret_cast<id>(cls), "alloc"), "init"));
  std::set<id> kept;
  for (size_t i = 0; i < made.size(); ++i)
    if (i % 3 == 0)
      kept.insert(made[i]);
    else
      objc_send<void>(made[i], "release");
  EXPECT_EQ(instancesOf(script, cls), kept);
  id first = *kept.begin();
  id moved = object_realloc(first, 4096);
  kept.erase(first);
  kept.insert(moved);
  EXPECT_EQ(instancesOf(script, cls), kept);
  for (id object : kept)
    objc_send<void>(object, "release");
  EXPECT_TRUE(instancesOf(script, cls).empty());
}

} // namespace
