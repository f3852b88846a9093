// Type encodings: sizes, alignments and walking, including text that is
// cut short or nested beyond reason.
#include <gtest/gtest.h>

#include <objc/objc-load.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <zelObjCRuntime/zelObjCRuntime.h>

#include "encoding.h"

using namespace objc_module_records;

namespace {
// A class for the typed-object rule: @"TypedMember" names a known class.
OBJC_CLASS_RECORDS(TypedMember_class, "TypedMember", nullptr, 4, nullptr,
                   nullptr, nullptr);
OBJC_MODULE_RECORD(TypedMember_module, 1, 0, &TypedMember_class);
} // namespace
OBJC_REGISTER_MODULE(TypedMember_module)
OBJC_LIBRARY_REGISTRATION()

namespace {

struct Layout {
  const char *type;
  int size, alignment, alignedSize, promotedSize;
};

const Layout layouts[] = {
    {"c", 1, 1, 1, 4},
    {"C", 1, 1, 1, 4},
    {"s", 2, 2, 2, 4},
    {"S", 2, 2, 2, 4},
    {"d", 8, 4, 8, 8},
    {"q", 8, 4, 8, 8},
    {"Q", 8, 4, 8, 8},
    {"v", 4, 4, 4, 4},
    {"i", 4, 4, 4, 4},
    {"%", 4, 4, 4, 4},
    {"", 4, 4, 4, 4},
    {"^c", 4, 4, 4, 4},
    {"{x=ic}", 5, 4, 8, 8},
    {"{x=ci}", 8, 4, 8, 8},
    {"{x=sc}", 3, 4, 4, 4},
    {"{x=cc}", 2, 4, 4, 4},
    {"{x=dc}", 9, 4, 12, 12},
    {"{x=c{y=c}}", 5, 4, 8, 8},
    {"[3c]", 3, 1, 3, 4},
    {"[3{x=ic}]", 24, 4, 24, 4},
    {"[0i]", 0, 4, 0, 4},
    {"[2s]", 4, 2, 4, 4},
    {"(x=c[5c])", 5, 1, 5, 8},
    {"()", 0, 0, 0, 0},
    {"(x=sc)", 2, 2, 2, 4},
    {"{x=}", 0, 4, 0, 0},
    {"{?}", 4, 4, 4, 4},
    {"{x=(y=c)i}", 8, 4, 8, 8},
    {"b3b5", 1, 1, 1, 4},
    {"b3b6", 2, 2, 2, 4},
    {"b17", 3, 4, 4, 4},
    {"b0", 0, 4, 0, 0},
    {"{x=cb3b5i}", 8, 4, 8, 8},
    {"{x=\"a\"b3\"b\"b5\"c\"i}", 8, 4, 8, 8},
    {"{x=ib3}", 5, 4, 8, 8},
    {"\"name\"rc", 1, 1, 1, 4},
    {"rnNoORVs", 2, 2, 2, 4},
    {"{x=i()c}", 5, 4, 8, 8},
    {"{_objc_class=\"isa\"#\"super_class\"#\"name\"*\"version\"l"
     "\"info\"l\"instance_size\"l\"ivars\"^{objc_ivar_list}"
     "\"methodLists\"^^{objc_method_list}\"cache\"^{objc_cache}"
     "\"protocols\"^{objc_protocol_list}}",
     40, 4, 40, 40},
};

TEST(EncodingLayout, Quadruples) {
  for (const Layout &l : layouts) {
    SCOPED_TRACE(l.type);
    EXPECT_EQ(objc_sizeof_type(l.type), l.size);
    EXPECT_EQ(objc_alignof_type(l.type), l.alignment);
    EXPECT_EQ(objc_aligned_size(l.type), l.alignedSize);
    EXPECT_EQ(objc_promoted_size(l.type), l.promotedSize);
  }
}

// The measuring scan of a struct's name stops at a nested opener; the
// skipping scan runs on to the first '='. So {x{y=i}c} has the members
// x and {y=i} when measured, while its walk ends after the first '}': a
// measure never reads past the end of the walk, so the c is not counted.
TEST(EncodingLayout, TheTwoNameScansDiffer) {
  const char *nestedFirst = "{x{y=i}c}";
  EXPECT_EQ(objc_sizeof_type(nestedFirst), 8);
  EXPECT_EQ(objc_skip_typespec(nestedFirst), nestedFirst + 7);
  const char *unionInside = "{a(b=i)c}";
  EXPECT_EQ(objc_sizeof_type(unionInside), 9);
  EXPECT_EQ(objc_skip_typespec(unionInside), unionInside + 9);
  EXPECT_EQ(objc_sizeof_type("(a{b=ic}s)"), 5);
  EXPECT_EQ(objc_alignof_type("(a{b=ic}s)"), 4);
}

// A typed object closes the member list; a quoted name of no class would
// have been a member of its own.
TEST(EncodingLayout, TypedObjectMembers) {
  const char *typed = "{x=c@\"TypedMember\"}i";
  EXPECT_EQ(objc_sizeof_type(typed), 8);
  EXPECT_EQ(objc_skip_typespec(typed), typed + std::strlen(typed) - 1);
  EXPECT_EQ(objc_sizeof_type("{x=@\"TypedMember\"\"n\"c}"), 5);
  EXPECT_EQ(objc_sizeof_type("{x=@\"nothing\"c}"), 5);
}

TEST(EncodingLayout, ScalarTableAgreesWithMeasures) {
  for (const zel::ScalarType &row : zel::scalarTypes) {
    const char text[] = {row.letter, '\0'};
    SCOPED_TRACE(text);
    EXPECT_EQ(objc_sizeof_type(text), row.size);
    EXPECT_EQ(objc_alignof_type(text), row.alignment);
  }
}

TEST(EncodingLayout, CountsWrapWithoutFault) {
  // 2^32 + 1 elements wrap to one; widths wrap the same way.
  EXPECT_EQ(objc_sizeof_type("[4294967297i]"), 4);
  EXPECT_EQ(objc_sizeof_type("b4294967295b2"), 1);
  objc_sizeof_type("[99999999999999999999{x=[99999999999d]}]");
}

struct Skip {
  const char *type;
  size_t next; // offset of the position objc_skip_typespec answers
};

const Skip skips[] = {
    {"i", 1},
    {"", 0},
    {"^{x=ic}c", 7},
    {"b3\"n\"b4i", 7},
    {"b3\"n\"ri", 2},
    {"[3{x=ic}]c", 9},
    {"[3c", 3},
    {"(x=c[5c])i", 9},
    {"{a={b=i}c}i", 10},
    {"{?}i", 3},
    {"\"name\"rn^^vi", 11},
    {"@\"TypedMember\"i", 14},
    {"@\"NoSuchClassHere\"i", 1},
    {"@\"TypedMember", 1},
    {"@i", 1},
    {"{x=ic", 5},
    {"{x=\"unclosed", 12},
    {"(", 1},
    {"^", 1},
};

TEST(EncodingSkip, Positions) {
  for (const Skip &s : skips) {
    SCOPED_TRACE(s.type);
    EXPECT_EQ(objc_skip_typespec(s.type), s.type + s.next);
  }
}

TEST(EncodingSkip, ClassNamesLongerThan255AreNotLookedUp) {
  std::string type = "@\"" + std::string(300, 'A') + "\"i";
  EXPECT_EQ(objc_skip_typespec(type.c_str()), type.c_str() + 1);
}

TEST(EncodingSkip, QualifiersAndOffsets) {
  const char *named = "\"x\"rVi";
  EXPECT_EQ(objc_skip_type_qualifiers(named), named + 5);
  const char *plus = "+8c";
  EXPECT_EQ(objc_skip_offset(plus), plus + 2);
  const char *minus = "-4";
  EXPECT_EQ(objc_skip_offset(minus), minus);
  const char *signature = "#8@0:4";
  const char *p = objc_skip_argspec(signature);
  EXPECT_EQ(p, signature + 2);
  p = objc_skip_argspec(p);
  EXPECT_EQ(p, signature + 4);
  p = objc_skip_argspec(p);
  EXPECT_EQ(p, signature + 6);
  const char *plusOffsets = "v12@0:+4i8";
  const char *expected[] = {plusOffsets + 3, plusOffsets + 5, plusOffsets + 8,
                            plusOffsets + 10};
  p = plusOffsets;
  for (const char *next : expected)
    EXPECT_EQ(p = objc_skip_argspec(p), next);
}

// Puts text so that its NUL is the last readable byte before a page that
// cannot be read: any read past the end faults.
class GuardedText {
public:
  GuardedText() {
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void *m = mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    base_ = m == MAP_FAILED ? nullptr : static_cast<char *>(m);
    if (base_)
      mprotect(base_ + page_, page_, PROT_NONE);
  }
  ~GuardedText() {
    if (base_)
      munmap(base_, 2 * page_);
  }
  const char *place(const std::string &text) {
    char *at = base_ + page_ - text.size() - 1;
    std::memcpy(at, text.c_str(), text.size() + 1);
    return at;
  }
  bool ready() const { return base_ != nullptr; }

private:
  size_t page_ = 0;
  char *base_ = nullptr;
};

TEST(EncodingMalformed, NeverReadsPastTheNul) {
  GuardedText guard;
  ASSERT_TRUE(guard.ready());
  const char *cut[] = {"{x=ic", "[3",       "[",          "\"abc", "@\"abc",
                       "(x=",   "(x=i",     "b",          "b3\"n", "^",
                       "{",     "{x=\"a\"", "[3{x=(y=b2", "r",     "\"",
                       "+",     "{x=^"};
  for (const char *text : cut) {
    SCOPED_TRACE(text);
    const char *t = guard.place(text);
    const char *end = t + std::strlen(t);
    objc_sizeof_type(t);
    objc_alignof_type(t);
    objc_aligned_size(t);
    objc_promoted_size(t);
    EXPECT_LE(objc_skip_type_qualifiers(t), end);
    EXPECT_LE(objc_skip_typespec(t), end);
    EXPECT_LE(objc_skip_argspec(t), end);
    EXPECT_LE(objc_skip_offset(t), end);
  }
}

std::string nested(const char *open, int depth, const char *inner,
                   const char *close) {
  std::string text;
  for (int i = 0; i < depth; ++i)
    text += open;
  text += inner;
  for (int i = 0; i < depth; ++i)
    text += close;
  return text;
}

TEST(EncodingMalformed, DeepNestingIsBounded) {
  const std::string deep[] = {nested("{x=", 20000, "i", "}"),
                              nested("[1", 20000, "i", "]"),
                              nested("(u=", 20000, "i", ")")};
  for (const std::string &text : deep) {
    const char *t = text.c_str();
    EXPECT_EQ(objc_sizeof_type(t), 0);
    EXPECT_EQ(objc_aligned_size(t), 0);
    EXPECT_EQ(objc_skip_typespec(t), t + text.size());
  }
  // A pointer measures as a word without looking at what it points to;
  // only the walk descends.
  std::string pointers = nested("^", 20000, "i", "") + "c";
  EXPECT_EQ(objc_sizeof_type(pointers.c_str()), 4);
  EXPECT_EQ(objc_skip_typespec(pointers.c_str()),
            pointers.c_str() + pointers.size());
}

// Unions inside arrays inside unions: each level is measured once. Measuring
// size and alignment apart at every level would take minutes here and run
// into the test's time-out; no clock is read, as machines are shared.
TEST(EncodingMalformed, DeepUnionsInArraysAreMeasuredOnce) {
  std::string open, close;
  for (int i = 0; i < 480; ++i) { // 960 levels, within the bound
    open += "(a=[1";
    close += "])";
  }
  std::string text = open + std::string(20000, 'i') + close;
  EXPECT_EQ(objc_sizeof_type(text.c_str()), 4);
  EXPECT_EQ(objc_alignof_type(text.c_str()), 4);
  EXPECT_EQ(objc_aligned_size(text.c_str()), 4);
}

TEST(EncodingMalformed, ReasonableNestingStillMeasures) {
  std::string structs = nested("{x=c", 300, "i", "}");
  EXPECT_EQ(objc_alignof_type(structs.c_str()), 4);
  // Each level: a char, padding to 4, then the inner struct.
  EXPECT_EQ(objc_sizeof_type(structs.c_str()), 300 * 4 + 4);
  std::string pointers = nested("^", 900, "d", "") + "c";
  EXPECT_EQ(objc_skip_typespec(pointers.c_str()),
            pointers.c_str() + pointers.size() - 1);
}

} // namespace
