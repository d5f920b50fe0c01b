#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kx6_DBF.h"
#include "kx6_bytes.h"
#include "kx6_eror.h"
#include "platform/pf_file.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::ReadBytes;
using fendral::test::TempDir;
using fendral::test::WriteBytes;

struct FieldDef {
  std::string name;
  char type;
  int length;
  int decimals = 0;
};

// The bytes of a table with the given fields and records (each record's text without
// the deletion flag; "*" prefixes are written as given when `flagged`).
std::vector<uint8_t> MakeTable(uint8_t version, const std::vector<FieldDef>& fields,
                               const std::vector<std::string>& records,
                               bool endMark = true, uint8_t flags28 = 0) {
  int recordLength = 1;
  for (const auto& f : fields) recordLength += f.length;
  const int extra = version == 0x30 ? 263 : 0;
  const int headerLength = 32 + 32 * static_cast<int>(fields.size()) + 1 + extra;
  std::vector<uint8_t> bytes(static_cast<size_t>(headerLength), 0);
  ByteWriter w(bytes.data(), bytes.size());
  w.U8(0, version);
  w.U8(1, 124);
  w.U8(2, 5);
  w.U8(3, 17);
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
    std::string rec = r;
    if (rec.empty() || (rec[0] != '*' && rec[0] != ' ')) rec = " " + rec;
    rec.resize(static_cast<size_t>(recordLength), ' ');
    bytes.insert(bytes.end(), rec.begin(), rec.end());
  }
  if (endMark) bytes.push_back(0x1A);
  return bytes;
}

const std::vector<FieldDef> kNameAge = {{"NAME", 'C', 6}, {"AGE", 'N', 3}};

class DbfTest : public ::testing::Test {
 protected:
  std::string Write(const std::vector<uint8_t>& bytes, const std::string& name = "t.dbf") {
    const std::string path = dir_.File(name);
    WriteBytes(path, bytes);
    return path;
  }
  TempDir dir_;
};

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ETolvernError& e) {
    return e.what();
  }
  return "";
}

TEST_F(DbfTest, RecordCountComesFromTheFileSize) {
  std::vector<std::string> records(90, "ANNA  42");
  auto bytes = MakeTable(0x03, kNameAge, records);
  ByteWriter(bytes.data(), bytes.size()).U32LE(4, 100);
  KXO_dBaseDBF table(Write(bytes), false, false);
  EXPECT_EQ(table.RecordCount(), 90);
  EXPECT_EQ(table.FieldCount(), 2);
  EXPECT_EQ(table.Fields()[1].offset, 7);
}

TEST_F(DbfTest, KnownKindsThatCannotBeReadAreNamedOthersRefusedAsInvalid) {
  const std::vector<std::pair<uint8_t, std::string>> named = {
      {0x31, "Visual FoxPro table with autoincrement or varchar fields (version 0x31)"},
      {0x32, "Visual FoxPro table with autoincrement or varchar fields (version 0x32)"},
      {0x04, "dBase 7 table (version 0x04)"},
      {0x8C, "dBase 7 table (version 0x8C)"},
      {0x02, "dBase II table (version 0x02)"},
      {0xCB, "dBase IV SQL table (version 0xCB)"},
  };
  for (const auto& [version, kind] : named) {
    auto bytes = MakeTable(0x03, kNameAge, {"A  1"});
    bytes[0] = version;
    const std::string path = Write(bytes);
    EXPECT_EQ(ErrorOf([&] { KXO_dBaseDBF t(path, false, false); }),
              "Table kind not supported - " + path + ": " + kind + " is not supported");
  }
  for (uint8_t version : {0xFB, 0x01, 0x0A, 0xFF}) {
    auto bytes = MakeTable(0x03, kNameAge, {"A  1"});
    bytes[0] = version;
    const std::string path = Write(bytes);
    EXPECT_EQ(ErrorOf([&] { KXO_dBaseDBF t(path, false, false); }),
              "dBase DBF file header invalid - " + path)
        << int(version);
  }
}

TEST_F(DbfTest, VisualFoxProSampleTablesAreRefusedByWhatTheyAre) {
  REQUIRE_SHARED();
  for (const char* name : {"vfpx-samples/Northwind/products.dbf", "infused-dbf/dbase_32.dbf"}) {
    const std::filesystem::path path = fendral::test::SharedDir() / "fixtures" / name;
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    const std::string error = ErrorOf([&] { KXO_dBaseDBF t(path.string(), false, false); });
    EXPECT_NE(error.find(": Visual FoxPro table with autoincrement or varchar fields (version 0x3"),
              std::string::npos)
        << error;
    EXPECT_NE(error.find(") is not supported"), std::string::npos) << error;
  }
}

