// Writing through the dataset core: record locks before re-reads, delete and recall
// under the record lock, memos written at post, values a field cannot hold.
#include <gtest/gtest.h>

#include <QDate>
#include <cstring>
#include <vector>

#include "child_process.h"
#include "component_test_util.h"
#include "kx6_dbsy.h"
#include "tv_create.h"
#include "tv_table.h"

namespace fendral {
namespace {

using test::TempDir;

const std::vector<TTVFieldLine> kFields = {
    {QStringLiteral("NAME"), 'C', 10, 0}, {QStringLiteral("AMOUNT"), 'N', 8, 2},
    {QStringLiteral("QTY"), 'N', 4, 0},   {QStringLiteral("BORN"), 'D', 8, 0},
    {QStringLiteral("OK"), 'L', 1, 0},    {QStringLiteral("NOTES"), 'M', 10, 0}};

// A table of `type` with `count` records NAME0.., AMOUNT i*1.5, a memo "memo i".
std::string MakeTable(const TempDir& dir, TkxDBFTypes type, int count,
                      const std::string& name = "t.dbf") {
  const std::string path = dir.File(name);
  EXPECT_TRUE(WriteNewTable(QString::fromStdString(path), kFields, type, 64, "CP866", false));
  TTVTableCore core;
  core.Open(path, {});
  const auto defs = MapTableFields(core.Table(), core.CodePage());
  std::vector<uint8_t> buffer(static_cast<size_t>(core.BufferSize()));
  for (int i = 0; i < count; ++i) {
    core.InitNewRecord(buffer.data());
    core.SetValue(buffer.data(), defs[0], QStringLiteral("NAME%1").arg(i));
    core.SetValue(buffer.data(), defs[1], i * 1.5);
    core.SetPendingMemo(6, QByteArray("memo ") + QByteArray::number(i));
    core.Post(buffer.data(), 0);
  }
  return path;
}

struct Opened {
  TTVTableCore core;
  std::vector<TTVFieldDef> defs;
  std::vector<uint8_t> buffer;
  explicit Opened(const std::string& path, bool readAhead = false) {
    TTVTableCore::OpenOptions options;
    options.readAhead = readAhead;
    core.Open(path, options);
    defs = MapTableFields(core.Table(), core.CodePage());
    buffer.resize(static_cast<size_t>(core.BufferSize()));
  }
  QVariant Get(int field) { return core.Value(buffer.data(), defs[static_cast<size_t>(field)]); }
};

std::string DumpLine(const std::string& table, int recno) {
  std::string out;
  test::RunCli("dump " + test::Quote(table), &out);
  const auto lines = test::JsonLines(out);
  if (recno < 1 || static_cast<size_t>(recno) > lines.size()) return {};
  return QJsonDocument(lines[static_cast<size_t>(recno - 1)])
      .toJson(QJsonDocument::Compact)
      .toStdString();
}

TEST(CoreEditing, EditSeesAChangeMadeAfterTheRecordWasReadAhead) {
  TempDir dir;
  const std::string path = MakeTable(dir, TkxDBFTypes::DBaseIII, 20);
  Opened a(path, /*readAhead=*/true);
  ASSERT_EQ(a.core.Fetch(tolvern::PosTop, a.buffer.data()), TTVTableCore::FetchResult::Ok);
  ASSERT_EQ(a.core.Fetch(tolvern::PosNext, a.buffer.data()), TTVTableCore::FetchResult::Ok);
  EXPECT_EQ(a.Get(0).toString(), QStringLiteral("NAME1"));
  // Another program changes record 2 after it was read (and record 3 sits in the window).
  ASSERT_EQ(test::RunCli("replace " + test::Quote(path) + " 2 NAME=OTHER"), 0);
  a.core.LockForEdit(2, a.buffer.data());
  EXPECT_EQ(a.Get(0).toString(), QStringLiteral("OTHER"));
  a.core.SetValue(a.buffer.data(), a.defs[1], 99.5);
  a.core.Post(a.buffer.data(), 2);
  a.core.ReleaseRecordLock();
  const std::string line = DumpLine(path, 2);
  EXPECT_NE(line.find("\"NAME\":\"OTHER\""), std::string::npos) << line;
  EXPECT_NE(line.find("\"AMOUNT\":99.5"), std::string::npos) << line;
}

TEST(CoreEditing, ALockedRecordCannotBeEditedDeletedOrRecalledElsewhere) {
  TempDir dir;
  const std::string path = MakeTable(dir, TkxDBFTypes::FoxPro2, 3);
  test::ChildProcess holder([&](test::ChildProcess& self) {
    Opened b(path);
    b.core.LockForEdit(2, b.buffer.data());
    self.TellParent();
    self.WaitForParent();
    b.core.ReleaseRecordLock();
    return true;
  });
  holder.WaitForChild();
  Opened a(path);
  const std::string before = DumpLine(path, 2);
  for (int what = 0; what < 3; ++what) {
    try {
      if (what == 0) a.core.LockForEdit(2, a.buffer.data());
      if (what == 1) a.core.SetDeleted(2, true, a.buffer.data());
      if (what == 2) a.core.SetDeleted(2, false, a.buffer.data());
      ADD_FAILURE() << "operation " << what << " succeeded on a locked record";
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), "Record is locked by another user");
    }
  }
  EXPECT_FALSE(a.core.HoldsRecordLock());
  EXPECT_EQ(DumpLine(path, 2), before);
  // Other records are free.
  a.core.SetDeleted(3, true, a.buffer.data());
  holder.TellChild();
  EXPECT_EQ(holder.Join(), 0);
  // Released: delete works, and releases its own lock again.
  a.core.SetDeleted(2, true, a.buffer.data());
  EXPECT_NE(DumpLine(path, 2).find("\"deleted\":true"), std::string::npos);
  a.core.SetDeleted(2, false, a.buffer.data());
  EXPECT_NE(DumpLine(path, 2).find("\"deleted\":false"), std::string::npos);
}

