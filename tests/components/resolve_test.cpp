// Where tables are found: aliases from tolvern.cfg, the default directory, file names
// completed without regard to case, index lists.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <cstdlib>

#include "test_support.h"
#include "tv_resolve.h"

namespace fendral {
namespace {

using test::TempDir;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Points the configuration directory at a scratch folder for one test.
class ConfigHome {
 public:
  explicit ConfigHome(const std::string& dir) {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) old_ = old, hadOld_ = true;
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    TTVAliasList::Instance().Reload();
  }
  ~ConfigHome() {
    if (hadOld_) {
      setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    TTVAliasList::Instance().Reload();
  }

 private:
  std::string old_;
  bool hadOld_ = false;
};

TEST(Aliases, ReadFromTheConfigFileAndLookedUpIgnoringCase) {
  TempDir home;
  test::WriteText(home.Path() / "tolvern.cfg",
                  "[Other]\nSALES=/nowhere\n\n[Alias]\nSales=/data/Sales Dir\n"
                  "empty=\n; comment\nSALES=/data/Replaced\nArchive = /srv/Old/\n");
  ConfigHome config(home.Path().string());
  const QStringList lines = TTVAliasList::Instance().Lines();
  ASSERT_GE(lines.size(), 3);
  EXPECT_EQ(lines[0], QStringLiteral("Default Directory"));
  EXPECT_EQ(TTVAliasList::Instance().Lookup(QStringLiteral("sales")),
            QStringLiteral("/data/Replaced"));
  EXPECT_TRUE(TTVAliasList::Instance().Lookup(QStringLiteral("empty")).isNull());
  EXPECT_TRUE(TTVAliasList::Instance().Lookup(QStringLiteral("Other")).isNull());
  // The directory keeps its case; a slash is added once.
  EXPECT_EQ(ResolveTableDirectory(QStringLiteral("ARCHIVE")), QStringLiteral("/srv/Old/"));
  EXPECT_EQ(ResolveTableDirectory(QStringLiteral("/Some/Dir")), QStringLiteral("/Some/Dir/"));
  EXPECT_EQ(ResolveTableDirectory(QString()), QString());
}

TEST(Aliases, MissingConfigFileGivesOnlyTheDefaultDirectory) {
  TempDir home;
  ConfigHome config(home.File("absent"));
  EXPECT_EQ(TTVAliasList::Instance().Lines(), QStringList{QStringLiteral("Default Directory")});
}

TEST(Aliases, DefaultDirectoryIsTheExecutablesDirectory) {
  EXPECT_EQ(ResolveTableDirectory(QStringLiteral("default directory")),
            QCoreApplication::applicationDirPath() + QLatin1Char('/'));
}

TEST(FileNames, NameWithoutExtensionFindsTheTableInAnyCase) {
  TempDir dir;
  test::WriteText(dir.Path() / "SALES.DBF", "x");
  test::WriteText(dir.Path() / "orders.dbf", "x");
  const QString d = Q(dir.Path().string()) + QLatin1Char('/');
  EXPECT_EQ(CompleteTableFile(d, QStringLiteral("sales")), d + QStringLiteral("SALES.DBF"));
  EXPECT_EQ(CompleteTableFile(d, QStringLiteral("Orders")), d + QStringLiteral("orders.dbf"));
  // A name with an extension is taken as it is, or found in another case.
  EXPECT_EQ(CompleteTableFile(d, QStringLiteral("sales.dbf")), d + QStringLiteral("SALES.DBF"));
  EXPECT_EQ(CompleteTableFile(d, QStringLiteral("new.tab")), d + QStringLiteral("new.tab"));
  // No such table: the name a new one would get.
  EXPECT_EQ(CompleteTableFile(d, QStringLiteral("absent")), d + QStringLiteral("absent.DBF"));
  // An absolute name ignores the directory.
  EXPECT_EQ(CompleteTableFile(QStringLiteral("/elsewhere/"), d + QStringLiteral("sales")),
            d + QStringLiteral("SALES.DBF"));
}

TEST(FileNames, IndexNamesAreCompletedLikeTableNames) {
  TempDir dir;
  test::WriteText(dir.Path() / "BYNAME.NDX", "x");
  test::WriteText(dir.Path() / "code.ntx", "x");
  QDir(Q(dir.Path().string())).mkdir(QStringLiteral("Sub"));
  test::WriteText(dir.Path() / "Sub" / "deep.ndx", "x");
  const QString d = Q(dir.Path().string()) + QLatin1Char('/');
  EXPECT_EQ(CompleteIndexFile(d, QStringLiteral("byname")), d + QStringLiteral("BYNAME.NDX"));
  EXPECT_EQ(CompleteIndexFile(d, QStringLiteral("CODE.NTX")), d + QStringLiteral("code.ntx"));
  EXPECT_EQ(CompleteIndexFile(d, QStringLiteral("Sub/deep")), d + QStringLiteral("Sub/deep.ndx"));
  EXPECT_EQ(CompleteIndexFile(d, QStringLiteral("none")), d + QStringLiteral("none.NDX"));
}

TEST(FileNames, IndexListsSplitAtSeparatorsAndKeepQuotedNames) {
  EXPECT_EQ(SplitIndexList(QStringLiteral(" a.ntx,b;;\"my index.ndx\" c ")),
            (QStringList{QStringLiteral("a.ntx"), QStringLiteral("b"),
                         QStringLiteral("my index.ndx"), QStringLiteral("c")}));
  EXPECT_TRUE(SplitIndexList(QStringLiteral(" ,; ")).isEmpty());
}

TEST(FileNames, SameFileResolvesLinksAndSpellingsAlsoOfFilesNotThereYet) {
  TempDir dir;
  const QString d = Q(dir.Path().string());
  test::WriteText(dir.Path() / "a.dbf", "x");
  test::WriteText(dir.Path() / "b.dbf", "x");
  QDir(d).mkdir(QStringLiteral("real"));
  std::filesystem::create_directory_symlink(dir.Path() / "real", dir.Path() / "link");
  std::filesystem::create_symlink(dir.Path() / "a.dbf", dir.Path() / "alias.dbf");
  EXPECT_TRUE(SameFile(d + "/a.dbf", d + "/./a.dbf"));
  EXPECT_TRUE(SameFile(d + "/a.dbf", d + "/alias.dbf"));
  EXPECT_FALSE(SameFile(d + "/a.dbf", d + "/b.dbf"));
  EXPECT_FALSE(SameFile(d + "/a.dbf", d + "/new.dbf"));
  EXPECT_FALSE(SameFile(QString(), QString()));
  // A file that is not there yet is the same under two spellings of its name, also through
  // a linked directory (the canonical-path-only rule called these different).
  EXPECT_TRUE(SameFile(d + "/new.dbf", d + "/sub/../new.dbf"));
  EXPECT_TRUE(SameFile(d + "/real/new.cdx", d + "/link/new.cdx"));
  EXPECT_FALSE(SameFile(d + "/real/new.cdx", d + "/real/other.cdx"));
}

TEST(FileNames, CompanionFilesAndTypedNames) {
  TempDir dir;
  const QString d = Q(dir.Path().string());
  for (const char* name : {"Sales.DBF", "SALES.fpt", "sales.CDX", "sales.ntx", "salesx.cdx",
                           "other.cdx", "sales.bak"})
    test::WriteText(dir.Path() / name, "x");
  QStringList found = FilesNamedLike(d + "/sales.dbf", {QStringLiteral("cdx"),
                                                        QStringLiteral("NTX")});
  found.sort();
  EXPECT_EQ(found, (QStringList{d + "/sales.CDX", d + "/sales.ntx"}));
  EXPECT_EQ(FilesNamedLike(d + "/Sales.DBF", {QStringLiteral("fpt")}),
            QStringList{d + "/SALES.fpt"});

  // The copy's index files: the table's name replaced, other names prefixed.
  EXPECT_EQ(IndexFileForCopy(d + "/SALES.CDX", d + "/sales.dbf", "/t/copy.dbf"),
            QStringLiteral("/t/copy.CDX"));
  EXPECT_EQ(IndexFileForCopy(d + "/salesby.ntx", d + "/sales.dbf", "/t/copy.dbf"),
            QStringLiteral("/t/copyby.ntx"));
  EXPECT_EQ(IndexFileForCopy(d + "/names.ntx", d + "/sales.dbf", "/t/copy.dbf"),
            QStringLiteral("/t/copy_names.ntx"));

  EXPECT_EQ(InTableDirectory(d, QStringLiteral("x/../out.txt")), d + "/out.txt");
  EXPECT_EQ(InTableDirectory(d + "/", QStringLiteral("/abs/out.txt")), QStringLiteral("/abs/out.txt"));
  EXPECT_EQ(WithDefaultExtension(QStringLiteral("/a.b/name"), QStringLiteral("dbf")),
            QStringLiteral("/a.b/name.dbf"));
  EXPECT_EQ(WithDefaultExtension(QStringLiteral("/a/name.dat"), QStringLiteral("dbf")),
            QStringLiteral("/a/name.dat"));
  const QString odd = QString::fromUtf8("/tmp/\xd0\xb8\xd0\xbc\xd1\x8f.dbf");
  EXPECT_EQ(FromPath8(Path8(odd)), odd);
}

}  // namespace
}  // namespace fendral
