// Run-time protocols: the registry by name, created protocols, method
// descriptions, and testing classes structurally and by declaration.

#include <objc/objc-load.h>
#include <zelObjCRuntime/zelObjCRuntime.h>

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

using namespace objc_module_records;

#define DESCRIPTION(name, types)                                               \
  { reinterpret_cast<SEL>(name), const_cast<char *>(types) }
#define DESCRIPTIONS(list)                                                     \
  reinterpret_cast<struct objc_method_description_list *>(&(list))
#define PROTOCOL(protocol) reinterpret_cast<id>(&(protocol))

namespace {

// ---- Protocols compiled into this program ----

// Only incorporated: no class lists it.
MethodDescriptionList<1> ZPShape_imethods = {1,
                                             {DESCRIPTION("area", "d8@0:4")}};
struct objc_protocol ZPShape = {nullptr, "ZPShape", nullptr,
                                DESCRIPTIONS(ZPShape_imethods), nullptr};

ProtocolList<1> ZPDrawing_incorporated = {nullptr, 1, {PROTOCOL(ZPShape)}};
MethodDescriptionList<2> ZPDrawing_imethods = {
    2, {DESCRIPTION("draw", "v8@0:4"), DESCRIPTION("area", "d8@0:4")}};
MethodDescriptionList<1> ZPDrawing_cmethods = {
    1, {DESCRIPTION("defaultColor", "i8@0:4")}};
struct objc_protocol ZPDrawing = {
    nullptr, "ZPDrawing", OBJC_PROTOCOL_LIST(ZPDrawing_incorporated),
    DESCRIPTIONS(ZPDrawing_imethods), DESCRIPTIONS(ZPDrawing_cmethods)};

struct objc_protocol ZPPrinting = {nullptr, "ZPPrinting", nullptr, nullptr,
                                   nullptr};
// Listed by a metaclass only.
struct objc_protocol ZPMetaOnly = {nullptr, "ZPMetaOnly", nullptr, nullptr,
                                   nullptr};

ProtocolList<1> drawingList = {nullptr, 1, {PROTOCOL(ZPDrawing)}};
ProtocolList<1> printingList = {nullptr, 1, {PROTOCOL(ZPPrinting)}};
ProtocolList<1> metaOnlyList = {nullptr, 1, {PROTOCOL(ZPMetaOnly)}};

// ---- Classes ----

void draw(id, SEL) {}
double area(id, SEL) { return 1.0; }
int defaultColor(id, SEL) { return 7; }
void takeText(id, SEL, char *) {}
BOOL denyEverything(id, SEL, Protocol *) { return NO; }

MethodList<2> drawAndArea = {
    nullptr,
    2,
    {OBJC_DERIVED_METHOD("draw", draw), OBJC_DERIVED_METHOD("area", area)}};
MethodList<1> colorMethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("defaultColor", defaultColor)}};
MethodList<1> drawOnly = {nullptr, 1, {OBJC_DERIVED_METHOD("draw", draw)}};
MethodList<3> allAsInstanceMethods = {
    nullptr,
    3,
    {OBJC_DERIVED_METHOD("draw", draw), OBJC_DERIVED_METHOD("area", area),
     OBJC_DERIVED_METHOD("defaultColor", defaultColor)}};
// Written out where an encoding other than the function's own is the point.
MethodList<1> wrongArea = {nullptr, 1, {OBJC_METHOD("area", "f8@0:4", area)}};
MethodList<2> bufferMethods = {
    nullptr,
    2,
    {OBJC_DERIVED_METHOD("fill:", takeText),
     OBJC_METHOD("drain:", "v12@0:4[12c]8", takeText)}};
MethodList<1> denyingMethods = {
    nullptr,
    1,
    {OBJC_METHOD("conformsToProtocol:", "c12@0:4^{objc_protocol=}8",
                 denyEverything)}};

