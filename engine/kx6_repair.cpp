// RepairTable: the mended table is written beside the old one in the replacement's staging
// directory and put in its place through the journal; the originals are copied to a
// backup folder first.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "kx6_dbsy.h"
#include "kx6_eror.h"
#include "kx6_journal.h"
#include "kx6_verify.h"
#include "kx6_verify_detail.h"
#include "kx6_verify_index.h"
#include "platform/pf_misc.h"
#include "platform/pf_path.h"

namespace tolvern {

namespace {

using verify::MemoKind;

[[noreturn]] void Fail(const std::string& what) { throw ETolvernError(what); }

void WriteAll(platform::OsFile& file, int64_t offset, const std::vector<uint8_t>& bytes,
              const std::string& path) {
  size_t done = 0;
  if (file.WriteAt(offset, bytes.data(), bytes.size(), done) != 0 || done != bytes.size())
    Fail(path + ": the file cannot be written");
}

void CopyFile(const std::string& from, const std::string& to) {
  platform::OsFile in, out;
  if (in.Open(from, false) != 0) Fail(from + ": the file cannot be read");
  if (out.Create(to) != 0) Fail(to + ": the file cannot be made");
  int64_t at = 0;
  for (;;) {
    const std::vector<uint8_t> piece = verify::ReadBytesAt(in, at, 1 << 20);
    if (piece.empty()) break;
    WriteAll(out, at, piece, to);
    at += static_cast<int64_t>(piece.size());
  }
  if (out.Flush() != 0) Fail(to + ": the file cannot be written");
}

void FlushFile(const std::string& path) {
  platform::OsFile f;
  if (f.Open(path, true) != 0 || f.Flush() != 0) Fail(path + ": the file cannot be written");
}

// Codes of memo pointers that cannot be followed: repair clears them.
bool UnfollowablePointer(const std::string& code) {
  return code == "memo-pointer-invalid" || code == "memo-pointer-past-end" ||
         code == "memo-pointer-in-header" || code == "memo-block-header-invalid" ||
         code == "memo-length-past-end";
}

// Memo findings that a fresh memo file (each memo in its own blocks) mends.
bool NeedsMemoRewrite(const std::string& code) {
  return code == "memo-block-shared" || code == "memo-overlap" ||
         code == "memo-next-free-invalid" || code == "memo-free-list-invalid" ||
         code == "memo-header-invalid";
}

void StorePointer(uint8_t version, const DbfFieldInfo& f, uint8_t* record, int64_t block) {
  uint8_t* p = record + f.offset;
  if (version == kVersionVisual && f.length == 4) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(block >> (8 * i));
    return;
  }
  std::memset(p, ' ', static_cast<size_t>(f.length));
  if (block == 0) return;
  const std::string digits = std::to_string(block);
  if (digits.size() > static_cast<size_t>(f.length)) return;  // cannot be: checked by caller
  std::memcpy(p + f.length - digits.size(), digits.data(), digits.size());
}

std::string BackupFolderName(const std::string& tablePath) {
  const platform::LocalTime now = platform::LocalNow();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, ".repair-%04d%02d%02d-%02d%02d%02d", now.year, now.month,
                now.day, now.hour, now.minute, now.second);
  std::string folder = tablePath + stamp;
  // Two repairs in one second keep both sets of originals.
  for (int n = 2; platform::FileExists(folder) || platform::IsRealDirectory(folder); ++n)
    folder = tablePath + stamp + "-" + std::to_string(n);
  return folder;
}

class Repairer {
 public:
  Repairer(const std::string& path, const TkxRepairOptions& options)
      : path_(path), options_(options) {}
  TkxRepairReport Run();

 private:
  void Lock();
  void Plan();
  void Write();
  std::string StagedOf(const std::string& path);
  void WriteTable(const std::string& to);
  void WriteMemo(const std::string& to, std::vector<uint8_t>& image);
  void BuildIndexes();

  std::string path_;
  const TkxRepairOptions& options_;
  TkxRepairReport report_;
  platform::OsFile lock_;
  verify::TableLayout table_;
  std::vector<TkxFinding> findings_;
  std::string memoPath_;
  std::vector<std::string> indexFiles_;
  // What the plan decided.
  std::map<std::pair<int64_t, int>, std::string> clearPointers_;  // (recno, field) -> why
  std::set<int64_t> fixMarks_;
  bool fixCount_ = false, fixTerminator_ = false, fixEof_ = false, dropPartial_ = false;
  bool clearProduction_ = false, setProduction_ = false;
  bool rewriteMemo_ = false;
  bool rebuildIndexes_ = false;
  int64_t keep_ = 0;  // the records the mended table keeps
  std::unique_ptr<TkxReplaceJournal> journal_;
  std::string staging_;
  std::vector<std::pair<std::string, std::string>> moves_;  // staged -> final
};

