// Helpers of the table-command and text tests: readings of a table by fendral-cli and by
// Perl XBase, and the check that an index file describes its table as a fresh build does.
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QTest>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app_test_util.h"
#include "kx6_progress.h"
#include "tv_command.h"

namespace fendral::test {

inline std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

inline std::vector<QJsonObject> JsonLines(const std::string& text) {
  std::vector<QJsonObject> lines;
  for (const QByteArray& line : QByteArray::fromStdString(text).split('\n'))
    if (!line.trimmed().isEmpty()) lines.push_back(QJsonDocument::fromJson(line).object());
  return lines;
}

inline bool LogSays(const std::string& log, const char* word) {
  return fs::exists(log) && ReadText(log).find(word) != std::string::npos;
}

// Starts the legacy program holding `table` open, shared, for two seconds (its log goes to
// `log`); true once it says the table is open. The event loop runs while waiting.
inline bool HoldWithLegacy(const std::string& table, const std::string& log) {
  // Built by appending: GCC 12 warns (wrongly) about a literal prepended to a temporary.
  std::string command = "(";
  command += Quote((SharedDir() / "peers/bin/hb-legacy").string());
  command += " hold " + Quote(table) + " DBFCDX 2 shared; echo exit) >" + Quote(log) + " 2>&1 &";
  if (RunCommand(command) != 0) return false;
  for (int i = 0; i < 200 && !LogSays(log, "open") && !LogSays(log, "exit"); ++i) QTest::qWait(50);
  return LogSays(log, "open");
}

// Waits (up to ten seconds, the event loop running) until the legacy program has let go.
inline void AwaitLegacyExit(const std::string& log) {
  for (int i = 0; i < 200 && !LogSays(log, "exit"); ++i) QTest::qWait(50);
}

// fendral-cli with `args`; its exit status, its standard output in `out`.
inline int Cli(const std::string& args, std::string* out = nullptr) {
  return RunCommand(std::string(FENDRAL_CLI) + " " + args + " 2>&1", out);
}

// The records as Perl XBase reads them (values as text).
inline std::vector<QJsonObject> PeerDump(const std::string& table) {
  std::string out;
  EXPECT_EQ(RunCommand("perl " + Quote((SharedDir() / "peers/dump_table.pl").string()) + " " +
                           Quote(table) + " 2>/dev/null",
                       &out),
            0)
      << table;
  return JsonLines(out);
}

// The field values of the records, one JSON text per record, as fendral-cli reads them.
inline std::vector<std::string> Values(const std::string& table, bool keepDeleted = true) {
  std::vector<std::string> values;
  for (const QJsonObject& record : Dump(table))
    if (keepDeleted || !record.value("deleted").toBool())
      values.push_back(QJsonDocument(record.value("fields").toObject())
                           .toJson(QJsonDocument::Compact)
                           .toStdString());
  return values;
}
inline QJsonObject Object(const std::string& json) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
}

// The names of the memo fields of `table`.
inline QStringList MemoFields(const std::string& table) {
  std::string out;
  EXPECT_EQ(Cli("info " + Quote(table), &out), 0) << out;
  QStringList names;
  for (const QJsonValue field : JsonLines(out).at(0).value("fields").toArray())
    if (field.toObject().value("type").toString() == QLatin1String("M"))
      names << field.toObject().value("name").toString();
  return names;
}

inline std::vector<int> Order(const std::string& table, const std::string& index,
                              const std::string& tag) {
  std::string out;
  EXPECT_EQ(Cli("keys " + Quote(table) + " " + Quote(index) +
                    (tag.empty() ? std::string() : " --tag " + Quote(tag)),
                &out),
            0)
      << out;
  std::vector<int> order;
  for (const QJsonObject& key : JsonLines(out)) order.push_back(key.value("recno").toInt());
  return order;
}

