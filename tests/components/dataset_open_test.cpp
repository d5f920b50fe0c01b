// Opening the table dataset: aliases, the default directory, names completed without
// regard to case, the messages for missing files, field mapping, code pages; locate and
// lookup; a second process editing the same record.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <cstdlib>

#include "child_process.h"
#include "dataset_support.h"
#include "tv_resolve.h"

namespace fendral {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A table made through the creation component in `dir`.
std::string MakeTable(const TempDir& dir, const QString& name, TkxDBFTypes type,
                      const QStringList& fields, int records) {
  TTolvernDataSet ds;
  ds.SetDatabaseName(Q(dir.Path().string()));
  ds.SetTableName(name);
  TCreateTolvernDataSet create;
  create.SetDBFTable(&ds);
  create.SetDBFType(type);
  create.SetCreateFields(fields);
  EXPECT_TRUE(create.CreateTable());
  for (int i = 0; i < records; ++i) {
    ds.Append();
    ds.Field(0)->SetAsString(QStringLiteral("NAME%1").arg(i, 3, 10, QLatin1Char('0')));
    if (ds.FieldCount() > 1) ds.Field(1)->SetAsFloat(i * 2.5);
    ds.Post();
  }
  return ds.TableFilePath().toStdString();
}

const QStringList kFields = {QStringLiteral("NAME;C;12;0"), QStringLiteral("AMOUNT;N;10;2"),
                             QStringLiteral("BORN;D;8;0"), QStringLiteral("NOTES;M;10;0")};

std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(no error)";
}

class ConfigHome {
 public:
  explicit ConfigHome(const std::string& dir) {
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    TTVAliasList::Instance().Reload();
  }
  ~ConfigHome() {
    unsetenv("XDG_CONFIG_HOME");
    TTVAliasList::Instance().Reload();
  }
};

TEST(DatasetOpen, AliasesDirectoriesAndNamesWithoutExtension) {
  TempDir dir;
  const std::string made = MakeTable(dir, QStringLiteral("Sales"), TkxDBFTypes::DBaseIII,
                                     {QStringLiteral("NAME;C;12;0")}, 3);
  // The file takes the given name with ".DBF"; a directory with its own case.
  EXPECT_EQ(fs::path(made).filename(), "Sales.DBF");
  fs::rename(made, dir.File("SALES.DBF"));
  TempDir home;
  test::WriteText(home.Path() / "tolvern.cfg", "[Alias]\nMyData=" + dir.Path().string() + "\n");
  ConfigHome config(home.Path().string());
  TTolvernDataSet ds;
  ds.SetDatabaseName(QStringLiteral("mydata"));
  ds.SetTableName(QStringLiteral("sales"));
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_EQ(ds.TableName(), QStringLiteral("sales"));
  ds.Close();
  // A directory given as DatabaseName keeps its case and loses a trailing slash.
  ds.SetDatabaseName(Q(dir.Path().string()) + QLatin1Char('/'));
  EXPECT_EQ(ds.DatabaseName(), Q(dir.Path().string()));
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 3);
}

TEST(DatasetOpen, DefaultDirectoryIsTheExecutablesDirectory) {
  TempDir dir;
  MakeTable(dir, QStringLiteral("t"), TkxDBFTypes::DBaseIII, {QStringLiteral("NAME;C;12;0")}, 2);
  const std::string name = "default_dir_" + std::to_string(::getpid()) + ".dbf";
  const fs::path there = fs::path(QCoreApplication::applicationDirPath().toStdString()) / name;
  fs::copy_file(dir.File("t.DBF"), there);
  struct Remove {
    fs::path p;
    ~Remove() { fs::remove(p); }
  } remove{there};
  TTolvernDataSet ds;
  ds.SetDatabaseName(QStringLiteral("Default Directory"));
  ds.SetTableName(Q(name));
  ds.Open();
  EXPECT_EQ(ds.RecordCount(), 2);
}

