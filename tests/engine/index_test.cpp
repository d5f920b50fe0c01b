// The index framework as the table handler uses it, on both single-tag formats: seeks,
// moves, ranges, key insertion, key maintenance on record writes, and the index lock.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kx6_DBF.h"
#include "kx6_build.h"
#include "kx6_cnst.h"
#include "kx6_eror.h"
#include "kx6_fld.h"
#include "kx6_glbl.h"
#include "kx6_indx.h"
#include "kx6_ndx.h"
#include "kx6_ntx.h"
#include "platform/pf_file.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::ReadBytes;
using fendral::test::TempDir;

// A table that keeps its index files current on every write, as the table handler does.
class IndexedTable : public KXO_dBaseFld {
 public:
  IndexedTable(const std::string& name, bool shared = false) : KXO_dBaseFld(name, true, shared) {}
  std::vector<KXobjIndexFile*> indexes;
  bool RecordEvent(int event, int32_t number) override {
    const bool result = KXO_dBaseFld::RecordEvent(event, number);
    if (event == kEventAfterWrite) {
      for (KXobjIndexFile* file : indexes) file->KeyUpdateAll(CurrentRecord(), number == 0);
    }
    return result;
  }
};

std::string MakeTable(const TempDir& dir, const std::vector<std::string>& names) {
  const std::string path = dir.File("people.dbf");
  {
    KXO_DBFBuild build(path);
    build.AddField("NAME", 'C', 10, 0);
    build.AddField("AGE", 'N', 4, 0);
    build.WriteTable();
  }
  KXO_dBaseFld table(path, true, false);
  int age = 20;
  for (const std::string& name : names) {
    table.BlankRecord();
    table.PutFieldByName("NAME", name);
    table.PutNumberByName("AGE", age++);
    table.AppendRecord();
  }
  return path;
}

std::unique_ptr<KXobjIndexFile> Create(const std::string& format, KXO_dBaseFld* table,
                                       const std::string& path) {
  if (format == "ntx") return std::make_unique<KXobjNTXFile>(table, path, true, true, true, false);
  return std::make_unique<KXobjNDXFile>(table, path, true, true, true, false);
}

KXobjIndexKeyData SearchKey(const std::string& text) {
  KXobjIndexKeyData key(256);
  key.SetText(text);
  key.SetReference(kSearchAnyRecord);
  return key;
}

std::vector<int32_t> Records(KXobjIndexTag& tag) {
  std::vector<int32_t> out;
  for (int32_t recno = tag.Goto(PosTop); !tag.Eof() && out.size() < 1000; recno = tag.Goto(PosNext))
    out.push_back(recno);
  return out;
}

const std::vector<std::string> kPeople = {"SMITH",  "JONES", "SMITHSON", "ADAMS", "SMITH",
                                          "SMIT",   "BROWN", "ZED",      "AB",    "ABC",
                                          "SMITHY", "JONES", "KING",     "SMITHA"};

class IndexFramework : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    path_ = MakeTable(dir_, kPeople);
    table_ = std::make_unique<IndexedTable>(path_);
    index_ = Create(GetParam(), table_.get(), dir_.File("people." + GetParam()));
    index_->TagAdd("PEOPLE", "NAME", "", true, false);
    table_->indexes.push_back(index_.get());
    tag_ = index_->TagAt(0);
  }

  TempDir dir_;
  std::string path_;
  std::unique_ptr<IndexedTable> table_;
  std::unique_ptr<KXobjIndexFile> index_;
  KXobjIndexTag* tag_ = nullptr;
};

TEST_P(IndexFramework, ExactAndPartialSeeks) {
  table_->SetExactMatch(true);
  EXPECT_EQ(tag_->Seek(SearchKey("AB")), 9);
  EXPECT_EQ(tag_->Seek(SearchKey("JONES")), 2);   // the first of equal keys
  EXPECT_EQ(tag_->Seek(SearchKey("SMITHS")), 0);  // no key is exactly that
  EXPECT_FALSE(tag_->Eof());
  EXPECT_EQ(tag_->CurrentKey().AsText(), "SMITHSON");  // positioned on the next greater
  EXPECT_EQ(tag_->Seek(SearchKey("ZZZ")), 0);
  EXPECT_TRUE(tag_->Eof());

  table_->SetExactMatch(false);
  EXPECT_EQ(tag_->Seek(SearchKey("SMITHS")), 3);  // SMITHSON begins with it
  EXPECT_EQ(tag_->Seek(SearchKey("AB")), 9);      // AB itself comes before ABC
  EXPECT_EQ(tag_->Seek(SearchKey("KI")), 13);

  // SeekKeep answers without moving the tag.
  EXPECT_EQ(tag_->Goto(PosTop), 9);
  EXPECT_EQ(tag_->Goto(PosNext), 10);
  table_->SetExactMatch(true);
  EXPECT_EQ(tag_->SeekKeep(SearchKey("ZED")), 8);
  EXPECT_EQ(tag_->CurrentRecord(), 10);
  EXPECT_EQ(tag_->Goto(PosNext), 4);  // ADAMS follows ABC
}

