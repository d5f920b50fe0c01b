#include "kx6_journal.h"

#include <atomic>
#include <sstream>

#include "kx6_eror.h"
#include "platform/pf_file.h"
#include "platform/pf_misc.h"
#include "platform/pf_path.h"

namespace tolvern {

namespace {

constexpr const char* kMagic = "FENDRAL-REPLACE 1";

// Counted only while the fault-injection hook is set; atomic because replacements may
// run on any thread.
std::atomic<long> stepCount{0};

[[noreturn]] void Fail(int32_t code, const std::string& what) {
  RaiseEngineError(code, SubCodeNone, what);
  throw ETolvernError(EngineErrorMessage(code, SubCodeNone, what.c_str()));
}

void Check(int32_t code, const std::string& what) {
  if (code != 0) Fail(code, what);
}

// Creates `path` with `text`, flushed to the disk.
void WriteSynced(const std::string& path, const std::string& text) {
  platform::OsFile file;
  Check(file.Create(path), path);
  size_t done = 0;
  Check(file.WriteAt(0, text.data(), text.size(), done), path);
  if (done != text.size()) Fail(101, path);
  ReplaceFileStep();
  Check(file.Flush(), path);
  ReplaceFileStep();
}

struct ParsedJournal {
  bool committed = false;
  bool complete = false;  // the END line was read
  std::vector<std::string> staging;
  std::vector<std::pair<std::string, std::string>> moves;
};

bool IsStagingOf(const std::string& dir, const std::string& tablePath) {
  std::string expected(1, '.');
  expected.append(platform::FileNameOf(tablePath)).append("-new");
  return platform::FileNameOf(dir) == expected;
}

// A move is sound when it leads between a listed staging directory and the directory
// above it, keeping the file name.
bool SoundMove(const std::pair<std::string, std::string>& move,
               const std::vector<std::string>& staging) {
  const auto& [from, to] = move;
  if (platform::FileNameOf(from) != platform::FileNameOf(to)) return false;
  if (platform::FileNameOf(from).empty()) return false;
  for (const std::string& dir : staging) {
    const std::string above = platform::DirectoryOf(dir);
    const std::string fromDir = platform::DirectoryOf(from);
    const std::string toDir = platform::DirectoryOf(to);
    if ((fromDir == dir && toDir == above) || (fromDir == above && toDir == dir)) return true;
  }
  return false;
}

ParsedJournal ParseJournal(const std::string& path, const std::string& tablePath) {
  ParsedJournal parsed;
  platform::OsFile file;
  if (file.Open(path, false) != 0) return parsed;
  int64_t size = 0;
  if (file.Size(size) != 0 || size < 0 || size > (1 << 20)) return parsed;
  std::string text(static_cast<size_t>(size), '\0');
  size_t done = 0;
  if (file.ReadAt(0, text.data(), text.size(), done) != 0) return parsed;
  text.resize(done);
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kMagic) return parsed;
  if (!std::getline(in, line)) return parsed;
  parsed.committed = line == "COMMIT";
  while (std::getline(in, line)) {
    if (line == "END") {
      parsed.complete = true;
      break;
    }
    if (line.rfind("STAGE ", 0) == 0) {
      const std::string dir = line.substr(6);
      if (IsStagingOf(dir, tablePath)) parsed.staging.push_back(dir);
    } else if (line.rfind("MOVE ", 0) == 0) {
      const size_t tab = line.find('\t', 5);
      if (tab == std::string::npos) continue;
      parsed.moves.emplace_back(line.substr(5, tab - 5), line.substr(tab + 1));
    }
  }
  return parsed;
}

// Empties and removes a staging directory; one that is not a real directory of this
// user (a link or a directory someone else put there) is left alone, and so is what it
// holds besides plain files.
void RemoveStaging(const std::string& dir, bool counted) {
  if (!platform::IsRealDirectory(dir) || !platform::OwnedByProcessUser(dir)) return;
  for (const std::string& name : platform::ListFiles(dir)) {
    const int32_t rc = platform::RemoveFile(dir + "/" + name);
    if (rc != 0 && rc != 2) Fail(rc, dir + "/" + name);
    if (counted) ReplaceFileStep();
  }
  platform::RemoveDirectory(dir);  // a directory that is not empty now stays
  if (counted) ReplaceFileStep();
}

// Makes every move whose source is still there, in order.
void MakeMoves(const std::vector<std::pair<std::string, std::string>>& moves, bool counted) {
  for (const auto& [from, to] : moves) {
    if (!platform::FileExists(from)) continue;  // made before
    Check(platform::ReplaceFile(from, to), from + " -> " + to);
    if (counted) ReplaceFileStep();
  }
}

void SyncDirectories(const std::vector<std::string>& staging, const std::string& tablePath,
                     bool counted) {
  std::vector<std::string> done;
  auto sync = [&](const std::string& dir) {
    for (const auto& d : done)
      if (d == dir) return;
    done.push_back(dir);
    platform::SyncDirectory(dir);
    if (counted) ReplaceFileStep();
  };
  sync(platform::DirectoryOf(tablePath));
  for (const auto& dir : staging) sync(platform::DirectoryOf(dir));
}

void RemoveJournal(const std::string& journal, const std::string& tablePath, bool counted) {
  const int32_t rc = platform::RemoveFile(journal);
  if (rc != 0 && rc != 2) Fail(rc, journal);
  if (counted) ReplaceFileStep();
  platform::SyncDirectory(platform::DirectoryOf(tablePath));
}

}  // namespace