TEST(DatasetOpen, MessagesForMissingTablesAndIndexFiles) {
  TempDir dir;
  MakeTable(dir, QStringLiteral("t"), TkxDBFTypes::DBaseIII, {QStringLiteral("NAME;C;12;0")}, 1);
  TTolvernDataSet ds;
  ds.SetDatabaseName(Q(dir.Path().string()));
  EXPECT_EQ(Message([&] { ds.Open(); }), "Table name missing");
  ds.SetTableName(QStringLiteral("absent"));
  EXPECT_EQ(Message([&] { ds.Open(); }), "Cannot find file " + dir.File("absent.DBF"));
  EXPECT_FALSE(ds.Active());
  ds.SetTableName(QStringLiteral("t"));
  ds.SetIndexFiles({QStringLiteral("missing")});
  EXPECT_EQ(Message([&] { ds.Open(); }), "Cannot find file " + dir.File("missing.NDX"));
  EXPECT_FALSE(ds.Active());
  // Changing TableName clears IndexFiles.
  ds.SetTableName(QStringLiteral("t.dbf"));
  EXPECT_TRUE(ds.IndexFiles().isEmpty());
  ds.Open();
  ds.IndexOn(QStringLiteral("byname.ntx"), QStringLiteral("byname"), 0, true, QString(),
             QStringLiteral("NAME"));
  // The new index is open (and kept current) after it was built.
  EXPECT_EQ(ds.GetTagCount(), 1);
  EXPECT_EQ(Message([&] { ds.OpenIndexFile(QStringLiteral("byname.ntx")); }),
            "Index file " + dir.File("byname.ntx") + " already open");
  EXPECT_EQ(Message([&] { ds.SetTableName(QStringLiteral("x")); }),
            "Cannot perform this operation on an open dataset");
}

TEST(DatasetOpen, LanguageMarkChoosesTheCodePageAndTextRoundTrips) {
  REQUIRE_SHARED();
  TempDir dir;
  // Mark 0xC9: Windows Cyrillic. The table opens with TranslateASCII off in CP1251.
  const std::string table = test::CopyFixtures(dir, {"infused-dbf/cp1251.dbf"});
  TTolvernDataSet ds;
  ds.SetTranslateASCII(true);
  test::OpenTable(ds, table);
  EXPECT_FALSE(ds.TranslateASCII());
  EXPECT_EQ(ds.CodePageInUse(), "CP1251");
  std::string dump;
  test::RunCli("dump " + test::Quote(table), &dump);
  const auto lines = test::JsonLines(dump);
  ds.First();
  EXPECT_EQ(ds.FieldByName(QStringLiteral("NAME"))->AsString(),
            lines[0].value("fields").toObject().value("NAME").toString());
  // Writing text the code page holds, and refusing what it does not.
  ds.Edit();
  ds.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("Съешь ещё"));
  EXPECT_NE(Message([&] {
              ds.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("日本"));
            }).find("NAME"),
            std::string::npos);
  ds.Post();
  test::RunCli("dump " + test::Quote(table), &dump);
  EXPECT_EQ(test::JsonLines(dump)[0].value("fields").toObject().value("NAME").toString(),
            QStringLiteral("Съешь ещё"));

  // The next table starts afresh: without a mark it opens in the OEM page, whatever the
  // table before chose or the user switched to.
  ds.Close();
  const std::string plain = dir.File("plain.dbf");
  test::RunCli("create " + test::Quote(plain) + " --type dbase3 NAME:C:10", &dump);
  ASSERT_EQ(test::ReadBytes(plain)[29], 0);
  ds.SetTranslateASCII(false);
  test::OpenTable(ds, plain);
  EXPECT_TRUE(ds.TranslateASCII());
  EXPECT_EQ(ds.CodePageInUse(), "CP866");
}

TEST(DatasetOpen, FieldMappingAndPostedValues) {
  TempDir dir;
  const std::string table = MakeTable(
      dir, QStringLiteral("map"), TkxDBFTypes::FoxPro2,
      {QStringLiteral("S;C;5;0"), QStringLiteral("SMALL;N;4;0"), QStringLiteral("INT;N;10;0"),
       QStringLiteral("BIG;N;11;0"), QStringLiteral("DEC;N;6;2"), QStringLiteral("D;D;8;0"),
       QStringLiteral("L;L;1;0"), QStringLiteral("M;M;10;0")},
      0);
  TTolvernDataSet ds;
  test::OpenTable(ds, table);
  const std::vector<TFieldType> want = {ftString, ftSmallint, ftInteger, ftFloat,
                                        ftFloat,  ftDate,     ftBoolean, ftMemo};
  ASSERT_EQ(ds.FieldCount(), static_cast<int>(want.size()));
  for (int i = 0; i < ds.FieldCount(); ++i)
    EXPECT_EQ(ds.Field(i)->DataType(), want[static_cast<size_t>(i)]) << i;
  ds.Append();
  // Refused values leave nothing behind; the post fails with the field's name.
  EXPECT_NE(Message([&] { ds.Field(0)->SetAsString(QStringLiteral("toolong")); }).find("'S'"),
            std::string::npos);
  EXPECT_NE(Message([&] { ds.Field(1)->SetAsInteger(12345); }).find("SMALL"), std::string::npos);
  EXPECT_NE(Message([&] { ds.Field(4)->SetAsFloat(1234.5); }).find("DEC"), std::string::npos);
  ds.Field(4)->SetAsFloat(12.345);
  ds.Field(5)->SetAsDateTime(QDateTime(QDate(1999, 12, 31), QTime()));
  ds.Field(6)->SetAsBoolean(true);
  ds.Post();
  EXPECT_DOUBLE_EQ(ds.Field(4)->AsFloat(), 12.35);
  EXPECT_TRUE(ds.Field(0)->IsNull());
  EXPECT_EQ(ds.Field(2)->AsInteger(), 0);  // a new record holds a zero in numeric fields
  std::string dump;
  test::RunCli("dump " + test::Quote(table), &dump);
  const QJsonObject fields = test::JsonLines(dump).at(0).value("fields").toObject();
  EXPECT_EQ(fields.value("DEC").toDouble(), 12.35);
  EXPECT_EQ(fields.value("D").toString(), QStringLiteral("1999-12-31"));
  EXPECT_TRUE(fields.value("L").toBool());
  EXPECT_EQ(fields.value("SMALL").toInt(-1), 0);
}

