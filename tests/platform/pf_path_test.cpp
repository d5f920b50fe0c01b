// Path services: canonical names that identify a file, companion-file lookup without
// regard to case, and the parts of a name.
#include "platform/pf_path.h"

#include <unistd.h>

#include <filesystem>
#include <string>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using fendral::test::TempDir;
using fendral::test::WriteText;
using tolvern::platform::AbsolutePath;
using tolvern::platform::CanonicalPath;
using tolvern::platform::DirectoryOf;
using tolvern::platform::ExtensionOf;
using tolvern::platform::FileNameOf;
using tolvern::platform::FindCompanion;
using tolvern::platform::MatchExtensionCase;
using tolvern::platform::ReplaceExtension;

// Changes the current directory for one test and goes back afterwards.
class ScopedCurrentDirectory {
 public:
  explicit ScopedCurrentDirectory(const fs::path& dir) : saved_(fs::current_path()) {
    fs::current_path(dir);
  }
  ~ScopedCurrentDirectory() {
    std::error_code ec;
    fs::current_path(saved_, ec);
  }
  ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
  ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

 private:
  fs::path saved_;
};

// The temporary directory itself may lie behind a symbolic link (/tmp on some systems).
std::string RealDir(const TempDir& dir) { return fs::canonical(dir.Path()).string(); }

// ---------------------------------------------------------------------------------------
// Canonical and absolute names

TEST(PlatformPathCanonical, RelativeAndAbsoluteNamesOfOneFileAreEqual) {
  TempDir dir;
  fs::create_directory(dir.Path() / "sub");
  WriteText(dir.File("sales.dbf"), "x");
  const std::string absolute = CanonicalPath(dir.File("sales.dbf"));
  EXPECT_EQ(absolute, RealDir(dir) + "/sales.dbf");

  ScopedCurrentDirectory cwd(dir.Path());
  EXPECT_EQ(CanonicalPath("sales.dbf"), absolute);
  EXPECT_EQ(CanonicalPath("./sales.dbf"), absolute);
  EXPECT_EQ(CanonicalPath("sub/../sales.dbf"), absolute);
  EXPECT_EQ(CanonicalPath("sub//..//./sales.dbf"), absolute);
  EXPECT_EQ(CanonicalPath(dir.File("sub/../sales.dbf")), absolute);
}

TEST(PlatformPathCanonical, NamesDifferingInCaseStayDifferent) {
  TempDir dir;
  WriteText(dir.File("sales.dbf"), "x");
  const std::string lower = CanonicalPath(dir.File("sales.dbf"));
  const std::string upper = CanonicalPath(dir.File("SALES.DBF"));
  EXPECT_NE(lower, upper);
  EXPECT_EQ(FileNameOf(upper), "SALES.DBF") << "the case the caller gave is kept";
  EXPECT_EQ(FileNameOf(lower), "sales.dbf");
}

TEST(PlatformPathCanonical, SymbolicLinksAreResolved) {
  TempDir dir;
  fs::create_directory(dir.Path() / "data");
  WriteText(dir.File("data/t.dbf"), "x");
  fs::create_symlink("data", dir.Path() / "alias");
  fs::create_symlink("data/t.dbf", dir.Path() / "t-link.dbf");

  const std::string target = CanonicalPath(dir.File("data/t.dbf"));
  EXPECT_EQ(CanonicalPath(dir.File("alias/t.dbf")), target);
  EXPECT_EQ(CanonicalPath(dir.File("t-link.dbf")), target);
  // A file that does not exist yet, below a linked directory.
  EXPECT_EQ(CanonicalPath(dir.File("alias/new.fpt")), RealDir(dir) + "/data/new.fpt");
}

