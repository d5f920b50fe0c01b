// The index checks of the table doctor: clean files give no finding, and each kind of
// damage made to a good file (a garbage page, a key removed or changed, a record changed
// behind the index's back, a duplicate in a unique tag, a looping child pointer) is named
// with its code and record, in every index format. Definitions read back from a file
// build it again byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "kx6_build.h"
#include "kx6_cdx.h"
#include "kx6_dbsy.h"
#include "kx6_eror.h"
#include "kx6_indx.h"
#include "kx6_mdx.h"
#include "kx6_tool.h"
#include "kx6_verify_index.h"
#include "test_support.h"

namespace tolvern {
namespace {

namespace fs = std::filesystem;
using fendral::test::ReadBytes;
using fendral::test::RunCommand;
using fendral::test::SharedDir;
using fendral::test::TempDir;
using fendral::test::WriteBytes;

constexpr int kRecords = 2000;

std::string Name(int i) {
  std::string name = "N";
  name += std::to_string(100000 + (i * 7919) % 100003);
  return name;
}

// NAME C 12 (distinct, not in record order), AMOUNT N 8 2, BORN D.
std::string MakeTable(const TempDir& dir, TkxIndexFormat format, int records = kRecords) {
  const std::string path = dir.File("people.dbf");
  {
    std::unique_ptr<KXO_DBFBuild> builder;
    if (format == TkxIndexFormat::kCdx) {
      builder = std::make_unique<KXO_DBFoxBuild>(path);
    } else if (format == TkxIndexFormat::kMdx) {
      builder = std::make_unique<KXO_DB4Build>(path);
    } else {
      builder = std::make_unique<KXO_DBFBuild>(path);
    }
    builder->AddField("NAME", 'C', 12, 0);
    builder->AddField("AMOUNT", 'N', 8, 2);
    builder->AddField("BORN", 'D', 8, 0);
    builder->WriteTable();
  }
  KXO_dBHandler t(path, true, false);
  for (int i = 1; i <= records; ++i) {
    t.BlankRecord();
    t.PutFieldByName("NAME", Name(i));
    t.PutNumberByName("AMOUNT", (i * 37) % 5000 / 10.0 - 100);
    t.PutFieldByName("BORN", std::to_string(1950 + i % 60) + "0" + std::to_string(1 + i % 9) + "1" +
                                 std::to_string(i % 9));
    t.AppendRecord();
  }
  return path;
}

const char* Ext(TkxIndexFormat format) {
  switch (format) {
    case TkxIndexFormat::kNdx:
      return ".ndx";
    case TkxIndexFormat::kNtx:
      return ".ntx";
    case TkxIndexFormat::kCdx:
      return ".cdx";
    default:
      return ".mdx";
  }
}

// The index file: NAME (unique when asked) and, in multi-tag files, AMOUNT descending,
// BORN and a FOR tag. Named apart from the table, so no production index opens with it.
std::string MakeIndex(const std::string& table, TkxIndexFormat format, bool unique = false) {
  const std::string path =
      (fs::path(table).parent_path() / (std::string("names") + Ext(format))).string();
  KXO_dBHandler t(table, true, false);
  t.IndexOn(path, "NAME", 0, !unique, "", "NAME");
  if (IsMultiTagFormat(format)) {
    t.IndexOn(path, "AMT", 1, true, "", "AMOUNT");
    t.IndexOn(path, "BORN", 0, true, "", "BORN");
    t.IndexOn(path, "SOME", 0, true, "AMOUNT > 0", "UPPER(NAME)");
  }
  return path;
}

std::vector<TkxFinding> Verify(const std::string& table, const std::string& index) {
  KXO_dBHandler t(table, false, true);
  std::vector<TkxFinding> found;
  VerifyIndexFile(
      t, index, [&](const TkxFinding& f) { found.push_back(f); }, nullptr);
  return found;
}

std::string Describe(const std::vector<TkxFinding>& found) {
  std::string out;
  for (const TkxFinding& f : found)
    out += f.tag + " " + f.code + " #" + std::to_string(f.recno) + ": " + f.detail + "\n";
  return out;
}

bool Has(const std::vector<TkxFinding>& found, const std::string& code, int64_t recno = -1,
         const std::string& tag = "") {
  return std::any_of(found.begin(), found.end(), [&](const TkxFinding& f) {
    return f.code == code && (recno < 0 || f.recno == recno) && (tag.empty() || f.tag == tag) &&
           f.part == "index";
  });
}

// A leaf page of tag `tagName` and the tag's root, as file offsets; and the file's block
// unit for page numbers.
struct Pages {
  int64_t leaf = 0;
  int64_t root = 0;
};

int64_t Unit(TkxIndexFormat format) {
  switch (format) {
    case TkxIndexFormat::kNdx:
      return 512;
    case TkxIndexFormat::kMdx:
      return 512;
    default:
      return 1;
  }
}

Pages FindPages(const std::string& table, const std::string& index, TkxIndexFormat format,
                const std::string& tagName) {
  KXO_dBHandler t(table, false, true);
  std::unique_ptr<KXobjIndexFile> file = MakeIndexFileOf(&t, index, false, false, true);
  KXobjIndexTag* tag = file->TagByName(tagName);
  if (!tag) tag = file->TagAt(0);
  tag->Goto(PosTop);
  // The middle of the order: a leaf that is neither first nor last.
  for (int i = 0; i < kRecords / 2; ++i) tag->Goto(PosNext);
  Pages pages;
  const KXobjIndexKey* node = tag->RootNode();
  pages.root = int64_t{node->PageNo()} * Unit(format);
  while (node->Child()) node = node->Child();
  pages.leaf = int64_t{node->PageNo()} * Unit(format);
  return pages;
}

void Overwrite(const std::string& path, int64_t at, const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> all = ReadBytes(path);
  ASSERT_LE(static_cast<size_t>(at) + bytes.size(), all.size());
  std::copy(bytes.begin(), bytes.end(), all.begin() + at);
  WriteBytes(path, all);
}

// Works on the open tag with the table on `recno`.
template <typename Work>
void WithTag(const std::string& table, const std::string& index, const std::string& tagName,
             int32_t recno, Work work) {
  KXO_dBHandler t(table, true, false);
  std::unique_ptr<KXobjIndexFile> file = MakeIndexFileOf(&t, index, false, true, false);
  KXobjIndexTag* tag = file->TagByName(tagName);
  if (!tag) tag = file->TagAt(0);
  t.KXO_dBaseFld::GetRecord(recno);
  work(*tag);
  tag->FreePath();
}

class VerifyIndex : public testing::TestWithParam<TkxIndexFormat> {
 protected:
  // The tag findings name: a single-tag file's tag is its base name.
  std::string Tag(const std::string& name) const {
    return IsMultiTagFormat(GetParam()) ? name : "NAMES";
  }
  void SetUp() override {
    table_ = MakeTable(dir_, GetParam());
    index_ = MakeIndex(table_, GetParam());
  }
  TempDir dir_;
  std::string table_;
  std::string index_;
};

TEST_P(VerifyIndex, AGoodFileHasNoFinding) {
  const std::vector<TkxFinding> found = Verify(table_, index_);
  EXPECT_TRUE(found.empty()) << Describe(found);
}

TEST_P(VerifyIndex, ARemovedKeyIsMissingAndAChangedKeyStale) {
  WithTag(table_, index_, "NAME", 23, [](KXobjIndexTag& tag) {
    tag.SyncToRecord(23);
    ASSERT_EQ(tag.CurrentRecord(), 23);
    tag.DeleteCurrentKey();
  });
  WithTag(table_, index_, "NAME", 31, [](KXobjIndexTag& tag) {
    tag.SyncToRecord(31);
    ASSERT_EQ(tag.CurrentRecord(), 31);
    tag.DeleteCurrentKey();
    KXobjIndexKeyData key(64);
    key.SetText("ZZ-CHANGED");
    tag.KeyAdjust(key);
    key.SetReference(31);
    key.SetKeyRecNo(31);
    ASSERT_TRUE(tag.KeyAdd(key));
  });
  const std::vector<TkxFinding> found = Verify(table_, index_);
  EXPECT_TRUE(Has(found, "missing-key", 23, Tag("NAME"))) << Describe(found);
  EXPECT_TRUE(Has(found, "stale-key", 31, Tag("NAME"))) << Describe(found);
  EXPECT_EQ(found.size(), 2u) << Describe(found);
}

TEST_P(VerifyIndex, ARecordChangedWithNoIndexOpenLeavesAStaleKey) {
  {
    KXO_dBaseFld t(table_, true, false);
    t.GetRecord(17);
    t.PutFieldByName("NAME", "AAA-CHANGED");
    t.PutNumberByName("AMOUNT", 1.5);
    t.PutRecord(17);
    // Record 100's amount was above zero: its key in the FOR tag is one too many now.
    t.GetRecord(100);
    t.PutNumberByName("AMOUNT", -5);
    t.PutRecord(100);
  }
  const std::vector<TkxFinding> found = Verify(table_, index_);
  EXPECT_TRUE(Has(found, "stale-key", 17, Tag("NAME"))) << Describe(found);
  if (IsMultiTagFormat(GetParam())) {
    EXPECT_TRUE(Has(found, "stale-key", 17, "AMT")) << Describe(found);
    // Record 17's old amount was below zero: the FOR tag lacks its key now.
    EXPECT_TRUE(Has(found, "missing-key", 17, "SOME")) << Describe(found);
    EXPECT_TRUE(Has(found, "extra-key", 100, "SOME")) << Describe(found);
    EXPECT_TRUE(Has(found, "stale-key", 100, "AMT")) << Describe(found);
  }
}

TEST_P(VerifyIndex, ADuplicateInAUniqueTagIsNamed) {
  // Records 40 and 41 get one name; the tag is built keeping both, then marked unique.
  {
    KXO_dBaseFld t(table_, true, false);
    t.GetRecord(40);
    const std::string name = TrimRight(t.GetFieldByName("NAME"));
    t.GetRecord(41);
    t.PutFieldByName("NAME", name);
    t.PutRecord(41);
  }
  fs::remove(index_);
  index_ = MakeIndex(table_, GetParam());
  int64_t at = 0;
  uint8_t bit = 1;
  {
    KXO_dBHandler t(table_, false, true);
    std::unique_ptr<KXobjIndexFile> file = MakeIndexFileOf(&t, index_, false, false, true);
    KXobjIndexTag* tag = file->TagByName("NAME");
    switch (GetParam()) {
      case TkxIndexFormat::kNdx:
        at = 23;
        break;
      case TkxIndexFormat::kNtx:
        at = 278;
        break;
      case TkxIndexFormat::kCdx:
        at = static_cast<KXobjCDXTag*>(tag)->HeaderOffset() + 14;
        break;
      default:
        at = int64_t{tag->HeaderPage()} * 512 + 23;
        bit = 0x40;
        break;
    }
  }
  std::vector<uint8_t> all = ReadBytes(index_);
  all[static_cast<size_t>(at)] |= bit;
  if (GetParam() == TkxIndexFormat::kMdx) all[static_cast<size_t>(at) - 15] |= 0x40;
  WriteBytes(index_, all);
  const std::vector<TkxFinding> found = Verify(table_, index_);
  EXPECT_TRUE(Has(found, "duplicate-key", 41, Tag("NAME"))) << Describe(found);
}

TEST_P(VerifyIndex, AGarbagePageIsReportedWithoutAFloodOfMissingKeys) {
  const Pages pages = FindPages(table_, index_, GetParam(), "NAME");
  ASSERT_NE(pages.leaf, pages.root);
  Overwrite(index_, pages.leaf, std::vector<uint8_t>(512, 0xAB));
  const std::vector<TkxFinding> found = Verify(table_, index_);
  EXPECT_TRUE(Has(found, "bad-page", 0, Tag("NAME")) ||
              Has(found, "page-out-of-bounds", 0, Tag("NAME")))
      << Describe(found);
  EXPECT_FALSE(Has(found, "missing-key")) << Describe(found);
  EXPECT_TRUE(Has(found, "keys-unknown", 0, Tag("NAME"))) << Describe(found);
  EXPECT_LT(found.size(), 20u) << Describe(found);
}

TEST_P(VerifyIndex, AChildPointerBackToTheRootEndsAsAFinding) {
  const TkxIndexFormat format = GetParam();
  const Pages pages = FindPages(table_, index_, format, "NAME");
  std::vector<uint8_t> all = ReadBytes(index_);
  const auto root = static_cast<size_t>(pages.root);
  auto put32 = [&](size_t at, uint32_t v, bool bigEndian) {
    for (int i = 0; i < 4; ++i)
      all[at + static_cast<size_t>(i)] =
          static_cast<uint8_t>(v >> (bigEndian ? 24 - 8 * i : 8 * i));
  };
  switch (format) {
    case TkxIndexFormat::kNtx: {
      // The first entry's child pointer.
      const size_t first = all[root + 2] | (all[root + 3] << 8);
      put32(root + first, static_cast<uint32_t>(pages.root), false);
      break;
    }
    case TkxIndexFormat::kNdx:
      put32(root + 4, static_cast<uint32_t>(pages.root / 512), false);
      break;
    case TkxIndexFormat::kCdx: {
      // Branch entries: key, record and child (both high byte first).
      KXO_dBHandler t(table_, false, true);
      std::unique_ptr<KXobjIndexFile> file = MakeIndexFileOf(&t, index_, false, false, true);
      const size_t keyLength = static_cast<size_t>(file->TagByName("NAME")->KeyLength());
      put32(root + 12 + keyLength + 4, static_cast<uint32_t>(pages.root), true);
      break;
    }
    default:
      put32(root + 8, static_cast<uint32_t>(pages.root / 512), false);
      break;
  }
  WriteBytes(index_, all);
  const std::vector<TkxFinding> found = Verify(table_, index_);
  EXPECT_TRUE(Has(found, "child-link", 0, Tag("NAME"))) << Describe(found);
}

TEST_P(VerifyIndex, DefinitionsBuildTheSameFileAgain) {
  const TkxIndexDefinitions definitions = ReadIndexDefinitions(index_);
  EXPECT_EQ(definitions.format, GetParam());
  const size_t tags = IsMultiTagFormat(GetParam()) ? 4 : 1;
  ASSERT_EQ(definitions.tags.size(), tags);
  if (tags == 4) {
    EXPECT_EQ(definitions.tags[1].name, "AMT");
    EXPECT_TRUE(definitions.tags[1].descending);
    EXPECT_EQ(definitions.tags[3].forExpr, "AMOUNT > 0");
  }
  // Built under a name without the format's extension, as a caller replacing a file does.
  const std::string made = dir_.File("rebuilt.new");
  {
    KXO_dBHandler t(table_, true, false);
    BuildIndexFromDefinitions(t, definitions, made, nullptr);
  }
  ASSERT_TRUE(fs::exists(made));
  const std::string rebuilt = dir_.File(std::string("names2") + Ext(GetParam()));
  fs::rename(made, rebuilt);
  EXPECT_TRUE(Verify(table_, rebuilt).empty()) << Describe(Verify(table_, rebuilt));
  EXPECT_TRUE(ReadBytes(rebuilt) == ReadBytes(index_));
}

TEST_P(VerifyIndex, ADamagedTagHeaderLeavesTheOtherTagsChecked) {
  if (!IsMultiTagFormat(GetParam())) GTEST_SKIP() << "one tag per file";
  int64_t header = 0;
  {
    KXO_dBHandler t(table_, false, true);
    std::unique_ptr<KXobjIndexFile> file = MakeIndexFileOf(&t, index_, false, false, true);
    KXobjIndexTag* tag = file->TagByName("AMT");
    header = GetParam() == TkxIndexFormat::kCdx ? static_cast<KXobjCDXTag*>(tag)->HeaderOffset()
                                                : int64_t{tag->HeaderPage()} * 512;
  }
  Overwrite(index_, header, std::vector<uint8_t>(512, 0xAB));
  {
    KXO_dBaseFld t(table_, true, false);
    t.GetRecord(17);
    t.PutFieldByName("NAME", "AAA-CHANGED");
    t.PutRecord(17);
  }
  const std::vector<TkxFinding> found = Verify(table_, index_);
  EXPECT_TRUE(Has(found, "tag-header", 0, "AMT")) << Describe(found);
  EXPECT_TRUE(Has(found, "stale-key", 17, "NAME")) << Describe(found);
  const TkxIndexDefinitions definitions = ReadIndexDefinitions(index_);
  std::vector<std::string> names;
  for (const TkxTagDefinition& tag : definitions.tags) names.push_back(tag.name);
  EXPECT_EQ(names, (std::vector<std::string>{"NAME", "BORN", "SOME"}));
}

TEST_P(VerifyIndex, ADefinitionTheTableCannotUseIsRefusedByName) {
  TkxIndexDefinitions definitions = ReadIndexDefinitions(index_);
  definitions.tags.back().key = "NOSUCHFIELD + NAME";
  const std::string target = dir_.File(std::string("refused") + Ext(GetParam()));
  KXO_dBHandler t(table_, true, false);
  try {
    BuildIndexFromDefinitions(t, definitions, target, nullptr);
    ADD_FAILURE() << "built with a key the table cannot evaluate";
  } catch (const ETolvernError& e) {
    EXPECT_NE(std::string(e.what()).find(definitions.tags.back().name), std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(fs::exists(target));
}

TEST_P(VerifyIndex, ACancelledCheckStops) {
  struct StopAtOnce : TkxProgress {
    void Start(int32_t kind, int64_t) override { this->kind = kind; }
    bool Step(int64_t) override { return false; }
    void Finish() override {}
    int32_t kind = 0;
  } stop;
  KXO_dBHandler t(table_, false, true);
  EXPECT_THROW(VerifyIndexFile(
                   t, index_, [](const TkxFinding&) {}, &stop),
               ETolvernCancelled);
  EXPECT_EQ(stop.kind, kStatusVerify);
}

INSTANTIATE_TEST_SUITE_P(Formats, VerifyIndex,
                         testing::Values(TkxIndexFormat::kNtx, TkxIndexFormat::kNdx,
                                         TkxIndexFormat::kCdx, TkxIndexFormat::kMdx),
                         [](const testing::TestParamInfo<TkxIndexFormat>& info) {
                           return std::string(Ext(info.param) + 1);
                         });

TEST(VerifyIndexExtra, KeysPastTheTableAreExtra) {
  TempDir dir;
  const std::string table = MakeTable(dir, TkxIndexFormat::kCdx);
  const std::string index = MakeIndex(table, TkxIndexFormat::kCdx);
  {
    // The table loses its last ten records behind the index's back.
    // Records of 29 bytes and the end-of-file mark.
    fs::resize_file(table, fs::file_size(table) - 1 - 10 * 29);
  }
  const std::vector<TkxFinding> found = Verify(table, index);
  EXPECT_TRUE(Has(found, "extra-key", kRecords, "NAME")) << Describe(found);
  EXPECT_TRUE(Has(found, "extra-key", kRecords - 9, "BORN")) << Describe(found);
}

TEST(VerifyIndexExtra, RebuiltFilesPassTheLegacyCheck) {
  REQUIRE_SHARED();
  for (TkxIndexFormat format : {TkxIndexFormat::kNtx, TkxIndexFormat::kCdx}) {
    TempDir dir;
    const std::string table = MakeTable(dir, format);
    const std::string index = MakeIndex(table, format);
    const std::string rebuilt = dir.File(std::string("again") + Ext(format));
    {
      KXO_dBHandler t(table, true, false);
      BuildIndexFromDefinitions(t, ReadIndexDefinitions(index), rebuilt, nullptr);
    }
    const std::string driver = format == TkxIndexFormat::kNtx ? "DBFNTX" : "DBFCDX";
    for (const TkxTagDefinition& tag : ReadIndexDefinitions(rebuilt).tags) {
      std::string report;
      const int status =
          RunCommand("'" + (SharedDir() / "peers/bin/hb-verify").string() + "' '" + table + "' '" +
                         rebuilt + "' " + (format == TkxIndexFormat::kNtx ? "" : tag.name) +
                         " --rdd=" + driver + " --check --nowalk 2>&1",
                     &report);
      EXPECT_EQ(status, 0) << tag.name << ": " << report;
    }
  }
}

}  // namespace
}  // namespace tolvern

namespace tolvern {
namespace {

using fendral::test::FixtureFiles;
using fendral::test::FixturesDir;

// The files the legacy program wrote and read back cleanly: no error in any of them.
TEST(VerifyIndexFixtures, FilesThePeerWroteAreClean) {
  REQUIRE_SHARED();
  const fs::path folder = FixturesDir() / "peer-harbour";
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"fox.dbf", "fox.cdx"},          {"fox.dbf", "foxext.cdx"},
      {"fox32.dbf", "fox32.cdx"},      {"foxstd.dbf", "foxstd.cdx"},
      {"big.dbf", "big.cdx"},          {"big.dbf", "big_name.ntx"},
      {"clip.dbf", "clip_name.ntx"},   {"clip.dbf", "clip_amount.ntx"},
      {"clip.dbf", "clip_qty.ntx"},    {"clip.dbf", "clip_born.ntx"},
      {"clip.dbf", "clip_nmborn.ntx"}, {"clip.dbf", "clip_cityu.ntx"},
      {"clip.dbf", "clip_amtd.ntx"},   {"clip.dbf", "clip_actfor.ntx"},
      {"clip.dbf", "clip_active.ntx"}, {"clip.dbf", "clip_cityam.ntx"}};
  for (const auto& [table, index] : pairs) {
    const std::vector<TkxFinding> found =
        Verify((folder / table).string(), (folder / index).string());
    EXPECT_TRUE(found.empty()) << index << ":\n" << Describe(found);
  }
}

// Every index fixture against every table beside it: the check ends, with findings or
// none, and never with an exception.
TEST(VerifyIndexFixtures, EveryFixtureIsCheckedToTheEnd) {
  REQUIRE_SHARED();
  std::vector<fs::path> indexes;
  for (const char* ext : {".ntx", ".ndx", ".cdx", ".mdx"})
    for (const fs::path& p : FixtureFiles(ext)) indexes.push_back(p);
  ASSERT_FALSE(indexes.empty());
  size_t checked = 0;
  for (const fs::path& index : indexes) {
    for (const fs::directory_entry& entry : fs::directory_iterator(index.parent_path())) {
      std::string ext = entry.path().extension().string();
      std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
      if (ext != ".dbf") continue;
      std::unique_ptr<KXO_dBHandler> t;
      try {
        t = std::make_unique<KXO_dBHandler>(entry.path().string(), false, true);
      } catch (const std::exception&) {
        continue;  // a table that does not open today
      }
      size_t findings = 0;
      EXPECT_NO_THROW(VerifyIndexFile(
          *t, index.string(),
          [&](const TkxFinding& f) {
            ++findings;
            EXPECT_EQ(f.part, "index");
            EXPECT_FALSE(f.code.empty());
          },
          nullptr))
          << index << " with " << entry.path();
      ++checked;
    }
  }
  EXPECT_GT(checked, 0u);
}

}  // namespace
}  // namespace tolvern

