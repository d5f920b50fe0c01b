// Walks in an index order read the records the order reaches next in one go. The walk
// must hand out exactly what record-by-record reads give, in every format and direction,
// with filters, hidden deleted records and seeks; writes through the handle and through
// another handle of a shared table must show; and the records held stay within the budget.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kx6_build.h"
#include "kx6_dbsy.h"
#include "kx6_indx.h"
#include "kx6_orderahead.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::TempDir;

// NAME C 12, AMOUNT N 8 2. Keys come in clusters (runs of records share a key) with many
// equal keys, and every seventh record is deleted: the order jumps back and forth through
// the file with gaps of every size.
std::string MakeTable(const TempDir& dir, const std::string& file, int records, bool fox,
                      int nameLength = 12) {
  const std::string path = dir.File(file);
  {
    std::unique_ptr<KXO_DBFBuild> builder;
    if (fox) {
      builder = std::make_unique<KXO_DBFoxBuild>(path);
    } else {
      builder = std::make_unique<KXO_DB4Build>(path);
    }
    builder->AddField("NAME", 'C', nameLength, 0);
    builder->AddField("AMOUNT", 'N', 8, 2);
    builder->WriteTable();
  }
  std::mt19937 rng(11);
  KXO_dBHandler t(path, true, false);
  std::string cluster = "M";
  for (int i = 0; i < records; ++i) {
    if (i % 40 == 0) cluster = std::string(1, static_cast<char>('A' + rng() % 26));
    t.BlankRecord();
    t.PutFieldByName("NAME", cluster + std::to_string(rng() % 30));
    t.PutNumberByName("AMOUNT", static_cast<double>(i % 1000));
    t.AppendRecord();
    if (i % 7 == 3) t.DeleteRecord();
  }
  return path;
}