TEST_P(IndexFramework, MovesAndRangesBothEndsIncluded) {
  const std::vector<int32_t> all = Records(*tag_);
  EXPECT_EQ(all, (std::vector<int32_t>{9, 10, 4, 7, 2, 12, 13, 6, 1, 5, 14, 3, 11, 8}));
  EXPECT_EQ(tag_->Goto(PosBottom), 8);
  EXPECT_EQ(tag_->Goto(PosPrior), 11);
  EXPECT_EQ(tag_->Goto(PosSame), 11);
  EXPECT_EQ(tag_->Goto(PosNext), 8);
  EXPECT_EQ(tag_->Goto(PosNext), 0);
  EXPECT_TRUE(tag_->Eof());

  TkxVariant smith;
  smith.SetText("SMITH");
  EXPECT_EQ(tag_->SetRange(smith, true, smith, true), 1);
  EXPECT_EQ(Records(*tag_), (std::vector<int32_t>{1, 5, 14, 3, 11}));
  EXPECT_EQ(tag_->Goto(PosBottom), 11);
  EXPECT_EQ(tag_->Goto(PosPrior), 3);

  TkxVariant low, high;
  low.SetText("B");
  high.SetText("K");
  tag_->SetRange(low, true, high, true);
  EXPECT_EQ(Records(*tag_), (std::vector<int32_t>{7, 2, 12, 13}));
  EXPECT_EQ(tag_->Goto(PosTop), 7);
  EXPECT_EQ(tag_->Goto(PosPrior), 0);  // before the low end: BOF
  EXPECT_TRUE(tag_->Bof());

  TkxVariant none;
  none.SetText("Q");
  EXPECT_EQ(tag_->SetRange(none, true, none, true), 0);
  EXPECT_TRUE(tag_->Bof() && tag_->Eof());
  tag_->ClearRange();
  EXPECT_EQ(Records(*tag_), all);
}

TEST_P(IndexFramework, EmptyTagAtTopIsBothBofAndEof) {
  TempDir other;
  const std::string path = MakeTable(other, {});
  KXO_dBaseFld empty(path, true, false);
  auto index = Create(GetParam(), &empty, other.File("empty." + GetParam()));
  index->TagAdd("EMPTY", "NAME", "", true, false);
  KXobjIndexTag* tag = index->TagAt(0);
  EXPECT_EQ(tag->Goto(PosTop), 0);
  EXPECT_TRUE(tag->Bof());
  EXPECT_TRUE(tag->Eof());
  EXPECT_EQ(tag->Seek(SearchKey("X")), 0);
  EXPECT_TRUE(tag->Eof());
}

TEST_P(IndexFramework, KeyAddPlacesDuplicatesAfterEqualKeysAndUniqueRefusesThem) {
  KXobjIndexKeyData jones(256);
  jones.SetText("JONES");
  jones.SetReference(99);
  jones.SetKeyRecNo(99);
  ASSERT_TRUE(tag_->KeyAdd(jones));
  table_->SetExactMatch(true);
  tag_->Seek(SearchKey("JONES"));
  std::vector<int32_t> group{tag_->CurrentRecord()};
  while (tag_->Goto(PosNext) && tag_->CurrentKey().AsText() == "JONES")
    group.push_back(tag_->CurrentRecord());
  EXPECT_EQ(group, (std::vector<int32_t>{2, 12, 99}));

  auto unique = Create(GetParam(), table_.get(), dir_.File("unique." + GetParam()));
  unique->TagAdd("UNIQUE", "NAME", "", true, true);
  KXobjIndexTag* tag = unique->TagAt(0);
  EXPECT_EQ(Records(*tag).size(), 12u);  // SMITH and JONES once each: the lowest record
  table_->SetExactMatch(true);
  EXPECT_EQ(tag->Seek(SearchKey("SMITH")), 1);
  EXPECT_EQ(tag->Seek(SearchKey("JONES")), 2);
  EXPECT_FALSE(tag->KeyAdd(jones));
  EXPECT_EQ(Records(*tag).size(), 12u);
}

