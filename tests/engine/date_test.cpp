#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "kx6_Date.h"
#include "kx6_glbl.h"
#include "platform/pf_misc.h"

namespace tolvern {
namespace {

// Sets the process short date format for one test and restores it afterwards.
class DateFormatTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = platform::ShortDateFormat(); }
  void TearDown() override { platform::SetShortDateFormat(saved_); }
  void UseFormat(const std::string& format) { platform::SetShortDateFormat(format); }

  TkxDBFDate dates_;

 private:
  std::string saved_;
};

constexpr int32_t k1980 = 2444240;  // 1 January 1980

TEST(DateCalendar, KnownJulianDayNumbers) {
  TkxDBFDate dates;
  EXPECT_EQ(dates.DayOffset, 2415019);
  EXPECT_EQ(dates.EncodeDay(1980, 1, 1), k1980);
  EXPECT_EQ(dates.EncodeDay(1899, 12, 30), 2415019);
  EXPECT_EQ(dates.EncodeDay(1970, 1, 1), 2440588);
  EXPECT_EQ(dates.EncodeDay(2000, 2, 29), 2451604);
  EXPECT_EQ(dates.EncodeDay(1582, 10, 15), 2299161);  // proleptic Gregorian throughout
  EXPECT_EQ(dates.EncodeDay(1, 1, 1), 1721426);
  EXPECT_EQ(dates.EncodeDay(9999, 12, 31), 5373484);
}

TEST(DateCalendar, DatesThatDoNotExistEncodeAsZero) {
  TkxDBFDate dates;
  EXPECT_EQ(dates.EncodeDay(2023, 2, 29), 0);
  EXPECT_EQ(dates.EncodeDay(1900, 2, 29), 0);  // century, not a leap year
  EXPECT_NE(dates.EncodeDay(2000, 2, 29), 0);  // every 400 years it is
  EXPECT_EQ(dates.EncodeDay(1980, 13, 1), 0);
  EXPECT_EQ(dates.EncodeDay(1980, 0, 1), 0);
  EXPECT_EQ(dates.EncodeDay(1980, 4, 31), 0);
  EXPECT_EQ(dates.EncodeDay(1980, 1, 0), 0);
  EXPECT_EQ(dates.EncodeDay(0, 1, 1), 0);
  EXPECT_EQ(dates.EncodeDay(10000, 1, 1), 0);
}

// Walks every date of the years 1-9999 with an independent month-length rule: each one
// must be the previous day number plus one and decode to itself.
TEST(DateCalendar, EveryDateRoundTripsAndDaysAreConsecutive) {
  TkxDBFDate dates;
  int32_t expected = dates.EncodeDay(1, 1, 1);
  int failures = 0;
  for (int y = 1; y <= 9999 && failures < 5; ++y) {
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    const int lengths[12] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= lengths[m - 1]; ++d, ++expected) {
        int yy, mm, dd;
        dates.DecodeDay(expected, yy, mm, dd);
        if (dates.EncodeDay(y, m, d) != expected || yy != y || mm != m || dd != d) {
          ADD_FAILURE() << y << "-" << m << "-" << d << " vs day " << expected;
          ++failures;
        }
      }
      if (dates.EncodeDay(y, m, lengths[m - 1] + 1) != 0) {
        ADD_FAILURE() << "day after the end of " << y << "-" << m << " exists";
        ++failures;
      }
    }
  }
  EXPECT_EQ(expected - 1, dates.EncodeDay(9999, 12, 31));
}

TEST(DateCalendar, DaysWithoutCalendarDateDecodeAsZeros) {
  TkxDBFDate dates;
  for (int32_t day : {0, -1, 1721425, 5373485, INT32_MAX, INT32_MIN}) {
    int y = -1, m = -1, d = -1;
    dates.DecodeDay(day, y, m, d);
    EXPECT_EQ(y, 0) << day;
    EXPECT_EQ(m, 0) << day;
    EXPECT_EQ(d, 0) << day;
  }
}

