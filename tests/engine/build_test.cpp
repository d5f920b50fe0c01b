#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
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

namespace fs = std::filesystem;
using fendral::test::ReadBytes;
using fendral::test::RunCommand;
using fendral::test::TempDir;
using fendral::test::WriteBytes;
using fendral::test::WriteText;

std::string Text(const std::vector<uint8_t>& bytes, size_t offset, size_t count) {
  return std::string(bytes.begin() + static_cast<long>(offset),
                     bytes.begin() + static_cast<long>(offset + count));
}

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::string ErrorText(const std::function<void()>& action) {
  try {
    action();
  } catch (const ETolvernError& e) {
    return e.what();
  }
  return "<no error>";
}

// Records the error triples and returns, so that refused calls can be seen to do nothing.
class CapturedErrors {
 public:
  CapturedErrors() : saved_(EngineErrorProc) {
    Codes().clear();
    EngineErrorProc = &Capture;
  }
  ~CapturedErrors() { EngineErrorProc = saved_; }
  static std::vector<int32_t>& Codes() {
    static std::vector<int32_t> codes;
    return codes;
  }

 private:
  static void Capture(int32_t code, int32_t, const char*) { Codes().push_back(code); }
  ErrorProcType saved_;
};

// --- the DBF ---------------------------------------------------------------------------

TEST(DbfBuild, WritesHeaderDescriptorsTerminatorAndEndMark) {
  TempDir dir;
  const std::string path = dir.File("people.dbf");
  {
    KXO_DBFBuild builder(path);
    EXPECT_EQ(builder.AddField("NAME", 'C', 30, 0), 0);
    EXPECT_EQ(builder.AddField("AGE", 'N', 3, 0), 1);
    EXPECT_EQ(builder.RecordLength(), 34);
    builder.WriteTable();
    ASSERT_NE(builder.TableFile(), nullptr);
  }
  const auto bytes = ReadBytes(path);
  ASSERT_EQ(bytes.size(), 98u);
  ByteReader r(bytes.data(), bytes.size());
  EXPECT_EQ(r.U8(0), 0x03);
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(r.U8(1), (local.tm_year + 1900) % 100);
  EXPECT_EQ(r.U8(2), local.tm_mon + 1);
  EXPECT_EQ(r.U8(3), local.tm_mday);
  EXPECT_EQ(r.U32LE(4), 0u);
  EXPECT_EQ(r.U16LE(8), 97);
  EXPECT_EQ(r.U16LE(10), 34);
  EXPECT_EQ(Text(bytes, 12, 20), std::string(20, '\0'));
  EXPECT_EQ(Text(bytes, 32, 11), std::string("NAME\0\0\0\0\0\0\0", 11));
  EXPECT_EQ(r.U8(32 + 11), 'C');
  EXPECT_EQ(r.U8(32 + 16), 30);
  EXPECT_EQ(Text(bytes, 64, 11), std::string("AGE\0\0\0\0\0\0\0\0", 11));
  EXPECT_EQ(r.U8(64 + 11), 'N');
  EXPECT_EQ(r.U8(64 + 16), 3);
  EXPECT_EQ(r.U8(64 + 17), 0);
  EXPECT_EQ(Text(bytes, 64 + 18, 14), std::string(14, '\0'));
  EXPECT_EQ(r.U8(96), 0x0D);
  EXPECT_EQ(r.U8(97), 0x1A);
  // No memo file for a table without memo fields.
  EXPECT_FALSE(fs::exists(dir.File("people.dbt")));

  KXO_dBaseFld table(path, false, false);
  EXPECT_EQ(table.FieldCount(), 2);
  EXPECT_EQ(table.RecordCount(), 0);
  EXPECT_EQ(table.FieldLength(1), 30);
  EXPECT_EQ(table.FieldType(2), 'N');
}

TEST(DbfBuild, WideCharacterFieldsSpreadTheirLengthOverTwoBytes) {
  TempDir dir;
  const std::string path = dir.File("WIDE.DBF");
  {
    KXO_DBFBuild builder(path);
    builder.AddField("TEXT", 'C', 300, 7);  // decimals of C fields are not the caller's
    builder.AddField("FLAG", 'L', 5, 3);    // D, L and memo types have fixed widths
    builder.AddField("DAY", 'D', 1, 1);
    EXPECT_EQ(builder.RecordLength(), 1 + 300 + 1 + 8);
  }
  const auto bytes = ReadBytes(path);
  EXPECT_EQ(bytes[32 + 16], 44);
  EXPECT_EQ(bytes[32 + 17], 1);
  EXPECT_EQ(bytes[64 + 16], 1);
  EXPECT_EQ(bytes[64 + 17], 0);
  EXPECT_EQ(bytes[96 + 16], 8);
  KXO_dBaseFld table(path, false, false);
  EXPECT_EQ(table.FieldLength(1), 300);
  EXPECT_EQ(table.FieldDecimals(1), 0);
  EXPECT_EQ(table.RecordLength(), 310);
}

