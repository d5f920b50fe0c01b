// The dataset hands its progress to the engine: index builds, pack, reindex, copy and the
// text search report to it and stop when it says so, leaving the files as
// they were and the dataset working on them.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

#include "dataset_support.h"
#include "kx6_build.h"
#include "kx6_dbsy.h"
#include "kx6_progress.h"

namespace fendral {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

class RecordingProgress : public tolvern::TkxProgress {
 public:
  explicit RecordingProgress(int stopAt = 0) : stopAt_(stopAt) {}
  void Start(int32_t kind, int64_t) override {
    kinds.push_back(kind);
    ++open;
  }
  bool Step(int64_t) override { return ++steps != stopAt_; }
  void Finish() override { --open; }
  std::vector<int32_t> kinds;
  int steps = 0;
  int open = 0;

 private:
  int stopAt_;
};

constexpr int kRecords = 2200;

// t.dbf: NAME, NOTE (a memo on every fourth record), every seventh record deleted, the
// production index t.cdx with the tag NAME.
std::string MakeTable(const TempDir& dir) {
  const std::string path = dir.File("t.dbf");
  {
    tolvern::KXO_DBFoxBuild b(path);
    b.AddField("NAME", 'C', 10, 0);
    b.AddField("NOTE", 'M', 10, 0);
    b.WriteTable();
  }
  tolvern::KXO_dBHandler t(path, true, false);
  for (int i = 1; i <= kRecords; ++i) {
    t.BlankBuffer();
    char name[16];
    std::snprintf(name, sizeof name, "K%05d", (i * 389) % 10000);
    t.PutFieldByName("NAME", name);
    t.AppendRecord();
    if (i % 4 == 0) {
      const std::string note = "note " + std::to_string(i);
      t.WriteMemo(2, {reinterpret_cast<const uint8_t*>(note.data()), note.size()});
      t.PutRecord(i);
    }
    if (i % 7 == 0) t.DeleteRecord();
  }
  t.IndexOn(dir.File("t.cdx"), "NAME", 0, true, "", "NAME");
  t.SetProductionIndexFlag(true);
  return path;
}

std::map<std::string, std::vector<uint8_t>> Snapshot(const TempDir& dir) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& e : fs::recursive_directory_iterator(dir.Path()))
    files[fs::relative(e.path(), dir.Path()).string()] =
        e.is_regular_file() ? test::ReadBytes(e.path()) : std::vector<uint8_t>{};
  return files;
}

void Open(TTolvernDataSet& ds, const std::string& table, bool exclusive) {
  ds.SetExclusive(exclusive);
  ds.SetUseDeleted(false);  // deleted records hidden
  test::OpenTable(ds, table, {}, QStringLiteral("NAME"));
}

// The dataset walks the NAME order in key order over every live record.
void ExpectWalksInOrder(TTolvernDataSet& ds, int records) {
  int seen = 0;
  QString last;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    const QString name = ds.FieldByName(QStringLiteral("NAME"))->AsString();
    EXPECT_LE(last, name);
    last = name;
    ++seen;
  }
  EXPECT_EQ(seen, records);
}

int Live() { return kRecords - kRecords / 7; }

TEST(DatasetProgress, ReportsReachTheProgress) {
  TempDir dir;
  const std::string table = MakeTable(dir);
  TTolvernDataSet ds;
  RecordingProgress progress;
  ds.SetProgress(&progress);  // set before opening: the table gets it when it opens
  Open(ds, table, true);
  ds.IndexOn(QStringLiteral("t.cdx"), QStringLiteral("DESC"), 1, true, QString(),
             QStringLiteral("NAME"));
  ds.Reindex();
  ds.CopyTable(QString::fromStdString(dir.File("copy.dbf")));
  ds.Pack();
  const std::vector<int32_t> expected{tolvern::kStatusIndexRead, tolvern::kStatusIndexWrite};
  ASSERT_GE(progress.kinds.size(), 4u);
  EXPECT_EQ(std::vector<int32_t>(progress.kinds.begin(), progress.kinds.begin() + 2), expected);
  EXPECT_NE(std::find(progress.kinds.begin(), progress.kinds.end(), tolvern::kStatusCopy),
            progress.kinds.end());
  EXPECT_NE(std::find(progress.kinds.begin(), progress.kinds.end(), tolvern::kStatusPack),
            progress.kinds.end());
  EXPECT_EQ(progress.open, 0);
  EXPECT_EQ(ds.RecordCount(), Live());
  ExpectWalksInOrder(ds, Live());
  // Taken away again, nothing more reaches it.
  ds.SetProgress(nullptr);
  const size_t reports = progress.kinds.size();
  ds.Reindex();
  EXPECT_EQ(progress.kinds.size(), reports);
}

