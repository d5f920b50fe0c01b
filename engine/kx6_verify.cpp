#include "kx6_verify.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

#include "kx6_dbsy.h"
#include "kx6_eror.h"
#include "kx6_journal.h"
#include "kx6_verify_detail.h"
#include "kx6_verify_index.h"
#include "platform/pf_path.h"

namespace tolvern {

const char* SeverityName(TkxSeverity severity) {
  return severity == TkxSeverity::kError ? "error" : "warning";
}

namespace verify {

namespace {

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | (at + i < b.size() ? b[at + i] : 0);
  return v;
}
uint32_t Be(const std::vector<uint8_t>& b, size_t at, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | (at + i < b.size() ? b[at + i] : 0);
  return v;
}

}  // namespace

std::vector<uint8_t> ReadBytesAt(platform::OsFile& file, int64_t offset, int64_t length) {
  std::vector<uint8_t> out;
  if (offset < 0 || length <= 0) return out;
  out.resize(static_cast<size_t>(length));
  size_t done = 0;
  file.ReadAt(offset, out.data(), out.size(), done);
  out.resize(done);
  return out;
}

bool ReadTableLayout(platform::OsFile& file, const std::string& path, TableLayout& out,
                     std::string& why) {
  out = TableLayout{};
  out.path = path;
  if (file.Size(out.fileSize) != 0) {
    why = path + ": the file cannot be read";
    return false;
  }
  out.header = ReadBytesAt(file, 0, kDbfHeaderSize);
  if (out.header.size() < static_cast<size_t>(kDbfHeaderSize)) {
    why = path + ": the file is too short to be a table";
    return false;
  }
  out.version = out.header[0];
  out.headerCount = Le(out.header, 4, 4);
  out.headerLength = static_cast<int32_t>(Le(out.header, 8, 2));
  out.recordLength = static_cast<int32_t>(Le(out.header, 10, 2));

  // Descriptors run from byte 32 to the terminator (or to the header's end).
  const int64_t areaEnd =
      std::min<int64_t>(std::max<int32_t>(out.headerLength, kDbfHeaderSize), out.fileSize);
  const std::vector<uint8_t> area =
      ReadBytesAt(file, kDbfHeaderSize, std::max<int64_t>(0, areaEnd - kDbfHeaderSize));
  // Without a terminator, a version-0x30 header ends in its 263-byte area.
  const int extra = out.version == kVersionVisual ? kVisualAreaSize : 0;
  size_t slots = area.size() / kDescriptorSize;
  for (size_t i = 0; i * kDescriptorSize < area.size(); ++i) {
    if (area[i * kDescriptorSize] == 0x0D) {
      out.terminatorAt = kDbfHeaderSize + static_cast<int64_t>(i) * kDescriptorSize;
      slots = i;
      break;
    }
  }
  if (out.terminatorAt < 0 && extra > 0 && area.size() > static_cast<size_t>(extra))
    slots = std::min(slots, (area.size() - 1 - extra) / kDescriptorSize);
  int offset = 1;
  for (size_t i = 0; i < slots; ++i) {
    const uint8_t* d = area.data() + i * kDescriptorSize;
    DbfFieldInfo f;
    const char* name = reinterpret_cast<const char*>(d);
    f.name.assign(name, strnlen(name, 11));
    f.type = static_cast<char>(d[11]);
    f.length = f.type == 'C' ? d[16] + d[17] * 256 : d[16];
    f.decimals = f.type == 'C' ? 0 : d[17];
    f.flags = d[18];
    f.offset = offset;
    f.number = static_cast<int>(i) + 1;
    offset += f.length;
    out.fields.push_back(std::move(f));
  }
  out.expectedTerminatorAt = kDbfHeaderSize + static_cast<int64_t>(slots) * kDescriptorSize;
  out.usable = out.recordLength > 0 && out.headerLength >= kDbfHeaderSize + 1 &&
               out.headerLength <= out.fileSize;
  if (out.usable) {
    const int64_t body = out.fileSize - out.headerLength;
    out.fullRecords = body / out.recordLength;
    out.trailingBytes = body % out.recordLength;
    const int64_t after = out.headerLength + out.fullRecords * out.recordLength;
    if (out.trailingBytes > 0) {
      const std::vector<uint8_t> mark = ReadBytesAt(file, after, 1);
      out.eofMark = !mark.empty() && mark[0] == 0x1A;
    }
  }
  return true;
}

bool IsMemoField(uint8_t version, const DbfFieldInfo& f) {
  if (version == kVersionVisual) return f.type == 'M' || f.type == 'G' || f.type == 'W';
  return f.type == 'M' || f.type == 'G' || f.type == 'B';
}

int64_t MemoPointerOf(uint8_t version, const DbfFieldInfo& f, const uint8_t* record) {
  const uint8_t* p = record + f.offset;
  if (version == kVersionVisual && f.length == 4) {
    if (std::memcmp(p, "    ", 4) == 0) return 0;
    return static_cast<int64_t>(p[0] | (p[1] << 8) | (p[2] << 16) |
                                (static_cast<uint32_t>(p[3]) << 24));
  }
  int64_t value = 0;
  bool digits = false, ended = false;
  for (int i = 0; i < f.length; ++i) {
    const uint8_t c = p[i];
    if (c == ' ' || c == 0) {
      if (digits) ended = true;
      continue;
    }
    if (c < '0' || c > '9' || ended) return -1;
    digits = true;
    value = value * 10 + (c - '0');
    if (value > 0x7FFFFFFF) return -1;
  }
  return value;
}

MemoKind MemoKindOf(const TableLayout& table) {
  switch (table.version) {
    case kVersionDb3Memo:
      return MemoKind::kDBase3;
    case kVersionDb4Memo:
      return MemoKind::kDBase4;
    case kVersionFoxMemo:
      return MemoKind::kFoxPro;
    case kVersionVisual:
      return (Le(table.header, 28, 1) & 0x02) ? MemoKind::kFoxPro : MemoKind::kNone;
    default:
      return MemoKind::kNone;
  }
}

std::string MemoPathOf(const TableLayout& table) {
  const MemoKind kind = MemoKindOf(table);
  if (kind == MemoKind::kNone) return {};
  const std::string want = platform::ReplaceExtension(platform::FileNameOf(table.path),
                                                      kind == MemoKind::kFoxPro ? ".fpt" : ".dbt");
  const auto found = platform::FindCompanion(platform::DirectoryOf(table.path), want);
  return found ? *found : std::string();
}

MemoLayout ReadMemoLayout(platform::OsFile& file, MemoKind kind) {
  MemoLayout m;
  m.kind = kind;
  file.Size(m.fileSize);
  m.header = ReadBytesAt(file, 0, 512);
  m.headerValid = true;
  switch (kind) {
    case MemoKind::kDBase3:
      m.blockSize = 512;
      m.firstDataBlock = 1;
      break;
    case MemoKind::kDBase4: {
      const uint32_t size = Le(m.header, 20, 4);
      m.blockSize = size;
      m.firstDataBlock = 1;
      if (size == 0 || size % 64 != 0 || size > 32768) {
        m.headerProblem = "block size " + std::to_string(size) + " in the header";
        m.blockSize = 512;
      }
      break;
    }
    case MemoKind::kFoxPro: {
      const uint32_t size = Be(m.header, 6, 2);
      m.blockSize = size;
      if (size == 0) {
        m.headerProblem = "block size 0 in the header";
        m.blockSize = 1;
      }
      m.firstDataBlock = std::max<int64_t>(1, (512 + m.blockSize - 1) / m.blockSize);
      break;
    }
    case MemoKind::kNone:
      break;
  }
  // dBase IV programs write a header of 24 bytes only, until the first memo.
  const int64_t headerBytes = kind == MemoKind::kDBase4 ? 24 : kind == MemoKind::kFoxPro ? 8 : 4;
  if (m.headerProblem.empty() && m.fileSize < headerBytes)
    m.headerProblem = "the file is shorter than its header";
  m.headerValid = m.headerProblem.empty();
  return m;
}

MemoExtent MeasureMemo(platform::OsFile& file, const MemoLayout& memo, int64_t block) {
  MemoExtent e;
  const int64_t bs = memo.blockSize;
  if (block < memo.firstDataBlock) {
    e.code = "memo-pointer-in-header";
    e.problem = "block " + std::to_string(block) + " lies in the memo file's header";
    return e;
  }
  const int64_t offset = block * bs;
  if (offset >= memo.fileSize) {
    e.code = "memo-pointer-past-end";
    e.problem = "block " + std::to_string(block) + " lies past the end of the memo file";
    return e;
  }
  if (memo.kind == MemoKind::kDBase3) {
    // The text runs to the first 0x1A.
    constexpr int64_t kChunk = 8192;
    int64_t at = offset;
    bool terminated = false;
    while (at < memo.fileSize && !terminated) {
      const std::vector<uint8_t> piece =
          ReadBytesAt(file, at, std::min(kChunk, memo.fileSize - at));
      if (piece.empty()) break;
      const auto mark = std::find(piece.begin(), piece.end(), uint8_t{0x1A});
      at += mark - piece.begin();
      terminated = mark != piece.end();
    }
    e.dataOffset = offset;
    e.dataLength = at - offset;
    e.blocks = std::max<int64_t>(1, (e.dataLength + (terminated ? 1 : 0) + bs - 1) / bs);
    return e;
  }
  const std::vector<uint8_t> head = ReadBytesAt(file, offset, 8);
  if (head.size() < 8) {
    e.code = "memo-length-past-end";
    e.problem = "the block header at block " + std::to_string(block) + " runs past the end";
    return e;
  }
  int64_t total = 0;
  if (memo.kind == MemoKind::kDBase4) {
    if (head[0] != 0xFF || head[1] != 0xFF) {
      e.code = "memo-block-header-invalid";
      e.problem = "block " + std::to_string(block) + " does not start a memo";
      return e;
    }
    total = Le(head, 4, 4);
    if (total < 8) {
      e.code = "memo-block-header-invalid";
      e.problem = "block " + std::to_string(block) + " states a length below its header";
      return e;
    }
  } else {
    e.type = Be(head, 0, 4);
    if (e.type > 2) {
      e.code = "memo-block-header-invalid";
      e.problem = "block " + std::to_string(block) + " has block type " + std::to_string(e.type);
      return e;
    }
    total = static_cast<int64_t>(Be(head, 4, 4)) + 8;
  }
  if (total > memo.fileSize - offset) {
    e.code = "memo-length-past-end";
    e.problem = "the memo at block " + std::to_string(block) + " states " +
                std::to_string(total - 8) + " bytes, past the end of the memo file";
    return e;
  }
  e.dataOffset = offset + 8;
  e.dataLength = total - 8;
  e.blocks = std::max<int64_t>(1, (total + bs - 1) / bs);
  return e;
}

}  // namespace verify