TEST(DbfBuild, NamesAreCutToTenAndUpperCased) {
  TempDir dir;
  const std::string path = dir.File("n.dbf");
  {
    KXO_DBFBuild builder(path);
    builder.AddField("customer_number", 'n', 6, 0);
    builder.AddField("Qty_2  ", 'c', 2, 0);
  }
  const auto bytes = ReadBytes(path);
  EXPECT_EQ(Text(bytes, 32, 11), std::string("CUSTOMER_N\0", 11));
  EXPECT_EQ(bytes[32 + 11], 'N');
  EXPECT_EQ(Text(bytes, 64, 11), std::string("QTY_2\0\0\0\0\0\0", 11));
  EXPECT_EQ(bytes[64 + 11], 'C');
  KXO_dBaseFld table(path, false, false);
  EXPECT_EQ(table.FieldNumber("customer_n"), 1);
}

TEST(DbfBuild, InvalidDefinitionsAreRefused) {
  TempDir dir;
  KXO_DBFBuild builder(dir.File("bad.dbf"));
  ASSERT_EQ(builder.AddField("CUSTOMER_NAME", 'C', 10, 0), 0);
  struct Case {
    std::string name;
    char type;
    int length;
    int decimals;
    const char* message;
  };
  const char* badName = "dBase field name is invalid";
  const char* badType = "dBase field is of incorrect type";
  for (const Case& c :
       {Case{"", 'C', 5, 0, badName}, Case{"   ", 'C', 5, 0, badName},
        Case{"1ST", 'C', 5, 0, badName}, Case{"A B", 'C', 5, 0, badName},
        Case{"A-B", 'C', 5, 0, badName}, Case{"CUSTOMER_NUMBER", 'C', 5, 0, badName},
        Case{"customer_n", 'N', 5, 0, badName}, Case{"X", 'Q', 5, 0, badType},
        Case{"X", 'I', 4, 0, badType}, Case{"X", 'C', 0, 0, badType},
        Case{"X", 'C', 65536, 0, badType}, Case{"X", 'N', 0, 0, badType},
        Case{"X", 'N', 21, 0, badType}, Case{"X", 'N', 5, 4, badType},
        Case{"X", 'F', 5, -1, badType}}) {
    const std::string message =
        ErrorText([&] { builder.AddField(c.name, c.type, c.length, c.decimals); });
    EXPECT_EQ(message.rfind(c.message, 0), 0u) << "'" << c.name << "' " << c.type << "(" << c.length
                                               << "," << c.decimals << "): " << message;
  }
  EXPECT_EQ(builder.Count(), 1);
  EXPECT_EQ(builder.RecordLength(), 11);
  // Widths that leave room for a formatted zero are fine.
  EXPECT_EQ(builder.AddField("X", 'N', 5, 3), 1);
  EXPECT_EQ(builder.AddField("_Y2", 'F', 20, 18), 2);
  builder.SetWriteEnabled(false);
}

TEST(DbfBuild, RecordLengthStaysWithinSixteenBits) {
  TempDir dir;
  KXO_DBFBuild builder(dir.File("big.dbf"));
  builder.SetWriteEnabled(false);
  ASSERT_EQ(builder.AddField("A", 'C', 65000, 0), 0);
  ASSERT_EQ(builder.AddField("B", 'C', 534, 0), 1);  // 1 + 65000 + 534 = 65535
  CapturedErrors errors;
  EXPECT_EQ(builder.AddField("C", 'L', 1, 0), -1);
  EXPECT_EQ(errors.Codes(), std::vector<int32_t>{ErrFieldType});
  EXPECT_EQ(builder.RecordLength(), 65535);
  EXPECT_EQ(builder.Count(), 2);
}

