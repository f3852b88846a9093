// Type encodings derived from C++ function types (objc/objc-encoding.h):
// scalar letters, arguments promoted to whole words in the frame, 8-byte
// arguments, pointers and qualifiers, the object types, structures and
// unions by value, and the method records made with them.
#include <Foundation/Foundation.h> /* NSZone, a type only */
#include <objc/objc-load.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace objc_module_records;
using objc_encoding::sameText;

template <typename F>
constexpr const char *typesOf = objc_encoding::functionTypes<F>.chars;

namespace {

struct Pair {
  int a, b;
  static constexpr char objcEncoding[] = "{Pair=ii}";
};
struct Wide { /* 20 bytes: takes five words */
  double d;
  int i[3];
  static constexpr char objcEncoding[] = "{Wide=d[3i]}";
};
struct Tiny { /* 3 bytes: still a whole word */
  char c[3];
  static constexpr char objcEncoding[] = "{Tiny=[3c]}";
};
union Number {
  int i;
  float f;
  static constexpr char objcEncoding[] = "(Number=if)";
};
enum class Colour : short { red };
enum Plain : int { plainValue };

// ---- one argument of each kind: the letter, then its offset ----

using Mix = double(id, SEL, char, long long, double, int, short);
static_assert(sameText(typesOf<Mix>, "d36@0:4c8q12d20i28s32"),
              "every argument starts on a word; 8-byte ones take two");

using Chars = void(id, SEL, char, signed char, unsigned char, BOOL);
static_assert(sameText(typesOf<Chars>, "v24@0:4c8c12C16c20"),
              "chars and BOOL take a word each; char is signed");

using Shorts = void(id, SEL, short, unsigned short, short);
static_assert(sameText(typesOf<Shorts>, "v20@0:4s8S12s16"));

using EightBytes = unsigned long long(id, SEL, long long, unsigned long long,
                                      double);
static_assert(sameText(typesOf<EightBytes>, "Q32@0:4q8Q16d24"));

using Rest = float(id, SEL, int, unsigned, long, unsigned long, float);
static_assert(sameText(typesOf<Rest>, "f28@0:4i8I12l16L20f24"));

// ---- the object types ----

using Objects = Class(id, SEL, id, Class, SEL, Protocol *);
static_assert(sameText(typesOf<Objects>, "#24@0:4@8#12:16@20"));

using Implementation = IMP(id, SEL, SEL);
static_assert(sameText(typesOf<Implementation>, "^?12@0:4:8"),
              "a function pointer is ^?");

// ---- pointers, and const on what they point at ----

static_assert(sameText(OBJC_TYPE_TEXT(char *), "*"));
static_assert(sameText(OBJC_TYPE_TEXT(const char *), "r*"));
static_assert(sameText(OBJC_TYPE_TEXT(char **), "^*"));
static_assert(sameText(OBJC_TYPE_TEXT(const char **), "^r*"));
static_assert(sameText(OBJC_TYPE_TEXT(void *), "^v"));
static_assert(sameText(OBJC_TYPE_TEXT(const void *), "r^v"));
static_assert(sameText(OBJC_TYPE_TEXT(int *), "^i"));
static_assert(sameText(OBJC_TYPE_TEXT(unsigned short **), "^^S"));
static_assert(sameText(OBJC_TYPE_TEXT(id *), "^@"));
static_assert(sameText(OBJC_TYPE_TEXT(const id *), "r^@"));
static_assert(sameText(OBJC_TYPE_TEXT(SEL *), "^:"));
static_assert(sameText(OBJC_TYPE_TEXT(Pair *), "^{Pair=ii}"));
static_assert(sameText(OBJC_TYPE_TEXT(const Pair *), "r^{Pair=ii}"));
static_assert(sameText(OBJC_TYPE_TEXT(int (*)(int)), "^?"));
static_assert(sameText(OBJC_TYPE_TEXT(NSZone *), "^{_NSZone=}"),
              "an opaque structure named by its header");

// ---- structures, unions and enumerations by value ----

using PairOf = Pair(id, SEL, int);
static_assert(sameText(typesOf<PairOf>, "{Pair=ii}12@0:4i8"),
              "the hidden result pointer is not in the frame");

using Take = int(id, SEL, Wide, Tiny, Number, double);
static_assert(sameText(typesOf<Take>,
                       "i44@0:4{Wide=d[3i]}8{Tiny=[3c]}28(Number=if)32d36"));

using Colours = Colour(id, SEL, Colour, Plain);
static_assert(sameText(typesOf<Colours>, "s16@0:4s8i12"),
              "an enumeration passes as its underlying type");

// ---- what else a function type may be ----

using Variadic = id(id, SEL, id, ...);
static_assert(sameText(typesOf<Variadic>, "@12@0:4@8"),
              "only the named arguments are in the frame");

using Quiet = void(id, SEL) noexcept;
static_assert(sameText(typesOf<Quiet>, "v8@0:4"));

using PlainFunction = double(double, double);
static_assert(sameText(typesOf<PlainFunction>, "d16d0d8"),
              "a C function's signature reads the same way");

using None = int();
static_assert(sameText(typesOf<None>, "i0"));

static_assert(!sameText("v8@0:4", "v8@0:"));
static_assert(!sameText("v8@0:", "v8@0:4"));

// ---- records made with them ----

int answer(id, SEL) { return 42; }
long long twice(id, SEL, long long value) { return 2 * value; }
Pair swapped(id, SEL, Pair pair) { return Pair{pair.b, pair.a}; }
id itself(id self, SEL) { return self; }

MethodList<4> Derived_imethods = {nullptr,
                                  4,
                                  {OBJC_DERIVED_METHOD("answer", answer),
                                   OBJC_DERIVED_METHOD("twice:", twice),
                                   OBJC_DERIVED_METHOD("swapped:", swapped),
                                   OBJC_DERIVED_METHOD("self", itself)}};

OBJC_CLASS_RECORDS(Derived_class, "EncodingDerived", nullptr, 4, nullptr,
                   &Derived_imethods, nullptr);
OBJC_MODULE_RECORD(Derived_module, 1, 0, &Derived_class);

} // namespace

