// Table creation from a field list, and the memo stream.
#include <gtest/gtest.h>

#include <QDate>

#include "dataset_support.h"

namespace fendral {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::TempDir;

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

// Answers every question with OK and remembers it.
class YesDialogs : public IDialogs {
 public:
  bool Confirm(const QString& caption, const QString& text) override {
    asked << caption + QLatin1Char('|') + text;
    return true;
  }
  QStringList asked;
};

TEST(FieldList, LinesAreCheckedLikeTheDefinitionFormat) {
  TTVFieldLine line;
  EXPECT_TRUE(ParseFieldLine(QStringLiteral("NAME;C;20;0"), line));
  EXPECT_EQ(line.name, QStringLiteral("NAME"));
  EXPECT_EQ(line.type, 'C');
  EXPECT_EQ(line.length, 20);
  EXPECT_TRUE(ParseFieldLine(QStringLiteral("AVERYLONGNAME;N;10;2"), line));
  EXPECT_EQ(line.name, QStringLiteral("AVERYLONGN"));
  EXPECT_EQ(line.decimals, 2);
  EXPECT_TRUE(ParseFieldLine(QStringLiteral("X;N;10;002"), line));
  for (const char* bad : {"NAME;C;20", "NAME;CC;20;0", "NAME", "NAME;C;x;0", "NAME;C;20;0;",
                          "NAME;C;20;0000", "NAME;;20;0", "NAME;C;20;a"}) {
    EXPECT_FALSE(ParseFieldLine(QString::fromLatin1(bad), line)) << bad;
  }
}

TEST(CreateTable, RefusesBadListsAndMissingOrOpenTables) {
  TempDir dir;
  TCreateTolvernDataSet create;
  EXPECT_EQ(Message([&] { create.CreateTable(); }), "A table is not assigned to this object");
  TTolvernDataSet ds;
  ds.SetDatabaseName(Q(dir.Path().string()));
  ds.SetTableName(QStringLiteral("new"));
  create.SetDBFTable(&ds);
  EXPECT_EQ(Message([&] { create.CreateTable(); }), "Field list is invalid");
  create.SetCreateFields({QStringLiteral("NAME;C;10;0"), QStringLiteral("name;N;5;0")});
  EXPECT_EQ(Message([&] { create.CreateTable(); }), "Field list is invalid");
  create.SetCreateFields({QStringLiteral("NAME;C;10;0"), QStringLiteral("AGE;N;5")});
  EXPECT_EQ(Message([&] { create.CreateTable(); }), "Field list is invalid");
  EXPECT_TRUE(fs::is_empty(dir.Path()));
  create.SetCreateFields({QStringLiteral("NAME;C;10;0")});
  EXPECT_TRUE(create.CreateTable());
  EXPECT_TRUE(ds.Active());
  EXPECT_EQ(Message([&] { create.CreateTable(); }),
            "Cannot perform this operation on an open table");
}

TEST(CreateTable, EveryTypeIsCreatedAndReadBackByThePeers) {
  REQUIRE_SHARED();
  const struct {
    TkxDBFTypes type;
    uint8_t version;
    const char* memo;
  } kinds[] = {{TkxDBFTypes::Clipper, 0x83, ".DBT"},
               {TkxDBFTypes::DBaseIII, 0x83, ".DBT"},
               {TkxDBFTypes::DBaseIV, 0x8B, ".DBT"},
               {TkxDBFTypes::FoxPro2, 0xF5, ".FPT"}};
  for (const auto& kind : kinds) {
    SCOPED_TRACE(static_cast<int>(kind.type));
    TempDir dir;
    TTolvernDataSet ds;
    ds.SetDatabaseName(Q(dir.Path().string()));
    ds.SetTableName(QStringLiteral("PEOPLE"));
    TCreateTolvernDataSet create;
    create.SetDBFTable(&ds);
    create.SetDBFType(kind.type);
    create.SetCreateFields({QStringLiteral("NAME;C;20;0"), QStringLiteral("AMOUNT;N;10;2"),
                            QStringLiteral("BORN;D;8;0"), QStringLiteral("OK;L;1;0"),
                            QStringLiteral("NOTES;M;10;0")});
    ASSERT_TRUE(create.CreateTable());
    for (int i = 0; i < 3; ++i) {
      ds.Append();
      ds.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("Person %1").arg(i));
      ds.FieldByName(QStringLiteral("AMOUNT"))->SetAsFloat(i * 10.25);
      ds.FieldByName(QStringLiteral("BORN"))
          ->SetAsDateTime(QDateTime(QDate(1970 + i, 2, 3), QTime()));
      ds.FieldByName(QStringLiteral("OK"))->SetAsBoolean(i % 2 == 0);
      static_cast<TMemoField*>(ds.FieldByName(QStringLiteral("NOTES")))
          ->SetText(QStringLiteral("memo of %1\r\nline two").arg(i));
      ds.Post();
    }
    ds.Close();
    const std::string table = dir.File("PEOPLE.DBF");
    EXPECT_TRUE(fs::exists(dir.File(std::string("PEOPLE") + kind.memo)));
    EXPECT_EQ(test::ReadBytes(table).at(0), kind.version);
    std::string perl;
    ASSERT_EQ(
        test::RunCommand("perl " + Quote((test::SharedDir() / "peers/dump_table.pl").string()) +
                             " " + Quote(table),
                         &perl),
        0);
    const auto lines = test::JsonLines(perl);
    ASSERT_EQ(lines.size(), 3u);
    for (int i = 0; i < 3; ++i) {
      const QJsonObject f = lines[static_cast<size_t>(i)].value("fields").toObject();
      EXPECT_EQ(f.value("NAME").toString(), QStringLiteral("Person %1").arg(i));
      EXPECT_EQ(f.value("AMOUNT").toString().toDouble(), i * 10.25);
      EXPECT_EQ(f.value("BORN").toString(), QDate(1970 + i, 2, 3).toString(Qt::ISODate));
      EXPECT_EQ(f.value("OK").toString(), QString::fromLatin1(i % 2 == 0 ? "T" : "F"));
      EXPECT_EQ(f.value("NOTES").toString(), QStringLiteral("memo of %1\r\nline two").arg(i));
    }
  }
}