TEST_F(DbfTest, HeadersThatCannotDescribeTheirRecordsAreRefused) {
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> damage;
  };
  const std::vector<Case> cases = {
      {"record length 0", [](auto& b) { b[10] = 0; b[11] = 0; }},
      {"header length 32", [](auto& b) { b[8] = 32; b[9] = 0; }},
      {"header past the end", [](auto& b) { b[8] = 0xFF; b[9] = 0x7F; }},
      {"fields wider than the record", [](auto& b) { b[10] = 5; b[11] = 0; }},
      {"0x30 header without its area", [](auto& b) { b[0] = 0x30; }},
      {"shorter than a header", [](auto& b) { b.resize(20); }},
  };
  for (const auto& c : cases) {
    auto bytes = MakeTable(0x03, kNameAge, {"A  1"});
    c.damage(bytes);
    const std::string path = Write(bytes);
    EXPECT_EQ(ErrorOf([&] { KXO_dBaseDBF t(path, false, false); }),
              "dBase DBF file header invalid - " + path)
        << c.what;
  }
  // A record longer than its fields is fine: the rest is padding.
  auto padded = MakeTable(0x03, kNameAge, {"A  1"});
  padded[10] = 20;
  KXO_dBaseDBF table(Write(padded), false, false);
  EXPECT_EQ(table.RecordLength(), 20);
}

TEST_F(DbfTest, FieldListEndsAtTheTerminatorAndNamesAtTheFirstZero) {
  auto bytes = MakeTable(0x03, kNameAge, {"BOB   7"});
  // Claim room for three more descriptors after the terminator, as some writers pad.
  std::vector<uint8_t> padded(bytes.begin(), bytes.begin() + 32 + 64 + 1);
  padded.insert(padded.end(), 96, 0x20);
  padded.insert(padded.end(), bytes.begin() + 32 + 64 + 1, bytes.end());
  ByteWriter(padded.data(), padded.size()).U16LE(8, 32 + 64 + 1 + 96);
  // A name with garbage after its terminating zero.
  padded[32 + 5] = 0;
  padded[32 + 6] = 'X';
  KXO_dBaseDBF table(Write(padded), false, false);
  ASSERT_EQ(table.FieldCount(), 2);
  EXPECT_EQ(table.Fields()[0].name, "NAME");
  table.GetRecord(1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(table.Buffer()), 10), " BOB   7  ");
}

TEST_F(DbfTest, VisualTableFieldCountFromHeaderLength) {
  const std::vector<FieldDef> three = {{"A", 'C', 1}, {"B", 'I', 4}, {"C", 'C', 2}};
  auto bytes = MakeTable(0x30, three, {});
  KXO_dBaseDBF table(Write(bytes), false, false);
  EXPECT_EQ(table.HeaderLength(), 296 + 32 * 3);
  EXPECT_EQ(table.FieldCount(), 3);
  EXPECT_FALSE(table.HasMemo());
}

TEST_F(DbfTest, PositionedReadsAtTheEdges) {
  KXO_dBaseDBF table(Write(MakeTable(0x03, kNameAge, {"ONE   1", "TWO   2", "THREE 3"})),
                     false, false);
  table.GetRecord(PosTop);
  EXPECT_EQ(table.CurrentRecord(), 1);
  table.GetRecord(PosPrior);
  EXPECT_TRUE(table.Bof());
  EXPECT_EQ(table.CurrentRecord(), 1);
  EXPECT_EQ(table.Buffer()[1], 'O');

  table.GetRecord(PosBottom);
  EXPECT_EQ(table.CurrentRecord(), 3);
  table.GetRecord(PosNext);
  EXPECT_TRUE(table.Eof());
  EXPECT_EQ(table.CurrentRecord(), 3);

  table.GetRecord(4);  // one past the end: end of file, no error
  EXPECT_TRUE(table.Eof());
  EXPECT_NE(ErrorOf([&] { table.GetRecord(5); }).find("dBase record request beyond EOF"),
            std::string::npos);
  EXPECT_NE(ErrorOf([&] { table.GetRecord(-9); }).find("dBase record request beyond EOF"),
            std::string::npos);
  table.GetRecord(2);
  EXPECT_EQ(table.Buffer()[1], 'T');
  EXPECT_FALSE(table.Eof());
}

TEST_F(DbfTest, HeaderOnlyTableHasNoRecords) {
  KXO_dBaseDBF table(Write(MakeTable(0x83, kNameAge, {})), false, false);
  EXPECT_EQ(table.RecordCount(), 0);
  table.GetRecord(PosTop);
  EXPECT_TRUE(table.Eof());
  EXPECT_TRUE(table.Bof());
}

