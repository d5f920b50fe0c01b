// A reduced table doctor so that the window can be built and tried: it checks only that
// the header's record count agrees with the file size, and mends only that.
#include <algorithm>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "kx6_disk.h"
#include "kx6_eror.h"
#include "kx6_verify.h"

namespace tolvern {

namespace {

struct THeaderCounts {
  int64_t count = 0;      // what the header says
  int64_t available = 0;  // whole records the file holds
  int64_t headerLength = 0;
  int64_t recordLength = 0;
};

THeaderCounts ReadCounts(KXO_DiskFile& file) {
  uint8_t header[32] = {};
  if (file.ReadAt(0, header, sizeof header) != sizeof header)
    throw ETolvernError(file.FileName() + ": not a table (the header is cut short)");
  THeaderCounts counts;
  counts.count = header[4] | (header[5] << 8) | (header[6] << 16) |
                 (static_cast<int64_t>(header[7]) << 24);
  counts.headerLength = header[8] | (header[9] << 8);
  counts.recordLength = header[10] | (header[11] << 8);
  if (counts.headerLength < 33 || counts.recordLength < 1)
    throw ETolvernError(file.FileName() + ": not a table (bad header lengths)");
  const int64_t size = file.FileSize();
  counts.available =
      size > counts.headerLength ? (size - counts.headerLength) / counts.recordLength : 0;
  return counts;
}

void CheckCounts(const std::string& path, const THeaderCounts& counts,
                 const TkxFindingSink& sink) {
  if (counts.count == counts.available) return;
  TkxFinding finding;
  finding.part = "table";
  finding.file = path;
  if (counts.count > counts.available) {
    finding.code = "record-count-too-large";
    finding.recno = counts.available + 1;
    finding.detail = "the header counts " + std::to_string(counts.count) +
                     " records; the file holds " + std::to_string(counts.available);
  } else {
    finding.code = "record-count-too-small";
    finding.recno = counts.count + 1;
    finding.detail = "the header counts " + std::to_string(counts.count) +
                     " records; the file holds " + std::to_string(counts.available);
  }
  if (sink) sink(finding);
}

}  // namespace

const char* SeverityName(TkxSeverity severity) {
  return severity == TkxSeverity::kError ? "error" : "warning";
}

TkxVerifySummary VerifyTable(const std::string& tablePath, const TkxVerifyOptions& options,
                             const TkxFindingSink& sink) {
  KXO_DiskFile file(tablePath, false, true);
  file.OpenFile();
  const THeaderCounts counts = ReadCounts(file);
  TkxVerifySummary summary;
  summary.filesChecked.push_back(file.FileName());
  const int64_t records = std::min(counts.count, counts.available);
  {
    TkxProgressScope scope(options.progress, kStatusVerify, records);
    std::vector<uint8_t> record(static_cast<size_t>(counts.recordLength));
    for (int64_t n = 1; n <= records; ++n) {
      file.ReadAt(counts.headerLength + (n - 1) * counts.recordLength, record.data(),
                  counts.recordLength);
      summary.records = n;
      scope.Step(n);
    }
  }
  CheckCounts(file.FileName(), counts, [&](const TkxFinding& finding) {
    ++summary.errors;
    if (sink) sink(finding);
  });
  return summary;
}

TkxRepairReport RepairTable(const std::string& tablePath, const TkxRepairOptions& options) {
  TkxRepairReport report;
  {
    KXO_DiskFile file(tablePath, true, false);
    file.OpenFile();
    const THeaderCounts counts = ReadCounts(file);
    if (counts.count != counts.available) {
      report.changes.push_back("record count in the header set from " +
                               std::to_string(counts.count) + " to " +
                               std::to_string(counts.available));
      if (!options.dryRun) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
        const std::filesystem::path table(file.FileName());
        const std::filesystem::path folder =
            table.parent_path() / (table.filename().string() + ".repair-" + stamp);
        std::filesystem::create_directories(folder);
        std::filesystem::copy_file(table, folder / table.filename(),
                                   std::filesystem::copy_options::overwrite_existing);
        uint8_t count[4];
        for (int i = 0; i < 4; ++i) count[i] = static_cast<uint8_t>(counts.available >> (8 * i));
        file.WriteAt(4, count, 4);
        file.FlushFile();
        report.backupFolder = folder.string();
        report.changed = true;
      }
    }
  }
  TkxVerifyOptions verify;
  verify.indexFiles = options.indexFiles;
  report.after = VerifyTable(tablePath, verify,
                             [&](const TkxFinding& finding) { report.remaining.push_back(finding); });
  return report;
}

}  // namespace tolvern
