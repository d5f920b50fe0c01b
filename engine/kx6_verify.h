// The table doctor: checking every part of a table, and mending what can be mended.
//
// VerifyTable reads and never writes. It opens the table, its memo file and its index files
// for shared reading, takes only shared locks, and reports every fault it finds as a
// finding instead of stopping at the first. A pending replacement journal is reported
// (`pending-replacement`), never completed or rolled back. When the table's header (record
// count, update stamp) or its file size changes while the check runs, the findings that
// change could explain are reported as one `changed-during-check`, not as damage.
//
// RepairTable needs the table to itself. It mends what VerifyTable found through the
// replacement journal, so the table on disk is either the old one or the repaired one,
// and keeps the original files in a folder TABLE.repair-YYYYmmdd-HHMMSS beside the table.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "kx6_progress.h"

namespace tolvern {

inline constexpr int32_t kStatusVerify = 34;  // checking a table, its memo and index files
inline constexpr int32_t kStatusRepair = 35;  // mending a table

enum class TkxSeverity { kError, kWarning };

// One fault. `part` is "table", "values", "memo" or "index"; `code` is a short stable
// word-list name ("stale-key", "record-count-too-large") that scripts and the README use.
struct TkxFinding {
  std::string part;
  std::string file;  // the file it concerns, as it was named or found
  std::string tag;   // the index tag; empty outside index files
  TkxSeverity severity = TkxSeverity::kError;
  std::string code;
  int64_t recno = 0;  // the record it concerns; 0: none
  std::string detail;  // one line of plain text for people
};

// The severity's word in findings: "error" or "warning".
const char* SeverityName(TkxSeverity severity);

struct TkxVerifyOptions {
  // Index files to check besides the production index and the same-named ones found
  // beside the table.
  std::vector<std::string> indexFiles;
  // Also check each value against what its field can hold, and the delete marks.
  bool deep = false;
  int lockProtocol = -1;  // a TkxLokProtocol, or kLockProtocolAuto when negative
  // Code page of the table's text (iconv name) for key expressions; empty: from the mark.
  std::string codePage;
  // Reported with kStatusVerify over the work; a stop throws ETolvernCancelled.
  TkxProgress* progress = nullptr;
};

struct TkxVerifySummary {
  int64_t records = 0;         // the records the check read
  int64_t errors = 0;          // findings of severity error
  int64_t warnings = 0;        // findings of severity warning
  int64_t unreachableMemoBlocks = 0;  // memo blocks no record points to (information only)
  // Index tags this program reads but cannot compute keys for (integer keys of other
  // programs, collations it lacks), as "FILE: TAG (reason)": their keys were not compared
  // with the records. Information, not a finding: the files are sound for their owners.
  std::vector<std::string> tagsNotCompared;
  std::vector<std::string> filesChecked;  // table, memo and index files, in order
  bool Clean() const { return errors == 0 && warnings == 0; }
};

// Called for each finding (the check may go on for a long time). Findings about the
// header and the field descriptors come as they are found; those a change by another
// program could explain (records, memos, keys) come at the end, once the check knows the
// files did not change under it.
using TkxFindingSink = std::function<void(const TkxFinding&)>;

// Checks `tablePath`. Throws ETolvernError only when the check cannot run at all (no such
// file, not a table, not readable); every damage it can describe is a finding.
TkxVerifySummary VerifyTable(const std::string& tablePath, const TkxVerifyOptions& options,
                             const TkxFindingSink& sink);

struct TkxRepairOptions {
  std::vector<std::string> indexFiles;  // as in TkxVerifyOptions
  bool dryRun = false;                  // list what would change, change nothing
  bool compactMemo = false;             // also rewrite the memo file without unused blocks
  // Tag definitions for index files whose own cannot be read: tag name -> key expression.
  std::map<std::string, std::string> indexExpressions;
  int lockProtocol = -1;
  std::string codePage;
  TkxProgress* progress = nullptr;  // kStatusRepair, then the index kinds
};

struct TkxRepairReport {
  std::vector<std::string> changes;   // one line per change made (or, dry, to be made)
  std::vector<std::string> notMended; // what repair could not mend, one line each
  std::string backupFolder;           // where the originals were kept; empty when dry
  bool changed = false;               // false: nothing needed mending (or a dry run)
  TkxVerifySummary after;             // the check run again after the repair
  std::vector<TkxFinding> remaining;  // its findings; empty when the repair succeeded
};

// Mends `tablePath`. Throws ETolvernError with "in use" wording when another program has
// the table open, and for what it cannot run at all.
TkxRepairReport RepairTable(const std::string& tablePath, const TkxRepairOptions& options);

}  // namespace tolvern
