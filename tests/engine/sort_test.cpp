// The key sorter: order and tie-break in both directions, the unique rule, the limits and
// their messages, and runs merged from the spill file giving the order of one batch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "kx6_Date.h"
#include "kx6_cnst.h"
#include "kx6_eror.h"
#include "kx6_sort.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::TempDir;

TkxVariant Text(const std::string& text) {
  TkxVariant v;
  v.SetText(text);
  return v;
}

TkxVariant Number(double value) {
  TkxVariant v;
  v.SetFloat(value);
  return v;
}

std::vector<std::pair<std::string, int32_t>> DrainText(TkxSort& sort) {
  std::vector<std::pair<std::string, int32_t>> out;
  TkxVariant key;
  int32_t recno = 0;
  while (sort.RetrieveKey(key, recno)) out.emplace_back(key.AsText(), recno);
  return out;
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ETolvernError& e) {
    return e.what();
  }
  return "<none>";
}

TEST(Sort, EqualKeysComeBackByRecordNumberInTheDirectionOfTheSort) {
  TkxSort ascending(20, false, true, nullptr);
  TkxSort descending(20, false, false, nullptr);
  for (TkxSort* sort : {&ascending, &descending}) {
    sort->InsertKey(Text("B"), 3);
    sort->InsertKey(Text("A"), 5);
    sort->InsertKey(Text("B"), 1);
    sort->InsertKey(Text("A  "), 2);  // trailing blanks do not count
  }
  using Pairs = std::vector<std::pair<std::string, int32_t>>;
  EXPECT_EQ(DrainText(ascending), (Pairs{{"A", 2}, {"A", 5}, {"B", 1}, {"B", 3}}));
  EXPECT_EQ(DrainText(descending), (Pairs{{"B", 3}, {"B", 1}, {"A", 5}, {"A", 2}}));

  // Clipper-style files keep equal keys by ascending record number in either direction.
  TkxSort keepOrder(20, false, false, nullptr);
  keepOrder.SetTieBreakAscending(true);
  for (int32_t recno : {4, 2, 9}) keepOrder.InsertKey(Text("K"), recno);
  keepOrder.InsertKey(Text("Z"), 1);
  EXPECT_EQ(DrainText(keepOrder), (Pairs{{"Z", 1}, {"K", 2}, {"K", 4}, {"K", 9}}));
}

TEST(Sort, UniqueKeepsTheFirstPairOfEveryGroup) {
  TkxSort sort(10, true, true, nullptr);
  sort.InsertKey(Text("M"), 7);
  sort.InsertKey(Text("M"), 3);
  sort.InsertKey(Text("A"), 9);
  sort.InsertKey(Text("M "), 5);
  using Pairs = std::vector<std::pair<std::string, int32_t>>;
  EXPECT_EQ(DrainText(sort), (Pairs{{"A", 9}, {"M", 3}}));
}

TEST(Sort, NumbersAndDatesComeBackExactInNumericOrder) {
  TkxSort numbers(8, false, true, nullptr);
  const std::vector<double> values = {2.5, -1.0, 0.0, 1.0, -1.5, -0.0, 1e300, -1e-300};
  for (size_t i = 0; i < values.size(); ++i)
    numbers.InsertKey(Number(values[i]), static_cast<int32_t>(i + 1));
  std::vector<double> out;
  TkxVariant key;
  int32_t recno;
  while (numbers.RetrieveKey(key, recno)) {
    EXPECT_EQ(key.VariantType(), TkxVariant::kFloat);
    out.push_back(key.AsFloat());
  }
  EXPECT_EQ(out, (std::vector<double>{-1.5, -1.0, -1e-300, 0.0, 0.0, 1.0, 2.5, 1e300}));

  TkxSort dates(4, false, false, nullptr);
  for (int32_t day : {2444240, 0, 2460000, 1}) {
    TkxVariant d;
    d.SetDate(day);
    dates.InsertKey(d, day);
  }
  std::vector<int32_t> days;
  while (dates.RetrieveKey(key, recno)) days.push_back(key.AsDate());
  EXPECT_EQ(days, (std::vector<int32_t>{2460000, 2444240, 1, 0}));
}