TEST_P(IndexFramework, RecordWritesKeepTheTagCurrent) {
  const std::vector<uint8_t> before = ReadBytes(dir_.File("people." + GetParam()));
  // A rewrite that leaves the key as it was changes no page.
  table_->GetRecord(6);
  table_->PutNumberByName("AGE", 77);
  table_->PutRecord(6);
  std::vector<uint8_t> after = ReadBytes(dir_.File("people." + GetParam()));
  if (GetParam() == "ntx") {
    // Only the update counter (bytes 2-3) moved on.
    EXPECT_EQ(after[2] + after[3] * 256, before[2] + before[3] * 256 + 1);
    after[2] = before[2];
    after[3] = before[3];
  }
  EXPECT_EQ(after, before);

  // A new key moves the record; an append adds it.
  table_->GetRecord(8);
  table_->PutFieldByName("NAME", "AARON");
  table_->PutRecord(8);
  table_->BlankRecord();
  table_->PutFieldByName("NAME", "KING");
  table_->AppendRecord();
  EXPECT_EQ(Records(*tag_),
            (std::vector<int32_t>{8, 9, 10, 4, 7, 2, 12, 13, 15, 6, 1, 5, 14, 3, 11}));
}

TEST_P(IndexFramework, TagsReopenWithTheirDefinitionAndOrder) {
  const std::vector<int32_t> order = Records(*tag_);
  table_->indexes.clear();
  index_.reset();
  std::unique_ptr<KXobjIndexFile> reopened;
  if (GetParam() == "ntx") {
    reopened = std::make_unique<KXobjNTXFile>(table_.get(), "PEOPLE", false, false, true, false);
  } else {
    reopened = std::make_unique<KXobjNDXFile>(table_.get(), "PEOPLE", false, false, true, false);
  }
  ASSERT_TRUE(reopened->Opened());  // found without regard to case, extension added
  KXobjIndexTag* tag = reopened->TagAt(0);
  EXPECT_EQ(tag->TagName(), "people");
  EXPECT_EQ(tag->KeyExprText(), "NAME");
  EXPECT_EQ(tag->KeyType(), 'C');
  EXPECT_EQ(tag->KeyLength(), 10);
  EXPECT_FALSE(tag->Unique());
  EXPECT_TRUE(tag->Maintainable());
  EXPECT_EQ(Records(*tag), order);
  EXPECT_EQ(reopened->TagByName("PEOPLE"), tag);
  EXPECT_TRUE(reopened->SameFile(reopened->Disk()->FileName()));
  EXPECT_FALSE(reopened->SameFile("/some/where/" + reopened->FileName()))
      << "a file of the same name elsewhere is another file";

  // Without a file there is nothing to open: the caller reports it.
  KXobjNTXFile missing(table_.get(), "nothing.ntx", false, false, true, false);
  EXPECT_FALSE(missing.Opened());
}

TEST_P(IndexFramework, ReindexAndZapLeaveValidFiles) {
  const std::vector<int32_t> order = Records(*tag_);
  index_->Reindex();
  EXPECT_EQ(Records(*tag_), order);
  index_->Zap();
  EXPECT_TRUE(Records(*tag_).empty());
  const std::string file = dir_.File("people." + GetParam());
  EXPECT_EQ(ReadBytes(file).size(), GetParam() == "ntx" ? 2048u : 1024u);
  index_->Reindex();
  EXPECT_EQ(Records(*tag_), order);
}

TEST_P(IndexFramework, SyncToRecordFindsTheRecordsKey) {
  table_->GetRecord(5);  // the second SMITH
  tag_->SyncToRecord(5);
  EXPECT_EQ(tag_->CurrentRecord(), 5);
  EXPECT_EQ(tag_->Goto(PosNext), 14);
  tag_->ReadPath(1);  // on the table's current record again
  EXPECT_EQ(tag_->CurrentRecord(), 5);
}

INSTANTIATE_TEST_SUITE_P(Formats, IndexFramework, testing::Values("ntx", "ndx"),
                         [](const auto& info) { return info.param; });