TEST(CoreEditing, DeleteDuringAnEditKeepsTheEditsLock) {
  TempDir dir;
  const std::string path = MakeTable(dir, TkxDBFTypes::DBaseIV, 2);
  // The other process starts before this one opens the table: a forked child must not
  // share this process's open file.
  test::ChildProcess other([&](test::ChildProcess& self) {
    self.WaitForParent();
    Opened b(path);
    try {
      b.core.LockForEdit(1, b.buffer.data());
      return false;
    } catch (const std::exception&) {
      return true;
    }
  });
  Opened a(path);
  a.core.LockForEdit(1, a.buffer.data());
  a.core.SetDeleted(1, true, a.buffer.data());
  EXPECT_TRUE(a.core.HoldsRecordLock());
  other.TellChild();
  EXPECT_EQ(other.Join(), 0);
  a.core.ReleaseRecordLock();
}

TEST(CoreEditing, MemosAreWrittenAtPostAndDiscardedWithTheEdit) {
  for (TkxDBFTypes type : {TkxDBFTypes::DBaseIII, TkxDBFTypes::DBaseIV, TkxDBFTypes::FoxPro2}) {
    SCOPED_TRACE(static_cast<int>(type));
    TempDir dir;
    const std::string path = MakeTable(dir, type, 3);
    Opened a(path);
    a.core.LockForEdit(2, a.buffer.data());
    a.core.SetPendingMemo(6, QByteArray("changed but cancelled"));
    EXPECT_EQ(a.core.Memo(a.buffer.data(), 6), QByteArray("changed but cancelled"));
    // Nothing reaches the file before the post.
    EXPECT_NE(DumpLine(path, 2).find("\"NOTES\":\"memo 1\""), std::string::npos);
    a.core.DiscardPending();
    a.core.ReleaseRecordLock();
    EXPECT_NE(DumpLine(path, 2).find("\"NOTES\":\"memo 1\""), std::string::npos);

    // Posted: the new text, longer than the old blocks; other records keep theirs.
    const QByteArray longText(3000, 'x');
    a.core.LockForEdit(2, a.buffer.data());
    a.core.SetPendingMemo(6, longText);
    a.core.Post(a.buffer.data(), 2);
    a.core.ReleaseRecordLock();
    a.core.LockForEdit(1, a.buffer.data());
    a.core.SetPendingMemo(6, QByteArray("short"));
    a.core.Post(a.buffer.data(), 1);
    a.core.ReleaseRecordLock();
    EXPECT_NE(DumpLine(path, 1).find("\"NOTES\":\"short\""), std::string::npos);
    EXPECT_NE(DumpLine(path, 2).find(std::string(3000, 'x')), std::string::npos);
    EXPECT_NE(DumpLine(path, 3).find("\"NOTES\":\"memo 2\""), std::string::npos);
    // An empty memo leaves no reference.
    a.core.LockForEdit(3, a.buffer.data());
    a.core.SetPendingMemo(6, QByteArray());
    a.core.Post(a.buffer.data(), 3);
    a.core.ReleaseRecordLock();
    EXPECT_NE(DumpLine(path, 3).find("\"NOTES\":null"), std::string::npos) << DumpLine(path, 3);
  }
}

