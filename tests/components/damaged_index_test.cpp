// Damaged index files never stop the table: a file that cannot be read at open, or is
// found damaged at a walk, a seek or a write, is closed and listed with the engine's
// reason, the table goes on in natural order, and Reindex rebuilds what it can.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QJsonObject>

#include "dataset_support.h"

namespace fendral {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

fs::path SampleDir() { return fs::path(FENDRAL_SOURCE_DIR) / "samples"; }

// A copy of the sample table (60 records, production CDX with tags CITY, JOINED, NAME).
std::string CopySample(const TempDir& dir, bool withCdx = true) {
  for (const char* name : {"sample.dbf", "sample.fpt", "sample.cdx"}) {
    if (!withCdx && std::string(name) == "sample.cdx") continue;
    fs::copy_file(SampleDir() / name, dir.Path() / name, fs::copy_options::overwrite_existing);
  }
  return (dir.Path() / "sample.dbf").string();
}

void CutShort(const std::string& file, uintmax_t bytes) {
  fs::resize_file(file, fs::file_size(file) - bytes);
}

// An NTX file on UPPER(NAME) that opens (its header is sound) but whose first page says
// it holds 32767 keys: walking or changing it finds the damage.
std::string NtxWithBadPage(const TempDir& dir, const std::string& table) {
  const std::string ntx = dir.File("names.ntx");
  test::RunCli("index " + test::Quote(table) + " " + test::Quote(ntx) + " --key 'UPPER(NAME)'");
  std::string bytes = test::ReadText(ntx);
  bytes[1024] = '\xff';
  bytes[1025] = '\x7f';
  test::WriteText(ntx, bytes);
  return ntx;
}

std::vector<int> OneToSixty() {
  std::vector<int> all;
  for (int i = 1; i <= 60; ++i) all.push_back(i);
  return all;
}

struct DamageCase {
  const char* name;
  const char* damagedFile;  // in the table's directory
  const char* reasonPart;   // a piece of the engine's message
};

class DamagedAtOpen : public ::testing::TestWithParam<DamageCase> {
 protected:
  // Lays out the case and answers the index files to list for the open.
  QStringList Prepare() {
    const std::string name = GetParam().name;
    table = CopySample(dir);
    if (name == "garbage ntx") {
      test::WriteText(dir.File("sample.ntx"), std::string(3000, '\xa5'));
      return {QString::fromStdString(dir.File("sample.ntx"))};
    }
    if (name == "cut cdx") {
      CutShort(dir.File("sample.cdx"), 512);
      return {};
    }
    const std::string mdx = dir.File("sample.mdx");
    test::RunCli("index " + test::Quote(table) + " " + test::Quote(mdx) + " --tag CITY --key CITY");
    CutShort(mdx, 512);
    return {QString::fromStdString(mdx)};
  }