namespace {

using verify::IsMemoField;
using verify::MemoKind;

// Findings a change by another program during the check could explain: everything
// measured against the records and their count.
bool ChangeCouldExplain(const TkxFinding& f) {
  if (f.part != "table") return true;
  return f.code == "record-count-too-large" || f.code == "record-count-too-small" ||
         f.code == "record-partial" || f.code == "data-after-eof-mark";
}

class Checker {
 public:
  Checker(const std::string& path, const TkxVerifyOptions& options, const TkxFindingSink& sink)
      : path_(path), options_(options), sink_(sink) {}

  TkxVerifySummary Run();

 private:
  void Report(const std::string& part, const std::string& file, TkxSeverity severity,
              const std::string& code, int64_t recno, const std::string& detail,
              const std::string& tag = {});
  void Deliver(const TkxFinding& f);
  void CheckHeader();
  bool MarkAfter(int64_t records);
  void CheckRecords(TkxProgressScope& progress);
  void CheckMemo();
  void CheckIndexes();
  std::vector<std::string> IndexFiles() const;
  struct Snapshot {
    std::vector<uint8_t> header;
    int64_t size = -1;
    int64_t memoSize = -1;
    bool operator==(const Snapshot&) const = default;
  };
  Snapshot Take();

  std::string path_;
  const TkxVerifyOptions& options_;
  const TkxFindingSink& sink_;
  TkxVerifySummary summary_;
  platform::OsFile file_;
  verify::TableLayout table_;
  std::string memoPath_;
  std::vector<TkxFinding> held_;  // findings a concurrent change could explain
  struct Pointer {
    int64_t recno;
    int field;  // index into the fields
    int64_t block;
  };
  std::vector<Pointer> pointers_;
  int64_t records_ = 0;  // the records checked: the whole ones, or up to the header's mark
};

void Checker::Report(const std::string& part, const std::string& file, TkxSeverity severity,
                     const std::string& code, int64_t recno, const std::string& detail,
                     const std::string& tag) {
  TkxFinding f;
  f.part = part;
  f.file = file;
  f.tag = tag;
  f.severity = severity;
  f.code = code;
  f.recno = recno;
  f.detail = detail;
  Deliver(f);
}

void Checker::Deliver(const TkxFinding& f) {
  if (f.code == "tag-unsupported") {
    summary_.tagsNotCompared.push_back(f.file + ": " + f.tag + " (" + f.detail + ")");
    return;
  }
  if (ChangeCouldExplain(f)) {
    held_.push_back(f);
    return;
  }
  (f.severity == TkxSeverity::kError ? summary_.errors : summary_.warnings)++;
  if (sink_) sink_(f);
}

Checker::Snapshot Checker::Take() {
  Snapshot s;
  s.header = verify::ReadBytesAt(file_, 0, kDbfHeaderSize);
  file_.Size(s.size);
  if (!memoPath_.empty()) {
    platform::OsFile memo;
    if (memo.Open(memoPath_, false) == 0) memo.Size(s.memoSize);
  }
  return s;
}

TkxVerifySummary Checker::Run() {
  if (!platform::FileExists(path_)) throw ETolvernError(path_ + ": File not found");
  if (int32_t e = file_.Open(path_, false); e != 0)
    throw ETolvernError(path_ + ": the file cannot be opened (error " + std::to_string(e) + ")");
  // A shared lock: writers that need the table to themselves (and a replacement being
  // finished) wait until the check is done; other shared users go on.
  if (file_.ShareLock(false) != 0) throw ETolvernError(path_ + " is in use by another program");
  std::string why;
  if (!verify::ReadTableLayout(file_, path_, table_, why)) throw ETolvernError(why);
  // A version byte that names no format, in a header that is otherwise sound, is damage
  // to that byte; a format this engine does not read, or bytes that are no table, cannot
  // be checked.
  bool versionDamaged = false;
  if (!IsAcceptedVersion(table_.version)) {
    const char* kind = UnsupportedTableKind(table_.version);
    int width = 1;
    for (const DbfFieldInfo& f : table_.fields) width += f.length;
    versionDamaged = !kind && table_.usable && table_.terminatorAt >= 0 && !table_.fields.empty() &&
                     width == table_.recordLength && table_.terminatorAt < table_.headerLength;
    if (!versionDamaged) {
      char text[128];
      std::snprintf(text, sizeof text,
                    ": version byte 0x%02X (%s) is not a table this engine reads", table_.version,
                    kind ? kind : "unknown");
      throw ETolvernError(path_ + text);
    }
  }
  summary_.filesChecked.push_back(path_);
  memoPath_ = verify::MemoPathOf(table_);
  const Snapshot before = Take();

  if (platform::FileExists(ReplaceJournalPath(path_))) {
    Report("table", ReplaceJournalPath(path_), TkxSeverity::kWarning, "pending-replacement", 0,
           "a replacement of the table's files was interrupted; opening the table for "
           "writing completes or undoes it");
  }
  records_ = table_.usable ? table_.fullRecords : 0;
  if (versionDamaged) {
    char text[96];
    std::snprintf(text, sizeof text, "version byte 0x%02X names no table format", table_.version);
    Report("table", path_, TkxSeverity::kError, "version-unknown", 0, text);
  }
  CheckHeader();
  {
    TkxProgressScope progress(options_.progress, kStatusVerify, records_);
    CheckRecords(progress);
  }
  CheckMemo();
  CheckIndexes();

  const Snapshot after = Take();
  std::vector<TkxFinding> held;
  held.swap(held_);
  if (!(before == after)) {
    TkxFinding f;
    f.part = "table";
    f.file = path_;
    f.severity = TkxSeverity::kWarning;
    f.code = "changed-during-check";
    f.detail = "another program changed the table during the check; " +
               std::to_string(held.size()) +
               " findings about records, memos and keys were left out: check again";
    summary_.warnings++;
    if (sink_) sink_(f);
  } else {
    for (const TkxFinding& f : held) {
      (f.severity == TkxSeverity::kError ? summary_.errors : summary_.warnings)++;
      if (sink_) sink_(f);
    }
  }
  return summary_;
}

void Checker::CheckHeader() {
  const verify::TableLayout& t = table_;
  const int extra = t.version == kVersionVisual ? kVisualAreaSize : 0;
  if (t.recordLength == 0) {
    Report("table", path_, TkxSeverity::kError, "record-length-invalid", 0,
           "the header states a record length of 0");
  }
  if (t.headerLength < kDbfHeaderSize + 1 + extra || t.headerLength > t.fileSize) {
    Report("table", path_, TkxSeverity::kError, "header-length-invalid", 0,
           "the header states a header length of " + std::to_string(t.headerLength) +
               " in a file of " + std::to_string(t.fileSize) + " bytes");
  } else if (t.terminatorAt < 0) {
    Report("table", path_, TkxSeverity::kWarning, "terminator-missing", 0,
           "no 0x0D byte ends the field descriptors");
  } else if (t.terminatorAt + 1 + extra > t.headerLength) {
    Report("table", path_, TkxSeverity::kError, "header-length-mismatch", 0,
           "the field descriptors end at byte " + std::to_string(t.terminatorAt + 1 + extra) +
               ", after the header length " + std::to_string(t.headerLength));
  }
  if (t.fields.empty()) {
    Report("table", path_, TkxSeverity::kWarning, "fields-missing", 0,
           "the header describes no field");
  }
  // Field descriptors.
  std::set<std::string> names;
  int width = 1;
  for (const DbfFieldInfo& f : t.fields) {
    width += f.length;
    const std::string which = "field " + std::to_string(f.number) + " (" + f.name + ")";
    bool nameOk = !f.name.empty();
    for (char c : f.name) {
      const auto u = static_cast<unsigned char>(c);
      if (u < 0x20 || u == 0x7F || c == ' ') nameOk = false;
    }
    if (!nameOk) {
      Report("table", path_, TkxSeverity::kError, "field-name-invalid", 0,
             which + ": the name is empty or holds control characters or blanks");
    } else if (!names.insert(f.name).second) {
      Report("table", path_, TkxSeverity::kWarning, "field-name-duplicate", 0,
             which + ": another field has the same name");
    }
    static const std::string kTypes = "CNFDLMGBIYTPW0VQ@+O";
    if (kTypes.find(f.type) == std::string::npos || f.type == 0) {
      char text[64];
      std::snprintf(text, sizeof text, ": unknown type byte 0x%02X",
                    static_cast<unsigned char>(f.type));
      Report("table", path_, TkxSeverity::kError, "field-type-unknown", 0, which + text);
      continue;
    }
    std::string problem;
    if (f.length == 0)
      problem = "width 0";
    else if (f.type == 'D' && f.length != 8)
      problem = "a date field of width " + std::to_string(f.length);
    else if (f.type == 'L' && f.length != 1)
      problem = "a logical field of width " + std::to_string(f.length);
    else if ((f.type == 'N' || f.type == 'F') &&
             (f.length > 20 || (f.decimals > 0 && f.decimals > f.length - 2)))
      problem = "a number field of width " + std::to_string(f.length) + " with " +
                std::to_string(f.decimals) + " decimals";
    else if (IsMemoField(t.version, f) && f.length != 10 && f.length != 4)
      problem = "a memo field of width " + std::to_string(f.length);
    if (!problem.empty())
      Report("table", path_, TkxSeverity::kError, "field-width-invalid", 0, which + ": " + problem);
  }
  if (t.recordLength > 0 && width != t.recordLength) {
    Report("table", path_, width > t.recordLength ? TkxSeverity::kError : TkxSeverity::kWarning,
           "record-length-mismatch", 0,
           "the fields take " + std::to_string(width) + " bytes, the header states " +
               std::to_string(t.recordLength));
  }
  if (!t.usable) return;
  // Files written by other programs often carry a byte or two after the end-of-file
  // mark, and some keep a stale record after it; neither is damage while the header's
  // count agrees.
  const int64_t stated = t.headerCount;
  if (stated == t.fullRecords + 1 && t.trailingBytes > 0) {
    Report("table", path_, TkxSeverity::kError, "record-partial", t.fullRecords + 1,
           "the file ends " + std::to_string(t.trailingBytes) + " bytes into record " +
               std::to_string(t.fullRecords + 1));
  } else if (stated > t.fullRecords) {
    Report("table", path_, TkxSeverity::kError, "record-count-too-large", 0,
           "the header states " + std::to_string(stated) + " records, the file holds " +
               std::to_string(t.fullRecords));
  } else if (stated < t.fullRecords && MarkAfter(stated)) {
    Report("table", path_, TkxSeverity::kWarning, "data-after-eof-mark", stated + 1,
           "an end-of-file mark follows record " + std::to_string(stated) +
               " as the header states; the bytes after it are left over");
    records_ = stated;
  } else if (stated < t.fullRecords) {
    Report("table", path_, TkxSeverity::kError, "record-count-too-small", stated + 1,
           "the header states " + std::to_string(stated) + " records, the file holds " +
               std::to_string(t.fullRecords));
  }
}

bool Checker::MarkAfter(int64_t records) {
  const std::vector<uint8_t> b =
      verify::ReadBytesAt(file_, table_.headerLength + records * table_.recordLength, 1);
  return !b.empty() && b[0] == 0x1A;
}

void Checker::CheckRecords(TkxProgressScope& progress) {
  const verify::TableLayout& t = table_;
  if (!t.usable) return;
  std::vector<const DbfFieldInfo*> memoFields;
  for (const DbfFieldInfo& f : t.fields)
    if (IsMemoField(t.version, f) && f.offset + f.length <= t.recordLength)
      memoFields.push_back(&f);
  const bool visual = t.version == kVersionVisual;
  constexpr int64_t kChunkBytes = 1 << 20;
  const int64_t perChunk = std::max<int64_t>(1, kChunkBytes / t.recordLength);
  for (int64_t first = 0; first < records_; first += perChunk) {
    const int64_t n = std::min(perChunk, records_ - first);
    const std::vector<uint8_t> chunk =
        verify::ReadBytesAt(file_, t.headerLength + first * t.recordLength, n * t.recordLength);
    const int64_t got = static_cast<int64_t>(chunk.size()) / t.recordLength;
    for (int64_t i = 0; i < got; ++i) {
      const uint8_t* rec = chunk.data() + i * t.recordLength;
      const int64_t recno = first + i + 1;
      summary_.records++;
      if (options_.deep && rec[0] != ' ' && rec[0] != '*') {
        char text[64];
        std::snprintf(text, sizeof text, "delete mark 0x%02X (blank or * expected)", rec[0]);
        Report("values", path_, TkxSeverity::kWarning, "delete-mark-invalid", recno, text);
      }
      for (size_t k = 0; k < memoFields.size(); ++k) {
        const DbfFieldInfo& f = *memoFields[k];
        const int64_t block = verify::MemoPointerOf(t.version, f, rec);
        if (block == 0) continue;
        pointers_.push_back({recno, f.number - 1, block});
      }
      (void)visual;
      if ((recno & 0x3FF) == 0) progress.Step(recno);
    }
    if (got < n) break;  // the file shrank under the check
  }
  progress.Step(summary_.records);

  if (!options_.deep) return;
  // Values through the engine's own reading, so that the check says what a reader sees.
  std::unique_ptr<KXO_dBaseFld> table;
  try {
    table = std::make_unique<KXO_dBaseFld>(path_, false, true);
  } catch (const ETolvernError&) {
    return;  // the header findings say why
  }
  table->SetReadAhead(1 << 20);
  TkxFieldValue value;
  const int32_t count = static_cast<int32_t>(std::min<int64_t>(table->RecordCount(), records_));
  for (int32_t r = 1; r <= count; ++r) {
    try {
      table->GetRecord(r);
    } catch (const ETolvernError&) {
      break;  // the file changed under the check; the snapshot at the end tells
    }
    if (table->Eof()) break;
    for (const DbfFieldInfo& f : table->Fields()) {
      if (IsMemoField(t.version, f)) continue;
      table->ReadFieldValue(f.number, value);
      if (value.kind == TkxValueKind::kInvalid) {
        std::string shown;
        for (char c : value.text) shown += (static_cast<unsigned char>(c) < 0x20) ? '?' : c;
        Report("values", path_, TkxSeverity::kError, "value-invalid", r,
               "field " + f.name + ": " + value.reason + (shown.empty() ? "" : ": " + shown));
      }
    }
    if ((r & 0x3FF) == 0) progress.Step(r);
  }
}

void Checker::CheckMemo() {
  const MemoKind kind = verify::MemoKindOf(table_);
  if (kind == MemoKind::kNone) return;
  if (memoPath_.empty()) {
    if (!pointers_.empty() ||
        std::any_of(table_.fields.begin(), table_.fields.end(),
                    [&](const DbfFieldInfo& f) { return IsMemoField(table_.version, f); })) {
      // Without a record that points at a memo, nothing is lost yet.
      Report("memo", path_, pointers_.empty() ? TkxSeverity::kWarning : TkxSeverity::kError,
             "memo-file-missing", 0,
             "the table has memo fields but its memo file is missing" +
                 std::string(pointers_.empty() ? " (no record points at a memo)" : ""));
    }
    return;
  }
  summary_.filesChecked.push_back(memoPath_);
  platform::OsFile file;
  if (file.Open(memoPath_, false) != 0) {
    Report("memo", memoPath_, TkxSeverity::kError, "memo-file-unreadable", 0,
           "the memo file cannot be opened");
    return;
  }
  const verify::MemoLayout memo = verify::ReadMemoLayout(file, kind);
  if (!memo.headerValid) {
    Report("memo", memoPath_, TkxSeverity::kError, "memo-header-invalid", 0, memo.headerProblem);
  }
  const int64_t bs = memo.blockSize;
  struct Span {
    int64_t start, end, recno;
    int field;
  };
  std::vector<Span> spans;
  for (const auto& p : pointers_) {
    const std::string& name = table_.fields[static_cast<size_t>(p.field)].name;
    if (p.block < 0) {
      Report("memo", memoPath_, TkxSeverity::kError, "memo-pointer-invalid", p.recno,
             "field " + name + " holds no block number");
      continue;
    }
    const verify::MemoExtent e = verify::MeasureMemo(file, memo, p.block);
    if (!e.code.empty()) {
      Report("memo", memoPath_, TkxSeverity::kError, e.code, p.recno,
             "field " + name + ": " + e.problem);
      continue;
    }
    spans.push_back({p.block, p.block + e.blocks, p.recno, p.field});
  }
  std::stable_sort(spans.begin(), spans.end(),
                   [](const Span& a, const Span& b) { return a.start < b.start; });
  int64_t reach = 0, reachRecno = 0, prevStart = -1, prevRecno = 0;
  for (const Span& s : spans) {
    const std::string& name = table_.fields[static_cast<size_t>(s.field)].name;
    if (s.start == prevStart) {
      Report("memo", memoPath_, TkxSeverity::kError, "memo-block-shared", s.recno,
             "field " + name + " points at block " + std::to_string(s.start) + ", which record " +
                 std::to_string(prevRecno) + " also uses");
    } else if (s.start < reach) {
      Report("memo", memoPath_, TkxSeverity::kError, "memo-overlap", s.recno,
             "field " + name + ": the memo at block " + std::to_string(s.start) +
                 " starts inside the memo of record " + std::to_string(reachRecno));
    }
    if (s.start != prevStart) {
      prevStart = s.start;
      prevRecno = s.recno;
    }
    if (s.end > reach) {
      reach = s.end;
      reachRecno = s.recno;
    }
  }
  // Blocks in use: the memos, and in dBase IV files the free list.
  const int64_t fileBlocks = (memo.fileSize + bs - 1) / bs;
  std::vector<std::pair<int64_t, int64_t>> used;
  for (const Span& s : spans) used.emplace_back(s.start, s.end);
  if (kind == MemoKind::kDBase4 && memo.headerValid) {
    // The list ends at the file's end block; a file of its header only ends at block 1.
    const int64_t end = std::max<int64_t>(1, memo.fileSize / bs);
    int64_t p =
        memo.header.size() >= 4
            ? static_cast<int64_t>(memo.header[0] | (memo.header[1] << 8) | (memo.header[2] << 16) |
                                   (static_cast<uint32_t>(memo.header[3]) << 24))
            : end;
    std::set<int64_t> seen;
    std::string problem;
    while (p != end && problem.empty()) {
      if (p < memo.firstDataBlock || p > end) {
        problem = "the free list points at block " + std::to_string(p) + ", outside the file";
        break;
      }
      if (!seen.insert(p).second) {
        problem = "the free list runs in a loop at block " + std::to_string(p);
        break;
      }
      const std::vector<uint8_t> run = verify::ReadBytesAt(file, p * bs, 8);
      if (run.size() < 8) {
        problem = "the free list's block " + std::to_string(p) + " lies past the end";
        break;
      }
      const int64_t next =
          run[0] | (run[1] << 8) | (run[2] << 16) | (static_cast<int64_t>(run[3]) << 24);
      const int64_t size =
          run[4] | (run[5] << 8) | (run[6] << 16) | (static_cast<int64_t>(run[7]) << 24);
      for (const Span& s : spans)
        if (p < s.end && s.start < p + std::max<int64_t>(size, 1))
          problem = "the free run at block " + std::to_string(p) + " holds the memo of record " +
                    std::to_string(s.recno);
      used.emplace_back(p, p + std::max<int64_t>(size, 1));
      p = next;
    }
    if (!problem.empty())
      Report("memo", memoPath_, TkxSeverity::kError, "memo-free-list-invalid", 0, problem);
  } else if (memo.headerValid && memo.header.size() >= 4) {
    const int64_t next = kind == MemoKind::kFoxPro
                             ? (static_cast<int64_t>(memo.header[0]) << 24 | memo.header[1] << 16 |
                                memo.header[2] << 8 | memo.header[3])
                             : (memo.header[0] | memo.header[1] << 8 | memo.header[2] << 16 |
                                static_cast<int64_t>(memo.header[3]) << 24);
    if (next < reach || next < memo.firstDataBlock) {
      Report("memo", memoPath_, TkxSeverity::kWarning, "memo-next-free-invalid", 0,
             "the header's next free block " + std::to_string(next) +
                 " lies before the end of the memos in use (block " +
                 std::to_string(std::max(reach, memo.firstDataBlock)) +
                 "): new memos would overwrite them");
    }
  }
  // Unreachable blocks: information only.
  std::sort(used.begin(), used.end());
  int64_t covered = 0, at = memo.firstDataBlock;
  for (const auto& [s, e] : used) {
    const int64_t from = std::max(s, at), to = std::min(e, fileBlocks);
    if (to > from) covered += to - from;
    at = std::max(at, e);
  }
  summary_.unreachableMemoBlocks = std::max<int64_t>(0, fileBlocks - memo.firstDataBlock - covered);
}

std::vector<std::string> Checker::IndexFiles() const {
  std::vector<std::string> files;
  std::set<std::string> seen;
  const std::string dir = platform::DirectoryOf(path_);
  const std::string base = platform::FileNameOf(path_);
  auto add = [&](const std::string& p) {
    const std::string canonical = platform::CanonicalPath(p);
    if (seen.insert(canonical).second) files.push_back(p);
  };
  for (const char* ext : {".cdx", ".mdx", ".ndx", ".ntx"}) {
    if (auto found = platform::FindCompanion(dir, platform::ReplaceExtension(base, ext)))
      add(*found);
  }
  for (const std::string& f : options_.indexFiles) add(platform::AbsolutePath(f));
  return files;
}

void Checker::CheckIndexes() {
  const verify::TableLayout& t = table_;
  const bool flag = t.header.size() > 28 && (t.header[28] & 0x01);
  const std::string dir = platform::DirectoryOf(path_);
  const std::string base = platform::FileNameOf(path_);
  std::string production;
  for (const char* ext : {".cdx", ".mdx"})
    if (auto found = platform::FindCompanion(dir, platform::ReplaceExtension(base, ext)))
      if (production.empty()) production = *found;
  if (flag && production.empty()) {
    Report("table", path_, TkxSeverity::kWarning, "production-index-missing", 0,
           "the header says a production index (CDX or MDX) belongs to the table; there is none");
  } else if (!flag && !production.empty()) {
    Report("table", path_, TkxSeverity::kWarning, "production-index-unflagged", 0,
           platform::FileNameOf(production) +
               " is named like the table, but the header does not mark it as the production "
               "index: programs that open it with the table will not keep it current");
  }
  const std::vector<std::string> files = IndexFiles();
  if (files.empty()) return;
  std::unique_ptr<KXO_dBHandler> table;
  std::string why;
  try {
    table = std::make_unique<KXO_dBHandler>(path_, false, true);
    table->SetLockProtocol(options_.lockProtocol < 0 ? kLockProtocolAuto : options_.lockProtocol);
  } catch (const ETolvernError& e) {
    why = e.what();
  }
  for (const std::string& index : files) {
    if (!platform::FileExists(index)) {
      Report("index", index, TkxSeverity::kError, "index-file-missing", 0,
             "the index file named on the command line does not exist");
      continue;
    }
    summary_.filesChecked.push_back(index);
    if (!table) {
      Report("index", index, TkxSeverity::kWarning, "index-not-checked", 0,
             "the table cannot be read to check its keys: " + why);
      continue;
    }
    VerifyIndexFile(
        *table, index, [this](const TkxFinding& f) { Deliver(f); }, options_.progress);
  }
}

}  // namespace

TkxVerifySummary VerifyTable(const std::string& tablePath, const TkxVerifyOptions& options,
                             const TkxFindingSink& sink) {
  Checker checker(platform::AbsolutePath(tablePath), options, sink);
  return checker.Run();
}

}  // namespace tolvern