TEST(CreateTable, OverwritingAsksAndRemovesTheOldMemoAndIndexes) {
  TempDir dir;
  TTolvernDataSet ds;
  ds.SetDatabaseName(Q(dir.Path().string()));
  ds.SetTableName(QStringLiteral("old"));
  TCreateTolvernDataSet create;
  create.SetDBFTable(&ds);
  create.SetDBFType(TkxDBFTypes::FoxPro2);
  create.SetCreateFields({QStringLiteral("NAME;C;10;0"), QStringLiteral("NOTES;M;10;0")});
  ASSERT_TRUE(create.CreateTable());
  ds.IndexOn(QStringLiteral("old.cdx"), QStringLiteral("NAME"), 0, true, QString(),
             QStringLiteral("NAME"));
  ds.IndexOn(QStringLiteral("old.ntx"), QStringLiteral("old"), 0, true, QString(),
             QStringLiteral("NAME"));
  ds.Append();
  ds.Field(0)->SetAsString(QStringLiteral("keep?"));
  ds.Post();
  ds.Close();
  test::WriteText(dir.Path() / "other.ntx", "not ours");
  ASSERT_TRUE(fs::exists(dir.File("old.cdx")));
  // Without a window the question is answered with Cancel: nothing changes.
  const auto before = test::ReadBytes(dir.File("old.DBF"));
  EXPECT_FALSE(create.CreateTable());
  EXPECT_EQ(test::ReadBytes(dir.File("old.DBF")), before);
  YesDialogs yes;
  create.SetDialogs(&yes);
  create.SetCreateFields({QStringLiteral("CODE;N;5;0")});
  create.SetDBFType(TkxDBFTypes::DBaseIII);
  ASSERT_TRUE(create.CreateTable());
  EXPECT_EQ(yes.asked,
            QStringList{QStringLiteral("Warning|Table exists.  Do you want to overwrite?")});
  EXPECT_FALSE(fs::exists(dir.File("old.cdx")));
  EXPECT_FALSE(fs::exists(dir.File("old.ntx")));
  EXPECT_FALSE(fs::exists(dir.File("old.FPT")));
  EXPECT_TRUE(fs::exists(dir.File("other.ntx")));
  EXPECT_EQ(ds.GetTagCount(), 0);
  EXPECT_EQ(ds.FieldCount(), 1);
  EXPECT_EQ(ds.RecordCount(), 0);
  // AutoOverwrite asks nothing.
  ds.Close();
  create.SetAutoOverwrite(true);
  ASSERT_TRUE(create.CreateTable());
  EXPECT_EQ(yes.asked.size(), 1);
}