namespace tolvern {
namespace {

TEST(VerifyIndexCap, MoreThanAHundredFindingsOfOneKindEndInACount) {
  TempDir dir;
  const std::string table = MakeTable(dir, TkxIndexFormat::kNtx);
  const std::string index = MakeIndex(table, TkxIndexFormat::kNtx);
  {
    KXO_dBaseFld t(table, true, false);
    for (int32_t r = 1; r <= 150; ++r) {
      t.GetRecord(r);
      t.PutFieldByName("NAME", "CHANGED" + std::to_string(r));
      t.PutRecord(r);
    }
  }
  const std::vector<TkxFinding> found = Verify(table, index);
  const auto stale = std::count_if(found.begin(), found.end(),
                                   [](const TkxFinding& f) { return f.code == "stale-key"; });
  EXPECT_EQ(stale, 101) << Describe(found);
  EXPECT_EQ(found.back().code, "stale-key");
  EXPECT_EQ(found.back().recno, 0);
  EXPECT_NE(found.back().detail.find("50 more"), std::string::npos) << found.back().detail;
}

}  // namespace
}  // namespace tolvern

namespace tolvern {
namespace {

// Every byte of a small file of each format overwritten in turn (the first kilobyte whole,
// then every 29th): the check ends with findings or none, never with an exception.
TEST(VerifyIndexDamage, EveryDamagedByteEndsInFindings) {
  for (TkxIndexFormat format :
       {TkxIndexFormat::kNtx, TkxIndexFormat::kNdx, TkxIndexFormat::kCdx, TkxIndexFormat::kMdx}) {
    TempDir dir;
    const std::string table = MakeTable(dir, format, 300);
    const std::string index = MakeIndex(table, format);
    const std::vector<uint8_t> original = ReadBytes(index);
    KXO_dBHandler t(table, false, true);
    size_t runs = 0;
    for (size_t at = 0; at < original.size(); at += at < 1024 ? 1 : 29) {
      for (uint8_t value : {uint8_t{0xFF}, uint8_t{0x00}}) {
        if (original[at] == value) continue;
        std::vector<uint8_t> damaged = original;
        damaged[at] = value;
        WriteBytes(index, damaged);
        EXPECT_NO_THROW(VerifyIndexFile(
            t, index, [](const TkxFinding&) {}, nullptr))
            << Ext(format) << " byte " << at << " = " << int{value};
        ++runs;
      }
    }
    EXPECT_GT(runs, 900u) << Ext(format);
  }
}

}  // namespace
}  // namespace tolvern

