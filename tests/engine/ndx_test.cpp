// The NDX layout: header fields and sizes, key forms, page splits, damaged headers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kx6_Date.h"
#include "kx6_build.h"
#include "kx6_bytes.h"
#include "kx6_eror.h"
#include "kx6_fld.h"
#include "kx6_glbl.h"
#include "kx6_indx.h"
#include "kx6_ndx.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::ReadBytes;
using fendral::test::TempDir;
using fendral::test::WriteBytes;

// A table with one field of each kind and `count` records made by `fill`.
std::string MakeTable(const TempDir& dir, int count,
                      const std::function<void(KXO_dBaseFld&, int)>& fill) {
  const std::string path = dir.File("t.dbf");
  {
    KXO_DBFBuild build(path);
    build.AddField("NAME", 'C', 10, 0);
    build.AddField("QTY", 'N', 6, 0);
    build.AddField("BORN", 'D', 8, 0);
    build.WriteTable();
  }
  KXO_dBaseFld table(path, true, false);
  for (int i = 1; i <= count; ++i) {
    table.BlankRecord();
    fill(table, i);
    table.AppendRecord();
  }
  return path;
}

std::vector<int32_t> Records(KXobjIndexTag& tag) {
  std::vector<int32_t> out;
  for (int32_t recno = tag.Goto(PosTop); !tag.Eof() && out.size() < 10000;
       recno = tag.Goto(PosNext))
    out.push_back(recno);
  return out;
}

struct Header {
  int32_t root, next, keyLength, maxKeys, keyType, entrySize, unique;
  std::string expression;
};

Header ReadHeader(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  const ByteReader r(bytes.data(), bytes.size());
  const std::string text = r.Text(24, 488);
  return {r.I32LE(0),  r.I32LE(4),  r.U16LE(12),  r.U16LE(14),
          r.U16LE(16), r.U16LE(18), r.U8(23) & 1, text.substr(0, text.find('\0'))};
}

TEST(NdxFile, EmptyTablesGiveAHeaderAndOneEmptyLeafSizedByTheKey) {
  TempDir dir;
  const std::string table = MakeTable(dir, 0, [](KXO_dBaseFld&, int) {});
  KXO_dBaseFld t(table, true, false);
  struct Case {
    const char* key;
    int keyLength, keyType, entrySize, maxKeys;
  };
  for (const Case& c : {Case{"NAME", 10, 0, 20, 25}, Case{"QTY", 8, 1, 20, 25},
                        Case{"BORN", 8, 1, 16, 31}, Case{"NAME+NAME", 20, 0, 28, 18}}) {
    const std::string path = dir.File("e.ndx");
    {
      KXobjNDXFile index(&t, path, true, true, true, false);
      index.TagAdd("E", c.key, "", true, c.keyType == 0);
    }
    EXPECT_EQ(ReadBytes(path).size(), 1024u) << c.key;
    const Header h = ReadHeader(path);
    EXPECT_EQ(h.root, 1) << c.key;
    EXPECT_EQ(h.next, 2) << c.key;
    EXPECT_EQ(h.keyLength, c.keyLength) << c.key;
    EXPECT_EQ(h.keyType, c.keyType) << c.key;
    EXPECT_EQ(h.entrySize, c.entrySize) << c.key;
    EXPECT_EQ(h.maxKeys, c.maxKeys) << c.key;
    EXPECT_EQ(h.unique, c.keyType == 0 ? 1 : 0) << c.key;
    EXPECT_EQ(h.expression, c.key);
  }
}