TEST(IndexFramework, ForConditionDecidesWhichRecordsHaveKeys) {
  TempDir dir;
  IndexedTable table(MakeTable(dir, kPeople));
  KXobjNTXFile index(&table, dir.File("young.ntx"), true, true, true, false);
  index.TagAdd("YOUNG", "NAME", "AGE < 25", true, false);
  table.indexes.push_back(&index);
  KXobjIndexTag* tag = index.TagAt(0);
  EXPECT_EQ(Records(*tag), (std::vector<int32_t>{4, 2, 1, 5, 3}));
  // Rewritten to fail the condition, the record leaves the tag; to pass it, it enters.
  table.GetRecord(2);
  table.PutNumberByName("AGE", 60);
  table.PutRecord(2);
  table.GetRecord(9);
  table.PutNumberByName("AGE", 1);
  table.PutRecord(9);
  EXPECT_EQ(Records(*tag), (std::vector<int32_t>{9, 4, 1, 5, 3}));
  // Appends that fail it stay out.
  table.BlankRecord();
  table.PutFieldByName("NAME", "OLD");
  table.PutNumberByName("AGE", 90);
  table.AppendRecord();
  EXPECT_EQ(Records(*tag).size(), 5u);
}

TEST(IndexFramework, IndexLockTakesTheProtocolsRegionAndGivesUp) {
  TempDir dir;
  const std::string path = MakeTable(dir, {"A", "B"});
  KXO_dBaseFld table(path, true, true);
  KXobjNTXFile index(&table, dir.File("lock.ntx"), true, true, true, true);
  index.TagAdd("LOCK", "NAME", "", true, false);
  index.LockProtocolSet(static_cast<int>(TkxLokProtocol::ClipLock));
  ASSERT_TRUE(index.IndexLock());
  EXPECT_EQ(index.Disk()->LockOffset(), 1000000000u);
  EXPECT_EQ(index.Disk()->LockLength(), 1u);

  // Another handle on the file cannot take it; the lock error names the file.
  platform::OsFile other;
  ASSERT_EQ(other.Open(index.Disk()->FileName(), true), 0);
  EXPECT_EQ(other.Lock(1000000000u, 1, true), ErrLocked);
  index.IndexUnlock();
  ASSERT_EQ(other.Lock(0x7FFFFFFEu, 1, true), 0);
  index.LockProtocolSet(static_cast<int>(TkxLokProtocol::Default));
  const uint16_t savedTotal = MemoLockWaitTotal;
  MemoLockWaitTotal = 100;
  std::string message;
  try {
    index.IndexLock();
  } catch (const ETolvernError& e) {
    message = e.what();
  }
  MemoLockWaitTotal = savedTotal;
  EXPECT_NE(message.find(FormatMessage(kMsgLockError, {"33", "lock.ntx"})), std::string::npos)
      << message;
  EXPECT_EQ(index.Disk()->LockCount(), 0);

  index.LockProtocolSet(static_cast<int>(TkxLokProtocol::DB4Lock));
  ASSERT_TRUE(index.IndexLock());
  EXPECT_EQ(index.Disk()->LockOffset(), 0xEFFFFFFEu);
  EXPECT_EQ(index.Disk()->LockLength(), 2u);
  index.IndexUnlock();
}

TEST(IndexFramework, TagsWhoseKeyCannotBeEvaluatedAreReadOnly) {
  TempDir dir;
  IndexedTable table(MakeTable(dir, kPeople));
  {
    KXobjNTXFile index(&table, dir.File("odd.ntx"), true, true, true, false);
    index.TagAdd("ODD", "NAME", "", true, false);
  }
  // The same file opened against a table without the field: readable, not changeable.
  TempDir otherDir;
  const std::string otherPath = otherDir.File("other.dbf");
  {
    KXO_DBFBuild build(otherPath);
    build.AddField("CITY", 'C', 10, 0);
    build.WriteTable();
  }
  IndexedTable other(otherPath);
  KXobjNTXFile index(&other, dir.File("odd.ntx"), false, false, true, false);
  KXobjIndexTag* tag = index.TagAt(0);
  ASSERT_NE(tag, nullptr);
  EXPECT_FALSE(tag->Maintainable());
  EXPECT_EQ(Records(*tag).size(), kPeople.size());
  const std::vector<uint8_t> before = ReadBytes(dir.File("odd.ntx"));
  KXobjIndexKeyData key(256);
  key.SetText("NEW");
  key.SetReference(1);
  EXPECT_THROW(tag->KeyAdd(key), ETolvernError);
  other.indexes.push_back(&index);
  other.BlankRecord();
  other.PutFieldByName("CITY", "X");
  EXPECT_THROW(other.AppendRecord(), ETolvernError);
  EXPECT_EQ(ReadBytes(dir.File("odd.ntx")), before);
}

}  // namespace
}  // namespace tolvern
