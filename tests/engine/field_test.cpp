#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "kx6_Date.h"
#include "kx6_build.h"
#include "kx6_bytes.h"
#include "kx6_eror.h"
#include "kx6_fld.h"
#include "kx6_glbl.h"
#include "platform/pf_misc.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::FixtureFiles;
using fendral::test::ReadBytes;
using fendral::test::RunCommand;
using fendral::test::TempDir;
using fendral::test::WriteBytes;

struct Field {
  std::string name;
  char type;
  int length;
  int decimals = 0;
};

// The bytes of a table: header, descriptors, terminator (and the 263-byte area of 0x30
// tables), then the records, each the deletion flag followed by its field bytes.
std::vector<uint8_t> MakeTable(uint8_t version, const std::vector<Field>& fields,
                               const std::vector<std::string>& records, uint8_t flags28 = 0) {
  int recordLength = 1;
  for (const auto& f : fields) recordLength += f.length;
  const int headerLength =
      32 + 32 * static_cast<int>(fields.size()) + 1 + (version == 0x30 ? 263 : 0);
  std::vector<uint8_t> bytes(static_cast<size_t>(headerLength), 0);
  ByteWriter w(bytes.data(), bytes.size());
  w.U8(0, version);
  w.U32LE(4, static_cast<uint32_t>(records.size()));
  w.U16LE(8, static_cast<uint16_t>(headerLength));
  w.U16LE(10, static_cast<uint16_t>(recordLength));
  w.U8(28, flags28);
  size_t at = 32;
  for (const auto& f : fields) {
    w.Bytes(at, f.name.data(), f.name.size());
    w.U8(at + 11, static_cast<uint8_t>(f.type));
    w.U8(at + 16, static_cast<uint8_t>(f.length & 0xFF));
    w.U8(at + 17, static_cast<uint8_t>(f.type == 'C' ? f.length >> 8 : f.decimals));
    at += 32;
  }
  w.U8(at, 0x0D);
  for (const auto& r : records) {
    EXPECT_EQ(r.size(), static_cast<size_t>(recordLength)) << "test record of wrong size";
    std::string rec = r;
    rec.resize(static_cast<size_t>(recordLength), ' ');
    bytes.insert(bytes.end(), rec.begin(), rec.end());
  }
  bytes.push_back(0x1A);
  return bytes;
}

std::string Le32(int32_t v) {
  std::string s(4, '\0');
  ByteWriter(s.data(), s.size()).I32LE(0, v);
  return s;
}
std::string Le64(int64_t v) {
  std::string s(8, '\0');
  ByteWriter(s.data(), s.size()).I64LE(0, v);
  return s;
}
std::string Dbl(double v) {
  std::string s(8, '\0');
  ByteWriter(s.data(), s.size()).F64LE(0, v);
  return s;
}

// Installs an error procedure that records the triples and returns, so that the neutral
// results of failing operations can be seen. Restores the previous one.
class CapturedErrors {
 public:
  struct Triple {
    int32_t code;
    int32_t subCode;
    std::string info;
  };
  CapturedErrors() : saved_(EngineErrorProc) {
    Log().clear();
    EngineErrorProc = &Capture;
  }
  ~CapturedErrors() { EngineErrorProc = saved_; }
  static std::vector<Triple>& Log() {
    static std::vector<Triple> log;
    return log;
  }

 private:
  static void Capture(int32_t code, int32_t subCode, const char* info) {
    Log().push_back({code, subCode, info ? info : ""});
  }
  ErrorProcType saved_;
};

// Sets the short date format for one test.
class DateFormatScope {
 public:
  explicit DateFormatScope(const std::string& format) : saved_(platform::ShortDateFormat()) {
    platform::SetShortDateFormat(format);
  }
  ~DateFormatScope() { platform::SetShortDateFormat(saved_); }

 private:
  std::string saved_;
};

std::string ErrorText(const std::function<void()>& action) {
  try {
    action();
  } catch (const ETolvernError& e) {
    return e.what();
  }
  return "<no error>";
}

// A plain table: NAME C(3), AMOUNT N(5,2), QTY N(3), RATE F(5), BORN D, OK L, NOTE M.
class FieldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("T.DBF");
    WriteBytes(path_, MakeTable(0x83,
                                {{"NAME", 'C', 3},
                                 {"AMOUNT", 'N', 5, 2},
                                 {"QTY", 'N', 3},
                                 {"RATE", 'F', 5},
                                 {"BORN", 'D', 8},
                                 {"OK", 'L', 1},
                                 {"NOTE", 'M', 10}},
                                {std::string(" ") + "ABC" + "12.50" + "  7" + "   12" + "20211231" +
                                     "T" + "        12",
                                 std::string(" ") + "XY " + " -1.5" + "   " + "    0" + "        " +
                                     "?" + "          "}));
    table_ = std::make_unique<KXO_dBaseFld>(path_, true, false);
    table_->GetRecord(1);
  }
  std::string RawField(int f) {
    const auto& info = table_->Fields()[static_cast<size_t>(f - 1)];
    return std::string(reinterpret_cast<const char*>(table_->Buffer()) + info.offset,
                       static_cast<size_t>(info.length));
  }

  TempDir dir_;
  std::string path_;
  std::unique_ptr<KXO_dBaseFld> table_;
};

enum { kName = 1, kAmount, kQty, kRate, kBorn, kOk, kNote };

// --- lookup ----------------------------------------------------------------------------

TEST_F(FieldTest, LookupIgnoresCaseAndTrailingBlanks) {
  const DbfFieldInfo* field = table_->FindField("amount  ");
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(field->number, kAmount);
  EXPECT_EQ(table_->LastField(), field);
  EXPECT_EQ(table_->FieldNumber("Born"), kBorn);
  EXPECT_EQ(table_->GetFieldByName("name "), "ABC");
  // A leading blank is part of the name.
  EXPECT_NE(ErrorText([&] { table_->FindField(" NAME"); }), "<no error>");
}

TEST_F(FieldTest, UnknownNamesAndWrongTypesAreReportedWithTheirDetail) {
  EXPECT_EQ(ErrorText([&] { table_->FindField("nope "); }),
            "dBase field name is invalid - nope->" + table_->FileName());
  EXPECT_EQ(ErrorText([&] { table_->GetNumberByName("NAME"); }),
            "dBase field is of incorrect type - NAME");
  EXPECT_EQ(ErrorText([&] { table_->GetDateByName("QTY"); }),
            "dBase field is of incorrect type - QTY");
  // Numeric access by name takes F and memo fields as well.
  EXPECT_DOUBLE_EQ(table_->GetNumberByName("rate"), 12);
  EXPECT_DOUBLE_EQ(table_->GetNumberByName("note"), 12);
}

