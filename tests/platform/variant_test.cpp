#include <gtest/gtest.h>

#include "platform/host_error.h"
#include "platform/variant.h"

using fern::Variant;
using fern::VArray;
using fern::VType;

TEST(VariantArray, CopiesDeeplyAsVbDoes) {
  Variant a(VArray::OneDim(2));
  a.arr().At(0) = Variant("x");
  Variant b = a;
  b.arr().At(0) = Variant("y");
  EXPECT_EQ(a.arr().At(0).str(), "x");
  EXPECT_EQ(b.arr().At(0).str(), "y");
}

TEST(VariantArray, SelfElementAssignmentKeepsData) {
  Variant a(VArray::OneDim(1));
  a.arr().At(1) = Variant(int32_t{7});
  Variant inner = a;
  a.arr().At(0) = inner;  // an array holding a copy of itself
  a = a.arr().At(0);      // replaced by an element of itself
  ASSERT_TRUE(a.IsArray());
  EXPECT_EQ(a.arr().At(1).longVal(), 7);
}

TEST(VariantArray, RedimPreserveKeepsPrefixAndChecksBounds) {
  VArray a = VArray::OneDim(2);
  a.At(2) = Variant(int32_t{3});
  a.Redim({{0, 5}}, true);
  EXPECT_EQ(a.UBound(), 4);
  EXPECT_EQ(a.At(2).longVal(), 3);
  EXPECT_THROW(a.At(5), fern::HostError);
  VArray m;
  m.Redim({{0, 2}, {1, 3}}, false);
  EXPECT_EQ(m.LBound(2), 1);  // the upper bound shows in the element written at it below
  EXPECT_THROW(m.Redim({{0, 3}, {1, 3}}, true), fern::HostError);
  m.At({1, 3}) = Variant("last");
  m.Redim({{0, 2}, {1, 4}}, true);
  EXPECT_EQ(m.At({1, 3}).str(), "last");
}

TEST(VariantBasics, WholeNumbersTakeTheNarrowestFittingType) {
  EXPECT_EQ(Variant::Whole(int64_t{3000000000}).type(), VType::Double);
  EXPECT_EQ(Variant::Whole(5).type(), VType::Long);
}
