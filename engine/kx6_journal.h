// Replacing a table's files as one step that a crash cannot leave half done.
//
// The new files are written under their final names in a staging directory beside the
// files they replace ("dir/.sales.dbf-new/" for the table "dir/sales.dbf"), and flushed.
// A journal beside the table ("dir/.sales.dbf-journal") first names the staging
// directories (state PREPARE); once every new file is on the disk, the journal is
// replaced in one rename by the list of moves (state COMMIT). The moves then put each new
// file over its old one (and move files that are to go away into the staging
// directory), the staging directories are emptied and removed, and the journal goes.
//
// Whoever opens the table while a journal is present finishes the work first: a
// committed journal's moves are made (each at most once: a move whose source is gone is
// done), an uncommitted one's staging directories are removed. So under the table's name
// there is always the whole old table or the whole new one, memo and indexes included.
// The journal is untrusted like every file: moves that do not lead between a staging
// directory of this table and the directory above it are refused.
#pragma once

#include <string>
#include <vector>

namespace tolvern {

// The journal of the table file `tablePath` (a full path).
std::string ReplaceJournalPath(const std::string& tablePath);
// The staging directory that the replacement of `tablePath` uses in `directory`.
std::string ReplaceStagingDirectory(const std::string& directory, const std::string& tablePath);

// The test hook: with the platform's fault-injection count N set (platform::
// StopAfterFileOps, from FENDRAL_STOP_AFTER_FILE_OPS=N in the environment or set by a
// test), the process ends at once (exit code kReplaceStopExitCode, nothing flushed or
// unwound) after the Nth file operation of a replacement. ReplaceStepsBegin starts the
// count of a replacement.
inline constexpr int kReplaceStopExitCode = 86;
void ReplaceStepsBegin();
void ReplaceFileStep();

class TkxReplaceJournal {
 public:
  explicit TkxReplaceJournal(const std::string& tablePath);
  // Abandons an unfinished replacement that was never committed.
  ~TkxReplaceJournal();
  TkxReplaceJournal(const TkxReplaceJournal&) = delete;
  TkxReplaceJournal& operator=(const TkxReplaceJournal&) = delete;

  // The staging directory for files in `directory`; made (and recorded) on first use.
  // Refused when a staging directory or journal of this table is left from elsewhere.
  std::string StagingFor(const std::string& directory);
  // Records that `stagedOrOld` moves to `target`: a staged file over the file it
  // replaces, or a file that is to go into its staging directory.
  void AddMove(const std::string& from, const std::string& to);
  // Writes the commit record: from now on the replacement completes, even after a crash.
  void Commit();
  // Makes the moves, removes the staging directories and the journal.
  void Finish();
  // Before Commit: removes the staging directories and the journal.
  void Abandon() noexcept;

 private:
  void WritePrepare();
  void WriteJournal(const std::string& text);

  std::string table_;
  std::string journal_;
  std::vector<std::string> staging_;
  std::vector<std::pair<std::string, std::string>> moves_;
  bool prepared_ = false;
  bool committed_ = false;
  bool finished_ = false;
};

// Completes or rolls back an unfinished replacement of the table file `tablePath`; one
// stat when there is none. Left alone while another handle holds the table (then it is
// the one replacing). A committed journal that cannot be carried out raises
// ErrReplaceUnfinished.
void RecoverReplacement(const std::string& tablePath);

}  // namespace tolvern
