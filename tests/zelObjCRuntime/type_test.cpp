// Call kinds of type encodings and the compatibility of method signatures.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <zelObjCRuntime/zelObjCRuntime.h>

#include "encoding.h"

namespace {

struct Kind {
  const char *type;
  int flags;
  int kind, size;
};

const Kind kinds[] = {
    {"v", 0, APPLY_VOID, 0},
    {"c", 0, APPLY_CHAR, 1},
    {"rc", 0, APPLY_CHAR, 1},
    {"\"m\"nC", 0, APPLY_UCHAR, 1},
    {"s", 0, APPLY_SHORT, 2},
    {"S", 0, APPLY_USHORT, 2},
    {"c", APPLY_PROMOTE, APPLY_INT, 4},
    {"C", APPLY_PROMOTE, APPLY_UINT, 4},
    {"s", APPLY_PROMOTE, APPLY_INT, 4},
    {"S", APPLY_PROMOTE, APPLY_UINT, 4},
    {"f", APPLY_PROMOTE, APPLY_FLOAT, 4},
    {"i", APPLY_PROMOTE, APPLY_INT, 4},
    {"I", 0, APPLY_UINT, 4},
    {"l", 0, APPLY_LONG, 4},
    {"L", 0, APPLY_ULONG, 4},
    {"q", 0, APPLY_LONGLONG, 8},
    {"Q", 0, APPLY_ULONGLONG, 8},
    {"d", APPLY_PROMOTE, APPLY_DOUBLE, 8},
    {"#", 0, APPLY_POINTER, 4},
    {"*", 0, APPLY_POINTER, 4},
    {":", 0, APPLY_POINTER, 4},
    {"?", 0, APPLY_POINTER, 4},
    {"@\"NSString\"", 0, APPLY_POINTER, 4},
    {"^{x=ic}", 0, APPLY_POINTER, 4},
    {"[4i]", 0, APPLY_AGGREGATE, 16},
    {"[4i]", APPLY_ARRAY_AS_POINTER, APPLY_POINTER, 4},
    {"{?=ii}", APPLY_ARRAY_AS_POINTER, APPLY_AGGREGATE, 8},
    {"{x=ic}", 0, APPLY_AGGREGATE, 8},
    {"(u=cd)", 0, APPLY_AGGREGATE, 8},
    // Aggregates take their padded size: storage the callee fills whole.
    {"{x=sc}", 0, APPLY_AGGREGATE, 4},
    {"{x=cc}", 0, APPLY_AGGREGATE, 4},
    {"(u={x=ic}c)", 0, APPLY_AGGREGATE, 8},
    {"[3c]", 0, APPLY_AGGREGATE, 3},
    {"[2{x=dc}]", 0, APPLY_AGGREGATE, 24},
};

TEST(TypeToApplyVal, KindsAndSizes) {
  for (const Kind &k : kinds) {
    SCOPED_TRACE(k.type);
    ApplyVal val = {-7, -7, &val};
    EXPECT_EQ(zelObjC_TypeToApplyVal(k.type, k.flags, &val), 1);
    EXPECT_EQ(val.kind, k.kind);
    EXPECT_EQ(val.size, k.size);
    EXPECT_EQ(val.data, &val); // never touched
  }
}

TEST(TypeToApplyVal, UnsupportedLeavesTheRecord) {
  for (const char *type : {"B", "b4", "%", "", "r", "!", "j"}) {
    SCOPED_TRACE(type);
    ApplyVal val = {-7, -7, nullptr};
    EXPECT_EQ(zelObjC_TypeToApplyVal(type, APPLY_PROMOTE, &val), 0);
    EXPECT_EQ(val.kind, -7);
    EXPECT_EQ(val.size, -7);
  }
}

TEST(TypeToApplyVal, SizesThatWrapAreUnsupported) {
  for (const char *type :
       {"[2147483648c]", "[1073741823i]", "{x=[2147483647c]i}"}) {
    SCOPED_TRACE(type);
    ApplyVal val = {-7, -7, nullptr};
    EXPECT_EQ(zelObjC_TypeToApplyVal(type, 0, &val), 0);
    EXPECT_EQ(val.size, -7);
  }
}

struct IntChar {
  int i;
  char c;
};
IntChar makeIntChar(int i) { return {i, 'z'}; }

// The bridge's way: storage of the record's size, then the call. The
// callee writes its whole structure, padding included (the sanitizer
// build sees any write beyond the storage).
TEST(TypeToApplyVal, ResultStorageHoldsWhatTheCalleeWrites) {
  ApplyVal result = {};
  ASSERT_EQ(zelObjC_TypeToApplyVal("{IntChar=\"i\"i\"c\"c}", 0, &result), 1);
  ASSERT_GE(static_cast<size_t>(result.size), sizeof(IntChar));
  std::vector<unsigned char> storage(static_cast<size_t>(result.size));
  result.data = storage.data();
  int i = 12;
  ApplyVal args[] = {{APPLY_INT, 4, &i}};
  apply(reinterpret_cast<void *>(makeIntChar), &result, 1, args);
  IntChar back;
  std::memcpy(&back, storage.data(), sizeof back);
  EXPECT_EQ(back.i, 12);
  EXPECT_EQ(back.c, 'z');
}

TEST(TypeToApplyVal, EveryScalarLetterHasItsTableKind) {
  for (const zel::ScalarType &row : zel::scalarTypes) {
    const char text[] = {row.letter, '\0'};
    ApplyVal val = {};
    ASSERT_EQ(zelObjC_TypeToApplyVal(text, 0, &val), 1) << text;
    EXPECT_EQ(val.kind, row.kind) << text;
  }
}

struct Compat {
  const char *offered, *declared;
  int compatible;
};

// compatibleType is reached through one-type "signatures".
const Compat typePairs[] = {
    {"@", "@", 1},
    {"@", "#", 0},
    {"#", "@", 0},
    {"v", "v", 1},
    {"d", "f", 0},
    {"i", "i", 1},
    {"i", "I", 0},
    {"b8", "c", 1},
    {"b9", "c", 0},
    {"b32", "I", 1},
    {"C", "b8", 1},
    {"c", "b8", 0},
    {"I", "b32", 1},
    {"b3", "b2", 1},
    {"b9", "b2", 0},
    {"L", "b31", 1},
    {"^c", "*", 1},
    {"*", "^c", 1},
    {"*", "^rc", 0},
    {"r*", "*", 1},
    {"^i", "^i", 1},
    {"^i", "^I", 0},
    {"^^{a=i}", "^^{b=i}", 1},
    {"?", "^i", 1},
    {"^i", "?", 1},
    {"?", "?", 1},
    {"{(x=i)}", "?", 1},
    {"{x=i}", "?", 0},
    {"*", "[12c]", 1},
    {"[12c]", "*", 0},
    {"^i", "[3i]", 1},
    {"[3i]", "^i", 0},
    {"*", "[3i]", 0},
    {"[3i]", "[3i]", 1},
    {"[3i]", "[4i]", 0},
    {"[3i]", "[3I]", 0},
    {"{a=ii}", "{b=ii}", 1},
    {"{a=ii}", "{a=iii}", 0},
    {"{a=iii}", "{a=ii}", 0},
    {"{a}", "{b}", 1},
    {"{a=\"x\"i\"y\"c}", "{b=ic}", 1},
    {"{a={b=i}c}", "{a={c=i}c}", 1},
    {"?", "{?=(u=i)}", 0},
    {"?", "{(u=i)}", 1},
    {"(u=ic)", "(v=ic)", 1},
    {"(ic)", "(u=ic)", 1},
    {"(u=ic)", "(u=i)", 0},
    {"{u=ic}", "(u=ic)", 0},
    {"^{?=i*i^{?}(abc)}", "^{?=i*i^{?}(xyz", 1},
    {"^{?=i*i^{?}(", "^{?=i*i^{?}{", 0},
    {"B", "B", 0},
    {"%", "%", 0},
};

TEST(CompatibleTypes, OneType) {
  for (const Compat &c : typePairs) {
    SCOPED_TRACE(std::string(c.offered) + " for " + c.declared);
    EXPECT_EQ(zelObjC_CompatibleTypes(c.offered, c.declared), c.compatible);
  }
}

const Compat signaturePairs[] = {
    {"i12@0:4c8", "i12@0:4c8", 1},
    {"i12@0:4c8", "i8@0:4", 0},
    {"i8@0:4", "i12@0:4c8", 0},
    {"", "", 1},
    {"", "v8@0:4", 0},
    {"v16@0:4^c8i12", "v16@0:+4*8i12", 1},
    {"v16@0:4*8i12", "v16@0:4^rc8i12", 0},
    {"{x=ii}16@0:4", "{y=ii}8@0:4", 1},
};

TEST(CompatibleTypes, Signatures) {
  for (const Compat &c : signaturePairs) {
    SCOPED_TRACE(std::string(c.offered) + " for " + c.declared);
    EXPECT_EQ(zelObjC_CompatibleTypes(c.offered, c.declared), c.compatible);
  }
}

TEST(CompatibleTypes, DeepNestingIsIncompatibleNotFatal) {
  std::string deep(50000, '^');
  deep += 'i';
  EXPECT_EQ(zelObjC_CompatibleTypes(deep.c_str(), deep.c_str()), 0);
  std::string fine(500, '^');
  fine += 'i';
  EXPECT_EQ(zelObjC_CompatibleTypes(fine.c_str(), fine.c_str()), 1);
}

} // namespace