TEST(PlatformPathCanonical, MissingPartsAreNormalisedLexically) {
  TempDir dir;
  EXPECT_EQ(CanonicalPath(dir.File("no/such/../dir/./t.dbf")), RealDir(dir) + "/no/dir/t.dbf");
  EXPECT_EQ(CanonicalPath(dir.File("newdir/")), RealDir(dir) + "/newdir");
  EXPECT_EQ(CanonicalPath("/"), "/");
}

TEST(PlatformPathCanonical, AbsolutePathIsLexicalAndRelativeToCurrentDirectory) {
  TempDir dir;
  ScopedCurrentDirectory cwd(dir.Path());
  const std::string here = fs::current_path().string();
  EXPECT_EQ(AbsolutePath("t.dbf"), here + "/t.dbf");
  EXPECT_EQ(AbsolutePath("a/./b/../t.dbf"), here + "/a/t.dbf");
  EXPECT_EQ(AbsolutePath("a/b/"), here + "/a/b");
  EXPECT_EQ(AbsolutePath("/x/y/../z"), "/x/z");
  EXPECT_EQ(AbsolutePath("/.."), "/");
  EXPECT_EQ(AbsolutePath("."), here);
}

// ---------------------------------------------------------------------------------------
// Companion files

TEST(PlatformPathCompanion, ExactNameWins) {
  TempDir dir;
  WriteText(dir.File("sales.fpt"), "exact");
  WriteText(dir.File("SALES.FPT"), "upper");
  const auto found = FindCompanion(dir.Path().string(), "sales.fpt");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(*found, dir.File("sales.fpt"));
  EXPECT_EQ(FindCompanion(dir.Path().string(), "SALES.FPT"), dir.File("SALES.FPT"));
}

TEST(PlatformPathCompanion, NameIsMatchedIgnoringAsciiCase) {
  TempDir dir;
  WriteText(dir.File("Sales.Cdx"), "x");
  EXPECT_EQ(FindCompanion(dir.Path().string(), "SALES.CDX"), dir.File("Sales.Cdx"));
  EXPECT_EQ(FindCompanion(dir.Path().string(), "sales.cdx"), dir.File("Sales.Cdx"));
  EXPECT_EQ(FindCompanion(dir.Path().string() + "/", "sales.cdx"), dir.File("Sales.Cdx"));
}

TEST(PlatformPathCompanion, FirstInNameOrderWinsAmongCaseVariants) {
  TempDir dir;
  WriteText(dir.File("sales.fpt"), "x");
  WriteText(dir.File("SALES.FPT"), "x");
  WriteText(dir.File("Sales.fpt"), "x");
  EXPECT_EQ(FindCompanion(dir.Path().string(), "sales.FPT"), dir.File("SALES.FPT"));
}

TEST(PlatformPathCompanion, MissingFileOrDirectoryAnswersNothing) {
  TempDir dir;
  WriteText(dir.File("sales.dbf"), "x");
  EXPECT_FALSE(FindCompanion(dir.Path().string(), "sales.fpt").has_value());
  EXPECT_FALSE(FindCompanion(dir.File("nodir"), "sales.fpt").has_value());
  EXPECT_FALSE(FindCompanion(dir.File("sales.dbf"), "x.fpt").has_value())
      << "a file in place of the directory";
  EXPECT_FALSE(FindCompanion(dir.Path().string(), "").has_value());
  EXPECT_FALSE(FindCompanion(dir.Path().string(), "sales.dbfx").has_value());
  EXPECT_FALSE(FindCompanion(dir.Path().string(), "sales.db").has_value());
}

TEST(PlatformPathCompanion, DirectoriesAreNotCompanions) {
  TempDir dir;
  fs::create_directory(dir.Path() / "sales.cdx");
  fs::create_directory(dir.Path() / "SALES.NTX");
  EXPECT_FALSE(FindCompanion(dir.Path().string(), "sales.cdx").has_value());
  EXPECT_FALSE(FindCompanion(dir.Path().string(), "sales.ntx").has_value());
  WriteText(dir.File("Sales.Cdx"), "x");
  EXPECT_EQ(FindCompanion(dir.Path().string(), "sales.cdx"), dir.File("Sales.Cdx"));
}