std::string ReplaceJournalPath(const std::string& tablePath) {
  return platform::DirectoryOf(tablePath) + "/." + platform::FileNameOf(tablePath) + "-journal";
}

std::string ReplaceStagingDirectory(const std::string& directory, const std::string& tablePath) {
  return directory + "/." + platform::FileNameOf(tablePath) + "-new";
}

void ReplaceStepsBegin() { stepCount.store(0, std::memory_order_relaxed); }

void ReplaceFileStep() {
  const long limit = platform::StopAfterFileOps();
  if (limit <= 0) return;
  if (stepCount.fetch_add(1, std::memory_order_relaxed) + 1 >= limit)
    platform::ExitAtOnce(kReplaceStopExitCode);
}

// ---------------------------------------------------------------------------------------

TkxReplaceJournal::TkxReplaceJournal(const std::string& tablePath)
    : table_(tablePath), journal_(ReplaceJournalPath(tablePath)) {
  for (const std::string& path : {table_, journal_}) {
    if (path.find('\n') != std::string::npos || path.find('\t') != std::string::npos)
      Fail(ErrCannotReplace, path + ": the name holds a tab or a line break");
  }
  if (platform::FileExists(journal_))
    Fail(ErrCannotReplace, journal_ + " is left from an unfinished replacement");
}

TkxReplaceJournal::~TkxReplaceJournal() {
  if (!committed_) Abandon();
}

void TkxReplaceJournal::WritePrepare() {
  std::string text = std::string(kMagic) + "\nPREPARE\n";
  for (const auto& dir : staging_) text += "STAGE " + dir + "\n";
  text += "END\n";
  WriteJournal(text);
  prepared_ = true;
}

void TkxReplaceJournal::WriteJournal(const std::string& text) {
  // Written aside and renamed over the journal: it is always one whole version.
  const std::string temp = journal_ + ".tmp";
  WriteSynced(temp, text);
  Check(platform::ReplaceFile(temp, journal_), journal_);
  ReplaceFileStep();
  platform::SyncDirectory(platform::DirectoryOf(journal_));
  ReplaceFileStep();
}

