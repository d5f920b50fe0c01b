// Space of replaced and deleted tags. CDX files keep the pages a tag gave back on the free
// list of the directory header, where the engine's own writers take them again and no tag
// reaches them; a damaged list is never followed. MDX files squeeze the pages out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "kx6_DBF.h"
#include "kx6_build.h"
#include "kx6_bytes.h"
#include "kx6_cdx.h"
#include "kx6_dbsy.h"
#include "kx6_eror.h"
#include "kx6_fld.h"
#include "kx6_mdx.h"
#include "kx6_tool.h"
#include "test_support.h"

namespace tolvern {
namespace {

namespace fs = std::filesystem;
using fendral::test::FixturesDir;
using fendral::test::ReadBytes;
using fendral::test::RunCommand;
using fendral::test::SharedDir;
using fendral::test::TempDir;
using fendral::test::WriteBytes;
using Bytes = std::vector<uint8_t>;

// A table that keeps its index files current on every write, as the table handler does.
class KeptTable : public KXO_dBaseFld {
 public:
  explicit KeptTable(const std::string& name) : KXO_dBaseFld(name, true, false) {}
  std::vector<KXobjIndexFile*> indexes;
  bool RecordEvent(int event, int32_t number) override {
    const bool result = KXO_dBaseFld::RecordEvent(event, number);
    if (event == kEventAfterWrite)
      for (KXobjIndexFile* file : indexes) file->KeyUpdateAll(CurrentRecord(), number == 0);
    return result;
  }
};

std::string RandomWord(std::mt19937& rng, int length) {
  std::string word;
  for (int i = 0; i < length; ++i) word += static_cast<char>('A' + rng() % 26);
  return word;
}

void Append(KeptTable& table, std::mt19937& rng, int count) {
  for (int i = 0; i < count; ++i) {
    table.BlankRecord();
    table.PutFieldByName("NAME", RandomWord(rng, 4 + static_cast<int>(rng() % 14)));
    table.PutFieldByName("CITY", RandomWord(rng, 3 + static_cast<int>(rng() % 9)));
    table.PutNumberByName("AMOUNT", static_cast<double>(rng() % 200000) / 100.0 - 500.0);
    table.AppendRecord();
  }
}

// A dBase III (CDX) or dBase IV (MDX) table of `records` random rows.
std::string MakeTable(const TempDir& dir, const std::string& file, bool dbase4, int records) {
  const std::string path = dir.File(file);
  {
    std::unique_ptr<KXO_DBFBuild> builder =
        dbase4 ? std::make_unique<KXO_DB4Build>(path) : std::make_unique<KXO_DBFBuild>(path);
    builder->AddField("NAME", 'C', 20, 0);
    builder->AddField("CITY", 'C', 12, 0);
    builder->AddField("AMOUNT", 'N', 10, 2);
    builder->WriteTable();
  }
  KeptTable table(path);
  std::mt19937 rng(20261207);
  Append(table, rng, records);
  return path;
}

// --- an independent reading of a CDX file's pages -----------------------------------------

// The pages of one tree (header pages included) read from the file's bytes.
std::vector<uint32_t> CdxTreePages(const Bytes& file, uint32_t header) {
  const ByteReader in(file.data(), file.size());
  std::vector<uint32_t> pages{header, header + 512};
  const uint32_t keyLength = in.U16LE(header + 12);
  std::vector<uint32_t> pending{in.U32LE(header)};
  while (!pending.empty() && pages.size() < file.size() / 512 + 2) {
    const uint32_t page = pending.back();
    pending.pop_back();
    pages.push_back(page);
    if (page + 512 > file.size() || (in.U16LE(page) & 2) != 0) continue;
    for (uint32_t i = 0; i < in.U16LE(page + 2); ++i)
      pending.push_back(in.U32BE(page + 12 + i * (keyLength + 8) + keyLength + 4));
  }
  return pages;
}

// The free list from the directory header on; stops at a page seen before.
std::vector<uint32_t> CdxFreeList(const Bytes& file) {
  const ByteReader in(file.data(), file.size());
  std::vector<uint32_t> pages;
  std::set<uint32_t> seen;
  for (uint32_t page = in.U32LE(4);
       page != 0 && page + 512 <= file.size() && seen.insert(page).second; page = in.U32LE(page))
    pages.push_back(page);
  return pages;
}

// Every page lies in the file and belongs to one tree or to the free list, never two.
void ExpectPagesOwnedOnce(const std::string& path, KXobjCDXFile& file, bool freeListSound = true) {
  const Bytes bytes = ReadBytes(path);
  std::map<uint32_t, std::string> owner;
  const auto own = [&](uint32_t page, const std::string& who) {
    EXPECT_EQ(page % 512, 0u) << who;
    EXPECT_LE(page + 512, bytes.size()) << who;
    const auto [it, fresh] = owner.emplace(page, who);
    EXPECT_TRUE(fresh) << "page " << page << " of " << who << " also belongs to " << it->second;
  };
  for (uint32_t page : CdxTreePages(bytes, 0)) own(page, "the directory");
  for (int i = 0; i < file.TagCount(); ++i) {
    auto* tag = static_cast<KXobjCDXTag*>(file.TagAt(i));
    for (uint32_t page : CdxTreePages(bytes, static_cast<uint32_t>(tag->HeaderOffset())))
      own(page, "tag " + tag->TagName());
  }
  if (!freeListSound) return;
  for (uint32_t page : CdxFreeList(bytes)) own(page, "the free list");
}

// Walks every tag: as many keys as records (none has a FOR condition), in order.
void ExpectTagsWalk(KXobjIndexFile& file, int32_t records) {
  for (int i = 0; i < file.TagCount(); ++i) {
    KXobjIndexTag& tag = *file.TagAt(i);
    int32_t count = 0;
    std::string previous;
    bool ordered = true;
    for (int32_t recno = tag.Goto(PosTop); recno > 0 && count <= records;
         recno = tag.Goto(PosNext)) {
      ++count;
      const KXobjIndexKeyData& key = tag.CurrentKey();
      const std::string text(reinterpret_cast<const char*>(key.Data()),
                             static_cast<size_t>(key.IsEmpty() ? 0 : key.Length()));
      if (tag.KeyType() == 'C' && text < previous) ordered = false;
      previous = text;
    }
    tag.FreePath();
    EXPECT_EQ(count, records) << tag.TagName();
    EXPECT_TRUE(ordered) << tag.TagName();
  }
}

TEST(CdxSpace, ReplacedAndDeletedTagsGiveTheirPagesToTheWritersThatFollow) {
  TempDir dir;
  const std::string path = MakeTable(dir, "t.dbf", false, 3000);
  const std::string index = dir.File("t.cdx");
  KeptTable table(path);
  KXobjCDXFile file(&table, index, true, false, true, false);
  ASSERT_TRUE(file.Opened());
  table.indexes.push_back(&file);
  file.TagAdd("NAME", "NAME", "", true, false);
  file.TagAdd("AMOUNT", "AMOUNT", "", false, false);
  const auto before = fs::file_size(index);
  file.TagAdd("CITY", "CITY", "", true, false);
  const auto first = fs::file_size(index);
  for (int i = 0; i < 9; ++i) file.TagAdd("CITY", i % 2 ? "CITY" : "UPPER(CITY)", "", true, false);
  EXPECT_LE(fs::file_size(index), first + (first - before));
  EXPECT_TRUE(file.FreePages().size() < 3) << file.FreePages().size();
  ExpectPagesOwnedOnce(index, file);

  // A deleted tag's pages wait on the list, reachable from no tag.
  file.TagAdd("WIDE", "NAME+CITY+NAME", "", true, false);
  const auto wide = fs::file_size(index);
  ASSERT_EQ(file.TagDelete("WIDE"), 1);
  const size_t freed = file.FreePages().size();
  EXPECT_GT(freed, 20u);
  EXPECT_EQ(fs::file_size(index), wide);
  ExpectPagesOwnedOnce(index, file);

  // Appends split pages with them before the file grows; nothing is handed out twice.
  std::mt19937 rng(7);
  Append(table, rng, 2500);
  EXPECT_LT(file.FreePages().size(), freed);
  EXPECT_EQ(fs::file_size(index), wide);
  ExpectPagesOwnedOnce(index, file);
  ExpectTagsWalk(file, 5500);

  // Opened again, the list is read back and still used.
  table.indexes.clear();
  {
    KXobjCDXFile again(&table, index, false, false, true, false);
    ASSERT_EQ(again.TagCount(), 3);
    const std::vector<int32_t> list = again.FreePages();
    EXPECT_EQ(list.size(), file.FreePages().size());
    again.TagAdd("CITY2", "CITY", "", true, false);
    ExpectPagesOwnedOnce(index, again);
    ExpectTagsWalk(again, 5500);
  }
}

// A free list that loops, leaves the file or reaches a page a tag uses is never followed:
// the engine's writes go on with fresh pages (or stop with its error), never crash or hang,
// and every tag stays whole.
TEST(CdxSpace, ADamagedFreeListIsNeverFollowed) {
  TempDir dir;
  const std::string path = MakeTable(dir, "t.dbf", false, 200);
  const std::string index = dir.File("t.cdx");
  Bytes sound;
  uint32_t root = 0;
  {
    KeptTable table(path);
    KXobjCDXFile file(&table, index, true, false, true, false);
    file.TagAdd("NAME", "NAME", "", true, false);
    file.TagAdd("WIDE", "NAME+CITY+NAME", "", true, false);
    file.TagDelete("WIDE");
    ASSERT_GE(file.FreePages().size(), 3u);
    root = static_cast<KXobjCDXTag*>(file.TagAt(0))->Header().root;
  }
  sound = ReadBytes(index);
  const std::vector<uint32_t> list = CdxFreeList(sound);
  ASSERT_GE(list.size(), 3u);

  std::vector<std::pair<std::string, Bytes>> damaged;
  const auto with = [&](const std::string& what, size_t at, uint32_t value) {
    Bytes bytes = sound;
    ByteWriter(bytes.data(), bytes.size()).U32LE(at, value);
    damaged.emplace_back(what, bytes);
  };
  with("a loop on the first page", list[0], list[0]);
  with("a loop back to the first page", list[2], list[0]);
  with("a page past the end", list[1], static_cast<uint32_t>(sound.size()) + 512);
  with("a page inside another", list[1], list[1] + 100);
  with("a tag's root", list[1], root);
  with("the directory header", list[1], 512);
  with("the head on a tag's root", 4, root);
  // Every value of each byte of the head.
  for (size_t byte = 4; byte < 8; ++byte) {
    for (int value = 0; value < 256; ++value) {
      Bytes bytes = sound;
      bytes[byte] = static_cast<uint8_t>(value);
      damaged.emplace_back("head byte " + std::to_string(byte) + " = " + std::to_string(value),
                           bytes);
    }
  }

  const Bytes dbf = ReadBytes(path);
  size_t completed = 0;
  for (const auto& [what, bytes] : damaged) {
    SCOPED_TRACE(what);
    WriteBytes(path, dbf);
    WriteBytes(index, bytes);
    try {
      KeptTable table(path);
      KXobjCDXFile file(&table, index, false, false, true, false);
      table.indexes.push_back(&file);
      std::mt19937 rng(11);
      Append(table, rng, 60);
      file.TagAdd("CITY", "CITY", "", true, false);
      const bool listSound = CdxFreeList(ReadBytes(index)).size() == file.FreePages().size();
      ExpectPagesOwnedOnce(index, file, listSound);
      ExpectTagsWalk(file, 260);
      ++completed;
    } catch (const ETolvernError&) {
      // Refusing is fine; a crash, a hang or a page used twice is not.
    }
  }
  // A list that cannot be trusted counts as empty: the file stays usable.
  EXPECT_EQ(completed, damaged.size());
}

// --- MDX -------------------------------------------------------------------------------------

TEST(MdxSpace, ReplacedAndDeletedTagsLeaveNoDeadPages) {
  TempDir dir;
  const std::string path = MakeTable(dir, "t.dbf", true, 3000);
  const std::string index = dir.File("t.mdx");
  KeptTable table(path);
  {
    KXobjMDXFile file(&table, index, true, false, true, false);
    ASSERT_TRUE(file.Opened());
    file.TagAdd("NAME", "NAME", "", true, false);
    file.TagAdd("AMOUNT", "AMOUNT", "", false, false);
    const auto before = fs::file_size(index);
    file.TagAdd("CITY", "CITY", "", true, false);
    const auto first = fs::file_size(index);
    for (int i = 0; i < 9; ++i)
      file.TagAdd("CITY", i % 2 ? "CITY" : "UPPER(CITY)", "", true, false);
    EXPECT_LE(fs::file_size(index), first + (first - before));
    ExpectTagsWalk(file, 3000);

    // Deleting a tag gives its pages back at once; the other tags move down with their
    // pointers and read on.
    file.TagAdd("WIDE", "NAME+CITY+NAME", "", true, false);
    const auto wide = fs::file_size(index);
    ASSERT_EQ(file.TagDelete("WIDE"), 1);
    EXPECT_LT(fs::file_size(index), wide);
    EXPECT_LE(fs::file_size(index), first + (first - before));
    ExpectTagsWalk(file, 3000);
    table.indexes.push_back(&file);
    std::mt19937 rng(3);
    Append(table, rng, 700);
    ExpectTagsWalk(file, 3700);
    table.indexes.clear();
  }
  KXobjMDXFile again(&table, index, false, false, true, false);
  ASSERT_EQ(again.TagCount(), 3);
  const Bytes bytes = ReadBytes(index);
  EXPECT_EQ(ByteReader(bytes.data(), bytes.size()).U32LE(32) * 512u, bytes.size());
  ExpectTagsWalk(again, 3700);

  // Perl XBase reads every tag as the engine walks it.
  if (SharedDir().empty()) return;
  for (int i = 0; i < again.TagCount(); ++i) {
    KXobjIndexTag& tag = *again.TagAt(i);
    std::string out;
    ASSERT_EQ(RunCommand("perl " + (SharedDir() / "peers" / "dump_table.pl").string() +
                             " --index " + index + " --tag " + tag.TagName() + " " + path,
                         &out),
              0);
    std::vector<int32_t> theirs;
    for (size_t at = out.find("\"recno\":"); at != std::string::npos;
         at = out.find("\"recno\":", at + 1))
      theirs.push_back(std::stoi(out.substr(at + 8)));
    std::vector<int32_t> ours;
    for (int32_t recno = tag.Goto(PosTop); recno > 0; recno = tag.Goto(PosNext))
      ours.push_back(recno);
    tag.FreePath();
    if (tag.KeyType() == 'C') {
      EXPECT_EQ(theirs, ours) << tag.TagName();
    } else {
      EXPECT_EQ(theirs.size(), ours.size()) << tag.TagName();
    }
  }
}

// Deleting a tag while the table is walked in another order of the same file: the walk
// goes on from the record it was on, although the pages of that order moved.
TEST(IndexSpace, AWalkInOneOrderGoesOnAfterAnotherTagIsDeleted) {
  for (const char* index : {"t.cdx", "t.mdx"}) {
    SCOPED_TRACE(index);
    TempDir dir;
    const std::string path = MakeTable(dir, "t.dbf", true, 2000);
    std::vector<int32_t> whole;
    {
      KXO_dBHandler t(path, true, false);
      t.IndexOn(index, "AMOUNT", 0, true, "", "AMOUNT");
      t.IndexOn(index, "NAME", 0, true, "", "NAME");
      t.IndexOn(index, "CITY", 0, true, "", "CITY");
    }
    KXO_dBHandler t(path, true, false);
    ASSERT_EQ(t.OpenIndexFile(index), 0);
    t.SelectOrder("NAME", false);
    for (t.GetRecord(PosTop); !t.Eof(); t.GetRecord(PosNext)) whole.push_back(t.CurrentRecord());
    ASSERT_EQ(whole.size(), 2000u);
    std::vector<int32_t> walked;
    t.GetRecord(PosTop);
    for (int i = 0; i < 700 && !t.Eof(); ++i, t.GetRecord(PosNext))
      walked.push_back(t.CurrentRecord());
    ASSERT_EQ(t.DeleteTag(index, "AMOUNT"), 0);
    for (; !t.Eof(); t.GetRecord(PosNext)) walked.push_back(t.CurrentRecord());
    EXPECT_EQ(walked, whole);
  }
}

// A file another program wrote with dead pages on its free list: replacing a tag squeezes
// them out and clears the list, and the tags read as before.
TEST(MdxSpace, AFileWithAFreeListIsCompactedAndReadsAsBefore) {
  const fs::path from = FixturesDir() / "step7-plc/EXAMPLES/Zxx01_15/HOMSAVE7/S7HDPSSX";
  if (!fs::exists(from / "HRELATI1.MDX")) GTEST_SKIP() << "fixture not found";
  TempDir dir;
  for (const char* name : {"HRELATI1.DBF", "HRELATI1.MDX"})
    fs::copy_file(from / name, dir.Path() / name);
  const std::string path = dir.File("HRELATI1.DBF");
  const std::string index = dir.File("HRELATI1.MDX");
  ASSERT_NE(ByteReader(ReadBytes(index).data(), 64).U32LE(36), 0u);
  const auto walk = [&](KXobjIndexFile& file) {
    std::map<std::string, std::vector<std::pair<int32_t, std::string>>> keys;
    for (int i = 0; i < file.TagCount(); ++i) {
      KXobjIndexTag& tag = *file.TagAt(i);
      for (int32_t recno = tag.Goto(PosTop); recno > 0; recno = tag.Goto(PosNext))
        keys[tag.TagName()].emplace_back(recno, tag.CurrentKey().AsText());
      tag.FreePath();
    }
    return keys;
  };
  KXO_dBaseFld table(path, true, false);
  std::map<std::string, std::vector<std::pair<int32_t, std::string>>> before;
  {
    KXobjMDXFile file(&table, index, false, false, true, false);
    before = walk(file);
    const std::string keyExpr = file.TagByName("REL1_TAG")->KeyExprText();
    const std::string forExpr = file.TagByName("REL1_TAG")->ForExprText();
    file.TagAdd("REL1_TAG", keyExpr, forExpr, true, false);
  }
  const Bytes bytes = ReadBytes(index);
  const ByteReader in(bytes.data(), bytes.size());
  EXPECT_EQ(in.U32LE(36), 0u);
  EXPECT_EQ(in.U32LE(32) * 512u, bytes.size());
  EXPECT_LT(bytes.size(), 8192u);
  KXobjMDXFile file(&table, index, false, false, true, false);
  auto after = walk(file);
  // The tag that only moved reads exactly as before; the rebuilt one holds the same keys.
  EXPECT_EQ(after["REL2_TAG"], before["REL2_TAG"]);
  std::sort(after["REL1_TAG"].begin(), after["REL1_TAG"].end());
  std::sort(before["REL1_TAG"].begin(), before["REL1_TAG"].end());
  EXPECT_EQ(after["REL1_TAG"], before["REL1_TAG"]);
  EXPECT_FALSE(before["REL2_TAG"].empty());
}

}  // namespace
}  // namespace tolvern
