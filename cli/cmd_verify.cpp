// fendral-cli verify and repair: the table doctor.
//
// verify prints one JSON line per finding, every member always present ("tag" is empty
// outside index files, "recno" 0 when the finding concerns no record), then one summary
// line. repair prints one JSON line per change ({"change": "..."}), per thing it could
// not mend ({"not_mended": "..."}), then a summary line with the backup folder and the
// check run afterwards.
#include <cstdio>
#include <string>

#include "cli_common.h"
#include "kx6_eror.h"
#include "kx6_verify.h"
#include "platform/pf_path.h"

namespace fendral::cli {

namespace {

std::string FindingJson(const tolvern::TkxFinding& f) {
  std::string out = "{\"part\": " + JsonString(f.part) + ", \"file\": " + JsonString(f.file) +
                    ", \"tag\": " + JsonString(f.tag) +
                    ", \"severity\": " + JsonString(tolvern::SeverityName(f.severity)) +
                    ", \"code\": " + JsonString(f.code) +
                    ", \"recno\": " + std::to_string(f.recno) +
                    ", \"detail\": " + JsonString(f.detail) + "}";
  return out;
}

std::string SummaryJson(const tolvern::TkxVerifySummary& s) {
  std::string files;
  for (const auto& f : s.filesChecked) files += (files.empty() ? "" : ", ") + JsonString(f);
  std::string tags;
  for (const auto& t : s.tagsNotCompared) tags += (tags.empty() ? "" : ", ") + JsonString(t);
  return "{\"records\": " + std::to_string(s.records) +
         ", \"errors\": " + std::to_string(s.errors) +
         ", \"warnings\": " + std::to_string(s.warnings) +
         ", \"unreachable_memo_blocks\": " + std::to_string(s.unreachableMemoBlocks) +
         ", \"tags_not_compared\": [" + tags + "], \"files\": [" + files + "]}";
}

std::string CodePageOption(const Arguments& args) {
  const auto e = args.Option("--encoding");
  return e ? *e : std::string();
}

}  // namespace

int CmdVerify(const Arguments& args) {
  if (args.positional.size() != 1)
    throw UsageError{"usage: fendral-cli verify TABLE [--index FILE]... [--deep]"};
  tolvern::TkxVerifyOptions options;
  options.indexFiles = args.Options("--index");
  options.deep = args.Flag("--deep");
  options.lockProtocol = LockProtocolOption(args);
  options.codePage = CodePageOption(args);
  const tolvern::TkxVerifySummary summary =
      tolvern::VerifyTable(args.positional[0], options, [](const tolvern::TkxFinding& f) {
        std::printf("%s\n", FindingJson(f).c_str());
        std::fflush(stdout);
      });
  std::printf("{\"summary\": %s}\n", SummaryJson(summary).c_str());
  return summary.Clean() ? 0 : 2;
}

int CmdRepair(const Arguments& args) {
  if (args.positional.size() != 1)
    throw UsageError{
        "usage: fendral-cli repair TABLE [--index FILE]... [--dry-run] "
        "[--compact-memo] [--index-expr TAG=EXPR]..."};
  tolvern::TkxRepairOptions options;
  options.indexFiles = args.Options("--index");
  options.dryRun = args.Flag("--dry-run");
  options.compactMemo = args.Flag("--compact-memo");
  options.lockProtocol = LockProtocolOption(args);
  options.codePage = CodePageOption(args);
  for (const std::string& entry : args.Options("--index-expr")) {
    const size_t eq = entry.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 == entry.size())
      throw UsageError{"--index-expr takes TAG=EXPR, not \"" + entry + "\""};
    options.indexExpressions[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  const tolvern::TkxRepairReport report = tolvern::RepairTable(args.positional[0], options);
  for (const auto& c : report.changes) std::printf("{\"change\": %s}\n", JsonString(c).c_str());
  for (const auto& c : report.notMended)
    std::printf("{\"not_mended\": %s}\n", JsonString(c).c_str());
  for (const auto& f : report.remaining) std::printf("%s\n", FindingJson(f).c_str());
  std::printf("{\"summary\": {\"dry_run\": %s, \"changed\": %s, \"backup\": %s, \"after\": %s}}\n",
              options.dryRun ? "true" : "false", report.changed ? "true" : "false",
              JsonString(report.backupFolder).c_str(), SummaryJson(report.after).c_str());
  // Exit 2 when something is left that the repair could not mend.
  return report.notMended.empty() && report.remaining.empty() ? 0 : 2;
}

}  // namespace fendral::cli