TEST_F(FieldTest, FailuresGiveNeutralResultsWhenTheErrorProcedureReturns) {
  CapturedErrors errors;
  EXPECT_EQ(table_->FieldNumber("NOPE"), 0);
  EXPECT_EQ(table_->GetFieldTextByName("NOPE"), "");
  EXPECT_FALSE(table_->PutNumberByName("NAME", 1));
  EXPECT_EQ(RawField(kName), "ABC");
  ASSERT_EQ(errors.Log().size(), 3u);
  EXPECT_EQ(errors.Log()[0].code, ErrFieldName);
  EXPECT_EQ(errors.Log()[0].subCode, SubFieldName);
  EXPECT_EQ(errors.Log()[2].code, ErrFieldType);
  EXPECT_EQ(errors.Log()[2].subCode, SubFieldType);
  EXPECT_EQ(errors.Log()[2].info, "NAME");
}

TEST_F(FieldTest, FieldNumbersOutOfRangeAreNeutralAndSilent) {
  CapturedErrors errors;
  for (int f : {0, -1, 8, 1000}) {
    EXPECT_EQ(table_->GetField(f), "");
    EXPECT_EQ(table_->GetFieldText(f), "");
    EXPECT_EQ(table_->GetNumber(f), 0.0);
    EXPECT_EQ(table_->GetDate(f), 0);
    EXPECT_FALSE(table_->GetLogical(f));
    EXPECT_EQ(table_->FieldType(f), '\0');
    EXPECT_EQ(table_->FieldLength(f), 0);
    EXPECT_FALSE(table_->PutField(f, "x"));
    EXPECT_FALSE(table_->PutNumber(f, 1));
    EXPECT_FALSE(table_->PutFieldText(f, "1"));
    EXPECT_EQ(table_->MemoFor(f), nullptr);
  }
  EXPECT_TRUE(errors.Log().empty());
}

TEST(FieldDescriptors, WideCharacterFieldsTakeTheirLengthFromTwoBytes) {
  TempDir dir;
  const std::string path = dir.File("W.DBF");
  WriteBytes(path, MakeTable(0x03, {{"LONG", 'C', 300}, {"N", 'N', 7, 3}},
                             {" " + std::string(300, 'x') + "  1.250"}));
  KXO_dBaseFld table(path, false, false);
  table.GetRecord(1);
  EXPECT_EQ(table.FieldLength(1), 300);
  EXPECT_EQ(table.FieldDecimals(1), 0);
  EXPECT_EQ(table.FieldOffset(2), 301);
  EXPECT_EQ(table.FieldDecimals(2), 3);
  EXPECT_EQ(table.FieldName(2), "N");
  EXPECT_EQ(table.FieldType(2), 'N');
  EXPECT_EQ(table.GetField(1), std::string(300, 'x'));
  EXPECT_DOUBLE_EQ(table.GetNumber(2), 1.25);
  char type = 0;
  bool changed = false;
  std::vector<uint8_t> result(512, 0);
  EXPECT_EQ(table.FormulaRequest("FIND", "NOSUCH", result, type, changed), -1);
}

// --- numbers ---------------------------------------------------------------------------

TEST_F(FieldTest, NumbersAreFormattedToWidthAndDecimals) {
  EXPECT_TRUE(table_->PutNumber(kAmount, 12.5));
  EXPECT_EQ(RawField(kAmount), "12.50");
  EXPECT_TRUE(table_->PutNumber(kQty, 7));
  EXPECT_EQ(RawField(kQty), "  7");
  EXPECT_EQ(table_->GetFieldText(kQty), "7");
  // Halves round away from zero, as xBase programs do.
  EXPECT_TRUE(table_->PutNumber(kQty, 2.5));
  EXPECT_EQ(RawField(kQty), "  3");
  EXPECT_TRUE(table_->PutNumber(kQty, -2.5));
  EXPECT_EQ(RawField(kQty), " -3");
  EXPECT_TRUE(table_->PutNumber(kAmount, 0.125));
  EXPECT_EQ(RawField(kAmount), " 0.13");
  // A negative value that rounds to zero is stored without its sign.
  EXPECT_TRUE(table_->PutNumber(kAmount, -0.001));
  EXPECT_EQ(RawField(kAmount), " 0.00");
  EXPECT_TRUE(table_->PutNumber(kAmount, -9.99));
  EXPECT_EQ(RawField(kAmount), "-9.99");
  EXPECT_DOUBLE_EQ(table_->GetNumber(kAmount), -9.99);
  // Memo block numbers of dBase III tables are digits too.
  EXPECT_TRUE(table_->PutNumber(kNote, 345));
  EXPECT_EQ(RawField(kNote), "       345");
}

TEST_F(FieldTest, TooWideNumberIsReportedAndLeavesTheFieldUnchanged) {
  ASSERT_TRUE(table_->PutNumber(kAmount, 12.5));
  EXPECT_EQ(ErrorText([&] { table_->PutNumber(kAmount, 123.4); }),
            "Number too large to fit in field - 123.40 - AMOUNT");
  EXPECT_EQ(RawField(kAmount), "12.50");
  CapturedErrors errors;
  table_->FieldChangedFlags()[kQty] = 0;
  EXPECT_FALSE(table_->PutNumber(kQty, 1000));
  EXPECT_FALSE(table_->PutNumber(kQty, NAN));
  EXPECT_FALSE(table_->PutNumber(kQty, INFINITY));
  EXPECT_EQ(RawField(kQty), "  7");
  EXPECT_EQ(table_->FieldChangedFlags()[kQty], 0);
  ASSERT_EQ(errors.Log().size(), 3u);
  EXPECT_EQ(errors.Log()[0].code, ErrNumberTooLarge);
  EXPECT_EQ(errors.Log()[0].subCode, SubPutNumber);
  EXPECT_EQ(errors.Log()[0].info, "1000 - QTY");
  // Only numeric and memo-number fields take numbers.
  errors.Log().clear();
  EXPECT_FALSE(table_->PutNumber(kName, 1));
  EXPECT_FALSE(table_->PutNumber(kBorn, 1));
  EXPECT_FALSE(table_->PutNumber(kOk, 1));
  EXPECT_EQ(RawField(kName), "ABC");
  ASSERT_EQ(errors.Log().size(), 3u);
  EXPECT_EQ(errors.Log()[0].code, ErrFieldType);
  EXPECT_EQ(errors.Log()[0].subCode, SubFieldType);
}

TEST_F(FieldTest, StoredNumberTextIsParsedWithADot) {
  struct Case {
    std::string raw;
    double value;
  };
  for (const Case& c : {Case{"  1.5", 1.5}, Case{"   -3", -3}, Case{"     ", 0},
                        Case{std::string(5, '\0'), 0}, Case{"  .25", 0.25}, Case{"   +4", 4},
                        Case{"1e2  ", 100}, Case{std::string("  12\0", 5), 12}, Case{"   . ", 0}}) {
    std::memcpy(table_->Buffer() + table_->Fields()[kAmount - 1].offset, c.raw.data(), 5);
    EXPECT_DOUBLE_EQ(table_->GetNumber(kAmount), c.value) << "raw '" << c.raw << "'";
  }
  for (const std::string& raw :
       std::vector<std::string>{" 1,50", "12abc", "  -  ", "*****", "  1 2", "  inf"}) {
    table_->PutField(kAmount, raw);
    EXPECT_EQ(ErrorText([&] { table_->GetNumber(kAmount); }),
              "dBase field is of incorrect type - Invalid number in field T->AMOUNT (" +
                  raw.substr(0, raw.find_last_not_of(' ') + 1) + ")");
  }
}