TEST(NdxFile, NumbersAndDatesAreStoredAsDoublesWithTheEmptyDateLast) {
  TempDir dir;
  const std::vector<std::string> dates = {"20200105", "", "19991231", "20200104", ""};
  const std::string table = MakeTable(dir, 5, [&](KXO_dBaseFld& t, int i) {
    t.PutNumberByName("QTY", 10 - 3 * i);
    if (!dates[i - 1].empty()) t.PutFieldByName("BORN", dates[i - 1]);
  });
  KXO_dBaseFld t(table, true, false);
  KXobjNDXFile born(&t, dir.File("born.ndx"), true, true, true, false);
  born.TagAdd("BORN", "BORN", "", true, false);
  EXPECT_EQ(born.TagAt(0)->KeyType(), 'D');
  EXPECT_EQ(Records(*born.TagAt(0)), (std::vector<int32_t>{3, 4, 1, 2, 5}));
  KXobjNDXFile qty(&t, dir.File("qty.ndx"), true, true, true, false);
  qty.TagAdd("QTY", "QTY", "", true, false);
  EXPECT_EQ(Records(*qty.TagAt(0)), (std::vector<int32_t>{5, 4, 3, 2, 1}));

  // The leaf (page 1) holds entries of 16 bytes: child, record, the day as a double.
  const std::vector<uint8_t> bytes = ReadBytes(dir.File("born.ndx"));
  const ByteReader page(bytes.data() + 512, 512);
  EXPECT_EQ(page.U32LE(0), 5u);
  EXPECT_EQ(page.U32LE(8), 3u);
  EXPECT_EQ(page.F64LE(12), GlobalDateConverter().TextToDay("19991231"));
  EXPECT_EQ(page.F64LE(4 + 4 * 16 + 8), 1.0E100);

  // Seeks take the text forms of the table handler.
  t.SetExactMatch(true);
  KXobjIndexKeyData key(256);
  key.SetText("20200104");
  key.SetReference(kSearchAnyRecord);
  EXPECT_EQ(born.TagAt(0)->Seek(key), 4);
  key.SetText("-2");
  EXPECT_EQ(qty.TagAt(0)->Seek(key), 4);
}

TEST(NdxFile, TheTwentySixthKeySplitsAFullLeafInHalves) {
  TempDir dir;
  const std::string table =
      MakeTable(dir, 25, [](KXO_dBaseFld& t, int i) { t.PutNumberByName("QTY", i); });
  KXO_dBaseFld t(table, true, false);
  const std::string path = dir.File("qty.ndx");
  KXobjNDXFile index(&t, path, true, true, true, false);
  index.TagAdd("QTY", "QTY", "", true, false);
  ASSERT_EQ(ReadHeader(path).root, 1);
  KXobjIndexKeyData key(256);
  key.SetFloat(26);
  key.SetReference(26);
  ASSERT_TRUE(index.TagAt(0)->KeyAdd(key));

  const std::vector<uint8_t> bytes = ReadBytes(path);
  const Header h = ReadHeader(path);
  ASSERT_EQ(h.root, 3);  // the new page 2 took the first half, then the new root
  EXPECT_EQ(h.next, 4);
  const ByteReader root(bytes.data() + 3 * 512, 512);
  EXPECT_EQ(root.U32LE(0), 1u);  // one key and the pointer-only entry
  EXPECT_EQ(root.U32LE(4), 2u);  // the first half, before the old page
  EXPECT_EQ(root.U32LE(4 + 20), 1u);
  EXPECT_EQ(root.F64LE(12), 13.0);  // the last key of the first half
  EXPECT_EQ(ByteReader(bytes.data() + 2 * 512, 512).U32LE(0), 13u);
  EXPECT_EQ(ByteReader(bytes.data() + 512, 512).U32LE(0), 13u);
  std::vector<int32_t> expected;
  for (int32_t i = 1; i <= 26; ++i) expected.push_back(i);
  EXPECT_EQ(Records(*index.TagAt(0)), expected);
}

TEST(NdxFile, HeadersThatCannotDescribeAPageAreRefused) {
  TempDir dir;
  const std::string table = MakeTable(dir, 3, [](KXO_dBaseFld& t, int i) {
    t.PutFieldByName("NAME", std::string(1, static_cast<char>('A' + i)));
  });
  KXO_dBaseFld t(table, true, false);
  const std::string path = dir.File("n.ndx");
  {
    KXobjNDXFile index(&t, path, true, true, true, false);
    index.TagAdd("N", "NAME", "", true, false);
  }
  const std::vector<uint8_t> good = ReadBytes(path);
  struct Damage {
    size_t offset;
    uint16_t value;
  };
  for (const Damage& d : {Damage{12, 0}, Damage{12, 600}, Damage{14, 40}, Damage{18, 4},
                          Damage{0, 7}, Damage{0, 0}}) {
    std::vector<uint8_t> bytes = good;
    ByteWriter(bytes.data(), bytes.size()).U16LE(d.offset, d.value);
    WriteBytes(path, bytes);
    EXPECT_THROW(
        {
          KXobjNDXFile index(&t, path, false, false, true, false);
          Records(*index.TagAt(0));
        },
        ETolvernError)
        << "offset " << d.offset << " value " << d.value;
  }
}

}  // namespace
}  // namespace tolvern