#define META(cls, classMethods, protocolList)                                  \
  struct objc_class cls##_meta = {nullptr,  nullptr,                           \
                                  #cls,     0,                                 \
                                  CLS_META, sizeof(struct objc_class),         \
                                  nullptr,  classMethods,                      \
                                  nullptr,  protocolList}
#define CLASS(cls, super, instanceMethods, protocolList)                       \
  struct objc_class cls##_class = {                                            \
      &cls##_meta, OBJC_SUPER_NAME(super), #cls,    0,           CLS_CLASS, 4, \
      nullptr,     instanceMethods,        nullptr, protocolList}

// Adopts ZPDrawing and has all its methods.
META(ZPCanvas, OBJC_MODULE_METHODS(colorMethods), nullptr);
CLASS(ZPCanvas, "NSObject", OBJC_MODULE_METHODS(drawAndArea),
      OBJC_PROTOCOL_LIST(drawingList));
// Inherits every method.
META(ZPSketch, nullptr, nullptr);
CLASS(ZPSketch, "ZPCanvas", nullptr, nullptr);
// Has every method, adopts nothing.
META(ZPLookalike, OBJC_MODULE_METHODS(colorMethods), nullptr);
CLASS(ZPLookalike, "NSObject", OBJC_MODULE_METHODS(drawAndArea), nullptr);
// Lacks area, which only the incorporated ZPShape requires of it.
META(ZPFlat, OBJC_MODULE_METHODS(colorMethods), nullptr);
CLASS(ZPFlat, "NSObject", OBJC_MODULE_METHODS(drawOnly), nullptr);
// defaultColor on the wrong side.
META(ZPInstanceColor, nullptr, nullptr);
CLASS(ZPInstanceColor, "NSObject", OBJC_MODULE_METHODS(allAsInstanceMethods),
      nullptr);
// area with a float result where a double is declared.
META(ZPWrongArea, OBJC_MODULE_METHODS(colorMethods), nullptr);
CLASS(ZPWrongArea, "ZPFlat", OBJC_MODULE_METHODS(wrongArea), nullptr);
META(ZPBuffer, nullptr, nullptr);
CLASS(ZPBuffer, "NSObject", OBJC_MODULE_METHODS(bufferMethods), nullptr);
// Adopts ZPPrinting but denies every protocol when asked.
META(ZPDenier, OBJC_MODULE_METHODS(denyingMethods),
     OBJC_PROTOCOL_LIST(metaOnlyList));
CLASS(ZPDenier, "NSObject", nullptr, OBJC_PROTOCOL_LIST(printingList));

OBJC_MODULE_RECORD(module, 8, 0, &ZPCanvas_class, &ZPSketch_class,
                   &ZPLookalike_class, &ZPFlat_class, &ZPInstanceColor_class,
                   &ZPWrongArea_class, &ZPBuffer_class, &ZPDenier_class);
OBJC_REGISTER_MODULE(module)
OBJC_LIBRARY_REGISTRATION()

// ---- Helpers ----

Class classNamed(const char *name) {
  return reinterpret_cast<Class>(objc_getClass(name));
}

id string(const char *text) {
  return objc_send(objc_getClass("NSString"), "stringWithCString:", text);
}

// The protocol that the registry's enumeration pairs with name, or null.
Protocol *enumerated(const char *name) {
  id wanted = string(name);
  NSMapEnumerator pairs = ZelObjC_EnumerateProtocols();
  void *key = nullptr;
  void *value = nullptr;
  Protocol *found = nullptr;
  while (NSNextMapEnumeratorPair(&pairs, &key, &value))
    if (objc_send<BOOL>(static_cast<id>(key), "isEqual:", wanted))
      found = static_cast<Protocol *>(value);
  return found;
}

template <int N>
objc_method_description_list *descriptions(MethodDescriptionList<N> &list) {
  return DESCRIPTIONS(list);
}

SEL sel(const char *name) { return sel_registerName(name); }

class ProtocolTest : public ::testing::Test {
protected:
  void SetUp() override {
    pool = objc_send(objc_send(objc_getClass("NSAutoreleasePool"), "alloc"),
                     "init");
  }
  void TearDown() override { objc_send(pool, "release"); }