TEST(DbfBuild, NameWithoutExtensionAndExistingFilesAreReplaced) {
  TempDir dir;
  {
    KXO_DBFBuild builder(dir.File("plain"));
    builder.AddField("A", 'C', 1, 0);
    EXPECT_EQ(builder.FileName(), dir.File("plain.DBF"));
  }
  EXPECT_TRUE(fs::exists(dir.File("plain.DBF")));
  // An existing table that differs only in the extension's case is the one replaced.
  WriteText(dir.File("old.dbf"), "not a table at all, and longer than the new one will be......");
  {
    KXO_DBFBuild builder(dir.File("old"));
    builder.AddField("A", 'C', 1, 0);
    EXPECT_EQ(builder.FileName(), dir.File("old.dbf"));
  }
  EXPECT_FALSE(fs::exists(dir.File("old.DBF")));
  EXPECT_EQ(ReadBytes(dir.File("old.dbf")).size(), 66u);
}

TEST(DbfBuild, WritesOnceExplicitlyOrOnDestruction) {
  TempDir dir;
  const std::string path = dir.File("once.dbf");
  {
    KXO_DBFBuild builder(path);
    builder.AddField("A", 'C', 1, 0);
    builder.WriteTable();
    fs::remove(path);
    builder.WriteTable();  // written already: neither now nor on destruction
  }
  EXPECT_FALSE(fs::exists(path));

  {
    KXO_DBFBuild builder(path);
    builder.AddField("A", 'C', 1, 0);
  }
  EXPECT_EQ(ReadBytes(path).size(), 32u + 32u + 2u);

  const std::string disabled = dir.File("disabled.dbf");
  {
    KXO_DBFBuild builder(disabled);
    builder.AddField("A", 'C', 1, 0);
    builder.SetWriteEnabled(false);
    builder.WriteTable();
    EXPECT_EQ(builder.TableFile(), nullptr);
  }
  EXPECT_FALSE(fs::exists(disabled));
}