TEST_F(FieldTest, NumberEntryTextStoresAFormattedNumber) {
  EXPECT_TRUE(table_->PutFieldText(kAmount, " 42 "));
  EXPECT_EQ(RawField(kAmount), "42.00");
  // Clearing a numeric field stores a formatted zero.
  EXPECT_TRUE(table_->PutFieldText(kAmount, ""));
  EXPECT_EQ(RawField(kAmount), " 0.00");
  CapturedErrors errors;
  EXPECT_FALSE(table_->PutFieldText(kAmount, "4x"));
  EXPECT_EQ(RawField(kAmount), " 0.00");
  ASSERT_EQ(errors.Log().size(), 1u);
  EXPECT_EQ(errors.Log()[0].code, ErrFieldType);
  EXPECT_EQ(errors.Log()[0].subCode, SubPutNumber);
  // F fields take the text as it is, right-aligned.
  EXPECT_TRUE(table_->PutFieldText(kRate, "12"));
  EXPECT_EQ(RawField(kRate), "   12");
}

TEST_F(FieldTest, NumberDisplayFormOfABlankFieldIsAFormattedZero) {
  table_->GetRecord(2);
  EXPECT_EQ(table_->GetFieldText(kAmount), "-1.5");
  EXPECT_EQ(table_->GetFieldText(kRate), "0");
  table_->PutField(kAmount, "");
  table_->PutField(kQty, "");
  EXPECT_EQ(table_->GetFieldText(kAmount), "0.00");
  EXPECT_EQ(table_->GetFieldText(kQty), "0");
  // dBase IV writes an empty numeric field with decimals as blanks and a point.
  table_->PutField(kAmount, "   . ");
  EXPECT_EQ(table_->GetFieldText(kAmount), "0.00");
  EXPECT_EQ(table_->GetNumber(kAmount), 0.0);
}

TEST_F(FieldTest, NumbersUseADotWhateverTheLocale) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  const char* chosen = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"}) {
    if (std::setlocale(LC_NUMERIC, name)) {
      chosen = name;
      break;
    }
  }
  if (!chosen) GTEST_SKIP() << "no locale with a decimal comma installed";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",");
  EXPECT_TRUE(table_->PutNumber(kAmount, 3.25));
  const std::string raw = RawField(kAmount);
  const double read = table_->GetNumber(kAmount);
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(raw, " 3.25");
  EXPECT_DOUBLE_EQ(read, 3.25);
}

// --- logicals --------------------------------------------------------------------------

TEST_F(FieldTest, LogicalCharacters) {
  for (char c : std::string("TtYyJj")) {
    table_->PutField(kOk, std::string(1, c));
    EXPECT_TRUE(table_->GetLogical(kOk)) << c;
    EXPECT_EQ(table_->GetFieldText(kOk), "T");
  }
  for (const std::string& text :
       std::vector<std::string>{"N", "F", "?", " ", "0", std::string(1, '\0')}) {
    table_->PutField(kOk, text);
    EXPECT_FALSE(table_->GetLogical(kOk)) << "'" << text << "'";
    EXPECT_EQ(table_->GetFieldText(kOk), "F");
  }
}

TEST_F(FieldTest, LogicalEntryTextAndWrongFieldTypes) {
  struct Case {
    std::string text;
    std::string stored;
  };
  for (const Case& c : {Case{"", "F"}, Case{"1", "T"}, Case{"0", "F"}, Case{"yes", "T"},
                        Case{"n", "F"}, Case{"7", "T"}}) {
    EXPECT_TRUE(table_->PutFieldText(kOk, c.text)) << c.text;
    EXPECT_EQ(RawField(kOk), c.stored) << c.text;
  }
  EXPECT_EQ(ErrorText([&] { table_->PutFieldText(kOk, "x"); }),
            "dBase field is of incorrect type - OK");
  EXPECT_EQ(RawField(kOk), "T");
  EXPECT_EQ(ErrorText([&] { table_->PutLogical(kName, true); }),
            "dBase field is of incorrect type - ");
  EXPECT_EQ(RawField(kName), "ABC");
  EXPECT_TRUE(table_->PutLogicalByName("ok", false));
  EXPECT_FALSE(table_->GetLogicalByName("OK"));
}

// --- dates -----------------------------------------------------------------------------

TEST_F(FieldTest, DatesStoreAndDisplay) {
  DateFormatScope format("DD.MM.YYYY");
  const TkxDBFDate& dates = GlobalDateConverter();
  const int32_t day = dates.EncodeDay(2021, 12, 31);
  EXPECT_EQ(table_->GetDate(kBorn), day);
  EXPECT_EQ(table_->GetFieldText(kBorn), "31.12.2021");
  EXPECT_TRUE(table_->PutDate(kBorn, dates.EncodeDay(2003, 2, 1)));
  EXPECT_EQ(RawField(kBorn), "20030201");
  EXPECT_TRUE(table_->PutDate(kBorn, 0));
  EXPECT_EQ(RawField(kBorn), "        ");
  EXPECT_EQ(table_->GetDate(kBorn), 0);
  EXPECT_EQ(table_->GetFieldText(kBorn), "");
  table_->PutField(kBorn, "00000000");
  EXPECT_EQ(table_->GetDate(kBorn), 0);
  EXPECT_EQ(table_->GetFieldText(kBorn), "");

  EXPECT_TRUE(table_->PutFieldText(kBorn, "01.02.2003"));
  EXPECT_EQ(RawField(kBorn), "20030201");
  EXPECT_TRUE(table_->PutFieldText(kBorn, "19991231"));
  EXPECT_EQ(RawField(kBorn), "19991231");
  EXPECT_TRUE(table_->PutFieldText(kBorn, ""));
  EXPECT_EQ(RawField(kBorn), "        ");
  EXPECT_TRUE(table_->PutDateByName("born", day));
  EXPECT_EQ(table_->GetDateByName("BORN"), day);
}