TEST(DateCalendar, TodayIsTheLocalCalendarDate) {
  TkxDBFDate dates;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  int y, m, d;
  dates.DecodeDay(dates.Today(), y, m, d);
  // Allow for midnight passing between the two clock readings.
  const int32_t expected = dates.EncodeDay(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  EXPECT_GE(dates.Today(), expected);
  EXPECT_LE(dates.Today(), expected + 1);
  EXPECT_GT(dates.Today(), dates.EncodeDay(2024, 1, 1));
}

TEST(DateCalendar, GlobalConverterIsOneInstanceWithFourDigitYears) {
  EXPECT_EQ(&GlobalDateConverter(), &GlobalDateConverter());
  EXPECT_TRUE(GlobalDateConverter().FourDigitYear);
  EXPECT_EQ(GlobalDateConverter().DayOffset, 2415019);
}

TEST(DateStorageForm, EightDigitsForDatesAndBlanksOtherwise) {
  TkxDBFDate dates;
  EXPECT_EQ(dates.StorageForm(k1980), "19800101");
  EXPECT_EQ(dates.StorageForm(dates.EncodeDay(2024, 12, 31)), "20241231");
  EXPECT_EQ(dates.StorageForm(dates.EncodeDay(1, 1, 1)), "00010101");
  EXPECT_EQ(dates.StorageForm(0), "        ");
  EXPECT_EQ(dates.StorageForm(-7), "        ");
  // No eight-digit form exists before year 1 or after 9999.
  EXPECT_EQ(dates.StorageForm(1000), "        ");
  EXPECT_EQ(dates.StorageForm(INT32_MAX), "        ");
}

TEST(DateStorageForm, TextToDayReadsStoredDates) {
  TkxDBFDate dates;
  EXPECT_EQ(dates.TextToDay("19800101"), k1980);
  EXPECT_EQ(dates.TextToDay("19800101   "), k1980);
  EXPECT_EQ(dates.TextToDay("20000229"), 2451604);
  for (int32_t day : {1721426, 2415019, 2451604, 2460000, 5373484})
    EXPECT_EQ(dates.TextToDay(dates.StorageForm(day)), day);
}

TEST(DateStorageForm, EmptyFieldsAreNoDate) {
  TkxDBFDate dates;
  EXPECT_EQ(dates.TextToDay(""), 0);
  EXPECT_EQ(dates.TextToDay("        "), 0);
  EXPECT_EQ(dates.TextToDay("00000000"), 0);
  // Some writers leave empty date fields full of NUL bytes.
  EXPECT_EQ(dates.TextToDay(std::string(8, '\0')), 0);
}

TEST(DateStorageForm, ImpossibleEightDigitDateIsDayOffsetWithoutError) {
  TkxDBFDate dates;
  EXPECT_EQ(dates.TextToDay("19801301"), 2415019);
  EXPECT_EQ(dates.TextToDay("19800230"), 2415019);
  EXPECT_EQ(dates.TextToDay("19000229"), 2415019);
  EXPECT_EQ(dates.TextToDay("00001010"), 2415019);
}

TEST_F(DateFormatTest, DisplayFormWidensTheYearToFourDigits) {
  UseFormat("MM/DD/YYYY");
  EXPECT_EQ(dates_.DisplayForm(k1980), "01/01/1980");
  UseFormat("M/d/yy");
  EXPECT_EQ(dates_.DisplayForm(dates_.EncodeDay(2024, 3, 9)), "3/9/2024");
  UseFormat("DD.MM.YYYY");
  EXPECT_EQ(dates_.DisplayForm(dates_.EncodeDay(2024, 3, 9)), "09.03.2024");
  UseFormat("yy-mm-dd");
  EXPECT_EQ(dates_.DisplayForm(dates_.EncodeDay(2005, 11, 30)), "2005-11-30");
  UseFormat("Y/M/D");
  EXPECT_EQ(dates_.DisplayForm(dates_.EncodeDay(987, 1, 2)), "0987/1/2");
  // Without any Y the year goes in front.
  UseFormat("MM/DD");
  EXPECT_EQ(dates_.DisplayForm(k1980), "198001/01");
}

TEST_F(DateFormatTest, DisplayFormWithoutFourDigitYearKeepsThePattern) {
  dates_.FourDigitYear = false;
  UseFormat("M/d/yy");
  EXPECT_EQ(dates_.DisplayForm(dates_.EncodeDay(2005, 3, 9)), "3/9/05");
  UseFormat("DD.MM.YYYY");
  EXPECT_EQ(dates_.DisplayForm(dates_.EncodeDay(2005, 3, 9)), "09.03.2005");
}

TEST_F(DateFormatTest, DisplayFormOfNoDateIsEmpty) {
  UseFormat("MM/DD/YYYY");
  EXPECT_EQ(dates_.DisplayForm(0), "");
  EXPECT_EQ(dates_.DisplayForm(-1), "");
  EXPECT_EQ(dates_.DisplayForm(INT32_MAX), "");
}

TEST_F(DateFormatTest, TextToDayReadsDisplayDatesInThePatternOrder) {
  UseFormat("MM/DD/YYYY");
  EXPECT_EQ(dates_.TextToDay("01/02/2024"), dates_.EncodeDay(2024, 1, 2));
  EXPECT_EQ(dates_.TextToDay("1/2/2024"), dates_.EncodeDay(2024, 1, 2));
  EXPECT_EQ(dates_.TextToDay("  1-2-2024  "), dates_.EncodeDay(2024, 1, 2));
  EXPECT_EQ(dates_.TextToDay("1/2/49"), dates_.EncodeDay(2049, 1, 2));
  EXPECT_EQ(dates_.TextToDay("1/2/50"), dates_.EncodeDay(1950, 1, 2));
  UseFormat("DD.MM.YYYY");
  EXPECT_EQ(dates_.TextToDay("1.2.2024"), dates_.EncodeDay(2024, 2, 1));
  UseFormat("YYYY-MM-DD");
  EXPECT_EQ(dates_.TextToDay("2024-02-29"), dates_.EncodeDay(2024, 2, 29));
  UseFormat("DDMMYY");
  EXPECT_EQ(dates_.TextToDay("290224"), dates_.EncodeDay(2024, 2, 29));
}

TEST_F(DateFormatTest, DisplayFormReadsBackInEveryPattern) {
  for (const char* format : {"MM/DD/YYYY", "DD.MM.YYYY", "YYYY-MM-DD", "M/D/YY", "D.M.Y"}) {
    UseFormat(format);
    for (int32_t day = 2400000; day < 2500000; day += 997)
      ASSERT_EQ(dates_.TextToDay(dates_.DisplayForm(day)), day) << format;
  }
}

TEST_F(DateFormatTest, TextThatIsNoDateRaisesConversionError) {
  UseFormat("MM/DD/YYYY");
  for (const char* text :
       {"13/01/2024", "02/30/2024", "abc", "1/2", "1/2/3/4", "1/2/123", "001/2/2024", "x1/2/2024",
        "1/2/2024x", "1980010", "198001011", "1/1/0000", "1/1/10000"}) {
    try {
      dates_.TextToDay(text);
      ADD_FAILURE() << "no error for '" << text << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + std::string(text) + "' is not a valid date");
    }
  }
}

TEST_F(DateFormatTest, ConversionErrorNamesTheTrimmedText) {
  UseFormat("MM/DD/YYYY");
  try {
    dates_.TextToDay("31/31/2024   ");
    ADD_FAILURE() << "no error";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'31/31/2024' is not a valid date");
  }
}

TEST_F(DateFormatTest, PatternWithoutAllThreePartsParsesNothing) {
  UseFormat("MM/YYYY");
  EXPECT_THROW(dates_.TextToDay("01/02/2024"), EConvertError);
  EXPECT_EQ(dates_.TextToDay("20240102"), dates_.EncodeDay(2024, 1, 2));
}

}  // namespace
}  // namespace tolvern
