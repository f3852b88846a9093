// Strings and arrays: formatting (printf conversions and %@), equality
// and hashing by content across the three string classes, mutable
// strings, and arrays with their enumerators.
#include <Foundation/Foundation.h>
#include <objc/objc-load.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

OBJC_LIBRARY_REGISTRATION()

namespace {

using namespace objc_module_records;

// Descriptions that are not strings: the formatter asks them for their
// characters by message, as it asks any description.
const char *Label_cString(id, SEL) { return "a label"; }
id Labelled_description(id, SEL) {
  return objc_send(objc_send_class("FormatLabel", "new"), "autorelease");
}
id Unnamed_description(id, SEL) { return nil; }

MethodList<1> Label_imethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("cString", Label_cString)}};
MethodList<1> Labelled_imethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("description", Labelled_description)}};
MethodList<1> Unnamed_imethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("description", Unnamed_description)}};
OBJC_CLASS_RECORDS(Label_class, "FormatLabel", "NSObject", 4, nullptr,
                   &Label_imethods, nullptr);
OBJC_CLASS_RECORDS(Labelled_class, "FormatLabelled", "NSObject", 4, nullptr,
                   &Labelled_imethods, nullptr);
OBJC_CLASS_RECORDS(Unnamed_class, "FormatUnnamed", "NSObject", 4, nullptr,
                   &Unnamed_imethods, nullptr);
OBJC_MODULE_RECORD(Descriptions_module, 3, 0, &Label_class, &Labelled_class,
                   &Unnamed_class);

} // namespace

OBJC_REGISTER_MODULE(Descriptions_module)