  TempDir dir;
  std::string table;
};

TEST_P(DamagedAtOpen, TheTableOpensWithoutTheFileWhichIsListedWithTheEnginesReason) {
  const QStringList files = Prepare();
  const std::string damaged = dir.File(GetParam().damagedFile);
  const std::string before = test::ReadText(damaged);
  TTolvernDataSet ds;
  ds.SetUseDeleted(true);
  int told = 0;
  ds.OnIndexDamaged = [&](TTolvernDataSet&) { ++told; };
  ASSERT_NO_THROW(test::OpenTable(ds, table, files));
  EXPECT_EQ(ds.RecordCount(), 60);
  EXPECT_EQ(test::WalkForward(ds), OneToSixty());
  const std::vector<TTVDamagedIndex> list = ds.DamagedIndexes();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(QFileInfo(list[0].path).canonicalFilePath(),
            QFileInfo(QString::fromStdString(damaged)).canonicalFilePath());
  EXPECT_TRUE(list[0].reason.contains(QString::fromStdString(GetParam().damagedFile)))
      << list[0].reason.toStdString();
  EXPECT_TRUE(list[0].reason.contains(QLatin1String(GetParam().reasonPart)))
      << list[0].reason.toStdString();
  // The production index stays in use when it is sound.
  if (std::string(GetParam().damagedFile) != "sample.cdx") {
    EXPECT_EQ(ds.GetTagCount(), 3);
  }

  // A write completes without the damaged file, which is left as it was.
  ds.First();
  ds.Edit();
  ds.FieldByName(QStringLiteral("CITY"))->SetAsString(QStringLiteral("Aachen"));
  ds.Post();
  EXPECT_TRUE(test::ReadText(damaged) == before) << "the damaged file was written to";
  EXPECT_EQ(ds.DamagedIndexes().size(), 1u);
  EXPECT_EQ(told, 0) << "a file damaged at open is reported by the list, not the event";
  ds.Close();
  EXPECT_TRUE(ds.DamagedIndexes().empty());
  EXPECT_EQ(test::DumpRecnos(table).size(), 60u);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedAtOpen,
    ::testing::Values(DamageCase{"garbage ntx", "sample.ntx", "sample.ntx"},
                      DamageCase{"cut cdx", "sample.cdx", "lies outside the file"},
                      DamageCase{"mdx root past the end", "sample.mdx", "root page"}),
    [](const auto& info) {
      std::string name = info.param.name;
      for (char& c : name)
        if (c == ' ') c = '_';
      return name;
    });

TEST(DamagedLater, AnOrderWhoseFileIsDamagedFallsBackToNaturalOrderWithoutDanglingTags) {
  TempDir dir;
  const std::string table = CopySample(dir, false);
  const std::string ntx = NtxWithBadPage(dir, table);
  TTolvernDataSet ds;
  ds.SetUseDeleted(true);
  int told = 0;
  ds.OnIndexDamaged = [&](TTolvernDataSet&) { ++told; };
  test::OpenTable(ds, table, {QString::fromStdString(ntx)});
  ASSERT_EQ(ds.GetTagCount(), 1);
  EXPECT_TRUE(ds.DamagedIndexes().empty());
  ds.SetRecNo(7);
  ds.SetIndexName(QStringLiteral("NAMES"));
  EXPECT_EQ(told, 1);
  EXPECT_TRUE(ds.IndexName().isEmpty());
  EXPECT_TRUE(ds.GetCurrentTagName().isEmpty());
  EXPECT_EQ(ds.GetTagCount(), 0);
  ASSERT_EQ(ds.DamagedIndexes().size(), 1u);
  EXPECT_TRUE(ds.DamagedIndexes()[0].reason.contains(QStringLiteral("32767 keys")));
  EXPECT_EQ(test::WalkForward(ds), OneToSixty());
  EXPECT_EQ(test::WalkBackward(ds).size(), 60u);
}

TEST(DamagedLater, AWriteThatFindsTheFileDamagedCompletesWithoutItAndSaysSo) {
  TempDir dir;
  const std::string table = CopySample(dir, false);
  const std::string ntx = NtxWithBadPage(dir, table);
  const std::string before = test::ReadText(ntx);
  TTolvernDataSet ds;
  ds.SetUseDeleted(true);
  int told = 0;
  ds.OnIndexDamaged = [&](TTolvernDataSet&) { ++told; };
  test::OpenTable(ds, table, {QString::fromStdString(ntx)});
  ds.SetRecNo(3);
  ds.Edit();
  ds.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("Zeman, Petr"));
  ASSERT_NO_THROW(ds.Post());
  EXPECT_EQ(told, 1);
  EXPECT_EQ(ds.DamagedIndexes().size(), 1u);
  // No key page changed (the header's change counter may tell other programs of the write).
  EXPECT_TRUE(test::ReadText(ntx).substr(1024) == before.substr(1024));
  // The record was written; later writes go on without the file.
  ds.Append();
  ds.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("Appended"));
  ASSERT_NO_THROW(ds.Post());
  ds.Close();
  const auto dump = test::JsonLines([&] {
    std::string out;
    test::RunCli("dump " + test::Quote(table), &out);
    return out;
  }());
  ASSERT_EQ(dump.size(), 61u);
  EXPECT_EQ(dump[2].value("fields").toObject().value("NAME").toString(),
            QStringLiteral("Zeman, Petr"));
  EXPECT_EQ(told, 1);
}

TEST(DamagedReindex, RebuildsFilesWhoseTagDefinitionsCanBeReadAndKeepsListingTheRest) {
  TempDir dir;
  const std::string table = CopySample(dir);
  CutShort(dir.File("sample.cdx"), 512);
  const std::string mdx = dir.File("sample.mdx");
  test::RunCli("index " + test::Quote(table) + " " + test::Quote(mdx) + " --tag CITY --key CITY");
  CutShort(mdx, 512);
  test::WriteText(dir.File("sample.ntx"), std::string(3000, '\xa5'));
  TTolvernDataSet ds;
  ds.SetUseDeleted(true);
  test::OpenTable(ds, table,
                  {QString::fromStdString(mdx), QString::fromStdString(dir.File("sample.ntx"))});
  ASSERT_EQ(ds.DamagedIndexes().size(), 3u);
  ds.Reindex();
  const std::vector<TTVDamagedIndex> left = ds.DamagedIndexes();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_EQ(QFileInfo(left[0].path).fileName(), QStringLiteral("sample.ntx"));
  // Both rebuilt files are open again with their tags and kept current from now on.
  EXPECT_EQ(ds.GetTagCount(), 4);
  ds.SetIndexName(QStringLiteral("NAME"));
  EXPECT_EQ(ds.GetCurrentTagName(), QStringLiteral("NAME"));
  EXPECT_EQ(test::WalkForward(ds).size(), 60u);
  ds.Close();
  std::string out;
  test::RunCli(
      "keys " + test::Quote(table) + " " + test::Quote(dir.File("sample.cdx")) + " --tag JOINED",
      &out);
  EXPECT_EQ(test::JsonLines(out).size(), 60u);
  out.clear();
  test::RunCli("keys " + test::Quote(table) + " " + test::Quote(mdx) + " --tag CITY", &out);
  EXPECT_EQ(test::JsonLines(out).size(), 60u);
}

}  // namespace
}  // namespace fendral