TEST(DbfBuild, NoWriteOnDestructionAfterARefusalOrWhileUnwinding) {
  TempDir dir;
  const std::string refused = dir.File("refused.dbf");
  try {
    KXO_DBFBuild builder(refused);
    builder.AddField("A", 'C', 1, 0);
    builder.AddField("A", 'C', 1, 0);  // duplicate
  } catch (const ETolvernError&) {
  }
  EXPECT_FALSE(fs::exists(refused));

  const std::string unwound = dir.File("unwound.dbf");
  try {
    KXO_DB4Build builder(unwound);
    builder.AddField("A", 'M', 10, 0);
    throw std::runtime_error("the caller gave up");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(fs::exists(unwound));
  EXPECT_FALSE(fs::exists(dir.File("unwound.dbt")));

  // A refusal the caller handled and went on from: an explicit WriteTable still writes.
  const std::string handled = dir.File("handled.dbf");
  {
    KXO_DBFBuild builder(handled);
    builder.AddField("A", 'C', 1, 0);
    EXPECT_THROW(builder.AddField("A", 'C', 1, 0), ETolvernError);
    builder.WriteTable();
    EXPECT_NE(builder.TableFile(), nullptr);
  }
  EXPECT_TRUE(fs::exists(handled));
}

// --- memo files ------------------------------------------------------------------------

TEST(MemoBuild, DBaseThreeMemoFileTakesTheTableExtensionsCase) {
  TempDir dir;
  for (const std::string name : {"sales.dbf", "SALES2.DBF"}) {
    const std::string path = dir.File(name);
    {
      KXO_DBFBuild builder(path);
      builder.AddField("ID", 'N', 4, 0);
      builder.AddField("NOTES", 'M', 4, 2);
    }
    const std::string memo = name == "sales.dbf" ? dir.File("sales.dbt") : dir.File("SALES2.DBT");
    ASSERT_TRUE(fs::exists(memo)) << memo;
    const auto table = ReadBytes(path);
    EXPECT_EQ(table[0], 0x83);
    EXPECT_EQ(table[64 + 16], 10);
    EXPECT_EQ(table[64 + 17], 0);
    const auto bytes = ReadBytes(memo);
    ASSERT_EQ(bytes.size(), 512u);
    ByteReader r(bytes.data(), bytes.size());
    EXPECT_EQ(r.U32LE(0), 1u);
    const std::string label = name == "sales.dbf" ? "SALES" : "SALES2";
    EXPECT_EQ(Text(bytes, 8, 8), label + std::string(8 - label.size(), '\0'));
    EXPECT_EQ(Text(bytes, 16, 496), std::string(496, '\0'));
  }
}

TEST(MemoBuild, DBaseFourMemoFileIsTheTwentyFourByteHeader) {
  TempDir dir;
  const std::string path = dir.File("customers_of_2024.dbf");
  {
    KXO_DB4Build builder(path);
    builder.AddField("NAME", 'C', 10, 0);
    builder.AddField("NOTE", 'M', 0, 0);
  }
  EXPECT_EQ(ReadBytes(path)[0], 0x8B);
  EXPECT_EQ(ReadBytes(path)[64 + 16], 10);
  const auto bytes = ReadBytes(dir.File("customers_of_2024.dbt"));
  ASSERT_EQ(bytes.size(), 24u);
  ByteReader r(bytes.data(), bytes.size());
  EXPECT_EQ(r.U32LE(0), 1u);
  EXPECT_EQ(Text(bytes, 4, 4), std::string(4, '\0'));
  EXPECT_EQ(Text(bytes, 8, 8), "CUSTOMER");
  EXPECT_EQ(Text(bytes, 16, 2), std::string(2, '\0'));
  EXPECT_EQ(r.U8(18), 0x02);
  EXPECT_EQ(r.U8(19), 0x01);
  EXPECT_EQ(r.U32LE(20), 512u);

  // Without memo fields a dBase IV table is a plain 0x03 table.
  const std::string plain = dir.File("plain4.dbf");
  { KXO_DB4Build(plain).AddField("A", 'C', 1, 0); }
  EXPECT_EQ(ReadBytes(plain)[0], 0x03);
  EXPECT_FALSE(fs::exists(dir.File("plain4.dbt")));
}

TEST(MemoBuild, FoxProMemoHeaderFillsWholeBlocks) {
  TempDir dir;
  struct Case {
    uint16_t blockSize;
    uint32_t nextFree;
    size_t fileSize;
  };
  for (const Case& c : {Case{64, 8, 512}, Case{100, 6, 600}, Case{512, 1, 512}, Case{1024, 1, 1024},
                        Case{1, 512, 512}}) {
    const std::string name = "fox" + std::to_string(c.blockSize);
    {
      KXO_DBFoxBuild builder(dir.File(name + ".dbf"));
      EXPECT_EQ(builder.MemoBlockSize(), 64);
      builder.SetMemoBlockSize(c.blockSize);
      builder.AddField("PIC", 'G', 10, 0);
    }
    EXPECT_EQ(ReadBytes(dir.File(name + ".dbf"))[0], 0xF5);
    const auto bytes = ReadBytes(dir.File(name + ".fpt"));
    ASSERT_EQ(bytes.size(), c.fileSize) << c.blockSize;
    ByteReader r(bytes.data(), bytes.size());
    EXPECT_EQ(r.U32BE(0), c.nextFree) << c.blockSize;
    EXPECT_EQ(r.U16BE(6), c.blockSize);
    EXPECT_EQ(Text(bytes, 8, bytes.size() - 8), std::string(bytes.size() - 8, '\0'));
  }
  // A block size of 0 is refused before anything is written.
  KXO_DBFoxBuild builder(dir.File("zero.dbf"));
  builder.SetMemoBlockSize(0);
  builder.AddField("M", 'M', 10, 0);
  EXPECT_EQ(ErrorText([&] { builder.WriteTable(); }).rfind("dBase memo record has format error", 0),
            0u);
  EXPECT_FALSE(fs::exists(dir.File("zero.dbf")));
  builder.SetWriteEnabled(false);
}

// --- round trips, and what other programs read -----------------------------------------

// Builds the test table with `Builder`, fills two records through field access and checks
// them read back. Answers the table's path.
template <typename Builder>
std::string BuildAndFill(const TempDir& dir, const std::string& name) {
  const std::string path = dir.File(name);
  {
    Builder builder(path);
    builder.AddField("NAME", 'C', 12, 0);
    builder.AddField("AMOUNT", 'N', 8, 2);
    builder.AddField("BORN", 'D', 8, 0);
    builder.AddField("ACTIVE", 'L', 1, 0);
    builder.AddField("RATE", 'F', 6, 3);
    builder.AddField("NOTES", 'M', 10, 0);
  }
  const TkxDBFDate& dates = GlobalDateConverter();
  {
    KXO_dBaseFld table(path, true, false);
    table.BlankRecord();
    EXPECT_TRUE(table.PutFieldByName("name", "Smith"));
    EXPECT_TRUE(table.PutNumberByName("AMOUNT", -1234.5));
    EXPECT_TRUE(table.PutDateByName("BORN", dates.EncodeDay(1999, 12, 31)));
    EXPECT_TRUE(table.PutLogicalByName("ACTIVE", true));
    EXPECT_TRUE(table.PutNumberByName("RATE", 0.125));
    EXPECT_TRUE(table.WriteMemo(table.FieldNumber("NOTES"), Bytes("A memo\r\nof two lines")));
    table.AppendRecord();
    table.BlankRecord();
    EXPECT_TRUE(table.PutFieldText(1, "Jones"));
    table.AppendRecord();
  }
  KXO_dBaseFld table(path, false, false);
  EXPECT_EQ(table.RecordCount(), 2);
  table.GetRecord(1);
  EXPECT_EQ(table.GetFieldText(1), "Smith");
  EXPECT_DOUBLE_EQ(table.GetNumber(2), -1234.5);
  EXPECT_EQ(table.GetDate(3), dates.EncodeDay(1999, 12, 31));
  EXPECT_TRUE(table.GetLogical(4));
  EXPECT_EQ(table.GetField(5), " 0.125");
  std::vector<uint8_t> memo;
  EXPECT_TRUE(table.ReadMemo(6, memo));
  EXPECT_EQ(std::string(memo.begin(), memo.end()), "A memo\r\nof two lines");
  table.GetRecord(2);
  EXPECT_EQ(table.GetFieldText(1), "Jones");
  EXPECT_EQ(table.GetField(2), "    0.00");
  EXPECT_EQ(table.GetDate(3), 0);
  EXPECT_FALSE(table.GetLogical(4));
  EXPECT_EQ(table.MemoSize(6), 0);
  return path;
}

// What both peers should read from BuildAndFill's table, in check_table.py's form.
std::string ExpectedJson(const std::string& path) {
  return R"({"table": ")" + fs::path(path).filename().string() +
         R"(", "codepage": "cp437", "records": [)"
         R"({"recno": 1, "deleted": false, "fields": {"NAME": "Smith", "AMOUNT": "-1234.50",)"
         R"( "BORN": "1999-12-31", "ACTIVE": "T", "RATE": "0.125",)"
         R"( "NOTES": "A memo\r\nof two lines"}},)"
         R"({"recno": 2, "deleted": false, "fields": {"NAME": "Jones", "AMOUNT": "0.00",)"
         R"( "BORN": null, "ACTIVE": null, "RATE": "0.000", "NOTES": ""}}]})";
}