class MemoStream : public ::testing::Test {
 protected:
  void SetUp() override {
    ds.SetDatabaseName(Q(dir.Path().string()));
    ds.SetTableName(QStringLiteral("memo"));
    create.SetDBFTable(&ds);
    create.SetDBFType(TkxDBFTypes::DBaseIV);
    create.SetCreateFields({QStringLiteral("NAME;C;10;0"), QStringLiteral("NOTES;M;10;0")});
    ASSERT_TRUE(create.CreateTable());
    for (int i = 0; i < 3; ++i) {
      ds.Append();
      ds.Field(0)->SetAsString(QStringLiteral("R%1").arg(i));
      Notes().SetText(QStringLiteral("0123456789"));
      ds.Post();
    }
    ds.First();
  }
  TMemoField& Notes() { return *static_cast<TMemoField*>(ds.FieldByName(QStringLiteral("NOTES"))); }
  std::string FileNotes(int recno) {
    std::string dump;
    test::RunCli("dump " + Quote(dir.File("memo.DBF")), &dump);
    return test::JsonLines(dump)
        .at(static_cast<size_t>(recno - 1))
        .value("fields")
        .toObject()
        .value("NOTES")
        .toString()
        .toStdString();
  }

  TempDir dir;
  TTolvernDataSet ds;
  TCreateTolvernDataSet create;
};

TEST_F(MemoStream, ReadWriteAndSeekFollowTheStreamRules) {
  {
    TTVBlobStream read(Notes(), bmRead);
    char buffer[100];
    EXPECT_EQ(read.read(buffer, 100), 10);
    EXPECT_EQ(read.read(buffer, 100), 0);
  }
  EXPECT_NE(Message([&] { TTVBlobStream(Notes(), bmWrite); }), "(no error)");
  ds.Edit();
  {
    TTVBlobStream rw(Notes(), bmReadWrite);
    ASSERT_TRUE(rw.seek(2));
    EXPECT_EQ(rw.write("abc", 3), 3);
    EXPECT_EQ(rw.size(), 5);
  }
  EXPECT_EQ(Notes().Text(), QStringLiteral("01abc"));
  {
    TTVBlobStream rw(Notes(), bmReadWrite);
    ASSERT_TRUE(rw.seek(8));
    rw.write("Z", 1);
  }
  EXPECT_EQ(Notes().AsBytes(), QByteArray("01abc\0\0\0Z", 9));
  ds.Post();
  EXPECT_EQ(FileNotes(1), std::string("01abc\0\0\0Z", 9));
  // A write-mode stream that writes nothing stores an empty memo.
  ds.Edit();
  { TTVBlobStream empty(Notes(), bmWrite); }
  ds.Post();
  EXPECT_TRUE(Notes().IsNull());
  EXPECT_EQ(FileNotes(1), "");
}

TEST_F(MemoStream, CancelKeepsTheMemoAndNothingIsWrittenBeforeThePost) {
  ds.Next();
  ds.Edit();
  Notes().SetText(QStringLiteral("a much longer text that needs new blocks ") +
                  QString(600, QLatin1Char('x')));
  EXPECT_EQ(FileNotes(2), "0123456789");
  ds.Cancel();
  EXPECT_EQ(Notes().Text(), QStringLiteral("0123456789"));
  EXPECT_EQ(FileNotes(2), "0123456789");
  // The display text of a memo is its first line.
  ds.Edit();
  Notes().SetText(QStringLiteral("first line\r\nsecond"));
  ds.Post();
  EXPECT_EQ(ds.FieldDisplayText(Notes()), QStringLiteral("first line"));
  EXPECT_EQ(FileNotes(2), "first line\r\nsecond");
  EXPECT_EQ(FileNotes(1), "0123456789");
  EXPECT_EQ(FileNotes(3), "0123456789");
}

}  // namespace
}  // namespace fendral