namespace {

class Strings : public ::testing::Test {
protected:
  void SetUp() override {
    pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  }
  void TearDown() override { objc_send<void>(pool, "release"); }
  id pool = nil;
};

std::string text(id str) {
  const char *chars = objc_send<const char *>(str, "cString");
  return chars ? chars : "<null>";
}

template <typename... A> std::string format(const char *fmt, A... args) {
  NSConstantStringRecord record = {&_NSConstantStringClassReference, fmt,
                                   static_cast<unsigned>(strlen(fmt))};
  return text(objc_send_class(
      "NSString", "stringWithFormat:", reinterpret_cast<id>(&record), args...));
}

using StringFormat = Strings;

TEST_F(StringFormat, ObjectsTextCharactersAndIntegers) {
  EXPECT_EQ(format("%@|%s|%c|%d", NSSTR("obj"), "text", 'x', -42),
            "obj|text|x|-42");
  EXPECT_EQ(format("%c%s=", '{', "Row"), "{Row=");
  EXPECT_EQ(format("\"%s\"%s", "count", "i"), "\"count\"i");
  EXPECT_EQ(format("100%% of %u", 3u), "100% of 3");
}

TEST_F(StringFormat, ObjectsInsertTheirDescription) {
  id plain = objc_send_class("NSObject", "new");
  std::string shown = format("[%@]", plain);
  EXPECT_EQ(shown.rfind("[<NSObject: 0x", 0), 0u) << shown;
  EXPECT_EQ(format("%@", nil), "(null)");
  EXPECT_EQ(format("%-6@|%6@", NSSTR("ab"), NSSTR("cd")), "ab    |    cd");
  objc_send<void>(plain, "release");
}

TEST_F(StringFormat, DescriptionsNeedOnlyAnswerCString) {
  id labelled = objc_send_class("FormatLabelled", "new");
  id unnamed = objc_send_class("FormatUnnamed", "new");
  EXPECT_EQ(format("[%@] [%8.5@]", labelled, labelled), "[a label] [   a lab]");
  EXPECT_EQ(format("%@", unnamed), "(null)");
  objc_send<void>(labelled, "release");
  objc_send<void>(unnamed, "release");
}

TEST_F(StringFormat, WidthsPrecisionsAndLengths) {
  EXPECT_EQ(format("%5d|%-4s|%.2f|%*d|%.*s", 42, "ab", 3.14159, 4, 7, 2, "xyz"),
            "   42|ab  |3.14|   7|xy");
  EXPECT_EQ(format("%lld %llu", INT64_MIN, UINT64_MAX),
            "-9223372036854775808 18446744073709551615");
  EXPECT_EQ(format("%qd|%hhd|%hd|%lx|%zu", 5LL, 300, 70000, 255UL, size_t{9}),
            "5|44|4464|ff|9");
  EXPECT_EQ(format("%010.3e|%g", 1234.6, 0.5), "01.235e+03|0.5");
  EXPECT_EQ(format("%p", reinterpret_cast<void *>(0x1234)), "0x1234");
}

TEST_F(StringFormat, UnsafeOrBrokenConversionsAreHarmless) {
  int target = 99;
  EXPECT_EQ(format("ab%ncd", &target), "abcd");
  EXPECT_EQ(target, 99); // %n stores nothing
  EXPECT_EQ(format("end%"), "end%");
  EXPECT_EQ(format("%k|%d", 5), "%k|5");
}

// ---- equality and hashing by content ----

TEST_F(Strings, EqualContentIsEqualAcrossClasses) {
  id constant = NSSTR("hello");
  id made = objc_send_class("NSString", "stringWithCString:", "hello");
  id mutableOne = objc_send_class("NSMutableString",
                                  "stringWithFormat:", NSSTR("hel%s"), "lo");
  for (id a : {constant, made, mutableOne}) {
    for (id b : {constant, made, mutableOne}) {
      EXPECT_TRUE(objc_send<BOOL>(a, "isEqual:", b));
      EXPECT_EQ(objc_send<unsigned>(a, "hash"), objc_send<unsigned>(b, "hash"));
    }
  }
  EXPECT_FALSE(objc_send<BOOL>(made, "isEqual:", NSSTR("hell")));
  EXPECT_FALSE(objc_send<BOOL>(made, "isEqual:", NSSTR("hellO")));
  EXPECT_FALSE(objc_send<BOOL>(made, "isEqual:", nil));
  id plain = objc_send_class("NSObject", "new");
  EXPECT_FALSE(objc_send<BOOL>(made, "isEqual:", plain));
  objc_send<void>(plain, "release");
  EXPECT_EQ(objc_send<unsigned>(made, "length"), 5u);
}

TEST_F(Strings, ConstantStringsAreNeverFreed) {
  id constant = NSSTR("static");
  EXPECT_EQ(constant->isa, &_NSConstantStringClassReference);
  EXPECT_TRUE(
      objc_send<BOOL>(constant, "isKindOfClass:", objc_getClass("NSString")));
  objc_send<void>(constant, "release");
  objc_send<void>(constant, "release");
  EXPECT_EQ(text(constant), "static");
  EXPECT_EQ(objc_send(constant, "copy"), constant);
}

TEST_F(Strings, MutableStringsGrowAndCopyApart) {
  id str = objc_send_class("NSMutableString",
                           "stringWithFormat:", NSSTR("%c%s="), '{', "Row");
  EXPECT_TRUE(
      objc_send<BOOL>(str, "isKindOfClass:", objc_getClass("NSMutableString")));
  for (int i = 0; i < 200; i++)
    objc_send<void>(str, "appendFormat:", NSSTR("\"v%d\"%s"), i, "i");
  objc_send<void>(str, "appendFormat:", NSSTR("%c"), '}');
  std::string all = text(str);
  EXPECT_EQ(all.rfind("{Row=\"v0\"i\"v1\"i", 0), 0u);
  EXPECT_EQ(all.back(), '}');
  EXPECT_EQ(objc_send<unsigned>(str, "length"), all.size());

  id frozen = objc_send(str, "copy");
  EXPECT_FALSE(objc_send<BOOL>(
      frozen, "isKindOfClass:", objc_getClass("NSMutableString")));
  objc_send<void>(str, "appendString:", NSSTR("more"));
  EXPECT_EQ(text(frozen), all);
  objc_send<void>(frozen, "release");

  // NSString's own formatting makes immutable strings.
  id plain = objc_send_class("NSString", "stringWithFormat:", NSSTR("x"));
  EXPECT_FALSE(objc_send<BOOL>(
      plain, "isKindOfClass:", objc_getClass("NSMutableString")));
  EXPECT_EQ(objc_send(plain, "copy"), plain);
  objc_send<void>(plain, "release");
}

TEST_F(Strings, NilFormatRaises) {
  volatile bool raised = false;
  NS_DURING
  objc_send_class("NSString", "stringWithFormat:", nil);
  NS_HANDLER
  raised = true;
  NS_ENDHANDLER
  EXPECT_TRUE(raised);
}

// ---- arrays ----

using Arrays = Strings;

TEST_F(Arrays, EnumeratorWalksInOrderThenAnswersNil) {
  id array = objc_send_class("NSArray", "arrayWithObjects:", NSSTR("a"),
                             NSSTR("b"), NSSTR("c"), nil);
  EXPECT_EQ(objc_send<unsigned>(array, "count"), 3u);
  id e = objc_send(array, "objectEnumerator");
  std::string seen;
  for (id obj; (obj = objc_send(e, "nextObject"));)
    seen += text(obj);
  EXPECT_EQ(seen, "abc");
  EXPECT_EQ(objc_send(e, "nextObject"), nil);
  EXPECT_EQ(text(objc_send(array, "description")), "(a, b, c)");
}

TEST_F(Arrays, MutableArraysRetainWhatTheyHold) {
  id array = objc_send_class("NSMutableArray", "array");
  id item = objc_send_class("NSObject", "new");
  objc_send<void>(array, "addObject:", item);
  EXPECT_EQ(objc_send<unsigned>(item, "retainCount"), 2u);
  objc_send<void>(array, "insertObject:atIndex:", NSSTR("first"), 0u);
  EXPECT_EQ(objc_send(array, "objectAtIndex:", 1u), item);
  objc_send<void>(array, "removeObjectAtIndex:", 1u);
  EXPECT_EQ(objc_send<unsigned>(item, "retainCount"), 1u);
  EXPECT_EQ(objc_send<unsigned>(array, "count"), 1u);

  volatile bool raised = false;
  NS_DURING
  objc_send(array, "objectAtIndex:", 5u);
  NS_HANDLER
  raised = true;
  EXPECT_STREQ(
      objc_send<const char *>(objc_send(localException, "name"), "cString"),
      "NSRangeException");
  NS_ENDHANDLER
  EXPECT_TRUE(raised);
  objc_send<void>(item, "release");
}

} // namespace