  id pool = nullptr;
};

// ---- The registry ----

TEST_F(ProtocolTest, FindsProtocolsThatClassesAdopt) {
  EXPECT_EQ(ZelObjC_LookupProtocol("ZPDrawing"), &ZPDrawing);
  EXPECT_EQ(ZelObjC_LookupProtocol("ZPPrinting"), &ZPPrinting);
  EXPECT_EQ(enumerated("ZPDrawing"), &ZPDrawing);
  EXPECT_EQ(ZPDrawing.isa, classNamed("Protocol"));
}

TEST_F(ProtocolTest, IgnoresIncorporatedMetaclassAndUnknownNames) {
  EXPECT_EQ(enumerated("ZPShape"), nullptr);
  EXPECT_EQ(ZelObjC_LookupProtocol("ZPShape"), nullptr);
  EXPECT_EQ(ZelObjC_LookupProtocol("ZPMetaOnly"), nullptr);
  EXPECT_EQ(ZelObjC_LookupProtocol("ZPNoSuchProtocol"), nullptr);
  EXPECT_EQ(ZelObjC_LookupProtocol("ZPDrawin"), nullptr);
  EXPECT_EQ(enumerated("ZPNoSuchProtocol"), nullptr);
}

TEST_F(ProtocolTest, NewProtocolRefusesAKnownName) {
  static MethodDescriptionList<1> offered = {1, {{sel("draw"), nullptr}}};
  EXPECT_EQ(
      ZelObjC_NewProtocol("ZPDrawing", nullptr, descriptions(offered), nullptr),
      nullptr);
  EXPECT_EQ(ZelObjC_LookupProtocol("ZPDrawing"), &ZPDrawing);
  EXPECT_EQ(ZPDrawing.instance_methods, DESCRIPTIONS(ZPDrawing_imethods));
}

TEST_F(ProtocolTest, NewProtocolIsRegisteredUnderACopyOfItsName) {
  static ProtocolList<1> incorporated = {nullptr, 1, {PROTOCOL(ZPShape)}};
  static MethodDescriptionList<1> imethods = {1, {{sel("fill:"), nullptr}}};
  static MethodDescriptionList<0> cmethods = {0, {}};
  char name[] = "ZPFresh";
  Protocol *fresh =
      ZelObjC_NewProtocol(name, OBJC_PROTOCOL_LIST(incorporated),
                          descriptions(imethods), descriptions(cmethods));
  ASSERT_NE(fresh, nullptr);
  std::strcpy(name, "ZPStale");

  EXPECT_EQ(fresh->isa, classNamed("Protocol"));
  EXPECT_STREQ(fresh->protocol_name, "ZPFresh");
  EXPECT_EQ(fresh->protocol_list, OBJC_PROTOCOL_LIST(incorporated));
  EXPECT_EQ(fresh->instance_methods, descriptions(imethods));
  EXPECT_EQ(fresh->class_methods, descriptions(cmethods));
  EXPECT_EQ(ZelObjC_LookupProtocol("ZPFresh"), fresh);
  EXPECT_EQ(enumerated("ZPFresh"), fresh);
  EXPECT_EQ(ZelObjC_LookupProtocol("ZPStale"), nullptr);
  EXPECT_EQ(ZelObjC_NewProtocol("ZPFresh", nullptr, nullptr, nullptr), nullptr);
}

