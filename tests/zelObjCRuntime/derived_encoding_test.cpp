// Encodings derived from C++ function types (objc/objc-encoding.h) read
// back by the toolkit's own walk: every argument's offset is where the
// promoted sizes before it end, the frame is where the last one ends, and
// a structure's text measures as the structure's C++ size.
#include <gtest/gtest.h>

#include <objc/objc-load.h>

#include <cstdlib>
#include <string>

#include <zelObjCRuntime/zelObjCRuntime.h>

namespace {

struct Rect {
  double x, y, width, height;
  static constexpr char objcEncoding[] = "{Rect=dddd}";
};
struct Odd {
  char c;
  int i;
  static constexpr char objcEncoding[] = "{Odd=ci}";
};
struct Three {
  char c[3];
  static constexpr char objcEncoding[] = "{Three=[3c]}";
};

/* Walks a signature: false, with the reason, at the first offset or frame
   that the promoted sizes disagree with. */
::testing::AssertionResult framesAgree(const char *signature) {
  const char *cursor = objc_skip_typespec(signature);
  const int frame = std::atoi(cursor);
  cursor = objc_skip_offset(cursor);
  int end = 0;
  for (int index = 0; *cursor != '\0'; ++index) {
    const char *next = objc_skip_typespec(cursor);
    const int offset = std::atoi(next);
    if (offset != end)
      return ::testing::AssertionFailure()
             << "argument " << index << " at " << offset << ", not " << end;
    end += objc_promoted_size(cursor);
    cursor = objc_skip_argspec(cursor);
  }
  if (frame != end)
    return ::testing::AssertionFailure()
           << "frame " << frame << ", arguments end at " << end;
  return ::testing::AssertionSuccess();
}

template <typename F> const char *typesOf() {
  return objc_encoding::functionTypes<F>.chars;
}

TEST(DerivedEncodingWalk, OffsetsAndFramesAgreeWithThePromotedSizes) {
  const char *signatures[] = {
      typesOf<double(id, SEL, char, long long, double, int, short)>(),
      typesOf<void(id, SEL, BOOL, unsigned char, unsigned short)>(),
      typesOf<Rect(id, SEL, Rect, double)>(),
      typesOf<int(id, SEL, Odd, Three, long long)>(),
      typesOf<id(id, SEL, const char *, const void *, id *, SEL)>(),
      typesOf<double(double, float, char)>(),
  };
  for (const char *signature : signatures)
    EXPECT_TRUE(framesAgree(signature)) << signature;
}

TEST(DerivedEncodingWalk, StructureTextsMeasureAsTheStructures) {
  EXPECT_EQ(objc_sizeof_type(OBJC_TYPE_TEXT(Rect)), int(sizeof(Rect)));
  EXPECT_EQ(objc_sizeof_type(OBJC_TYPE_TEXT(Odd)), int(sizeof(Odd)));
  EXPECT_EQ(objc_sizeof_type(OBJC_TYPE_TEXT(Three)), int(sizeof(Three)));
  EXPECT_EQ(objc_promoted_size(OBJC_TYPE_TEXT(Three)), 4);
}

} // namespace