void Repairer::Lock() {
  if (int32_t e = lock_.Open(path_, !options_.dryRun); e != 0)
    Fail(path_ + ": the file cannot be opened (error " + std::to_string(e) + ")");
  if (lock_.ShareLock(!options_.dryRun) != 0) Fail(path_ + " is in use by another program");
}

void Repairer::Plan() {
  std::string why;
  if (!verify::ReadTableLayout(lock_, path_, table_, why)) Fail(why);
  memoPath_ = verify::MemoPathOf(table_);
  keep_ = table_.fullRecords;
  const bool structural = !table_.usable;
  for (const TkxFinding& f : findings_) {
    const std::string& c = f.code;
    if (c == "record-count-too-large" || c == "record-count-too-small") {
      fixCount_ = true;
    } else if (c == "record-partial") {
      dropPartial_ = true;
      fixCount_ = true;
    } else if (c == "terminator-missing") {
      fixTerminator_ = true;
    } else if (c == "data-after-eof-mark") {
      fixEof_ = true;
      keep_ = std::min<int64_t>(keep_, table_.headerCount);
    } else if (c == "production-index-missing") {
      clearProduction_ = true;
    } else if (c == "production-index-unflagged") {
      setProduction_ = true;
    } else if (c == "delete-mark-invalid") {
      fixMarks_.insert(f.recno);
    } else if (UnfollowablePointer(c)) {
      // The detail starts with "field NAME".
      for (const DbfFieldInfo& fi : table_.fields)
        if (f.detail.rfind("field " + fi.name + ":", 0) == 0 ||
            f.detail == "field " + fi.name + " holds no block number")
          clearPointers_[{f.recno, fi.number - 1}] = f.detail;
    } else if (NeedsMemoRewrite(c)) {
      rewriteMemo_ = true;
    } else if (f.part == "index") {
      rebuildIndexes_ = true;
    } else if (c == "pending-replacement" || c == "changed-during-check") {
      report_.notMended.push_back(c + ": " + f.detail);
    } else {
      report_.notMended.push_back(c + (f.recno ? " (record " + std::to_string(f.recno) + ")" : "") +
                                  ": " + f.detail);
    }
  }
  if (options_.compactMemo && !memoPath_.empty()) rewriteMemo_ = true;
  if (structural) return;
  const bool tableChanges = fixCount_ || dropPartial_ || fixTerminator_ || fixEof_ ||
                            clearProduction_ || setProduction_ || !fixMarks_.empty() ||
                            !clearPointers_.empty() || rewriteMemo_;
  // Records and their memos change: every index file follows.
  if (tableChanges) rebuildIndexes_ = true;

  auto& ch = report_.changes;
  if (fixCount_)
    ch.push_back("header record count " + std::to_string(table_.headerCount) + " set to " +
                 std::to_string(keep_));
  if (dropPartial_)
    ch.push_back("partial record " + std::to_string(table_.fullRecords + 1) + " (" +
                 std::to_string(table_.trailingBytes) + " bytes) dropped");
  if (fixTerminator_) ch.push_back("field descriptor terminator (0x0D) restored");
  if (fixEof_)
    ch.push_back("the bytes after the end-of-file mark behind record " + std::to_string(keep_) +
                 " dropped");
  if (clearProduction_) ch.push_back("production index flag cleared (no CDX or MDX file)");
  if (setProduction_) ch.push_back("production index flag set");
  for (int64_t r : fixMarks_)
    ch.push_back("record " + std::to_string(r) + ": delete mark set to blank");
  for (const auto& [key, why] : clearPointers_) {
    const DbfFieldInfo& f = table_.fields[static_cast<size_t>(key.second)];
    ch.push_back("record " + std::to_string(key.first) + " field " + f.name +
                 ": memo pointer cleared (" + why + ")");
  }
  if (rewriteMemo_)
    ch.push_back(platform::FileNameOf(memoPath_) +
                 ": rewritten with every memo in blocks of its own and no unused blocks");
}

std::string Repairer::StagedOf(const std::string& path) {
  const std::string home = platform::DirectoryOf(path);
  const std::string dir =
      home == platform::DirectoryOf(path_) ? staging_ : journal_->StagingFor(home);
  return dir + "/" + platform::FileNameOf(path);
}