inline std::vector<QJsonObject> Tags(const std::string& table, const std::string& index) {
  std::string out;
  EXPECT_EQ(Cli("tags " + Quote(table) + " " + Quote(index), &out), 0) << out;
  return JsonLines(out);
}

// Every tag of `index` walks in the order a fresh build of the same key gives, and, for
// NTX and CDX files, the other program's checker accepts it (when the shared folder is
// there).
inline void ExpectIndexCurrent(const std::string& table, const std::string& index) {
  SCOPED_TRACE(index);
  const std::string ext =
      QString::fromStdString(fs::path(index).extension().string()).toLower().toStdString();
  const bool multi = ext == ".cdx" || ext == ".mdx";
  const std::vector<QJsonObject> tags = Tags(table, index);
  ASSERT_FALSE(tags.empty());
  TempDir fresh;
  for (const QJsonObject& tag : tags) {
    const std::string name = tag.value("name").toString().toStdString();
    const std::string rebuilt = fresh.File("fresh" + ext);
    fs::remove(rebuilt);
    std::string out;
    std::string args = "index " + Quote(table) + " " + Quote(rebuilt) + " --key " +
                       Quote(tag.value("key").toString().toStdString());
    if (multi) args += " --tag " + Quote(name);
    if (!tag.value("for").toString().isEmpty())
      args += " --for " + Quote(tag.value("for").toString().toStdString());
    if (tag.value("unique").toBool()) args += " --unique";
    if (!tag.value("ascending").toBool()) args += " --descending";
    ASSERT_EQ(Cli(args, &out), 0) << out;
    EXPECT_EQ(Order(table, index, multi ? name : std::string()),
              Order(table, rebuilt, multi ? name : std::string()))
        << name;
    if (!SharedDir().empty() && (ext == ".ntx" || ext == ".cdx")) {
      std::string report;
      EXPECT_EQ(
          RunCommand(Quote((SharedDir() / "peers/bin/hb-verify").string()) + " " + Quote(table) +
                         " " + Quote(index) + " " + Quote(name) + " --check --nowalk 2>&1",
                     &report),
          0)
          << name << ": " << report;
    }
  }
}

// A progress that records what it is told and answers "stop" at the `stopAt`-th step
// (1-based; 0 never stops).
class TRecordingProgress : public tolvern::TkxProgress {
 public:
  explicit TRecordingProgress(int64_t stopAt = 0) : stopAt_(stopAt) {}
  void Start(int32_t kind, int64_t total) override {
    kinds.push_back(kind);
    totals.push_back(total);
  }
  bool Step(int64_t done) override {
    ++steps;
    lastDone = done;
    return stopAt_ == 0 || steps < stopAt_;
  }
  void Finish() override { ++finishes; }

  std::vector<int32_t> kinds;
  std::vector<int64_t> totals;
  int64_t steps = 0;
  int64_t lastDone = -1;
  int finishes = 0;

 private:
  int64_t stopAt_;
};

// Every file of `dir` with its bytes.
inline std::map<std::string, std::vector<uint8_t>> FolderBytes(const fs::path& dir) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.is_regular_file()) files[entry.path().filename().string()] = ReadBytes(entry.path());
  return files;
}

// The files that differ between two readings of a folder: "name changed", "name is gone",
// "name was left behind"; empty when every file is byte for byte as it was.
inline std::vector<std::string> Differences(
    const std::map<std::string, std::vector<uint8_t>>& before,
    const std::map<std::string, std::vector<uint8_t>>& after) {
  std::vector<std::string> found;
  for (const auto& [name, bytes] : before) {
    const auto it = after.find(name);
    if (it == after.end())
      found.push_back(name + " is gone");
    else if (it->second != bytes)
      found.push_back(name + " changed");
  }
  for (const auto& entry : after)
    if (!before.count(entry.first)) found.push_back(entry.first + " was left behind");
  return found;
}