TEST_F(FieldTest, BadDatesAreReported) {
  DateFormatScope format("MM/DD/YYYY");
  EXPECT_EQ(ErrorText([&] { table_->PutDate(kBorn, -1); }), "dBase field is of incorrect type - ");
  // A day with no calendar date is not stored as "no date".
  EXPECT_NE(ErrorText([&] { table_->PutDate(kBorn, 999999999); }), "<no error>");
  EXPECT_EQ(RawField(kBorn), "20211231");
  // Other field types answer false without a report.
  CapturedErrors errors;
  EXPECT_FALSE(table_->PutDate(kName, 2459580));
  EXPECT_TRUE(errors.Log().empty());
  EXPECT_EQ(RawField(kName), "ABC");
  errors.Log().clear();

  table_->PutField(kBorn, "2021AB01");
  EXPECT_EQ(table_->GetDate(kBorn), 0);
  ASSERT_EQ(errors.Log().size(), 1u);
  EXPECT_EQ(errors.Log()[0].code, ErrFieldType);
  EXPECT_EQ(errors.Log()[0].info, "Invalid date in field T->BORN (2021AB01)");
  // The display and entry forms let the runtime's conversion error through.
  EXPECT_THROW(table_->GetFieldText(kBorn), EConvertError);
  EXPECT_THROW(table_->PutFieldText(kBorn, "31.12.2021"), EConvertError);
  // Eight digits that name no date are no date either, not the runtime's day 0.
  EXPECT_THROW(table_->PutFieldText(kBorn, "20211340"), EConvertError);
  EXPECT_EQ(RawField(kBorn), "2021AB01");
  EXPECT_TRUE(table_->PutFieldText(kBorn, "18991230"));
  EXPECT_EQ(RawField(kBorn), "18991230");
}

// --- text, blanking, flags -------------------------------------------------------------

TEST_F(FieldTest, TextIsCutToWidthAndAlignedByType) {
  EXPECT_TRUE(table_->PutFieldText(kName, "ABCDE"));
  EXPECT_EQ(RawField(kName), "ABC");
  EXPECT_TRUE(table_->PutField(kName, "A"));
  EXPECT_EQ(RawField(kName), "A  ");
  EXPECT_EQ(table_->GetField(kName), "A  ");
  EXPECT_EQ(table_->GetFieldText(kName), "A");
  // Right-aligned types keep the left end of a text that is too long.
  EXPECT_TRUE(table_->PutField(kAmount, "1234567"));
  EXPECT_EQ(RawField(kAmount), "12345");
  EXPECT_TRUE(table_->PutField(kAmount, "1"));
  EXPECT_EQ(RawField(kAmount), "    1");
  // Raw text stops at the first zero byte.
  table_->PutField(kName, std::string("A\0B", 3));
  EXPECT_EQ(table_->GetField(kName), "A");
}

TEST_F(FieldTest, StoresSetChangedFlagsAndReadsClearThem) {
  auto& flags = table_->FieldChangedFlags();
  EXPECT_EQ(flags, std::vector<uint8_t>(8, 0));
  EXPECT_FALSE(table_->BufferModified());
  table_->PutFieldText(kName, "Q");
  table_->PutNumber(kQty, 1);
  EXPECT_EQ(flags, (std::vector<uint8_t>{0, 1, 0, 1, 0, 0, 0, 0}));
  EXPECT_TRUE(table_->BufferModified());
  table_->GetRecord(2);
  EXPECT_EQ(flags, std::vector<uint8_t>(8, 0));
  table_->PutLogical(kOk, true);
  table_->ClearFieldChanges();
  EXPECT_EQ(flags, std::vector<uint8_t>(8, 0));
}

TEST_F(FieldTest, BlankRecordHoldsFormattedZeros) {
  table_->Buffer()[0] = '*';
  table_->BlankRecord();
  EXPECT_FALSE(table_->IsDeleted());
  EXPECT_EQ(table_->Buffer()[0], ' ');
  EXPECT_EQ(RawField(kName), "   ");
  EXPECT_EQ(RawField(kAmount), " 0.00");
  EXPECT_EQ(RawField(kQty), "  0");
  EXPECT_EQ(RawField(kRate), "    0");
  EXPECT_EQ(RawField(kBorn), "        ");
  EXPECT_EQ(RawField(kOk), " ");
  EXPECT_EQ(RawField(kNote), "          ");
  EXPECT_EQ(table_->Buffer()[table_->RecordLength()], 0x1A);
  EXPECT_EQ(table_->FieldChangedFlags(), std::vector<uint8_t>(8, 1));
  EXPECT_EQ(table_->GetFieldText(kNote), "---memo---");
}

TEST(FieldBlank, NumericFieldTooNarrowForItsZeroStaysBlank) {
  TempDir dir;
  const std::string path = dir.File("N.DBF");
  WriteBytes(path, MakeTable(0x03, {{"A", 'N', 2, 1}, {"B", 'N', 1}}, {}));
  KXO_dBaseFld table(path, true, false);
  EXPECT_NO_THROW(table.BlankRecord());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(table.Buffer()), 4), "   0");
}

TEST_F(FieldTest, DeleteAndRecallWriteAtOnce) {
  table_->GetRecord(2);
  table_->PutFieldText(kName, "ZZ");  // also written: the buffer goes out as it is
  table_->DeleteRecord();
  EXPECT_EQ(table_->FieldChangedFlags()[0], 1);
  const size_t second = static_cast<size_t>(table_->HeaderLength() + table_->RecordLength());
  auto bytes = ReadBytes(path_);
  EXPECT_EQ(bytes[second], '*');
  EXPECT_EQ(bytes[second + 1], 'Z');
  table_->RecallRecord();
  bytes = ReadBytes(path_);
  EXPECT_EQ(bytes[second], ' ');
  EXPECT_EQ(table_->RecordCount(), 2);
}

TEST(FieldRecord, DeleteWithoutCurrentRecordAppendsNothing) {
  TempDir dir;
  const std::string path = dir.File("E.DBF");
  WriteBytes(path, MakeTable(0x03, {{"A", 'C', 2}}, {}));
  KXO_dBaseFld table(path, true, false);
  const auto before = ReadBytes(path);
  EXPECT_THROW(table.DeleteRecord(), ETolvernError);
  EXPECT_THROW(table.RecallRecord(), ETolvernError);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(table.RecordCount(), 0);
}

// --- memo-type fields ------------------------------------------------------------------

TEST(FieldMemo, DisplayMarksFollowTheBlockNumber) {
  TempDir dir;
  const std::string path = dir.File("M.DBF");
  WriteBytes(path, MakeTable(0x83, {{"M", 'M', 10}, {"G", 'G', 10}, {"B", 'B', 10}},
                             {" " + std::string(30, ' '),
                              " " + std::string("        12        12        12"),
                              " " + std::string(30, '0')}));
  KXO_dBaseFld table(path, false, false);
  table.GetRecord(1);
  EXPECT_EQ(table.GetFieldText(1), "---memo---");
  EXPECT_EQ(table.GetFieldText(2), "-general--");
  EXPECT_EQ(table.GetFieldText(3), "--binary--");
  table.GetRecord(2);
  EXPECT_EQ(table.GetFieldText(1), "---MEMO---");
  EXPECT_EQ(table.GetFieldText(2), "-GENERAL--");
  EXPECT_EQ(table.GetFieldText(3), "--BINARY--");
  EXPECT_DOUBLE_EQ(table.GetNumber(1), 12);
  table.GetRecord(3);  // zero-padded block 0 is no memo
  EXPECT_EQ(table.GetFieldText(1), "---memo---");
}

