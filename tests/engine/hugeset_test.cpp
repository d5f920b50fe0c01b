#include <gtest/gtest.h>

#include "kx6_Date.h"

namespace tolvern {
namespace {

TEST(HugeSet, StartsEmpty) {
  TkxHugeSet set;
  EXPECT_EQ(set.Max(), -1);
  EXPECT_EQ(set.PageCount(), 0u);
  EXPECT_FALSE(set.TestBit(0));
  EXPECT_FALSE(set.TestBit(1000000));
}

TEST(HugeSet, GrowsPageByPageUpToTheBit) {
  TkxHugeSet set;
  set.SetBit(300000, TkxHugeSet::kSet);
  EXPECT_EQ(set.PageCount(), 3u);
  EXPECT_EQ(set.Max(), 300000);
  EXPECT_TRUE(set.TestBit(300000));
  EXPECT_FALSE(set.TestBit(299999));
  EXPECT_FALSE(set.TestBit(300001));
  set.SetBit(131071, TkxHugeSet::kSet);  // last bit of the first page
  EXPECT_EQ(set.PageCount(), 3u);
  EXPECT_EQ(set.Max(), 300000);
  EXPECT_TRUE(set.TestBit(131071));
  EXPECT_FALSE(set.TestBit(131072));
}

TEST(HugeSet, ClearSetAndToggle) {
  TkxHugeSet set;
  set.SetBit(7, TkxHugeSet::kToggle);
  EXPECT_TRUE(set.TestBit(7));
  set.SetBit(7, TkxHugeSet::kToggle);
  EXPECT_FALSE(set.TestBit(7));
  set.SetBit(8, TkxHugeSet::kSet);
  set.SetBit(8, TkxHugeSet::kSet);
  EXPECT_TRUE(set.TestBit(8));
  set.SetBit(8, TkxHugeSet::kClear);
  EXPECT_FALSE(set.TestBit(8));
  EXPECT_EQ(set.Max(), 8);
}

TEST(HugeSet, OtherOperationsOnlyGrowAndRaiseMax) {
  TkxHugeSet set;
  set.SetBit(3, TkxHugeSet::kSet);
  set.SetBit(3, 9);
  EXPECT_TRUE(set.TestBit(3));
  set.SetBit(140000, 5);
  EXPECT_EQ(set.PageCount(), 2u);
  EXPECT_EQ(set.Max(), 140000);
  EXPECT_FALSE(set.TestBit(140000));
}

TEST(HugeSet, ClearAllKeepsPagesAndForgetsBits) {
  TkxHugeSet set;
  set.SetBit(200000, TkxHugeSet::kSet);
  set.SetBit(5, TkxHugeSet::kSet);
  set.ClearAll();
  EXPECT_EQ(set.Max(), -1);
  EXPECT_EQ(set.PageCount(), 2u);
  EXPECT_FALSE(set.TestBit(5));
  set.SetBit(200001, TkxHugeSet::kClear);
  EXPECT_FALSE(set.TestBit(200000));  // zeroed, not only hidden by max
  EXPECT_FALSE(set.TestBit(5));
}

TEST(HugeSet, NegativeBitsAreIgnored) {
  TkxHugeSet set;
  set.SetBit(-1, TkxHugeSet::kSet);
  EXPECT_EQ(set.Max(), -1);
  EXPECT_EQ(set.PageCount(), 0u);
  EXPECT_FALSE(set.TestBit(-1));
  set.SetBit(10, TkxHugeSet::kSet);
  EXPECT_FALSE(set.TestBit(-10));
}

// Every bit keeps its own value: a pattern across page boundaries reads back exactly.
TEST(HugeSet, PatternAcrossPagesReadsBack) {
  TkxHugeSet set;
  const int32_t last = 3 * TkxHugeSet::kBitsPerPage + 17;
  for (int32_t n = 0; n <= last; ++n)
    if (n % 3 == 0 || n % 7 == 0) set.SetBit(n, TkxHugeSet::kSet);
  for (int32_t n = 0; n <= last; n += 2) set.SetBit(n, TkxHugeSet::kToggle);
  int wrong = 0;
  for (int32_t n = 0; n <= last; ++n) {
    const bool member = (n % 3 == 0 || n % 7 == 0) != (n % 2 == 0);
    if (set.TestBit(n) != member) ++wrong;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(set.PageCount(), 4u);
}

}  // namespace
}  // namespace tolvern
