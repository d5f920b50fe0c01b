// Numbers never follow the process locale: under a locale whose decimal separator is a
// comma, the engine reads and writes numbers with "." exactly as under the C locale.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "kx6_build.h"
#include "kx6_dbsy.h"
#include "kx6_indx.h"
#include "kx6_ntx.h"
#include "kx6_sql.h"
#include "kx6_sqlfn.h"
#include "kx6_tool.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::TempDir;

class DecimalCommaLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    saved_ = previous ? previous : "C";
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
      GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed (scripts/install-deps makes it)";
    }
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    path_ = dir_.File("n.dbf");
    {
      KXO_DBFBuild builder(path_);
      builder.AddField("NAME", 'C', 8, 0);
      builder.AddField("AMOUNT", 'N', 8, 2);
      builder.AddField("RATE", 'F', 10, 4);
      builder.WriteTable();
    }
    KXO_dBHandler t(path_, true, false);
    for (double amount : {12.5, -3.25, 0.75, 1234.5}) {
      t.BlankRecord();
      std::string name(1, 'N');
      name += std::to_string(static_cast<int>(amount * 100));
      t.PutFieldByName("NAME", name);
      EXPECT_TRUE(t.PutNumberByName("AMOUNT", amount));
      EXPECT_TRUE(t.PutNumberByName("RATE", 0.125));
      t.AppendRecord();
    }
  }
  void TearDown() override { std::setlocale(LC_ALL, saved_.c_str()); }

  std::string Raw(KXO_dBHandler& t, int field) { return t.GetField(field); }

  TempDir dir_;
  std::string path_;
  std::string saved_;
};

TEST_F(DecimalCommaLocale, FieldWritesAndReadsUseAPoint) {
  KXO_dBHandler t(path_, true, false);
  t.GetRecord(2);
  EXPECT_EQ(Raw(t, 2), "   -3.25");
  EXPECT_EQ(Raw(t, 3), "    0.1250");
  EXPECT_DOUBLE_EQ(t.GetNumber(2), -3.25);
  EXPECT_EQ(t.GetFieldText(2), "-3.25");
  EXPECT_TRUE(t.PutFieldText(2, "2.5"));
  EXPECT_EQ(Raw(t, 2), "    2.50");
  TkxFieldValue value;
  t.ReadFieldValue(2, value);
  EXPECT_EQ(value.kind, TkxValueKind::kNumber);
  EXPECT_EQ(value.text, "2.50");
  EXPECT_TRUE(t.PutNumberText(2, "7.5"));
  EXPECT_EQ(Raw(t, 2), "    7.50");
}

TEST_F(DecimalCommaLocale, ExpressionsAndTheirTextUseAPoint) {
  KXO_dBHandler t(path_, false, false);
  t.GetRecord(1);
  auto evaluate = [&](const std::string& text) {
    TkxExpHandler handler(t.ExpressionLink(), text);
    TkxExpValue v;
    handler.EvaluateToBuffer(v);
    return v;
  };
  EXPECT_DOUBLE_EQ(evaluate("AMOUNT * 2 + 0.25").number, 25.25);
  EXPECT_EQ(evaluate("STR(AMOUNT, 8, 2)").text, "   12.50");
  EXPECT_DOUBLE_EQ(evaluate("VAL('1.75') + 1E-1").number, 1.85);
  EXPECT_TRUE(evaluate("AMOUNT = 12.50").logical);
  TkxExpHandler handler(t.ExpressionLink(), "AMOUNT+1.50");
  EXPECT_EQ(handler.ExpressionText().find(','), std::string::npos) << handler.ExpressionText();
  EXPECT_NE(handler.ExpressionText().find("1.50"), std::string::npos) << handler.ExpressionText();
}

TEST_F(DecimalCommaLocale, SearchTextComparesNumbersWrittenWithAPoint) {
  KXO_dBHandler t(path_, false, false);
  int32_t field = 2;
  int32_t recno = 0;
  ASSERT_TRUE(t.SearchText("0.750", field, false, 0, recno));
  EXPECT_EQ(recno, 3);
  field = 2;
  EXPECT_FALSE(t.SearchText("0,75", field, false, 0, recno));
}

TEST_F(DecimalCommaLocale, NumericNtxKeysUseAPoint) {
  {
    KXO_dBHandler t(path_, true, false);
    ASSERT_EQ(t.IndexOn("amount.ntx", "", 0, true, "", "AMOUNT"), 0);
  }
  KXO_dBHandler t(path_, true, false);
  ASSERT_EQ(t.OpenIndexList("amount.ntx", "AMOUNT"), 0);
  std::vector<int32_t> order;
  std::vector<std::string> keys;
  KXobjIndexTag* tag = t.CurrentOrder();
  ASSERT_NE(tag, nullptr);
  for (int32_t r = tag->Goto(PosTop); r > 0 && !tag->Eof(); r = tag->Goto(PosNext)) {
    order.push_back(r);
    keys.push_back(tag->CurrentKey().AsText());
  }
  EXPECT_EQ(order, (std::vector<int32_t>{2, 3, 1, 4}));
  ASSERT_EQ(keys.size(), 4u);
  EXPECT_EQ(KXobjNTXTag::KeyNumber(keys[0]), -3.25);
  EXPECT_EQ(KXobjNTXTag::KeyNumber(keys[3]), 1234.5);
  EXPECT_EQ(keys[3], "01234.50");
  EXPECT_TRUE(t.FindKey("0.75"));
  EXPECT_EQ(t.CurrentRecord(), 3);

  // Values with more decimals than the key shows are rounded the same way.
  t.CloseAllIndexes();
  ASSERT_EQ(t.IndexOn("third.ntx", "", 0, true, "", "AMOUNT / 3"), 0);
  ASSERT_EQ(t.OpenIndexList("third.ntx", "THIRD"), 0);
  tag = t.CurrentOrder();
  ASSERT_NE(tag, nullptr);
  std::vector<double> values;
  for (int32_t r = tag->Goto(PosTop); r > 0 && !tag->Eof(); r = tag->Goto(PosNext)) {
    const std::string key = tag->CurrentKey().AsText();
    EXPECT_NE(key.find('.'), std::string::npos) << key;
    values.push_back(KXobjNTXTag::KeyNumber(key));
  }
  const std::vector<double> expected = {-3.25 / 3, 0.75 / 3, 12.5 / 3, 1234.5 / 3};
  ASSERT_EQ(values.size(), expected.size());
  for (size_t i = 0; i < values.size(); ++i) EXPECT_NEAR(values[i], expected[i], 0.01) << i;
}

}  // namespace
}  // namespace tolvern