TEST(CoreEditing, ValuesAFieldCannotHoldAreRefusedNamingTheField) {
  TempDir dir;
  const std::string path = MakeTable(dir, TkxDBFTypes::DBaseIII, 1);
  Opened a(path);
  a.core.SetCodePage("CP866");
  a.core.LockForEdit(1, a.buffer.data());
  const std::vector<uint8_t> before = a.buffer;
  auto refused = [&](int field, const QVariant& value) {
    try {
      a.core.SetValue(a.buffer.data(), a.defs[static_cast<size_t>(field)], value);
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find(a.defs[static_cast<size_t>(field)].name.toStdString()),
                std::string::npos)
          << e.what();
      return true;
    }
    return false;
  };
  EXPECT_TRUE(refused(0, QStringLiteral("ELEVENCHARS")));
  EXPECT_TRUE(refused(0, QStringLiteral("€uro")));  // CP866 has no euro sign
  EXPECT_TRUE(refused(1, 123456.0));                // N 8,2 holds at most 99999.99
  EXPECT_TRUE(refused(1, QStringLiteral("abc")));
  EXPECT_TRUE(refused(2, 100000));  // N 4
  EXPECT_TRUE(refused(3, QDate()));
  EXPECT_EQ(a.buffer, before);
  // What fits is stored; a number is rounded to the field's decimals.
  EXPECT_FALSE(refused(0, QStringLiteral("Привет")));
  EXPECT_FALSE(refused(1, 12.345));
  EXPECT_FALSE(refused(2, -999));
  EXPECT_FALSE(refused(3, QDate(2024, 2, 29)));
  EXPECT_FALSE(refused(4, true));
  EXPECT_EQ(a.Get(0).toString(), QStringLiteral("Привет"));
  EXPECT_DOUBLE_EQ(a.Get(1).toDouble(), 12.35);
  EXPECT_EQ(a.Get(2).toInt(), -999);
  EXPECT_EQ(a.Get(3).toDate(), QDate(2024, 2, 29));
  EXPECT_TRUE(a.Get(4).toBool());
  a.core.Post(a.buffer.data(), 1);
  a.core.ReleaseRecordLock();
  const std::string line = DumpLine(path, 1);
  EXPECT_NE(line.find("\"AMOUNT\":12.35"), std::string::npos) << line;
  EXPECT_NE(line.find("\"BORN\":\"2024-02-29\""), std::string::npos) << line;
}

}  // namespace
}  // namespace fendral
