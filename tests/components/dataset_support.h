// Helpers of the dataset tests: copies of fixture tables, record walks, the command-line
// tool's reading of the same table.
#pragma once

#include <QString>
#include <filesystem>
#include <string>
#include <vector>

#include "Tolvern6DB.h"
#include "component_test_util.h"

namespace fendral::test {

// Copies the fixture files `names` (relative to the fixtures folder) into `dir`; answers
// the copy of the first.
inline std::string CopyFixtures(const TempDir& dir, const std::vector<std::string>& names) {
  std::string first;
  for (const std::string& name : names) {
    const fs::path from = FixturesDir() / name;
    const fs::path to = dir.Path() / from.filename();
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    if (first.empty()) first = to.string();
  }
  return first;
}

// Opens `table` (a full path) in `ds`.
inline void OpenTable(TTolvernDataSet& ds, const std::string& table,
                      const QStringList& indexFiles = {}, const QString& tag = {}) {
  const fs::path path(table);
  ds.SetDatabaseName(QString::fromStdString(path.parent_path().string()));
  ds.SetTableName(QString::fromStdString(path.filename().string()));
  ds.SetIndexFiles(indexFiles);
  ds.SetIndexName(tag);
  ds.Open();
}

// Record numbers from First to EOF.
inline std::vector<int> WalkForward(TTolvernDataSet& ds) {
  std::vector<int> recnos;
  for (ds.First(); !ds.Eof(); ds.Next()) recnos.push_back(ds.RecNo());
  return recnos;
}

// Record numbers from Last to BOF.
inline std::vector<int> WalkBackward(TTolvernDataSet& ds) {
  std::vector<int> recnos;
  for (ds.Last(); !ds.Bof(); ds.Prior()) recnos.push_back(ds.RecNo());
  return recnos;
}

// The record numbers `fendral-cli dump` lists with `options` (already quoted).
inline std::vector<int> DumpRecnos(const std::string& table, const std::string& options = "") {
  std::string out;
  RunCli("dump " + Quote(table) + " " + options, &out);
  std::vector<int> recnos;
  for (const auto& line : JsonLines(out)) recnos.push_back(line.value("recno").toInt());
  return recnos;
}

}  // namespace fendral::test