void Repairer::WriteTable(const std::string& to) {
  const verify::TableLayout& t = table_;
  platform::OsFile out;
  if (out.Create(to) != 0) Fail(to + ": the file cannot be made");
  std::vector<uint8_t> head = verify::ReadBytesAt(lock_, 0, t.headerLength);
  if (head.size() != static_cast<size_t>(t.headerLength))
    Fail(path_ + ": the header cannot be read");
  const uint32_t count = static_cast<uint32_t>(keep_);
  for (int i = 0; i < 4; ++i) head[4 + i] = static_cast<uint8_t>(count >> (8 * i));
  if (fixTerminator_ && t.expectedTerminatorAt < t.headerLength)
    head[static_cast<size_t>(t.expectedTerminatorAt)] = 0x0D;
  if (clearProduction_) head[28] &= static_cast<uint8_t>(~0x01);
  if (setProduction_) head[28] |= 0x01;
  WriteAll(out, 0, head, to);
  TkxProgressScope progress(options_.progress, kStatusRepair, keep_);
  const int64_t perChunk = std::max<int64_t>(1, (1 << 20) / t.recordLength);
  for (int64_t first = 0; first < keep_; first += perChunk) {
    const int64_t n = std::min(perChunk, keep_ - first);
    std::vector<uint8_t> chunk =
        verify::ReadBytesAt(lock_, t.headerLength + first * t.recordLength, n * t.recordLength);
    if (static_cast<int64_t>(chunk.size()) != n * t.recordLength)
      Fail(path_ + ": the records cannot be read");
    for (int64_t i = 0; i < n; ++i) {
      const int64_t recno = first + i + 1;
      uint8_t* rec = chunk.data() + i * t.recordLength;
      if (fixMarks_.count(recno)) rec[0] = ' ';
      for (const DbfFieldInfo& f : t.fields) {
        if (f.offset + f.length > t.recordLength) continue;
        if (clearPointers_.count({recno, f.number - 1})) StorePointer(t.version, f, rec, 0);
      }
    }
    WriteAll(out, t.headerLength + first * t.recordLength, chunk, to);
    progress.Step(first + n);
  }
  WriteAll(out, t.headerLength + keep_ * t.recordLength, {0x1A}, to);
  if (out.Flush() != 0) Fail(to + ": the file cannot be written");
}

