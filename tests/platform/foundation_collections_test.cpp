// Numbers and dictionaries: values both ways, equality across kinds,
// entries replaced, removed and released, keys found by equality.
#include <Foundation/Foundation.h>
#include <objc/objc-load.h>

#include <gtest/gtest.h>

#include <string>

OBJC_LIBRARY_REGISTRATION()

namespace {

std::string text(id object) {
  const char *chars =
      objc_send<const char *>(objc_send(object, "description"), "cString");
  return chars ? chars : "";
}

class Collections : public testing::Test {
protected:
  void SetUp() override {
    pool_ = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  }
  void TearDown() override { objc_send<void>(pool_, "release"); }
  id pool_ = nil;
};

TEST_F(Collections, NumbersKeepTheirKindAndValue) {
  id big =
      objc_send_class("NSNumber", "numberWithLongLong:", -9007199254740993LL);
  id half = objc_send_class("NSNumber", "numberWithDouble:", 2.5);
  EXPECT_EQ(objc_send<long long>(big, "longLongValue"), -9007199254740993LL);
  EXPECT_STREQ(objc_send<const char *>(big, "objCType"), "q");
  EXPECT_STREQ(objc_send<const char *>(half, "objCType"), "d");
  EXPECT_EQ(objc_send<double>(half, "doubleValue"), 2.5);
  EXPECT_EQ(objc_send<int>(half, "intValue"), 2);
  EXPECT_EQ(text(big), "-9007199254740993");
  EXPECT_EQ(text(half), "2.5");
  id two = objc_send_class("NSNumber", "numberWithInt:", 2);
  id twoAgain = objc_send_class("NSNumber", "numberWithDouble:", 2.0);
  EXPECT_TRUE(objc_send<BOOL>(two, "isEqual:", twoAgain));
  EXPECT_EQ(objc_send<unsigned>(two, "hash"),
            objc_send<unsigned>(twoAgain, "hash"));
  EXPECT_FALSE(objc_send<BOOL>(two, "isEqual:", half));
  EXPECT_FALSE(objc_send<BOOL>(two, "isEqual:", NSSTR("2")));
}

TEST_F(Collections, DictionariesFindKeysByEquality) {
  id dictionary = objc_send_class("NSMutableDictionary", "dictionary");
  id value = objc_send(objc_send_class("NSObject", "alloc"), "init");
  objc_send<void>(dictionary, "setObject:forKey:", value, NSSTR("a"));
  objc_send<void>(dictionary, "setObject:forKey:", NSSTR("one"),
                  objc_send_class("NSNumber", "numberWithInt:", 1));
  EXPECT_EQ(objc_send<unsigned>(value, "retainCount"), 2u);
  id key = objc_send_class("NSString", "stringWithCString:", "a");
  EXPECT_EQ(objc_send(dictionary, "objectForKey:", key), value);
  EXPECT_EQ(
      text(objc_send(dictionary, "objectForKey:",
                     objc_send_class("NSNumber", "numberWithDouble:", 1.0))),
      "one");
  objc_send<void>(dictionary, "setObject:forKey:", NSSTR("replaced"), key);
  EXPECT_EQ(objc_send<unsigned>(value, "retainCount"), 1u);
  EXPECT_EQ(objc_send<unsigned>(dictionary, "count"), 2u);
  EXPECT_EQ(text(objc_send(dictionary, "allKeys")), "(a, 1)");
  EXPECT_EQ(text(dictionary), "{a = replaced; 1 = one;}");
  objc_send<void>(dictionary, "removeObjectForKey:", key);
  EXPECT_EQ(objc_send(dictionary, "objectForKey:", key), nil);
  EXPECT_EQ(objc_send<unsigned>(dictionary, "count"), 1u);
  objc_send<void>(value, "release");
}

TEST_F(Collections, NilKeysAndObjectsAreRefused) {
  id dictionary = objc_send_class("NSMutableDictionary", "dictionary");
  id caught = nil;
  NS_DURING
  objc_send<void>(dictionary, "setObject:forKey:", nil, NSSTR("a"));
  NS_HANDLER
  caught = localException;
  NS_ENDHANDLER
  ASSERT_NE(caught, nil);
  EXPECT_EQ(std::string(
                objc_send<const char *>(objc_send(caught, "name"), "cString")),
            "NSInvalidArgumentException");
}

} // namespace