OBJC_REGISTER_MODULE(Derived_module)
OBJC_LIBRARY_REGISTRATION()

namespace {

std::string recordTypes(const char *selector) {
  Method method =
      class_getInstanceMethod(&Derived_class, sel_registerName(selector));
  return method ? method->method_types : "<no method>";
}

// The registered records carry the derived texts, and the methods they
// name are called through them as their types say.
TEST(DerivedEncodings, RecordsCarryTheTextsOfTheirFunctions) {
  EXPECT_EQ(recordTypes("answer"), "i8@0:4");
  EXPECT_EQ(recordTypes("twice:"), "q16@0:4q8");
  EXPECT_EQ(recordTypes("swapped:"), "{Pair=ii}16@0:4{Pair=ii}8");
  EXPECT_EQ(recordTypes("self"), "@8@0:4");

  id object = class_createInstance(&Derived_class, 0);
  ASSERT_NE(object, nil);
  EXPECT_EQ(objc_send<int>(object, "answer"), 42);
  EXPECT_EQ(objc_send<long long>(object, "twice:", 1ll << 40), 1ll << 41);
  const Pair pair = objc_send<Pair>(object, "swapped:", Pair{1, 2});
  EXPECT_EQ(pair.a, 2);
  EXPECT_EQ(pair.b, 1);
  object_dispose(object);
}

// One function's text is one string: every record of it shares it.
TEST(DerivedEncodings, OneTextPerFunctionType) {
  EXPECT_EQ(OBJC_FUNCTION_TYPES(answer), OBJC_FUNCTION_TYPES(&answer));
  EXPECT_EQ(
      static_cast<const void *>(OBJC_FUNCTION_TYPES(answer)),
      static_cast<const void *>(Derived_imethods.method_list[0].method_types));
  EXPECT_EQ(std::strlen(typesOf<Mix>), std::strlen("d36@0:4c8q12d20i28s32"));
}

} // namespace