// Writes a new memo file at `to`: the old header, then every memo a record points at, in
// record order, each in blocks of its own; the records' pointers are changed in the staged
// table accordingly.
void Repairer::WriteMemo(const std::string& to, std::vector<uint8_t>&) {
  const verify::TableLayout& t = table_;
  platform::OsFile in, out, staged;
  if (in.Open(memoPath_, false) != 0) Fail(memoPath_ + ": the file cannot be read");
  const MemoKind kind = verify::MemoKindOf(t);
  const verify::MemoLayout memo = verify::ReadMemoLayout(in, kind);
  // A block size the header cannot state is replaced by the format's usual one.
  const bool badSize = !memo.headerProblem.empty() && kind != MemoKind::kDBase3;
  const int64_t bs = badSize ? (kind == MemoKind::kFoxPro ? 64 : 512) : memo.blockSize;
  const int64_t firstData = kind == MemoKind::kFoxPro ? (512 + bs - 1) / bs : 1;
  if (out.Create(to) != 0) Fail(to + ": the file cannot be made");
  const std::string stagedTable = StagedOf(path_);
  if (staged.Open(stagedTable, true) != 0) Fail(stagedTable + ": the file cannot be written");
  std::vector<uint8_t> head = memo.header;
  head.resize(static_cast<size_t>(std::max<int64_t>(firstData * bs, 32)), 0);
  if (kind == MemoKind::kFoxPro) {
    head[4] = head[5] = 0;
    head[6] = static_cast<uint8_t>(bs >> 8);
    head[7] = static_cast<uint8_t>(bs);
  } else if (kind == MemoKind::kDBase4) {
    for (int i = 0; i < 4; ++i)
      head[static_cast<size_t>(20 + i)] = static_cast<uint8_t>(bs >> (8 * i));
  }
  int64_t next = firstData;
  std::vector<const DbfFieldInfo*> memoFields;
  for (const DbfFieldInfo& f : t.fields)
    if (verify::IsMemoField(t.version, f) && f.offset + f.length <= t.recordLength)
      memoFields.push_back(&f);
  for (int64_t r = 1; r <= keep_ && !memoFields.empty(); ++r) {
    std::vector<uint8_t> rec =
        verify::ReadBytesAt(staged, t.headerLength + (r - 1) * t.recordLength, t.recordLength);
    if (static_cast<int64_t>(rec.size()) != t.recordLength) break;
    bool changed = false;
    for (const DbfFieldInfo* f : memoFields) {
      const int64_t block = verify::MemoPointerOf(t.version, *f, rec.data());
      if (block <= 0) continue;
      const verify::MemoExtent e = verify::MeasureMemo(in, memo, block);
      if (!e.code.empty()) continue;  // cleared in the table already
      const std::vector<uint8_t> data = verify::ReadBytesAt(in, e.dataOffset, e.dataLength);
      std::vector<uint8_t> blocks;
      const uint32_t len = static_cast<uint32_t>(data.size());
      if (kind == MemoKind::kDBase4) {
        blocks = {0xFF,
                  0xFF,
                  0x08,
                  0x00,
                  static_cast<uint8_t>(len + 8),
                  static_cast<uint8_t>((len + 8) >> 8),
                  static_cast<uint8_t>((len + 8) >> 16),
                  static_cast<uint8_t>((len + 8) >> 24)};
      } else if (kind == MemoKind::kFoxPro) {
        blocks = {static_cast<uint8_t>(e.type >> 24), static_cast<uint8_t>(e.type >> 16),
                  static_cast<uint8_t>(e.type >> 8),  static_cast<uint8_t>(e.type),
                  static_cast<uint8_t>(len >> 24),    static_cast<uint8_t>(len >> 16),
                  static_cast<uint8_t>(len >> 8),     static_cast<uint8_t>(len)};
      }
      if (!data.empty()) blocks.insert(blocks.end(), data.begin(), data.end());
      if (kind == MemoKind::kDBase3) blocks.insert(blocks.end(), {0x1A, 0x1A});
      blocks.resize(static_cast<size_t>((static_cast<int64_t>(blocks.size()) + bs - 1) / bs * bs),
                    0);
      if (std::to_string(next).size() > static_cast<size_t>(f->length) && f->length != 4)
        Fail(to + ": the memo file grew past what the field " + f->name + " can point at");
      WriteAll(out, next * bs, blocks, to);
      if (next != block) {
        StorePointer(t.version, *f, rec.data(), next);
        changed = true;
      }
      next += static_cast<int64_t>(blocks.size()) / bs;
    }
    if (changed) WriteAll(staged, t.headerLength + (r - 1) * t.recordLength, rec, stagedTable);
  }
  // The next free block: after the last memo (dBase IV: an empty free list).
  if (kind == MemoKind::kFoxPro) {
    for (int i = 0; i < 4; ++i)
      head[static_cast<size_t>(i)] = static_cast<uint8_t>(next >> (8 * (3 - i)));
  } else {
    for (int i = 0; i < 4; ++i)
      head[static_cast<size_t>(i)] = static_cast<uint8_t>(next >> (8 * i));
    if (kind == MemoKind::kDBase4)
      for (int i = 4; i < 8; ++i) head[static_cast<size_t>(i)] = 0;
  }
  WriteAll(out, 0, head, to);
  if (out.Flush() != 0 || staged.Flush() != 0) Fail(to + ": the file cannot be written");
}

void Repairer::BuildIndexes() {
  if (indexFiles_.empty()) return;
  std::vector<std::pair<TkxIndexDefinitions, std::string>> plans;
  for (const std::string& index : indexFiles_) {
    TkxIndexDefinitions defs;
    try {
      defs = ReadIndexDefinitions(index);
    } catch (const ETolvernError& e) {
      defs = TkxIndexDefinitions{};
      defs.path = index;
      defs.format = IndexFormatOfPath(index);
      const bool multi = IsMultiTagFormat(defs.format);
      std::string own = platform::ReplaceExtension(platform::FileNameOf(index), "");
      for (char& c : own) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      for (const auto& [name, key] : options_.indexExpressions) {
        std::string upper = name;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (multi || upper == own) defs.tags.push_back({upper, key, "", false, false});
      }
      if (defs.tags.empty()) {
        report_.notMended.push_back(index + ": its tag definitions cannot be read (" + e.what() +
                                    "); give them with --index-expr TAG=EXPR");
        continue;
      }
    }
    plans.emplace_back(defs, index);
    std::string names;
    for (const auto& tag : defs.tags) names += (names.empty() ? "" : ", ") + tag.name;
    report_.changes.push_back(platform::FileNameOf(index) + ": rebuilt with tags " + names);
  }
  if (options_.dryRun || plans.empty()) return;
  KXO_dBHandler table(StagedOf(path_), true, false);
  table.SetProgress(options_.progress);
  for (const auto& [defs, index] : plans) {
    const std::string staged = StagedOf(index);
    BuildIndexFromDefinitions(table, defs, staged, options_.progress);
    moves_.emplace_back(staged, index);
  }
}