std::string TkxReplaceJournal::StagingFor(const std::string& directory) {
  const std::string dir = ReplaceStagingDirectory(directory, table_);
  for (const auto& known : staging_)
    if (known == dir) return dir;
  if (dir.find('\n') != std::string::npos || dir.find('\t') != std::string::npos)
    Fail(ErrCannotReplace, dir + ": the name holds a tab or a line break");
  if (platform::IsRealDirectory(dir) || platform::FileExists(dir))
    Fail(ErrCannotReplace, dir + " exists already");
  // The journal names the directory before it exists, so a crash never leaves one that
  // no journal names.
  staging_.push_back(dir);
  WritePrepare();
  const int32_t rc = platform::MakeDirectory(dir);
  if (rc != 0) {
    staging_.pop_back();
    Fail(rc, dir);
  }
  ReplaceFileStep();
  return dir;
}

void TkxReplaceJournal::AddMove(const std::string& from, const std::string& to) {
  moves_.emplace_back(from, to);
  if (!SoundMove(moves_.back(), staging_)) {
    moves_.pop_back();
    Fail(ErrCannotReplace, from + " -> " + to + ": not a move of the replacement");
  }
}

void TkxReplaceJournal::Commit() {
  for (const auto& dir : staging_) platform::SyncDirectory(dir);
  std::string text = std::string(kMagic) + "\nCOMMIT\n";
  for (const auto& dir : staging_) text += "STAGE " + dir + "\n";
  for (const auto& [from, to] : moves_) text += "MOVE " + from + "\t" + to + "\n";
  text += "END\n";
  const std::string temp = journal_ + ".tmp";
  WriteSynced(temp, text);
  Check(platform::ReplaceFile(temp, journal_), journal_);
  committed_ = true;
  ReplaceFileStep();
  platform::SyncDirectory(platform::DirectoryOf(journal_));
  ReplaceFileStep();
}

void TkxReplaceJournal::Finish() {
  MakeMoves(moves_, true);
  SyncDirectories(staging_, table_, true);
  for (const auto& dir : staging_) RemoveStaging(dir, true);
  RemoveJournal(journal_, table_, true);
  finished_ = true;
}

void TkxReplaceJournal::Abandon() noexcept {
  if (committed_) return;
  try {
    for (const auto& dir : staging_) RemoveStaging(dir, false);
    platform::RemoveFile(journal_ + ".tmp");
    if (prepared_) RemoveJournal(journal_, table_, false);
  } catch (...) {
    // What is left is removed by the next open of the table.
  }
  staging_.clear();
  prepared_ = false;
}

// ---------------------------------------------------------------------------------------

void RecoverReplacement(const std::string& tablePath) {
  const std::string journal = ReplaceJournalPath(tablePath);
  if (!platform::FileExists(journal)) return;
  // The replacing process holds the table exclusively until its moves are made; while
  // any handle holds it, the journal is not ours to act on.
  platform::OsFile table;
  if (table.Open(tablePath, false) == 0 && table.ShareLock(true) != 0) return;
  // Only this user's own journal is acted on; a committed one of another user leaves the
  // table to that user.
  const bool own = platform::OwnedByProcessUser(journal);
  const ParsedJournal parsed = ParseJournal(journal, tablePath);
  if (!own) {
    if (parsed.committed)
      Fail(ErrReplaceUnfinished, journal + ": another user's replacement is unfinished");
    return;
  }
  if (parsed.committed) {
    if (!parsed.complete) Fail(ErrReplaceUnfinished, journal + ": the journal is damaged");
    for (const auto& move : parsed.moves) {
      if (!SoundMove(move, parsed.staging))
        Fail(ErrReplaceUnfinished, journal + ": a move leads outside the replacement");
    }
    for (const auto& dir : parsed.staging) {
      if (platform::IsRealDirectory(dir) && !platform::OwnedByProcessUser(dir))
        Fail(ErrReplaceUnfinished, dir + ": the staging directory belongs to another user");
    }
    MakeMoves(parsed.moves, false);
    SyncDirectories(parsed.staging, tablePath, false);
  }
  for (const auto& dir : parsed.staging) RemoveStaging(dir, false);
  platform::RemoveFile(journal + ".tmp");
  RemoveJournal(journal, tablePath, false);
}

}  // namespace tolvern