// Commands run without a window on a copy of the sample table (memo file and production
// CDX) in a scratch folder, through `table` as the window would hold it; `other` is the
// second dataset of the copies.
class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override { Fresh(); }
  void TearDown() override { CloseAll(); }

  void CloseAll() {
    for (TTolvernDataSet* t : {table.get(), other.get()})
      if (t && t->Active()) {
        t->SetIndexList(QString(), QString());
        t->Close();
      }
  }
  // A new scratch folder with the sample; `prepare` may change its files before the table
  // is opened (fendral-cli on the path).
  void Fresh(const std::function<void(const std::string&)>& prepare = {}) {
    CloseAll();
    dialogs.files.clear();
    dialogs.inputs.clear();
    dialogs.confirms.clear();
    dialogs.asked.clear();
    dialogs.messages.clear();
    table = std::make_unique<TTolvernDataSet>();
    table->SetUseDeleted(true);  // as the window shows it
    other = std::make_unique<TTolvernDataSet>();
    other->SetUseDeleted(false);
    dir = std::make_unique<TempDir>();
    path = CopyTableFiles(SampleTable(), dir->Path());
    if (prepare) prepare(path);
    Open();
  }
  void Open() {
    table->SetDatabaseName(Directory());
    table->SetTableName(QStringLiteral("sample.dbf"));
    QStringList files{QString::fromStdString(dir->File("sample.cdx"))};
    for (const std::string& name : moreIndexFiles) files << QString::fromStdString(dir->File(name));
    table->SetIndexFiles(files);
    table->Open();
  }
  QString Directory() const { return QString::fromStdString(dir->Path().string()) + "/"; }
  std::string Cdx() const { return dir->File("sample.cdx"); }

  // Runs `command` with scripted answers and `progress`; an error other than a cancel
  // fails the test.
  TCommandOutcome Run(TCommand& command, tolvern::TkxProgress& progress) {
    try {
      return RunCommandNow(command, dialogs, progress);
    } catch (const std::exception& error) {
      ADD_FAILURE() << error.what();
      return {};
    }
  }

  // Runs the command `make` builds (with `script` filling the answers) once to count its
  // steps, then on fresh copies stopped at the first, a middle and the last step: each
  // stop is a cancel that leaves every file of the folder byte for byte as it was.
  void ExpectCleanCancels(const std::function<std::unique_ptr<TCommand>()>& make,
                          const std::function<void()>& script,
                          const std::function<void(const std::string&)>& prepare = {}) {
    Fresh(prepare);
    script();
    TRecordingProgress counting;
    {
      auto command = make();
      const TCommandOutcome outcome = Run(*command, counting);
      ASSERT_TRUE(outcome.done);
    }
    ASSERT_GT(counting.steps, 0) << "the work reports no progress";
    for (const int64_t stopAt : {int64_t{1}, (counting.steps + 1) / 2, counting.steps}) {
      SCOPED_TRACE("stopped at step " + std::to_string(stopAt) + " of " +
                   std::to_string(counting.steps));
      Fresh(prepare);
      script();
      const auto before = FolderBytes(dir->Path());
      TRecordingProgress stopping(stopAt);
      auto command = make();
      const TCommandOutcome outcome = Run(*command, stopping);
      EXPECT_TRUE(outcome.cancelled);
      EXPECT_FALSE(outcome.done);
      EXPECT_EQ(stopping.steps, stopAt);
      EXPECT_EQ(static_cast<int>(stopping.kinds.size()), stopping.finishes);
      CloseAll();
      EXPECT_EQ(Differences(before, FolderBytes(dir->Path())), std::vector<std::string>{});
    }
  }

  std::unique_ptr<TempDir> dir;
  std::string path;
  std::vector<std::string> moreIndexFiles;  // opened with the table, in its folder
  TScriptedDialogs dialogs;
  std::unique_ptr<TTolvernDataSet> table;
  std::unique_ptr<TTolvernDataSet> other;
};

}  // namespace fendral::test