TEST(FieldMemo, OnlyMemoTypesOfTablesWithMemoFilesHaveAMemo) {
  TempDir dir;
  const std::string path = dir.File("P.DBF");
  WriteBytes(path, MakeTable(0x03, {{"M", 'M', 10}, {"C", 'C', 4}}, {" " + std::string(14, ' ')}));
  KXO_dBaseFld table(path, false, false);
  table.GetRecord(1);
  EXPECT_EQ(table.MemoFor(1), nullptr);
  EXPECT_EQ(table.MemoFor(2), nullptr);
  EXPECT_EQ(table.MemoSize(1), 0);
  std::vector<uint8_t> data{1, 2, 3};
  EXPECT_FALSE(table.ReadMemo(1, data));
  EXPECT_TRUE(data.empty());
  const std::string text = "abc";
  EXPECT_FALSE(table.WriteMemo(
      1, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size())));
}

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// A memo written through the field comes back through the field, in each memo format;
// the field holds the memo's block number.
TEST(FieldMemo, WriteAndReadThroughTheField) {
  TempDir dir;
  std::vector<std::unique_ptr<KXO_DBFBuild>> builders;
  builders.push_back(std::make_unique<KXO_DBFBuild>(dir.File("d3.dbf")));
  builders.push_back(std::make_unique<KXO_DB4Build>(dir.File("d4.dbf")));
  builders.push_back(std::make_unique<KXO_DBFoxBuild>(dir.File("fx.dbf")));
  for (auto& builder : builders) {
    const std::string path = builder->FileName();
    SCOPED_TRACE(path);
    builder->AddField("ID", 'N', 3, 0);
    builder->AddField("NOTE", 'M', 10, 0);
    builder->WriteTable();
    ASSERT_NE(builder->TableFile(), nullptr);
    KXO_dBaseFld table(path, true, false);
    table.BlankRecord();
    const std::string longText(1500, 'q');
    ASSERT_TRUE(table.WriteMemo(2, Bytes("first memo")));
    EXPECT_GT(table.GetNumber(2), 0);
    EXPECT_EQ(table.GetFieldText(2), "---MEMO---");
    table.PutNumber(1, 1);
    table.AppendRecord();
    table.BlankRecord();
    ASSERT_TRUE(table.WriteMemo(2, Bytes(longText)));
    table.PutNumber(1, 2);
    table.AppendRecord();

    table.GetRecord(1);
    EXPECT_EQ(table.MemoSize(2), 10);
    std::vector<uint8_t> data;
    ASSERT_TRUE(table.ReadMemo(2, data));
    EXPECT_EQ(std::string(data.begin(), data.end()), "first memo");
    ASSERT_TRUE(table.ReadMemo(2, data, 5));
    EXPECT_EQ(std::string(data.begin(), data.end()), "first");
    // A shorter text keeps the memo where it is.
    const double block = table.GetNumber(2);
    ASSERT_TRUE(table.WriteMemo(2, Bytes("short")));
    EXPECT_EQ(table.GetNumber(2), block);
    table.PutRecord(1);

    table.GetRecord(2);
    EXPECT_EQ(table.MemoSize(2), 1500);
    ASSERT_TRUE(table.ReadMemo(2, data));
    EXPECT_EQ(std::string(data.begin(), data.end()), longText);
    table.GetRecord(1);
    ASSERT_TRUE(table.ReadMemo(2, data));
    EXPECT_EQ(std::string(data.begin(), data.end()), "short");
    ASSERT_TRUE(table.WriteMemo(2, Bytes("")));
    EXPECT_EQ(table.MemoSize(2), 0);
    ASSERT_TRUE(table.ReadMemo(2, data));
    EXPECT_TRUE(data.empty());
    // An empty memo without a block leaves a blank block number, as other programs
    // write it, not a "0".
    table.PutField(2, "0");
    ASSERT_TRUE(table.WriteMemo(2, Bytes("")));
    EXPECT_EQ(table.GetField(2), std::string(10, ' '));
  }
}

// --- binary fields of 0x30 tables ------------------------------------------------------

// What a blank timestamp reads as: day 0 of the runtime's date scale, in milliseconds.
constexpr double kBlankStamp = (2415019.0 - 1721425.0) * 86400000.0;

class VisualFieldTest : public ::testing::Test {
 protected:
  enum { kId = 1, kPrice, kRate, kStamp, kNotes, kName, kNulls };
  void SetUp() override {
    path_ = dir_.File("V.DBF");
    const int32_t day = GlobalDateConverter().EncodeDay(2022, 1, 1);
    WriteBytes(path_, MakeTable(0x30,
                                {{"ID", 'I', 4},
                                 {"PRICE", 'Y', 8, 4},
                                 {"RATE", 'B', 8, 2},
                                 {"STAMP", 'T', 8},
                                 {"NOTES", 'M', 4},
                                 {"NAME", 'C', 5},
                                 {"_NullFlags", '0', 1}},
                                {" " + Le32(-5) + Le64(-1) + Dbl(3.25) + Le32(day) +
                                     Le32(((12 * 60 + 34) * 60 + 56) * 1000) + Le32(12) + "Alpha" +
                                     std::string(1, '\0'),
                                 " " + Le32(0) + Le64(0) + Dbl(0) + "        " + Le32(0) + "     " +
                                     std::string(1, '\0'),
                                 " " + Le32(7) + Le64(123456) + Dbl(-1e300) + std::string(8, '\0') +
                                     Le32(0) + "     " + std::string(1, '\0')}));
    table_ = std::make_unique<KXO_dBaseFld>(path_, true, false);
    table_->GetRecord(1);
  }
  std::string RawField(int f) {
    const auto& info = table_->Fields()[static_cast<size_t>(f - 1)];
    return std::string(reinterpret_cast<const char*>(table_->Buffer()) + info.offset,
                       static_cast<size_t>(info.length));
  }
  TempDir dir_;
  std::string path_;
  std::unique_ptr<KXO_dBaseFld> table_;
};

