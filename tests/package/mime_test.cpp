// The installed file type: shared-mime-info compiles the package file, and a reader of the
// compiled database (Qt's) tells tables from other files by their first bytes alone.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QMimeDatabase>
#include <cstdlib>
#include <filesystem>

#include "kx6_DBF.h"
#include "test_support.h"

namespace fendral::test {
namespace {

namespace fs = std::filesystem;

class MimeMagic : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (RunCommand("command -v update-mime-database >/dev/null") != 0) return;
    dir_ = new TempDir;
    const fs::path data = dir_->File("data");
    fs::create_directories(data / "mime" / "packages");
    fs::create_directories(dir_->File("home"));
    fs::copy_file(FENDRAL_MIME_XML, data / "mime" / "packages" / "fendral.xml");
    std::string output;
    compiled_ =
        RunCommand("update-mime-database '" + (data / "mime").string() + "' 2>&1", &output) == 0 &&
        fs::exists(data / "mime" / "mime.cache");
    if (!compiled_) std::fprintf(stderr, "update-mime-database failed: %s\n", output.c_str());
    // Only this database and Qt's built-in one: the system's files play no part.
    setenv("XDG_DATA_DIRS", data.c_str(), 1);
    setenv("XDG_DATA_HOME", dir_->File("home").c_str(), 1);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "update-mime-database (shared-mime-info) not installed";
    ASSERT_TRUE(compiled_);
  }

  // The type told by the content alone, the file's name playing no part.
  static std::string TypeOfContent(const fs::path& file) {
    const std::vector<uint8_t> bytes = ReadBytes(file);
    const QByteArray head(reinterpret_cast<const char*>(bytes.data()),
                          static_cast<qsizetype>(std::min<size_t>(bytes.size(), 4096)));
    return QMimeDatabase().mimeTypeForData(head).name().toStdString();
  }

  static TempDir* dir_;
  static bool compiled_;
};

TempDir* MimeMagic::dir_ = nullptr;
bool MimeMagic::compiled_ = false;

bool EngineOpens(const fs::path& file) {
  try {
    tolvern::KXO_dBaseDBF table(file.string(), false, true);
    return true;
  } catch (...) {
    return false;
  }
}

TEST_F(MimeMagic, EveryFixtureTableTheEngineOpensIsRecognised) {
  REQUIRE_SHARED();
  int opened = 0;
  for (const fs::path& file : FixtureFiles(".dbf")) {
    if (!EngineOpens(file)) continue;
    ++opened;
    EXPECT_EQ(TypeOfContent(file), "application/x-dbf") << file;
  }
  EXPECT_GT(opened, 300);
}

TEST_F(MimeMagic, TextIsNotATable) {
  REQUIRE_SHARED();
  int texts = 0;
  for (const std::string ext : {".tsv", ".md"}) {
    for (const fs::path& file : FixtureFiles(ext)) {
      ++texts;
      EXPECT_NE(TypeOfContent(file), "application/x-dbf") << file;
    }
  }
  EXPECT_GT(texts, 30);
}

TEST_F(MimeMagic, VersionByteAloneIsNotEnough) {
  TempDir dir;
  const auto typeOf = [&](const std::string& bytes) {
    WriteText(dir.File("f"), bytes);
    return TypeOfContent(dir.File("f"));
  };
  // Text that starts with '0' (the Visual FoxPro version byte), with digits or a date.
  EXPECT_NE(typeOf("0123456789abcdef0123456789abcdef\n"), "application/x-dbf");
  EXPECT_NE(typeOf("0\t12\t2024-01-05\tsome text here\n"), "application/x-dbf");
  // A header-shaped start: version, date 2024-01-05, then a header length of 97 bytes.
  std::string header("\x30\x7c\x01\x05\0\0\0\0\x61\0\x0b\0", 12);
  header.append(20, '\0');
  EXPECT_EQ(typeOf(header), "application/x-dbf");
  header[2] = 0x1d;  // no month 29
  EXPECT_NE(typeOf(header), "application/x-dbf");
  header[2] = 0x01;
  header[9] = 0x50;  // a header of more than 20000 bytes
  EXPECT_NE(typeOf(header), "application/x-dbf");
  header[9] = 0x00;
  header[0] = 0x02;  // a version the program does not read
  EXPECT_NE(typeOf(header), "application/x-dbf");
}

TEST_F(MimeMagic, TheNameInAnyCase) {
  QMimeDatabase db;
  for (const char* name : {"a.dbf", "B.DBF", "c.DbF"})
    EXPECT_EQ(db.mimeTypeForFile(QString::fromLatin1(name), QMimeDatabase::MatchExtension)
                  .name()
                  .toStdString(),
              "application/x-dbf")
        << name;
}

}  // namespace
}  // namespace fendral::test
