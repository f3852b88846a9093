// Map callbacks of symbol tables: hashing, equality and descriptions of
// owned and in-image strings alike.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include <zelObjCRuntime/zelObjCRuntime.h>
#include "zelObjCRuntime/symbol.h"

namespace {

class SymbolCallbacksTest : public ::testing::Test {
protected:
  void SetUp() override {
    pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  }
  void TearDown() override { objc_send<void>(pool, "release"); }

  static std::string text(id string) {
    const char *bytes = objc_send<const char *>(string, "cString");
    return bytes ? bytes : "<null>";
  }
  static std::string describeKey(const char *stored) {
    return text(SymbolMapKeyCallBacks.describe(nullptr, stored));
  }
  static std::string describeValue(const char *stored) {
    return text(SymbolMapValueCallBacks.describe(nullptr, stored));
  }
  static unsigned hash(const char *stored) {
    return SymbolMapKeyCallBacks.hash(nullptr, stored);
  }

  id pool = nil;
};

TEST_F(SymbolCallbacksTest, DefinitionsDescribeAsKeywordSpaceType) {
  EXPECT_EQ(describeValue("\2i"), "TYPEDEF i");
  EXPECT_EQ(describeValue("\1"
                          "42"),
            "MACRO 42");
  EXPECT_EQ(describeValue("\3^v"), "VARIABLE ^v");
  EXPECT_EQ(describeValue("\4i@:"), "FUNCTION i@:");
  EXPECT_EQ(describeValue("\5v"), "INLINEFUNCTION v");
  EXPECT_EQ(describeValue("\6"), "IMPORTED ");
  const char inImage[] = "\0\2{p=ii}"; // marker byte, then the definition
  EXPECT_EQ(describeValue(inImage), "TYPEDEF {p=ii}");
}

TEST_F(SymbolCallbacksTest, NamesDescribeAsTheirText) {
  EXPECT_EQ(describeKey("NSRect"), "NSRect");
  const char inImage[] = "\0NSRect";
  EXPECT_EQ(describeKey(inImage), "NSRect");
}

TEST_F(SymbolCallbacksTest, HashTakesBytesAsSignedChars) {
  const char emptyInImage[2] = {0, 0};
  EXPECT_EQ(hash(emptyInImage), 0u);
  EXPECT_EQ(hash("a"), 97u);
  EXPECT_EQ(hash("ab"), 9u * 97u + 98u);
  EXPECT_EQ(hash("\xff"), 0xffffffffu);
  EXPECT_EQ(hash("\x80"
                 "a"),
            9u * 0xffffff80u + 97u);
  const char inImage[] = "\0ab";
  EXPECT_EQ(hash(inImage), hash("ab"));
}

TEST_F(SymbolCallbacksTest, EqualityIgnoresTheMarkerAndKeepsCase) {
  const char inImage[] = "\0abc";
  EXPECT_EQ(SymbolMapKeyCallBacks.isEqual(nullptr, "abc", inImage), YES);
  EXPECT_EQ(SymbolMapKeyCallBacks.isEqual(nullptr, inImage, "abc"), YES);
  EXPECT_EQ(SymbolMapKeyCallBacks.isEqual(nullptr, "abc", "ABC"), NO);
  EXPECT_EQ(SymbolMapKeyCallBacks.isEqual(nullptr, "abc", "abcd"), NO);
  EXPECT_EQ(SymbolMapKeyCallBacks.notAKeyMarker, nullptr);
}

TEST_F(SymbolCallbacksTest, ReleaseLeavesInImageStringsAlone) {
  char inImage[] = "\0abc"; // on the stack: freeing it would crash
  SymbolMapKeyCallBacks.release(nullptr, inImage);
  SymbolMapValueCallBacks.release(nullptr, inImage);
  EXPECT_STREQ(inImage + 1, "abc");
}

// The tables hash names under a key of the process: names that share one
// plain hash (every string of 16 pairs "aj" or "ba") spread out, while the
// marker byte still does not count.
TEST_F(SymbolCallbacksTest, TablesHashNamesUnderAKey) {
  const auto keyed = [](const char *stored) {
    return SymbolTableKeyCallBacks.hash(nullptr, stored);
  };
  std::set<unsigned> plain, spread;
  for (unsigned n = 0; n < 65536; ++n) {
    std::string name;
    for (int bit = 0; bit < 16; ++bit)
      name += (n >> bit) & 1 ? "aj" : "ba";
    plain.insert(hash(name.c_str()));
    spread.insert(keyed(name.c_str()));
  }
  EXPECT_EQ(plain.size(), 1u);
  EXPECT_GT(spread.size(), 65000u);

  const char inImage[] = "\0ab";
  EXPECT_EQ(keyed(inImage), keyed("ab"));
  EXPECT_NE(keyed("ab"), keyed("ba"));
  EXPECT_NE(keyed("abcd"), keyed("abcd\x01"));
  EXPECT_EQ(SymbolTableKeyCallBacks.isEqual, SymbolMapKeyCallBacks.isEqual);
  EXPECT_EQ(SymbolTableKeyCallBacks.release, SymbolMapKeyCallBacks.release);
}

// The tables' hash is HalfSipHash-1-3 of the name's text under the key of
// the process (the member of the family checked in symbol_hash_test).
TEST_F(SymbolCallbacksTest, TablesHashIsTheKeyedNameHash) {
  const zel::NameHashKey &key = zel::nameHashKey();
  for (const char *name : {"a", "abcd", "abcde", "\xc3\xa9t\xc3\xa9"}) {
    const uint32_t expected =
        zel::sipHash<uint32_t, 1, 3>(key, name, std::strlen(name));
    EXPECT_EQ(zel::keyedNameHash(name), expected) << name;
    EXPECT_EQ(SymbolTableKeyCallBacks.hash(nullptr, name), expected) << name;
  }
}

} // namespace