TEST_F(ProtocolTest, ClassLoadedLaterIsFoundByNameThenListed) {
  ASSERT_EQ(enumerated("ZPLate"), nullptr); // the registry is filled now
  void *library = dlopen(ZP_LATE_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
  ASSERT_NE(library, nullptr) << dlerror();
  Class late = classNamed("ZPLateClass");
  ASSERT_NE(late, Nil);
  ASSERT_NE(late->protocols, nullptr);
  auto *adopted = reinterpret_cast<Protocol *>(late->protocols->list[0]);

  EXPECT_EQ(enumerated("ZPLate"), nullptr);
  EXPECT_EQ(ZelObjC_LookupProtocol("ZPLate"), adopted);
  EXPECT_EQ(enumerated("ZPLate"), adopted);
  EXPECT_EQ(ZelObjC_NewProtocol("ZPLate", nullptr, nullptr, nullptr), nullptr);
}

// ---- Method descriptions ----

TEST_F(ProtocolTest, LookupProtocolMethodSeparatesInstanceAndClassSide) {
  EXPECT_EQ(ZelObjC_LookupProtocolMethod(&ZPDrawing, sel("draw"), YES),
            &ZPDrawing_imethods.list[0]);
  EXPECT_EQ(ZelObjC_LookupProtocolMethod(&ZPDrawing, sel("draw"), NO), nullptr);
  EXPECT_EQ(ZelObjC_LookupProtocolMethod(&ZPDrawing, sel("defaultColor"), 2),
            nullptr);
  EXPECT_EQ(ZelObjC_LookupProtocolMethod(&ZPDrawing, sel("defaultColor"), NO),
            &ZPDrawing_cmethods.list[0]);
  EXPECT_EQ(ZelObjC_LookupProtocolMethod(&ZPDrawing, sel("paint"), YES),
            nullptr);
}

TEST_F(ProtocolTest, IncorporatedDescriptionWins) {
  EXPECT_EQ(ZelObjC_LookupProtocolMethod(&ZPDrawing, sel("area"), YES),
            &ZPShape_imethods.list[0]);

  // Deepest first, then the lists along the links in order.
  static MethodDescriptionList<2> deep = {
      2, {{sel("x"), nullptr}, {sel("y"), nullptr}}};
  static MethodDescriptionList<1> second = {1, {{sel("y"), nullptr}}};
  static MethodDescriptionList<2> own = {
      2, {{sel("x"), nullptr}, {sel("y"), nullptr}}};
  static struct objc_protocol deepest = {nullptr, "ZPDeep", nullptr,
                                         descriptions(deep), nullptr};
  static ProtocolList<1> toDeepest = {nullptr, 1, {PROTOCOL(deepest)}};
  static struct objc_protocol middle = {
      nullptr, "ZPMiddle", OBJC_PROTOCOL_LIST(toDeepest), nullptr, nullptr};
  static struct objc_protocol sibling = {nullptr, "ZPSibling", nullptr,
                                         descriptions(second), nullptr};
  static ProtocolList<1> later = {nullptr, 1, {PROTOCOL(sibling)}};
  static ProtocolList<2> first = {
      OBJC_PROTOCOL_LIST(later), 2, {nullptr, PROTOCOL(middle)}};
  static struct objc_protocol top = {
      nullptr, "ZPTop", OBJC_PROTOCOL_LIST(first), descriptions(own), nullptr};
  EXPECT_EQ(ZelObjC_LookupProtocolMethod(&top, sel("x"), YES), &deep.list[0]);
  EXPECT_EQ(ZelObjC_LookupProtocolMethod(&top, sel("y"), YES), &deep.list[1]);
  EXPECT_EQ(ZelObjC_LookupProtocolMethod(&sibling, sel("y"), YES),
            &second.list[0]);
}

TEST_F(ProtocolTest, EmptyAndNegativeListsHoldNothing) {
  static MethodDescriptionList<1> negative = {-1, {{sel("draw"), nullptr}}};
  static MethodDescriptionList<1> zero = {0, {{sel("draw"), nullptr}}};
  static struct objc_protocol odd = {
      nullptr, "ZPOdd", nullptr, descriptions(negative), descriptions(zero)};
  EXPECT_EQ(ZelObjC_LookupProtocolMethod(&odd, sel("draw"), YES), nullptr);
  EXPECT_EQ(ZelObjC_LookupProtocolMethod(&odd, sel("draw"), NO), nullptr);
  EXPECT_TRUE(ZelObjC_ImplementsProtocol(classNamed("NSObject"), &odd));
}

// ---- Implementing ----

TEST_F(ProtocolTest, EmptyProtocolIsImplementedByEveryClass) {
  Protocol *empty = ZelObjC_NewProtocol("ZPEmpty", nullptr, nullptr, nullptr);
  ASSERT_NE(empty, nullptr);
  NXHashTable *classes = objc_getClasses();
  NXHashState state = NXInitHashState(classes);
  void *cls = nullptr;
  int count = 0;
  while (NXNextHashState(classes, &state, &cls)) {
    EXPECT_TRUE(ZelObjC_ImplementsProtocol(static_cast<Class>(cls), empty))
        << static_cast<Class>(cls)->name;
    ++count;
  }
  EXPECT_GT(count, 8);
}

TEST_F(ProtocolTest, ClassNeedsEveryMethodWithCompatibleTypes) {
  EXPECT_TRUE(ZelObjC_ImplementsProtocol(classNamed("ZPCanvas"), &ZPDrawing));
  EXPECT_TRUE(ZelObjC_ImplementsProtocol(classNamed("ZPSketch"), &ZPDrawing));
  EXPECT_FALSE(ZelObjC_ImplementsProtocol(classNamed("ZPFlat"), &ZPDrawing));
  EXPECT_TRUE(ZelObjC_ImplementsProtocol(classNamed("ZPFlat"), &ZPPrinting));
  EXPECT_FALSE(
      ZelObjC_ImplementsProtocol(classNamed("ZPInstanceColor"), &ZPDrawing));
  EXPECT_FALSE(
      ZelObjC_ImplementsProtocol(classNamed("ZPWrongArea"), &ZPDrawing));
  EXPECT_FALSE(ZelObjC_ImplementsProtocol(classNamed("NSObject"), &ZPShape));
}

TEST_F(ProtocolTest, OfferedTypeMayBeNarrowerThanDeclared) {
  static MethodDescriptionList<1> arrayWanted = {
      1, {{sel("fill:"), const_cast<char *>("v20@0:4[12c]8")}}};
  static MethodDescriptionList<1> textWanted = {
      1, {{sel("drain:"), const_cast<char *>("v12@0:4*8")}}};
  Protocol *takesArray = ZelObjC_NewProtocol(
      "ZPTakesArray", nullptr, descriptions(arrayWanted), nullptr);
  Protocol *takesText = ZelObjC_NewProtocol("ZPTakesText", nullptr,
                                            descriptions(textWanted), nullptr);
  ASSERT_NE(takesArray, nullptr);
  ASSERT_NE(takesText, nullptr);
  // fill: offers char *, drain: offers char[12].
  EXPECT_TRUE(ZelObjC_ImplementsProtocol(classNamed("ZPBuffer"), takesArray));
  EXPECT_FALSE(ZelObjC_ImplementsProtocol(classNamed("ZPBuffer"), takesText));
}

// A created protocol may describe a method without types: the class has
// the selector, yet nothing can be compared, so it does not implement it.
TEST_F(ProtocolTest, DescriptionWithoutTypesIsNeverImplemented) {
  static MethodDescriptionList<1> untyped = {1, {{sel("draw"), nullptr}}};
  Protocol *protocol =
      ZelObjC_NewProtocol("ZPUntyped", nullptr, descriptions(untyped), nullptr);
  ASSERT_NE(protocol, nullptr);
  EXPECT_FALSE(ZelObjC_ImplementsProtocol(classNamed("ZPCanvas"), protocol));
  EXPECT_EQ(zelObjC_CompatibleTypes("v8@0:4", nullptr), 0);
  EXPECT_EQ(zelObjC_CompatibleTypes(nullptr, "v8@0:4"), 0);
}

// ---- Conforming ----

TEST_F(ProtocolTest, ImplementingIsNotConforming) {
  Class lookalike = classNamed("ZPLookalike");
  EXPECT_TRUE(ZelObjC_ImplementsProtocol(lookalike, &ZPDrawing));
  EXPECT_FALSE(ZelObjC_ConformsToProtocol(lookalike, &ZPDrawing));
  EXPECT_TRUE(ZelObjC_ConformsToProtocol(classNamed("ZPCanvas"), &ZPDrawing));
}

TEST_F(ProtocolTest, ConformingAsksNSObjectNotTheClass) {
  Class denier = classNamed("ZPDenier");
  id asClass = reinterpret_cast<id>(denier);
  ASSERT_FALSE(objc_send<BOOL>(asClass, "conformsToProtocol:", &ZPPrinting));
  EXPECT_TRUE(ZelObjC_ConformsToProtocol(denier, &ZPPrinting));
  EXPECT_FALSE(ZelObjC_ConformsToProtocol(denier, &ZPDrawing));
}

// ---- Cycles among incorporated protocols ----

TEST_F(ProtocolTest, CycleOfTwoProtocolsEnds) {
  static MethodDescriptionList<1> aMethods = {
      1, {{sel("draw"), const_cast<char *>("v8@0:4")}}};
  static MethodDescriptionList<1> bMethods = {
      1, {{sel("area"), const_cast<char *>("d8@0:4")}}};
  static ProtocolList<1> toB = {nullptr, 0, {nullptr}};
  static ProtocolList<1> toA = {nullptr, 0, {nullptr}};
  Protocol *a = ZelObjC_NewProtocol("ZPCycleA", OBJC_PROTOCOL_LIST(toB),
                                    descriptions(aMethods), nullptr);
  Protocol *b = ZelObjC_NewProtocol("ZPCycleB", OBJC_PROTOCOL_LIST(toA),
                                    descriptions(bMethods), nullptr);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  toB = {nullptr, 1, {reinterpret_cast<id>(b)}};
  toA = {nullptr, 1, {reinterpret_cast<id>(a)}};

  EXPECT_EQ(ZelObjC_LookupProtocolMethod(a, sel("area"), YES),
            &bMethods.list[0]);
  EXPECT_EQ(ZelObjC_LookupProtocolMethod(a, sel("draw"), YES),
            &aMethods.list[0]);
  EXPECT_EQ(ZelObjC_LookupProtocolMethod(b, sel("paint"), YES), nullptr);
  EXPECT_TRUE(ZelObjC_ImplementsProtocol(classNamed("ZPCanvas"), a));
  EXPECT_FALSE(ZelObjC_ImplementsProtocol(classNamed("ZPFlat"), a));
  EXPECT_FALSE(ZelObjC_ImplementsProtocol(classNamed("ZPFlat"), b));
}

TEST_F(ProtocolTest, SharedProtocolsAreSearchedOnce) {
  // Each level includes the next one twice: 2^40 paths, 40 protocols.
  constexpr int levels = 40;
  static struct objc_protocol ladder[levels];
  static ProtocolList<2> links[levels];
  static MethodDescriptionList<1> bottom = {
      1, {{sel("draw"), const_cast<char *>("v8@0:4")}}};
  for (int i = 0; i < levels; ++i) {
    ladder[i] = {nullptr, "ZPRung", nullptr, nullptr, nullptr};
    if (i + 1 < levels) {
      links[i] = {
          nullptr, 2, {PROTOCOL(ladder[i + 1]), PROTOCOL(ladder[i + 1])}};
      ladder[i].protocol_list = OBJC_PROTOCOL_LIST(links[i]);
    }
  }
  ladder[levels - 1].instance_methods = descriptions(bottom);

  EXPECT_EQ(ZelObjC_LookupProtocolMethod(&ladder[0], sel("paint"), YES),
            nullptr);
  EXPECT_EQ(ZelObjC_LookupProtocolMethod(&ladder[0], sel("draw"), YES),
            &bottom.list[0]);
  EXPECT_TRUE(ZelObjC_ImplementsProtocol(classNamed("ZPCanvas"), ladder));
  EXPECT_FALSE(ZelObjC_ImplementsProtocol(classNamed("NSObject"), ladder));
}

} // namespace