TEST_F(VisualFieldTest, BinaryValuesRead) {
  DateFormatScope format("YYYY-MM-DD");
  const int32_t day = GlobalDateConverter().EncodeDay(2022, 1, 1);
  EXPECT_DOUBLE_EQ(table_->GetNumber(kId), -5);
  EXPECT_DOUBLE_EQ(table_->GetNumber(kPrice), -0.0001);
  EXPECT_DOUBLE_EQ(table_->GetNumber(kRate), 3.25);
  EXPECT_DOUBLE_EQ(table_->GetNumber(kStamp),
                   (day - 1721425.0) * 86400000.0 + ((12 * 60 + 34) * 60 + 56) * 1000.0);
  EXPECT_DOUBLE_EQ(table_->GetNumber(kNotes), 12);
  EXPECT_EQ(table_->GetFieldText(kId), "-5");
  EXPECT_EQ(table_->GetFieldText(kPrice), "-0.0001");
  EXPECT_EQ(table_->GetFieldText(kRate), "3.25");
  EXPECT_EQ(table_->GetFieldText(kStamp), "2022-01-01 12:34:56");
  EXPECT_EQ(table_->GetFieldText(kNotes), "---MEMO---");
  EXPECT_EQ(table_->GetFieldText(kName), "Alpha");
  EXPECT_DOUBLE_EQ(table_->GetNumberByName("price"), -0.0001);

  // Blank timestamps, whether blanks or zeros, read as day 0 of the runtime's scale.
  table_->GetRecord(2);
  EXPECT_DOUBLE_EQ(table_->GetNumber(kStamp), kBlankStamp);
  EXPECT_EQ(table_->GetFieldText(kStamp), "");
  EXPECT_EQ(table_->GetFieldText(kNotes), "---memo---");
  EXPECT_EQ(table_->GetFieldText(kPrice), "0.0000");
  table_->GetRecord(3);
  EXPECT_DOUBLE_EQ(table_->GetNumber(kStamp), kBlankStamp);
  EXPECT_EQ(table_->GetFieldText(kPrice), "12.3456");
  EXPECT_EQ(table_->GetFieldText(kRate), "-1e+300");
  table_->PutNumber(kRate, 2.5);
  EXPECT_EQ(table_->GetFieldText(kRate), "2.50");
}

TEST_F(VisualFieldTest, BinaryValuesWrite) {
  EXPECT_TRUE(table_->PutNumber(kId, 2147483647));
  EXPECT_EQ(RawField(kId), Le32(2147483647));
  EXPECT_TRUE(table_->PutNumber(kId, -3.9));
  EXPECT_EQ(RawField(kId), Le32(-3));
  // Currency is rounded to its four decimals, not truncated.
  EXPECT_TRUE(table_->PutNumber(kPrice, 19.99));
  EXPECT_EQ(RawField(kPrice), Le64(199900));
  EXPECT_TRUE(table_->PutNumber(kPrice, -0.0001));
  EXPECT_EQ(RawField(kPrice), Le64(-1));
  EXPECT_TRUE(table_->PutNumber(kRate, -2.5e-7));
  EXPECT_EQ(RawField(kRate), Dbl(-2.5e-7));
  EXPECT_TRUE(table_->PutNumber(kNotes, 77));
  EXPECT_EQ(RawField(kNotes), Le32(77));
  EXPECT_EQ(table_->FieldChangedFlags()[kNotes], 1);

  const double stamp = table_->GetNumber(kStamp) + 1000.0;
  EXPECT_TRUE(table_->PutNumber(kStamp, stamp));
  EXPECT_DOUBLE_EQ(table_->GetNumber(kStamp), stamp);
  EXPECT_EQ(RawField(kStamp).substr(4), Le32(((12 * 60 + 34) * 60 + 57) * 1000));
  // "No timestamp" is written as other programs write it: eight zero bytes.
  EXPECT_TRUE(table_->PutNumber(kStamp, kBlankStamp));
  EXPECT_EQ(RawField(kStamp), std::string(8, '\0'));
  EXPECT_TRUE(table_->PutNumber(kStamp, 0));
  EXPECT_EQ(RawField(kStamp), std::string(8, '\0'));

  CapturedErrors errors;
  EXPECT_FALSE(table_->PutNumber(kId, 2147483648.0));
  EXPECT_FALSE(table_->PutNumber(kId, NAN));
  EXPECT_FALSE(table_->PutNumber(kPrice, 1e16));
  EXPECT_EQ(RawField(kId), Le32(-3));
  EXPECT_EQ(RawField(kPrice), Le64(-1));
  ASSERT_EQ(errors.Log().size(), 3u);
  EXPECT_EQ(errors.Log()[0].code, ErrNumberTooLarge);
}

TEST_F(VisualFieldTest, BinaryEntryTextAndBlankRecord) {
  DateFormatScope format("DD.MM.YYYY");
  EXPECT_TRUE(table_->PutFieldText(kId, " 42"));
  EXPECT_EQ(RawField(kId), Le32(42));
  EXPECT_TRUE(table_->PutFieldText(kPrice, "1.15"));
  EXPECT_EQ(RawField(kPrice), Le64(11500));
  EXPECT_TRUE(table_->PutFieldText(kStamp, "31.12.2021 23:59:58"));
  EXPECT_EQ(table_->GetFieldText(kStamp), "31.12.2021 23:59:58");
  EXPECT_TRUE(table_->PutFieldText(kStamp, ""));
  EXPECT_EQ(RawField(kStamp), std::string(8, '\0'));
  EXPECT_THROW(table_->PutFieldText(kId, "many"), ETolvernError);
  EXPECT_EQ(RawField(kId), Le32(42));

  table_->BlankRecord();
  EXPECT_EQ(RawField(kId), std::string(4, '\0'));
  EXPECT_EQ(RawField(kPrice), std::string(8, '\0'));
  EXPECT_EQ(RawField(kRate), std::string(8, '\0'));
  EXPECT_EQ(RawField(kStamp), std::string(8, '\0'));
  EXPECT_EQ(RawField(kNotes), std::string(4, '\0'));
  EXPECT_EQ(RawField(kName), "     ");
  // No null bits: a blank would mark fields as null for other programs.
  EXPECT_EQ(RawField(kNulls), std::string(1, '\0'));
}

// --- fixtures --------------------------------------------------------------------------

// Every table among the fixtures that opens has every field of every record readable in
// every form; failures are engine or conversion errors, never anything else.
TEST(FieldFixtures, EveryFieldOfEveryTableReads) {
  REQUIRE_SHARED();
  int opened = 0;
  long fieldsRead = 0;
  for (const auto& file : FixtureFiles(".dbf")) {
    std::unique_ptr<KXO_dBaseFld> table;
    try {
      table = std::make_unique<KXO_dBaseFld>(file.string(), false, false);
    } catch (const ETolvernError&) {
      continue;  // refused at open: the table tests cover that
    }
    ++opened;
    const int32_t records = std::min(table->RecordCount(), 300);
    for (int32_t n = 1; n <= records; ++n) {
      try {
        table->GetRecord(n);
      } catch (const ETolvernError&) {
        continue;
      }
      for (int32_t f = 1; f <= table->FieldCount(); ++f) {
        const char type = table->FieldType(f);
        auto attempt = [&](auto&& read) {
          try {
            read();
          } catch (const ETolvernError&) {
          } catch (const EConvertError&) {
          } catch (const std::exception& e) {
            ADD_FAILURE() << file << " record " << n << " field " << f << ": " << e.what();
          }
        };
        attempt([&] { table->GetField(f); });
        attempt([&] { table->GetFieldText(f); });
        if (std::string_view("NFBGIMTY").find(type) != std::string_view::npos) {
          attempt([&] { table->GetNumber(f); });
        }
        if (type == 'D') attempt([&] { table->GetDate(f); });
        if (type == 'L') attempt([&] { table->GetLogical(f); });
        attempt([&] {
          if (!table->MemoFor(f)) return;
          std::vector<uint8_t> data;
          table->MemoSize(f);
          table->ReadMemo(f, data, 1 << 20);
        });
        ++fieldsRead;
      }
    }
  }
  EXPECT_GT(opened, 250);
  EXPECT_GT(fieldsRead, 10000);
}