// Runs check_table.py with `reader`; answers its output, or nothing when it agreed.
std::string PeerDisagreement(const TempDir& dir, const std::string& table,
                             const std::string& reader, const std::string& options = "") {
  const std::string expected = dir.File(fs::path(table).stem().string() + ".expected.json");
  WriteText(expected, ExpectedJson(table));
  const std::string script = (fendral::test::SharedDir() / "peers" / "check_table.py").string();
  std::string output;
  const int status = RunCommand("/usr/bin/python3 '" + script + "' '" + expected + "' '" + table +
                                    "' --reader " + reader + " " + options + " 2>&1",
                                &output);
  return status == 0 ? std::string() : "status " + std::to_string(status) + ": " + output;
}

TEST(BuildRoundTrip, ValuesPutAndReadBackThroughFieldAccess) {
  TempDir dir;
  BuildAndFill<KXO_DBFBuild>(dir, "d3.dbf");
  BuildAndFill<KXO_DB4Build>(dir, "d4.dbf");
  BuildAndFill<KXO_DBFoxBuild>(dir, "fx.dbf");
}

TEST(BuildRoundTrip, PeersReadTheBuiltTables) {
  REQUIRE_SHARED();
  if (RunCommand("perl -MXBase -e 1 2>/dev/null") != 0) GTEST_SKIP() << "Perl XBase missing";
  TempDir dir;
  const std::string d3 = BuildAndFill<KXO_DBFBuild>(dir, "d3.dbf");
  const std::string d4 = BuildAndFill<KXO_DB4Build>(dir, "d4.dbf");
  const std::string fx = BuildAndFill<KXO_DBFoxBuild>(dir, "fx.dbf");
  EXPECT_EQ(PeerDisagreement(dir, d3, "xbase", "--strip-db3-memo-header"), "");
  EXPECT_EQ(PeerDisagreement(dir, d4, "xbase"), "");
  EXPECT_EQ(PeerDisagreement(dir, fx, "xbase"), "");
  if (RunCommand("/usr/bin/python3 -c 'import dbfread' 2>/dev/null") == 0) {
    // dbfread does not read dBase IV memos.
    EXPECT_EQ(PeerDisagreement(dir, d3, "dbfread", "--strip-db3-memo-header"), "");
    EXPECT_EQ(PeerDisagreement(dir, fx, "dbfread"), "");
  }
}

}  // namespace
}  // namespace tolvern