TEST(DatasetOpen, LocateAndLookupWithAndWithoutATag) {
  TempDir dir;
  const std::string table =
      MakeTable(dir, QStringLiteral("find"), TkxDBFTypes::DBaseIV, kFields, 30);
  TTolvernDataSet ds;
  test::OpenTable(ds, table);
  for (bool withTag : {false, true}) {
    SCOPED_TRACE(withTag);
    if (withTag) {
      ds.IndexOn(QStringLiteral("find.mdx"), QStringLiteral("NAME"), 0, true, QString(),
                 QStringLiteral("NAME"));
      ds.IndexOn(QStringLiteral("find.mdx"), QStringLiteral("AMOUNT"), 0, true, QString(),
                 QStringLiteral("AMOUNT"));
      ASSERT_GT(ds.TagForField(QStringLiteral("name")), 0);
      ds.SetIndexName(QString());
    }
    ds.First();
    EXPECT_TRUE(ds.Locate(QStringLiteral("NAME"), QStringLiteral("NAME017"), 0));
    EXPECT_EQ(ds.RecNo(), 18);
    EXPECT_TRUE(ds.IndexName().isEmpty());  // the order is kept
    EXPECT_TRUE(ds.Locate(QStringLiteral("NAME"), QStringLiteral("NAME02"), loPartialKey));
    EXPECT_EQ(ds.FieldByName(QStringLiteral("NAME"))->AsString(), QStringLiteral("NAME020"));
    EXPECT_TRUE(ds.Locate(QStringLiteral("NAME"), QStringLiteral("name005"), loCaseInsensitive));
    EXPECT_EQ(ds.RecNo(), 6);
    EXPECT_FALSE(ds.Locate(QStringLiteral("NAME"), QStringLiteral("NAME999"), 0));
    EXPECT_EQ(ds.RecNo(), 6);  // a failed locate stays
    EXPECT_TRUE(ds.Locate(QStringLiteral("AMOUNT"), 25.0, 0));
    EXPECT_EQ(ds.RecNo(), 11);
    // Lookup answers the value and does not move.
    EXPECT_DOUBLE_EQ(
        ds.Lookup(QStringLiteral("NAME"), QStringLiteral("NAME004"), QStringLiteral("AMOUNT"))
            .toDouble(),
        10.0);
    EXPECT_FALSE(ds.Lookup(QStringLiteral("NAME"), QStringLiteral("NOPE"), QStringLiteral("AMOUNT"))
                     .isValid());
    EXPECT_EQ(ds.RecNo(), 11);
  }
}

TEST(DatasetOpen, AnotherProcessCannotEditALockedRecordAndSeesThePostedValue) {
  TempDir dir;
  const std::string table =
      MakeTable(dir, QStringLiteral("shared"), TkxDBFTypes::FoxPro2, kFields, 5);
  // The other process starts before this one opens the table: a forked child must not
  // share this process's open file.
  test::ChildProcess other([&](test::ChildProcess& self) {
    self.WaitForParent();
    TTolvernDataSet ds;
    test::OpenTable(ds, table);
    ds.SetRecNo(3);
    const std::string refused = Message([&] { ds.Edit(); });
    const bool stillBrowsing = ds.State() == dsBrowse;
    self.TellParent();
    self.WaitForParent();
    ds.Edit();
    const bool sawNew =
        ds.FieldByName(QStringLiteral("NAME"))->AsString() == QStringLiteral("CHANGED");
    ds.Cancel();
    return refused == "Record is locked by another user" && stillBrowsing && sawNew;
  });
  TTolvernDataSet ds;
  test::OpenTable(ds, table);
  ds.SetRecNo(3);
  ds.Edit();
  other.TellChild();
  other.WaitForChild();
  ds.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("CHANGED"));
  ds.Post();
  other.TellChild();
  EXPECT_EQ(other.Join(), 0);
}

}  // namespace
}  // namespace fendral