namespace tolvern {
namespace {

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

// CDX leaves are linked left and right; the free list starts in the directory's header.
TEST(VerifyIndexCdx, SiblingLinksAndTheFreeListAreChecked) {
  TempDir dir;
  const std::string table = MakeTable(dir, TkxIndexFormat::kCdx);
  const std::string index = MakeIndex(table, TkxIndexFormat::kCdx);
  const Pages pages = FindPages(table, index, TkxIndexFormat::kCdx, "NAME");
  std::vector<uint8_t> all = ReadBytes(index);
  const std::vector<uint8_t> original = all;
  // The leaf's right sibling is the leaf itself.
  Put32(all, static_cast<size_t>(pages.leaf) + 8, static_cast<uint32_t>(pages.leaf));
  WriteBytes(index, all);
  std::vector<TkxFinding> found = Verify(table, index);
  EXPECT_TRUE(Has(found, "sibling-link", 0, "NAME")) << Describe(found);
  EXPECT_EQ(found.size(), 1u) << Describe(found);

  // The free list names the tag's root page.
  all = original;
  Put32(all, 4, static_cast<uint32_t>(pages.root));
  WriteBytes(index, all);
  found = Verify(table, index);
  EXPECT_TRUE(Has(found, "free-list")) << Describe(found);
}

}  // namespace
}  // namespace tolvern

