// The engine used from two threads at once, as the window does while long work runs on a
// worker: each thread on its own tables (open, read, build an index, convert code pages,
// format dates), readers of one file opening and closing on both threads, errors raised on
// both; and the clock the table header stamps come from.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "kx6_Date.h"
#include "kx6_build.h"
#include "kx6_dbsy.h"
#include "kx6_eror.h"
#include "kx6_glbl.h"
#include "kx6_indx.h"
#include "platform/pf_misc.h"
#include "platform/pf_path.h"
#include "platform/pf_text.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::ReadBytes;
using fendral::test::TempDir;

// NAME C 12 (CP866 text), BORN D; `records` records whose names run backwards, so that an
// index on NAME reverses the natural order.
std::string MakeTable(const TempDir& dir, const std::string& file, int records) {
  const std::string path = dir.File(file);
  {
    KXO_DBFBuild builder(path);
    builder.AddField("NAME", 'C', 12, 0);
    builder.AddField("BORN", 'D', 8, 0);
    builder.WriteTable();
  }
  KXO_dBHandler t(path, true, false);
  for (int i = 0; i < records; ++i) {
    t.BlankRecord();
    char name[16];
    std::snprintf(name, sizeof name, "\x8f%06d", records - i);  // CP866 capital Pe
    t.PutFieldByName("NAME", name);
    t.PutFieldByName(
        "BORN", "2020" + std::string(i % 12 < 9 ? "0" : "") + std::to_string(i % 12 + 1) + "15");
    t.AppendRecord();
  }
  return path;
}

// What one thread learns from its table: every name converted to the ANSI code page in
// natural order, every date in display form, and the record numbers in NAME order.
struct Reading {
  std::vector<std::string> names;
  std::vector<std::string> dates;
  std::vector<int32_t> ordered;
  bool operator==(const Reading&) const = default;
};

Reading Work(const std::string& table, const std::string& index) {
  Reading r;
  KXO_dBHandler t(table, true, false);
  for (t.GetRecord(PosTop); !t.Eof(); t.GetRecord(PosNext)) {
    r.names.push_back(platform::OemToAnsi(t.GetFieldByName("NAME")));
    r.dates.push_back(GlobalDateConverter().DisplayForm(
        GlobalDateConverter().TextToDay(t.GetFieldByName("BORN"))));
  }
  t.IndexOn(index, "", 0, true, "", "NAME");
  if (t.OpenIndexList(index, "") != 0 || !t.TagByNumber(1)) return r;
  t.SelectOrder(t.TagByNumber(1)->TagName(), false);
  for (t.GetRecord(PosTop); !t.Eof(); t.GetRecord(PosNext)) r.ordered.push_back(t.CurrentRecord());
  return r;
}

class EngineThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(platform::SetCodePages("CP866", "CP1251"));
    platform::SetShortDateFormat("DD.MM.YYYY");
  }
  void TearDown() override { platform::SetShortDateFormat("MM/DD/YYYY"); }
  TempDir dir;
};

TEST_F(EngineThreads, TwoThreadsOnTheirOwnTablesReadWhatOneThreadReads) {
  constexpr int kRecords = 3000;
  const std::string a = MakeTable(dir, "a.dbf", kRecords);
  const std::string b = MakeTable(dir, "b.dbf", kRecords / 2);
  const Reading aloneA = Work(a, dir.File("alone_a.ntx"));
  const Reading aloneB = Work(b, dir.File("alone_b.ntx"));
  ASSERT_EQ(aloneA.names.size(), static_cast<size_t>(kRecords));
  EXPECT_EQ(aloneA.names.front(), std::string("\xcf") + "003000     ")
      << "CP866 0x8F is CP1251 0xCF";
  EXPECT_EQ(aloneA.dates.front(), "15.01.2020");
  ASSERT_EQ(aloneA.ordered.size(), static_cast<size_t>(kRecords));
  EXPECT_EQ(aloneA.ordered.front(), kRecords);
  EXPECT_EQ(aloneA.ordered.back(), 1);

  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Reading atOnceA, atOnceB;
    const std::string suffix = std::to_string(round) + ".ntx";
    std::thread worker([&] { atOnceA = Work(a, dir.File("a" + suffix)); });
    atOnceB = Work(b, dir.File("b" + suffix));
    worker.join();
    EXPECT_TRUE(atOnceA == aloneA);
    EXPECT_TRUE(atOnceB == aloneB);
  }
}

// The grid's reader of a table opens and closes on the window's thread while the worker
// opens, reads and closes objects on the same file: they share one handle through the list
// of open files, and neither may meet the other's object half closed.
TEST_F(EngineThreads, ReadersOfOneFileOpenAndCloseOnTwoThreads) {
  const std::string table = MakeTable(dir, "shared.dbf", 50);
  std::atomic<int> wrong{0};
  auto readers = [&](int rounds) {
    for (int i = 0; i < rounds; ++i) {
      KXO_dBHandler t(table, false, true);
      t.GetRecord(1 + i % 50);
      char expected[16];
      std::snprintf(expected, sizeof expected, "\x8f%06d     ", 50 - i % 50);
      if (t.GetFieldByName("NAME") != expected) ++wrong;
    }
  };
  std::thread worker(readers, 400);
  readers(400);
  worker.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(OpenFileList().FindByName(platform::CanonicalPath(table), nullptr), nullptr)
      << "every reader left the list of open files";
}

TEST_F(EngineThreads, ErrorsRaisedOnTwoThreadsNameTheirOwnFiles) {
  std::atomic<int> wrong{0};
  auto open = [&](const std::string& name) {
    for (int i = 0; i < 200; ++i) {
      const std::string path = dir.File(name + std::to_string(i) + ".dbf");
      try {
        KXO_dBHandler t(path, false, true);
        ++wrong;
      } catch (const ETolvernError& e) {
        if (std::string(e.what()).find(path) == std::string::npos) ++wrong;
      }
    }
  };
  std::thread worker(open, "worker");
  open("window");
  worker.join();
  EXPECT_EQ(wrong.load(), 0);
}

platform::LocalTime FixedClock() { return {2031, 5, 17, 13, 45, 30, 250}; }

// Restores the system clock when a test ends.
struct FixedClockScope {
  FixedClockScope() { platform::SetClockSource(&FixedClock); }
  ~FixedClockScope() { platform::SetClockSource(nullptr); }
};

TEST(EngineClock, HeaderStampsAndTodayComeFromThePlatformClock) {
  TempDir dir;
  FixedClockScope fixed;
  const std::string path = dir.File("stamp.dbf");
  {
    KXO_DBFBuild builder(path);
    builder.AddField("NAME", 'C', 10, 0);
    builder.WriteTable();
  }
  std::vector<uint8_t> bytes = ReadBytes(path);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes[1], 31);
  EXPECT_EQ(bytes[2], 5);
  EXPECT_EQ(bytes[3], 17);

  {
    KXO_dBHandler t(path, true, false);
    t.BlankRecord();
    t.PutFieldByName("NAME", "X");
    t.AppendRecord();
    const auto info = t.GetHeaderInfo();
    EXPECT_EQ(info.date, (31 * 256 + 5) * 256 + 17);
    EXPECT_EQ(info.stamp, static_cast<uint32_t>(((13 * 64 + 45) * 64 + 30) * 1024 + 250));
  }
  EXPECT_EQ(GlobalDateConverter().Today(), GlobalDateConverter().EncodeDay(2031, 5, 17));

  platform::SetClockSource(nullptr);
  EXPECT_GE(platform::LocalNow().year, 2024) << "the system clock is back";
}

}  // namespace
}  // namespace tolvern