TEST_F(DbfTest, AppendWritesTheEndMarkAndPutZeroAppends) {
  const std::string path = Write(MakeTable(0x03, kNameAge, {"ONE   1"}, /*endMark=*/false));
  {
    KXO_dBaseDBF table(path, true, false);
    std::memcpy(table.Buffer() + 1, "NEW  12", 7);
    table.AppendRecord();
    EXPECT_EQ(table.RecordCount(), 2);
    std::memcpy(table.Buffer() + 1, "ZERO  0", 7);
    table.PutRecord(0);
    EXPECT_EQ(table.RecordCount(), 3);
    EXPECT_EQ(table.CurrentRecord(), 3);
  }
  const auto bytes = ReadBytes(path);
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(bytes.back(), 0x1A);
  const size_t header = 32 + 64 + 1;
  EXPECT_EQ(bytes.size(), header + 3 * 10 + 1);
  EXPECT_EQ(std::string(bytes.begin() + header + 10, bytes.begin() + header + 20), " NEW  12  ");
  ByteReader r(bytes.data(), bytes.size());
  EXPECT_EQ(r.U32LE(4), 3u) << "the header count follows the appends";
}

TEST_F(DbfTest, RewriteKeepsOtherRecordsAndTheHeaderPolicyHolds) {
  auto original = MakeTable(0x03, kNameAge, {"ONE   1", "TWO   2"}, true, 0xFF);
  original[29] = 0x65;
  original[12] = 0xAB;  // reserved bytes survive header writes
  const std::string path = Write(original);
  {
    KXO_dBaseDBF table(path, true, false);
    table.SetUserID(77);
    table.GetRecord(2);
    table.Buffer()[0] = '*';
    table.PutRecord(2);
  }
  const auto bytes = ReadBytes(path);
  ByteReader r(bytes.data(), bytes.size());
  EXPECT_EQ(r.U8(28), 0x07) << "bits 0-2 kept, bits 3-7 cleared";
  EXPECT_EQ(r.U8(29), 0x65);
  EXPECT_EQ(r.U8(12), 0xAB);
  EXPECT_EQ(r.U32LE(20), 77u);
  EXPECT_LT(r.U8(1), 100) << "year written modulo 100";
  EXPECT_EQ(bytes.size(), original.size());
  const size_t header = 32 + 64 + 1;
  EXPECT_EQ(bytes[header], ' ');
  EXPECT_EQ(bytes[header + 10], '*');
}

TEST_F(DbfTest, ReadOnlyTableNeverWritesItsHeader) {
  const auto original = MakeTable(0x03, kNameAge, {"ONE   1"});
  const std::string path = Write(original);
  {
    KXO_dBaseDBF table(path, false, false);
    table.GetRecord(1);
  }
  EXPECT_EQ(ReadBytes(path), original);
}

// The byte each protocol locks for record 5, seen from another open description.
TEST_F(DbfTest, RecordLockOffsetsPerProtocol) {
  const std::vector<std::string> rows(6, "X     1");
  const std::string path = Write(MakeTable(0x03, kNameAge, rows));
  KXO_dBaseDBF table(path, true, true);
  table.GetRecord(5);
  platform::OsFile probe;
  ASSERT_EQ(probe.Open(path, true), 0);
  struct Case {
    TkxLokProtocol protocol;
    uint32_t offset;
  };
  const uint32_t header = 32 + 64 + 1;
  for (const Case& c : {Case{TkxLokProtocol::ClipLock, 1000000005u},
                        Case{TkxLokProtocol::DB4Lock, 0xEFFFFFF9u},
                        Case{TkxLokProtocol::Default, 0x40000000u + header + 4 * 10},
                        Case{TkxLokProtocol::FoxLock, 0x40000000u + header + 4 * 10}}) {
    table.SetLockProtocol(static_cast<int>(c.protocol));
    ASSERT_TRUE(table.LockRecord());
    EXPECT_EQ(table.LockOffset(), c.offset);
    EXPECT_EQ(probe.Lock(c.offset, 1, true), 33) << static_cast<int>(c.protocol);
    EXPECT_EQ(probe.Lock(c.offset + 1, 1, true), 0);
    probe.Unlock(c.offset + 1, 1);
    table.UnlockRegion();
  }
  table.SetLockProtocol(static_cast<int>(TkxLokProtocol::DB4Lock));
  EXPECT_EQ(table.FileLockOffset(), 0x40000000u);
  EXPECT_EQ(table.AppendLockOffset(), 0xEFFFFFFFu);
  EXPECT_EQ(table.FileLockLength(), 0xB0000000u);
  table.SetLockProtocol(99);  // unknown protocols keep the previous values
  EXPECT_EQ(table.AppendLockOffset(), 0xEFFFFFFFu);
}