// A minimal reader of the JSON lines dump_table.pl prints: an object per record whose
// "fields" object maps names to strings or null.
class JsonLine {
 public:
  explicit JsonLine(const std::string& text) : s_(text) {}
  bool Parse(bool& deleted, int& recno, std::map<std::string, std::optional<std::string>>& out) {
    if (!Expect('{')) return false;
    while (true) {
      std::string key;
      if (!String(key) || !Expect(':')) return false;
      if (key == "deleted") {
        deleted = s_.compare(i_, 4, "true") == 0;
        i_ += deleted ? 4 : 5;
      } else if (key == "recno") {
        recno = std::atoi(s_.c_str() + i_);
        while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
      } else if (key == "fields") {
        if (!Expect('{')) return false;
        while (!Peek('}')) {
          std::string name, value;
          if (!String(name) || !Expect(':')) return false;
          if (s_.compare(i_, 4, "null") == 0) {
            i_ += 4;
            out[name] = std::nullopt;
          } else {
            if (!String(value)) return false;
            out[name] = value;
          }
          if (Peek(',')) ++i_;
        }
        ++i_;
      } else {
        return false;
      }
      if (Peek(',')) {
        ++i_;
        continue;
      }
      return Expect('}');
    }
  }

 private:
  bool Peek(char c) const { return i_ < s_.size() && s_[i_] == c; }
  bool Expect(char c) {
    if (!Peek(c)) return false;
    ++i_;
    return true;
  }
  bool String(std::string& out) {
    if (!Expect('"')) return false;
    while (i_ < s_.size() && s_[i_] != '"') {
      char c = s_[i_++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i_ >= s_.size()) return false;
      c = s_[i_++];
      if (c == 'u') {
        if (i_ + 4 > s_.size()) return false;
        const unsigned code = static_cast<unsigned>(std::stoul(s_.substr(i_, 4), nullptr, 16));
        i_ += 4;
        // Only ASCII is compared; anything else becomes a marker byte.
        out += code < 0x80 ? static_cast<char>(code) : '\x7F';
      } else {
        const std::string from = "nrtbf\"\\/", to = "\n\r\t\b\f\"\\/";
        const size_t k = from.find(c);
        if (k == std::string::npos) return false;
        out += to[k];
      }
    }
    return Expect('"');
  }
  std::string s_;
  size_t i_ = 0;
};

bool IsPlainAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// Numbers, dates, logicals, binary values and ASCII text of the fixture tables, read by
// this engine and by Perl XBase, agree.
TEST(FieldFixtures, ValuesAgreeWithPerlXBase) {
  REQUIRE_SHARED();
  if (RunCommand("perl -MXBase -e 1 2>/dev/null") != 0) GTEST_SKIP() << "Perl XBase missing";
  const std::string script = (fendral::test::SharedDir() / "peers" / "dump_table.pl").string();
  int tables = 0;
  long compared = 0;
  std::vector<std::string> differences;
  for (const auto& file : FixtureFiles(".dbf")) {
    std::unique_ptr<KXO_dBaseFld> table;
    try {
      table = std::make_unique<KXO_dBaseFld>(file.string(), false, false);
    } catch (const ETolvernError&) {
      continue;
    }
    if (table->RecordCount() == 0 || table->RecordCount() > 2000) continue;
    std::string dump;
    if (RunCommand("perl '" + script + "' '" + file.string() + "' 2>/dev/null", &dump) != 0) {
      continue;  // Perl XBase cannot read it
    }
    ++tables;
    std::istringstream lines(dump);
    std::string line;
    while (std::getline(lines, line)) {
      bool deleted = false;
      int recno = 0;
      std::map<std::string, std::optional<std::string>> values;
      if (!JsonLine(line).Parse(deleted, recno, values) || recno < 1 ||
          recno > table->RecordCount()) {
        differences.push_back(file.string() + ": unreadable dump line");
        break;
      }
      table->GetRecord(recno);
      if (table->IsDeleted() != deleted) {
        differences.push_back(file.string() + " #" + std::to_string(recno) + ": deleted flag");
      }
      for (const auto& field : table->Fields()) {
        auto it = values.find(field.name);
        if (it == values.end() || !IsPlainAscii(field.name)) continue;
        const std::optional<std::string>& theirs = it->second;
        const int f = field.number;
        const bool binary = table->IsBinaryField(field);
        std::string where = file.string() + " #" + std::to_string(recno) + " " + field.name;
        try {
          // A thousands separator makes the text no number: this engine refuses it, Perl
          // XBase reads the digits before the comma ("1,200.00" as 1).
          if (!binary && table->GetField(f).find(',') != std::string::npos) continue;
          if (field.type == 'N' || field.type == 'F' ||
              (binary && field.type != 'T' && field.type != 'M' && field.type != 'G')) {
            const double ours = table->GetNumber(f);
            const double expected = theirs ? std::stod(*theirs) : 0.0;
            if (std::fabs(ours - expected) > 1e-9 * std::max(1.0, std::fabs(expected))) {
              differences.push_back(where + ": " + std::to_string(ours) + " vs " +
                                    theirs.value_or("null"));
            }
            if (binary && field.type == 'Y' && theirs && table->GetFieldText(f) != *theirs) {
              differences.push_back(where + ": text " + table->GetFieldText(f));
            }
          } else if (field.type == 'D') {
            if (theirs && theirs->rfind("raw:", 0) == 0) continue;
            const int32_t day = table->GetDate(f);
            std::string ours = "null";
            if (day > 0) {
              int y, m, d;
              GlobalDateConverter().DecodeDay(day, y, m, d);
              char text[16];
              std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
              ours = text;
            }
            if (ours != theirs.value_or("null")) {
              differences.push_back(where + ": " + ours + " vs " + theirs.value_or("null"));
            }
          } else if (field.type == 'L') {
            if (table->GetLogical(f) != (theirs && *theirs == "T")) {
              differences.push_back(where + ": logical");
            }
          } else if (field.type == 'T' && binary) {
            const double ms = table->GetNumber(f);
            std::string ours = "null";
            if (ms != kBlankStamp) {
              const int64_t whole = static_cast<int64_t>(std::llround(ms));
              int y, m, d;
              GlobalDateConverter().DecodeDay(static_cast<int32_t>(whole / 86400000 + 1721425), y,
                                              m, d);
              const int64_t rest = whole % 86400000;
              char text[32];
              std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", y, m, d,
                            static_cast<int>(rest / 3600000), static_cast<int>(rest / 60000 % 60),
                            static_cast<int>(rest / 1000 % 60), static_cast<int>(rest % 1000));
              ours = text;
            }
            if (ours != theirs.value_or("null")) {
              differences.push_back(where + ": " + ours + " vs " + theirs.value_or("null"));
            }
          } else if (field.type == 'C' && theirs && IsPlainAscii(*theirs) &&
                     table->GetField(f).size() == static_cast<size_t>(field.length)) {
            if (table->GetFieldText(f) != *theirs) {
              differences.push_back(where + ": '" + table->GetFieldText(f) + "' vs '" + *theirs +
                                    "'");
            }
          } else {
            continue;
          }
          ++compared;
        } catch (const std::exception& e) {
          differences.push_back(where + ": " + e.what() + " (theirs " + theirs.value_or("null") +
                                ")");
        }
      }
    }
  }
  EXPECT_GT(tables, 150);
  EXPECT_GT(compared, 50000);
  EXPECT_TRUE(differences.empty())
      << differences.size()
      << " differences, first: " << (differences.empty() ? "" : differences.front());
  for (size_t i = 0; i < std::min<size_t>(differences.size(), 20); ++i) {
    ADD_FAILURE() << differences[i];
  }
}