TEST(Sort, CharacterKeysCompareThroughTheCollationTable) {
  // A table that sorts lower-case letters together with their capitals.
  uint8_t table[256];
  for (int i = 0; i < 256; ++i) table[i] = static_cast<uint8_t>(i);
  for (int c = 'a'; c <= 'z'; ++c) table[c] = static_cast<uint8_t>(c - 'a' + 'A');
  TkxSort sort(10, false, true, table);
  sort.InsertKey(Text("b"), 1);
  sort.InsertKey(Text("A"), 2);
  sort.InsertKey(Text("B"), 3);
  sort.InsertKey(Text("a"), 4);
  using Pairs = std::vector<std::pair<std::string, int32_t>>;
  EXPECT_EQ(DrainText(sort), (Pairs{{"A", 2}, {"a", 4}, {"b", 1}, {"B", 3}}));
}

TEST(Sort, LimitsAndRefusalsRaiseTheEngineMessages) {
  EXPECT_EQ(ErrorOf([] { TkxSort sort(241, false, true, nullptr); }), kMsgSortKeyLength);
  TkxSort sort(240, false, true, nullptr);
  sort.InsertKey(Text(std::string(240, 'x')), 1);
  EXPECT_EQ(ErrorOf([&] { sort.InsertKey(Text(std::string(241, 'x')), 2); }), kMsgSortKeyLength);
  TkxVariant logical;
  logical.SetBoolean(true);
  EXPECT_EQ(ErrorOf([&] { sort.InsertKey(logical, 3); }), kMsgVariantSort);
  EXPECT_EQ(ErrorOf([&] { sort.InsertKey(TkxVariant(), 3); }), kMsgVariantSort);
  EXPECT_EQ(ErrorOf([&] { sort.InsertKey(Number(1), 3); }), kMsgVariantCompare);
  TkxVariant key;
  int32_t recno;
  ASSERT_TRUE(sort.RetrieveKey(key, recno));
  EXPECT_EQ(ErrorOf([&] { sort.InsertKey(Text("late"), 4); }), kMsgSortAfterRetrieval);
  EXPECT_FALSE(sort.RetrieveKey(key, recno));
  EXPECT_EQ(sort.KeyCount(), 1);

  // Nothing sorted: nothing comes back.
  TkxSort empty(10, false, true, nullptr);
  EXPECT_FALSE(empty.RetrieveKey(key, recno));
}

// Keys that share long prefixes, equal keys and keys of every length around the inline
// bytes, so that comparisons take every path.
std::vector<std::pair<std::string, int32_t>> MixedKeys(size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::pair<std::string, int32_t>> keys;
  for (size_t i = 0; i < count; ++i) {
    std::string key(random() % 3 == 0 ? "PREFIX-SHARED-BY-MANY-" : "");
    const size_t length = random() % 24;
    for (size_t j = 0; j < length; ++j) key += static_cast<char>('A' + random() % 3);
    keys.emplace_back(key, static_cast<int32_t>(i + 1));
  }
  return keys;
}

TEST(Sort, RunsMergedFromTheSpillFileGiveTheOrderOfOneBatch) {
  TempDir dir;
  for (const bool ascending : {true, false}) {
    for (const bool unique : {false, true}) {
      const auto keys = MixedKeys(60000, ascending ? 7 : 8);
      TkxSort small(60, unique, ascending, nullptr);
      small.SetMemoryBudget(256 * 1024);
      small.SetSpillDirectory(dir.Path().string());
      TkxSort large(60, unique, ascending, nullptr);
      for (const auto& [key, recno] : keys) {
        small.InsertKey(Text(key), recno);
        large.InsertKey(Text(key), recno);
      }
      EXPECT_GE(small.SpilledRuns(), 5u);
      EXPECT_EQ(large.SpilledRuns(), 0u);
      // The spill file lies in the spill directory while the sorter lives.
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()),
                              std::filesystem::directory_iterator()),
                1);
      const auto merged = DrainText(small);
      const auto single = DrainText(large);
      EXPECT_EQ(merged, single);

      // The order a plain sort of the pairs gives.
      auto expected = keys;
      for (auto& [key, recno] : expected) key.erase(key.find_last_not_of(' ') + 1);
      std::stable_sort(expected.begin(), expected.end(), [&](const auto& a, const auto& b) {
        if (a.first != b.first) return ascending ? a.first < b.first : a.first > b.first;
        return ascending ? a.second < b.second : a.second > b.second;
      });
      if (unique) {
        expected.erase(std::unique(expected.begin(), expected.end(),
                                   [](const auto& a, const auto& b) { return a.first == b.first; }),
                       expected.end());
      }
      EXPECT_EQ(merged, expected);
    }
  }
  // Each sorter removes its spill file.
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

}  // namespace
}  // namespace tolvern
