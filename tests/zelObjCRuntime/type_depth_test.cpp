// Types at the nesting bound: measuring, call kinds and compatibility
// give the same verdict, one level below the bound and at it.
#include <gtest/gtest.h>

#include <string>

#include <zelObjCRuntime/zelObjCRuntime.h>

namespace {

std::string nested(int levels, const char *inner) {
  return std::string(levels, '{') + inner + std::string(levels, '}');
}

/* Too deep to measure (0 and 0, no call kind) exactly when compatible
   with nothing, itself included. */
void agrees(const std::string &type) {
  ApplyVal val;
  bool measurable = objc_alignof_type(type.c_str()) != 0;
  EXPECT_EQ(zelObjC_CompatibleTypes(type.c_str(), type.c_str()) == 1,
            measurable)
      << type.size();
  if (!measurable) {
    EXPECT_EQ(objc_sizeof_type(type.c_str()), 0);
    EXPECT_EQ(zelObjC_TypeToApplyVal(type.c_str(), 0, &val), 0);
  }
}

TEST(NestingBound, MeasuringAndCompatibilityAgreeAtTheBound) {
  for (int levels : {998, 999, 1000, 1001}) {
    agrees(nested(levels, "i")); /* the innermost is a name alone */
    agrees(nested(levels, "x=i"));
    agrees("{p=" + nested(levels - 1, "i") + "}");
  }
  EXPECT_EQ(objc_sizeof_type(nested(1000, "i").c_str()), 0);
  EXPECT_EQ(zelObjC_CompatibleTypes(nested(1000, "i").c_str(),
                                    nested(1000, "i").c_str()),
            0);
  EXPECT_EQ(objc_sizeof_type(nested(999, "i").c_str()), 4);
  EXPECT_EQ(zelObjC_CompatibleTypes(nested(999, "i").c_str(),
                                    nested(999, "i").c_str()),
            1);
}

} // namespace