// What a walk met: record number, deletion flag and NAME of every record.
struct Met {
  int32_t recno;
  bool deleted;
  std::string name;
  bool operator==(const Met&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Met& m) {
  return out << m.recno << (m.deleted ? "*" : " ") << m.name;
}

Met Here(KXO_dBHandler& t) { return {t.CurrentRecord(), t.IsDeleted(), t.GetFieldByName("NAME")}; }

// A walk of the current order: from the top to the end, from the bottom back, then from
// a seek forward and back again.
std::vector<Met> WalkEveryWay(KXO_dBHandler& t, const std::string& seekKey) {
  std::vector<Met> seen;
  for (t.GetRecord(PosTop); !t.Eof(); t.GetRecord(PosNext)) seen.push_back(Here(t));
  seen.push_back({-1, false, "bottom"});
  for (t.GetRecord(PosBottom); !t.Bof(); t.GetRecord(PosPrior)) seen.push_back(Here(t));
  seen.push_back({-2, false, "seek"});
  t.SoftSeek = true;
  t.FindKey(seekKey);
  for (int i = 0; i < 300 && !t.Eof(); ++i, t.GetRecord(PosNext)) seen.push_back(Here(t));
  for (int i = 0; i < 600 && !t.Bof(); ++i, t.GetRecord(PosPrior)) seen.push_back(Here(t));
  return seen;
}

struct Order {
  bool fox;
  std::string file;
  std::string tag;
};

TEST(OrderAhead, WalksGiveWhatRecordByRecordReadsGiveInEveryFormat) {
  const std::vector<Order> orders = {
      {true, "o.ntx", ""}, {true, "o.cdx", "NAME"}, {false, "o.mdx", "NAME"}, {true, "o.ndx", ""}};
  for (const Order& o : orders) {
    SCOPED_TRACE(o.file);
    TempDir dir;
    const std::string path = MakeTable(dir, "t.dbf", 3000, o.fox);
    {
      KXO_dBHandler build(path, true, false);
      ASSERT_EQ(build.IndexOn(dir.File(o.file), o.tag, 0, true, "", "NAME"), 0);
    }
    KXO_dBHandler ahead(path, false, false);
    KXO_dBHandler plain(path, false, false);
    plain.AllowReadAhead(false);
    for (KXO_dBHandler* t : {&ahead, &plain}) {
      ASSERT_EQ(t->OpenIndexFile(dir.File(o.file)), 0);
      t->SelectOrder(o.tag.empty() ? t->TagByNumber(1)->TagName() : o.tag, false);
    }
    const auto both = [&](const char* what) {
      SCOPED_TRACE(what);
      const std::vector<Met> expected = WalkEveryWay(plain, "K");
      ASSERT_GT(expected.size(), 3000u);
      EXPECT_EQ(WalkEveryWay(ahead, "K"), expected);
    };
    both("all records");
    for (KXO_dBHandler* t : {&ahead, &plain}) t->SetShowDeleted(false);
    both("deleted records hidden");
    for (KXO_dBHandler* t : {&ahead, &plain}) t->SetFilterExpression("AMOUNT > 300");
    both("filtered, deleted hidden");
    // The look-ahead did the reading: far fewer transfers than records.
    EXPECT_GT(ahead.OrderAhead().RecordsRead(), 3000);
    EXPECT_LT(ahead.OrderAhead().Transfers() * 2, ahead.OrderAhead().RecordsRead());
    EXPECT_EQ(plain.OrderAhead().RecordsRead(), 0);
  }
}

// The last place in `order` after `from` whose record the look-ahead holds.
size_t FarthestHeld(const KXO_dBHandler& t, const std::vector<int32_t>& order, size_t from) {
  size_t far = from;
  for (size_t i = from; i < order.size(); ++i) {
    if (t.OrderAheadHolds(order[i])) far = i;
  }
  return far;
}

TEST(OrderAhead, AWriteThroughTheHandleShowsAtOnce) {
  TempDir dir;
  const std::string path = MakeTable(dir, "t.dbf", 500, true);
  KXO_dBHandler t(path, true, false);
  ASSERT_EQ(t.IndexOn(dir.File("w.ntx"), "", 0, true, "", "AMOUNT"), 0);
  t.OpenIndexFile(dir.File("w.ntx"));
  t.SelectOrder(t.TagByNumber(1)->TagName(), false);
  // Walk far enough that the records ahead are held, then rewrite one of them (its key
  // stays, so its place in the order does too).
  std::vector<int32_t> order;
  for (t.GetRecord(PosTop); !t.Eof(); t.GetRecord(PosNext)) order.push_back(t.CurrentRecord());
  t.GetRecord(PosTop);
  for (int i = 0; i < 40; ++i) t.GetRecord(PosNext);
  const size_t far = FarthestHeld(t, order, 40);
  ASSERT_GT(far, 41u);
  const int32_t later = order[far];
  const int32_t here = t.CurrentRecord();
  // Written from a record read by number (the records held stay held), the walk then
  // picked up where it was.
  t.GetRecord(later);
  t.PutFieldByName("NAME", "CHANGED");
  t.PutRecord(later);
  t.GetRecord(here);
  t.CurrentOrder()->SyncToRecord(here);
  for (size_t i = 40; i < far; ++i) t.GetRecord(PosNext);
  ASSERT_EQ(t.CurrentRecord(), later);
  EXPECT_EQ(t.GetFieldByName("NAME"), "CHANGED     ");
}

TEST(OrderAhead, ARecordAnotherHandleRewroteIsReadAgain) {
  TempDir dir;
  const std::string path = MakeTable(dir, "t.dbf", 400, true);
  {
    KXO_dBHandler build(path, true, false);
    ASSERT_EQ(build.IndexOn(dir.File("s.ntx"), "", 0, true, "", "AMOUNT"), 0);
  }
  KXO_dBHandler reader(path, false, true);
  KXO_dBHandler writer(path, true, true);
  ASSERT_EQ(reader.OpenIndexFile(dir.File("s.ntx")), 0);
  ASSERT_EQ(writer.OpenIndexFile(dir.File("s.ntx")), 0);
  reader.SelectOrder(reader.TagByNumber(1)->TagName(), false);
  std::vector<int32_t> order;
  for (reader.GetRecord(PosTop); !reader.Eof(); reader.GetRecord(PosNext))
    order.push_back(reader.CurrentRecord());
  reader.GetRecord(PosTop);
  for (int i = 0; i < 40; ++i) reader.GetRecord(PosNext);
  const size_t far = FarthestHeld(reader, order, 40);
  ASSERT_GT(far, 41u);
  const int32_t later = order[far];
  // The other handle rewrites a record the reader holds (no key changes): the header's
  // stamp changes with it. The stamp counts milliseconds: the table was written last more
  // than one before.
  std::this_thread::sleep_for(std::chrono::milliseconds(3));
  writer.GetRecord(later);
  writer.PutFieldByName("NAME", "OTHER");
  writer.PutRecord(later);
  std::this_thread::sleep_for(std::chrono::microseconds(2 * KXO_dBaseDBF::kOrderAheadCheckMicros));
  for (size_t i = 40; i < far; ++i) reader.GetRecord(PosNext);
  ASSERT_EQ(reader.CurrentRecord(), later);
  EXPECT_EQ(reader.GetFieldByName("NAME"), "OTHER       ");
  // A record appended by the other handle is read too, in its place at the end.
  writer.BlankRecord();
  writer.PutFieldByName("NAME", "APPENDED");
  writer.PutNumberByName("AMOUNT", 99999);
  writer.AppendRecord();
  for (reader.GetRecord(PosNext); !reader.Eof(); reader.GetRecord(PosNext)) {
  }
  reader.GetRecord(PosBottom);
  EXPECT_EQ(reader.GetFieldByName("NAME"), "APPENDED    ");
}

TEST(OrderAhead, HeldRecordsStayWithinTheBudget) {
  // Records of 4,000 bytes: 4,096 of them would take 16 MB.
  TempDir dir;
  const std::string path = MakeTable(dir, "big.dbf", 5000, true, 3990);
  KXO_dBHandler t(path, true, false);
  ASSERT_EQ(t.IndexOn(dir.File("b.ntx"), "", 0, true, "", "LEFT(NAME,6)"), 0);
  t.OpenIndexFile(dir.File("b.ntx"));
  t.SelectOrder(t.TagByNumber(1)->TagName(), false);
  int walked = 0;
  for (t.GetRecord(PosTop); !t.Eof(); t.GetRecord(PosNext)) ++walked;
  EXPECT_EQ(walked, 5000);
  EXPECT_GT(t.OrderAhead().RecordsRead(), 4000);
  EXPECT_GT(t.OrderAhead().PeakBytes(), 1000u * 1000u);
  EXPECT_LE(t.OrderAhead().PeakBytes(), TkxOrderAhead::kBudgetBytes);
  EXPECT_LE(static_cast<size_t>(TkxOrderAhead::Capacity(t.RecordLength())) *
                static_cast<size_t>(t.RecordLength()),
            TkxOrderAhead::kBudgetBytes);
}

}  // namespace
}  // namespace tolvern