TkxRepairReport Repairer::Run() {
  if (!platform::FileExists(path_)) Fail(path_ + ": File not found");
  // An interrupted replacement is finished first, as any writer's open does (it is left
  // alone while another program has the table open).
  if (!options_.dryRun) RecoverReplacement(path_);
  // Refused at once while another program has the table open.
  Lock();
  if (!options_.dryRun) lock_.Unshare();
  TkxVerifyOptions check;
  check.indexFiles = options_.indexFiles;
  check.deep = true;
  check.lockProtocol = options_.lockProtocol;
  check.codePage = options_.codePage;
  VerifyTable(path_, check, [&](const TkxFinding& f) { findings_.push_back(f); });
  if (!options_.dryRun && lock_.ShareLock(true) != 0) Fail(path_ + " is in use by another program");

  // Every index file the check looked at.
  {
    const std::string dir = platform::DirectoryOf(path_);
    const std::string base = platform::FileNameOf(path_);
    std::set<std::string> seen;
    auto add = [&](const std::string& p) {
      if (platform::FileExists(p) && seen.insert(platform::CanonicalPath(p)).second)
        indexFiles_.push_back(p);
    };
    for (const char* ext : {".cdx", ".mdx", ".ndx", ".ntx"})
      if (auto found = platform::FindCompanion(dir, platform::ReplaceExtension(base, ext)))
        add(*found);
    for (const std::string& f : options_.indexFiles) add(platform::AbsolutePath(f));
  }
  Plan();
  if (!table_.usable) {
    report_.notMended.push_back("the table's header does not allow reading its records");
    return report_;
  }
  if (report_.changes.empty() && !rebuildIndexes_) {
    report_.after.records = keep_;
    for (const auto& f : findings_) {
      report_.remaining.push_back(f);
      (f.severity == TkxSeverity::kError ? report_.after.errors : report_.after.warnings)++;
    }
    return report_;
  }
  if (options_.dryRun) {
    if (rebuildIndexes_) BuildIndexes();
    return report_;
  }
  Write();
  lock_.Close();
  report_.changed = true;
  report_.after =
      VerifyTable(path_, check, [&](const TkxFinding& f) { report_.remaining.push_back(f); });
  return report_;
}

void Repairer::Write() {
  ReplaceStepsBegin();
  journal_ = std::make_unique<TkxReplaceJournal>(path_);
  staging_ = journal_->StagingFor(platform::DirectoryOf(path_));
  const std::string stagedTable = StagedOf(path_);
  WriteTable(stagedTable);
  if (!memoPath_.empty()) {
    const std::string stagedMemo = StagedOf(memoPath_);
    if (rewriteMemo_) {
      std::vector<uint8_t> unused;
      WriteMemo(stagedMemo, unused);
    } else {
      CopyFile(memoPath_, stagedMemo);
    }
    moves_.emplace_back(stagedMemo, memoPath_);
  }
  if (rebuildIndexes_) BuildIndexes();
  for (const auto& [staged, final] : moves_) FlushFile(staged);
  FlushFile(stagedTable);
  // The originals, as they were, beside the table.
  report_.backupFolder = BackupFolderName(path_);
  if (platform::MakeDirectory(report_.backupFolder) != 0)
    Fail(report_.backupFolder + ": the folder cannot be made");
  CopyFile(path_, report_.backupFolder + "/" + platform::FileNameOf(path_));
  for (const auto& [staged, final] : moves_)
    CopyFile(final, report_.backupFolder + "/" + platform::FileNameOf(final));
  platform::SyncDirectory(report_.backupFolder);
  ReplaceFileStep();
  for (const auto& [staged, final] : moves_) journal_->AddMove(staged, final);
  journal_->AddMove(stagedTable, path_);  // the table last
  journal_->Commit();
  journal_->Finish();
  report_.changes.push_back("originals kept in " + report_.backupFolder);
}

}  // namespace

TkxRepairReport RepairTable(const std::string& tablePath, const TkxRepairOptions& options) {
  Repairer repairer(platform::AbsolutePath(tablePath), options);
  return repairer.Run();
}

}  // namespace tolvern