TEST_F(DbfTest, TableLockDefersTheHeaderWriteUntilUnlock) {
  const std::string path = Write(MakeTable(0x03, kNameAge, {"ONE   1"}));
  KXO_dBaseDBF table(path, true, true);
  ASSERT_TRUE(table.LockTable());
  EXPECT_TRUE(table.TableLocked());
  table.GetRecord(1);
  table.Buffer()[1] = 'Z';
  table.PutRecord(1);
  EXPECT_TRUE(table.HeaderDirty()) << "header write deferred under the table lock";
  EXPECT_TRUE(table.UnlockTable());
  EXPECT_FALSE(table.TableLocked());
  EXPECT_FALSE(table.HeaderDirty());
}

TEST_F(DbfTest, SharedTableSeesRecordsAppendedByAnotherWriter) {
  const std::string path = Write(MakeTable(0x03, kNameAge, {"ONE   1"}));
  KXO_dBaseDBF reader(path, false, true);
  EXPECT_EQ(reader.RecordCount(), 1);
  {
    // Another program appends a record behind our back.
    auto bytes = ReadBytes(path);
    bytes.pop_back();
    const std::string rec = " TWO   2  ";
    bytes.insert(bytes.end(), rec.begin(), rec.end());
    bytes.push_back(0x1A);
    platform::OsFile other;
    ASSERT_EQ(other.Open(path, true), 0);
    size_t done = 0;
    ASSERT_EQ(other.WriteAt(0, bytes.data(), bytes.size(), done), 0);
  }
  reader.GetRecord(2);
  EXPECT_FALSE(reader.Eof());
  EXPECT_EQ(reader.RecordCount(), 2);
  EXPECT_EQ(reader.Buffer()[1], 'T');
}

// Every table among the fixtures opens with the record count its size gives and reads
// to its end, or is refused as a table whose header is invalid or of a kind named as not
// supported.
TEST(DbfFixtures, EveryFixtureOpensOrIsRefusedAsInvalid) {
  REQUIRE_SHARED();
  int opened = 0;
  for (const auto& path : fendral::test::FixtureFiles(".dbf")) {
    SCOPED_TRACE(path.string());
    try {
      KXO_dBaseDBF table(path.string(), false, true);
      ++opened;
      const int64_t size = static_cast<int64_t>(std::filesystem::file_size(path));
      EXPECT_EQ(table.RecordCount(), (size - table.HeaderLength()) / table.RecordLength());
      int read = 0;
      for (table.GetRecord(PosTop); !table.Eof(); table.GetRecord(PosNext)) ++read;
      EXPECT_EQ(read, table.RecordCount());
    } catch (const ETolvernError& e) {
      const std::string message = e.what();
      const bool expected = message.rfind("dBase DBF file header invalid - ", 0) == 0 ||
                            message.rfind("Table kind not supported - ", 0) == 0 ||
                            std::filesystem::file_size(path) < 32;
      EXPECT_TRUE(expected) << message;
    }
  }
  EXPECT_GT(opened, 300);
}

// Damaged headers: every byte of the first 32 set to 0x00 and to 0xFF, and the file cut
// at every 32nd byte of its header area. Opening either works (and then every record
// reads) or raises the engine's error; nothing else.
TEST(DbfFixtures, DamagedHeadersNeverCrash) {
  REQUIRE_SHARED();
  TempDir dir;
  const std::string scratch = dir.File("damaged.dbf");
  int variants = 0;
  auto tryOpen = [&](const std::vector<uint8_t>& bytes) {
    WriteBytes(scratch, bytes);
    ++variants;
    try {
      KXO_dBaseDBF table(scratch, false, false);
      int guard = 0;
      for (table.GetRecord(PosTop); !table.Eof() && guard < 8; table.GetRecord(PosNext))
        ++guard;
      table.GetRecord(PosBottom);
    } catch (const ETolvernError&) {
    }
  };
  for (const auto& path : fendral::test::FixtureFiles(".dbf")) {
    SCOPED_TRACE(path.string());
    auto original = ReadBytes(path);
    // Keep the damage cheap: the header and a few records are what is being tested.
    size_t headerArea = 4096;
    if (original.size() >= 12) headerArea = std::max<size_t>(33, ByteReader(original).U16LE(8));
    size_t recordLength = 0;
    if (original.size() >= 12) recordLength = ByteReader(original).U16LE(10);
    const size_t keep = std::min(original.size(), headerArea + 3 * recordLength + 1);
    original.resize(keep);
    for (size_t i = 0; i < 32 && i < original.size(); ++i) {
      for (uint8_t value : {uint8_t{0x00}, uint8_t{0xFF}}) {
        auto bytes = original;
        bytes[i] = value;
        tryOpen(bytes);
      }
    }
    for (size_t cut = 0; cut < std::min(original.size(), headerArea + 32); cut += 32) {
      tryOpen(std::vector<uint8_t>(original.begin(), original.begin() + cut));
    }
  }
  EXPECT_GT(variants, 10000);
}

}  // namespace
}  // namespace tolvern