namespace tolvern {
namespace {

bool operator==(const TkxTagDefinition& a, const TkxTagDefinition& b) {
  return a.name == b.name && a.key == b.key && a.forExpr == b.forExpr && a.unique == b.unique &&
         a.descending == b.descending && a.generalCollation == b.generalCollation;
}

// The legacy program's files (descending, unique and FOR tags among them): their
// definitions build files that hold the same definitions and check clean.
TEST(VerifyIndexFixtures, DefinitionsOfThePeersFilesBuildCleanFiles) {
  REQUIRE_SHARED();
  const fs::path folder = FixturesDir() / "peer-harbour";
  TempDir dir;
  for (const char* name : {"fox.dbf", "fox.fpt", "clip.dbf", "clip.dbt"})
    fs::copy_file(folder / name, dir.Path() / name);
  const std::vector<std::pair<std::string, std::string>> pairs = {{"fox.dbf", "fox.cdx"},
                                                                  {"fox.dbf", "foxext.cdx"},
                                                                  {"clip.dbf", "clip_amtd.ntx"},
                                                                  {"clip.dbf", "clip_cityu.ntx"},
                                                                  {"clip.dbf", "clip_actfor.ntx"}};
  for (const auto& [table, index] : pairs) {
    const TkxIndexDefinitions definitions = ReadIndexDefinitions((folder / index).string());
    const std::string rebuilt = dir.File("again" + fs::path(index).extension().string());
    {
      KXO_dBHandler t(dir.File(table), true, false);
      BuildIndexFromDefinitions(t, definitions, rebuilt, nullptr);
    }
    const TkxIndexDefinitions again = ReadIndexDefinitions(rebuilt);
    ASSERT_EQ(again.tags.size(), definitions.tags.size()) << index;
    for (size_t i = 0; i < again.tags.size(); ++i) {
      TkxTagDefinition expected = definitions.tags[i];
      if (!IsMultiTagFormat(definitions.format)) expected.name = "AGAIN";
      EXPECT_TRUE(again.tags[i] == expected) << index << " tag " << expected.name;
    }
    const std::vector<TkxFinding> found = Verify(dir.File(table), rebuilt);
    EXPECT_TRUE(found.empty()) << index << ":\n" << Describe(found);
    fs::remove(rebuilt);
  }
}

}  // namespace
}  // namespace tolvern

namespace tolvern {
namespace {

// NDX and MDX files take new pages from the header's next free page: one inside the tree
// would overwrite it.
TEST(VerifyIndexNextFree, ANextFreePageInsideTheTreeIsNamed) {
  for (TkxIndexFormat format : {TkxIndexFormat::kNdx, TkxIndexFormat::kMdx}) {
    TempDir dir;
    const std::string table = MakeTable(dir, format);
    const std::string index = MakeIndex(table, format);
    std::vector<uint8_t> all = ReadBytes(index);
    Put32(all, format == TkxIndexFormat::kNdx ? 4 : 32, 2);
    WriteBytes(index, all);
    const std::vector<TkxFinding> found = Verify(table, index);
    EXPECT_TRUE(Has(found, "free-list")) << Ext(format) << "\n" << Describe(found);
  }
}

}  // namespace
}  // namespace tolvern