TEST(DatasetProgress, CancelledWorkLeavesTheFilesAndAWorkingDataset) {
  struct Case {
    const char* name;
    std::function<void(TTolvernDataSet&, const TempDir&)> work;
  };
  const std::vector<Case> cases = {
      {"pack", [](TTolvernDataSet& ds, const TempDir&) { ds.Pack(); }},
      {"reindex", [](TTolvernDataSet& ds, const TempDir&) { ds.Reindex(); }},
      {"new tag",
       [](TTolvernDataSet& ds, const TempDir&) {
         ds.IndexOn(QStringLiteral("t.cdx"), QStringLiteral("DESC"), 1, true, QString(),
                    QStringLiteral("NAME"));
       }},
      {"copy",
       [](TTolvernDataSet& ds, const TempDir& dir) {
         ds.CopyTable(QString::fromStdString(dir.File("copy.dbf")));
       }},
  };
  for (const Case& c : cases) {
    for (int stopAt : {1, 2}) {
      SCOPED_TRACE(std::string(c.name) + " stopped at step " + std::to_string(stopAt));
      TempDir dir;
      const std::string table = MakeTable(dir);
      const auto before = Snapshot(dir);
      {
        TTolvernDataSet ds;
        RecordingProgress progress(stopAt);
        Open(ds, table, true);
        ds.SetProgress(&progress);
        EXPECT_THROW(c.work(ds, dir), tolvern::ETolvernCancelled);
        EXPECT_EQ(progress.open, 0);
        EXPECT_EQ(ds.BusyState(), 0);
        ds.SetProgress(nullptr);
        // The previous index is open and kept current.
        EXPECT_EQ(ds.IndexName(), QStringLiteral("NAME"));
        ExpectWalksInOrder(ds, Live());
        ds.Close();
      }
      EXPECT_TRUE(Snapshot(dir) == before) << "a file changed, appeared or went";
    }
  }
}

TEST(DatasetProgress, ACancelledSearchKeepsThePosition) {
  TempDir dir;
  const std::string table = MakeTable(dir);
  TTolvernDataSet ds;
  Open(ds, table, false);
  RecordingProgress progress(2);
  ds.SetProgress(&progress);
  ds.SetRecNo(100);
  const QString name = ds.FieldByName(QStringLiteral("NAME"))->AsString();
  int field = 0;
  int32_t recno = 50;  // searching on from another record than the one shown
  EXPECT_THROW(ds.SearchText(QStringLiteral("ABSENT"), field, 0, recno),
               tolvern::ETolvernCancelled);
  EXPECT_EQ(progress.kinds, std::vector<int32_t>{tolvern::kStatusSearch});
  EXPECT_EQ(progress.open, 0);
  EXPECT_EQ(ds.RecNo(), 100);
  EXPECT_EQ(ds.Handler()->CurrentRecord(), 100);
  EXPECT_EQ(ds.FieldByName(QStringLiteral("NAME"))->AsString(), name);
  // Without a stop the same search runs to its end and finds nothing.
  ds.SetProgress(nullptr);
  recno = 100;
  EXPECT_FALSE(ds.SearchText(QStringLiteral("ABSENT"), field, 0, recno));
  EXPECT_EQ(ds.RecNo(), 100);
}

}  // namespace
}  // namespace fendral