TEST(PlatformPathCompanion, EmptyDirectoryMeansCurrentDirectory) {
  TempDir dir;
  WriteText(dir.File("MEMO.DBT"), "x");
  ScopedCurrentDirectory cwd(dir.Path());
  EXPECT_EQ(FindCompanion("", "memo.dbt"), std::optional<std::string>("MEMO.DBT"));
}

// ---------------------------------------------------------------------------------------
// Name parts

TEST(PlatformPathParts, DirectoryAndFileName) {
  EXPECT_EQ(DirectoryOf("/data/sales.dbf"), "/data");
  EXPECT_EQ(DirectoryOf("data/sub/sales.dbf"), "data/sub");
  EXPECT_EQ(DirectoryOf("data//sales.dbf"), "data");
  EXPECT_EQ(DirectoryOf("sales.dbf"), ".");
  EXPECT_EQ(DirectoryOf(""), ".");
  EXPECT_EQ(DirectoryOf("/sales.dbf"), "/");
  EXPECT_EQ(FileNameOf("/data/sales.dbf"), "sales.dbf");
  EXPECT_EQ(FileNameOf("sales.dbf"), "sales.dbf");
  EXPECT_EQ(FileNameOf("/data/"), "");
}

TEST(PlatformPathParts, ExtensionBelongsToTheFileName) {
  EXPECT_EQ(ExtensionOf("sales.dbf"), ".dbf");
  EXPECT_EQ(ExtensionOf("/data/SALES.DBF"), ".DBF");
  EXPECT_EQ(ExtensionOf("archive.tar.gz"), ".gz");
  EXPECT_EQ(ExtensionOf("sales"), "");
  EXPECT_EQ(ExtensionOf("a.b/c"), "") << "a dot in a directory name is no extension";
  EXPECT_EQ(ExtensionOf(".hidden"), "");
  EXPECT_EQ(ExtensionOf("dir/.hidden"), "");
  EXPECT_EQ(ExtensionOf(".hidden.dbf"), ".dbf");
  EXPECT_EQ(ExtensionOf(".."), "");
  EXPECT_EQ(ExtensionOf("sales."), ".");
}

TEST(PlatformPathParts, ReplaceExtensionKeepsDirectory) {
  EXPECT_EQ(ReplaceExtension("/data/sales.dbf", ".fpt"), "/data/sales.fpt");
  EXPECT_EQ(ReplaceExtension("sales", ".dbf"), "sales.dbf");
  EXPECT_EQ(ReplaceExtension("a.b/c", ".dbf"), "a.b/c.dbf");
  EXPECT_EQ(ReplaceExtension(".hidden", ".dbf"), ".hidden.dbf");
  EXPECT_EQ(ReplaceExtension("sales.dbf", "ndx"), "sales.ndx");
  EXPECT_EQ(ReplaceExtension("sales.dbf", ""), "sales");
}

TEST(PlatformPathParts, CompanionExtensionTakesTheTablesCase) {
  EXPECT_EQ(MatchExtensionCase(".dbf", ".fpt"), ".fpt");
  EXPECT_EQ(MatchExtensionCase(".DBF", ".fpt"), ".FPT");
  EXPECT_EQ(MatchExtensionCase(".dbf", ".FPT"), ".fpt");
  EXPECT_EQ(MatchExtensionCase(".DBF", ".Cdx"), ".CDX");
  EXPECT_EQ(MatchExtensionCase(".Dbf", ".fPt"), ".fPt") << "mixed case: as given";
  EXPECT_EQ(MatchExtensionCase("", ".fpt"), ".fpt") << "no extension: as given";
  EXPECT_EQ(MatchExtensionCase(".123", ".FPT"), ".FPT");
}

}  // namespace