// --- typed values ----------------------------------------------------------------------

TEST_F(FieldTest, TypedValuesKeepStoredNumberTextAndNameWhatIsNoValue) {
  TkxFieldValue v;
  table_->ReadFieldValue(kName, v);
  EXPECT_EQ(v.kind, TkxValueKind::kText);
  EXPECT_EQ(v.text, "ABC");
  table_->ReadFieldValue(kAmount, v);
  EXPECT_EQ(v.kind, TkxValueKind::kNumber);
  EXPECT_EQ(v.text, "12.50") << "the stored digits, trailing zero kept";
  table_->ReadFieldValue(kBorn, v);
  EXPECT_EQ(v.kind, TkxValueKind::kDate);
  EXPECT_EQ(v.text, "20211231");
  table_->ReadFieldValue(kOk, v);
  EXPECT_EQ(v.kind, TkxValueKind::kLogical);
  EXPECT_TRUE(v.logical);
  table_->ReadFieldValue(kNote, v);
  EXPECT_EQ(v.kind, TkxValueKind::kMemo);

  table_->GetRecord(2);
  table_->ReadFieldValue(kQty, v);
  EXPECT_EQ(v.kind, TkxValueKind::kNull) << "a blank number";
  table_->ReadFieldValue(kOk, v);
  EXPECT_EQ(v.kind, TkxValueKind::kNull) << "'?' is neither true nor false";
  table_->ReadFieldValue(kNote, v);
  EXPECT_EQ(v.kind, TkxValueKind::kNull);
  table_->PutField(kRate, "  +7.");
  table_->ReadFieldValue(kRate, v);
  EXPECT_EQ(v.kind, TkxValueKind::kNumber);
  EXPECT_EQ(v.text, "7") << "other notations in their shortest form";
  table_->PutField(kRate, "1,5");
  table_->ReadFieldValue(kRate, v);
  EXPECT_EQ(v.kind, TkxValueKind::kInvalid);
  EXPECT_EQ(v.text, "1,5");
  EXPECT_STREQ(v.reason, "not a number");
  table_->PutField(kBorn, "2021-1-1");
  table_->ReadFieldValue(kBorn, v);
  EXPECT_EQ(v.kind, TkxValueKind::kInvalid);
  EXPECT_STREQ(v.reason, "not a date");
}

TEST_F(FieldTest, NumberTextIsStoredDigitForDigitOrRounded) {
  EXPECT_TRUE(table_->PutNumberText(kAmount, "3"));
  EXPECT_EQ(RawField(kAmount), " 3.00");
  EXPECT_TRUE(table_->PutNumberText(kAmount, "-0.125"));
  EXPECT_EQ(RawField(kAmount), "-0.13") << "more decimals than the field: rounded";
  EXPECT_TRUE(table_->PutNumberText(kAmount, "123.4"))
      << "fewer decimals that fit only as given stay as given";
  EXPECT_EQ(RawField(kAmount), "123.4");
  EXPECT_TRUE(table_->PutNumberText(kQty, "1e2"));
  EXPECT_EQ(RawField(kQty), "100");
  EXPECT_EQ(ErrorText([&] { table_->PutNumberText(kAmount, "1234.5"); }),
            "Number too large to fit in field - 1234.50 - AMOUNT");
  EXPECT_EQ(RawField(kAmount), "123.4") << "a refused number leaves the field as it was";
  CapturedErrors errors;
  EXPECT_FALSE(table_->PutNumberText(kAmount, "x"));
  EXPECT_FALSE(table_->PutNumberText(kName, "1"));
  ASSERT_EQ(errors.Log().size(), 2u);
  EXPECT_EQ(errors.Log()[0].code, ErrFieldType);
}

TEST_F(VisualFieldTest, TypedBinaryValuesAndExactCurrency) {
  TkxFieldValue v;
  table_->ReadFieldValue(kId, v);
  EXPECT_EQ(v.kind, TkxValueKind::kNumber);
  EXPECT_EQ(v.text, "-5");
  table_->ReadFieldValue(kPrice, v);
  EXPECT_EQ(v.text, "-0.0001");
  table_->ReadFieldValue(kRate, v);
  EXPECT_EQ(v.text, "3.25");
  table_->ReadFieldValue(kStamp, v);
  ASSERT_EQ(v.kind, TkxValueKind::kTimestamp);
  EXPECT_EQ(v.day, GlobalDateConverter().EncodeDay(2022, 1, 1));
  EXPECT_EQ(v.ms, ((12 * 60 + 34) * 60 + 56) * 1000);
  table_->ReadFieldValue(kNotes, v);
  EXPECT_EQ(v.kind, TkxValueKind::kMemo);
  table_->ReadFieldValue(kNulls, v);
  EXPECT_EQ(v.kind, TkxValueKind::kRaw);
  table_->GetRecord(2);
  table_->ReadFieldValue(kStamp, v);
  EXPECT_EQ(v.kind, TkxValueKind::kNull) << "blank day and zero time";

  EXPECT_TRUE(table_->PutNumberText(kPrice, "922337203685.4775"));
  EXPECT_EQ(RawField(kPrice), Le64(9223372036854775)) << "exact, no binary rounding";
  EXPECT_TRUE(table_->PutNumberText(kId, "-7"));
  EXPECT_EQ(RawField(kId), Le32(-7));
  EXPECT_THROW(table_->PutNumberText(kId, "1.5"), ETolvernError);
  EXPECT_EQ(RawField(kId), Le32(-7));
  EXPECT_TRUE(table_->PutTimestamp(kStamp, 2459581, 1000));
  EXPECT_EQ(RawField(kStamp), Le32(2459581) + Le32(1000));
  EXPECT_THROW(table_->PutTimestamp(kStamp, 2459581, 86400000), ETolvernError);
}

}  // namespace
}  // namespace tolvern
