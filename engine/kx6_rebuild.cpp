#include "kx6_rebuild.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "kx6_build.h"
#include "kx6_cdx.h"
#include "kx6_cpage.h"
#include "kx6_eror.h"
#include "kx6_glbl.h"
#include "kx6_indx.h"
#include "kx6_journal.h"
#include "kx6_memo.h"
#include "kx6_tool.h"
#include "platform/pf_file.h"
#include "platform/pf_path.h"
#include "platform/pf_text.h"

namespace tolvern {

namespace {

constexpr int32_t kWriteBehindBytes = 256 * 1024;

[[noreturn]] void Fail(int32_t code, const std::string& what) {
  RaiseEngineError(code, SubCodeNone, what);
  throw ETolvernError(EngineErrorMessage(code, SubCodeNone, what.c_str()));
}

bool IsMemoType(char type, uint8_t version) {
  return type == 'M' || type == 'G' || type == 'P' || (type == 'B' && version != kVersionVisual);
}

bool IsNumberType(char type) { return type == 'N' || type == 'F'; }

std::string TrimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

std::string TrimBoth(const std::string& text) {
  std::string out = TrimRight(text);
  const size_t start = out.find_first_not_of(' ');
  return start == std::string::npos ? std::string() : out.substr(start);
}

// A number as stored: blanks, a sign, digits, a point and digits, blanks.
struct Decimal {
  bool negative = false;
  std::string whole;
  std::string fraction;
};

std::optional<Decimal> ParseDecimal(const std::string& text) {
  const std::string s = TrimBoth(text);
  Decimal d;
  size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) d.negative = s[i++] == '-';
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') d.whole += s[i++];
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') d.fraction += s[i++];
  }
  if (i != s.size() || (d.whole.empty() && d.fraction.empty())) return std::nullopt;
  return d;
}

// The number in `width` characters with `decimals` places, rounded half away from zero
// on its digits; nothing when it does not fit.
std::optional<std::string> FormatDecimal(Decimal d, int width, int decimals) {
  std::string digits =
      d.whole +
      d.fraction.substr(0, std::min<size_t>(d.fraction.size(), static_cast<size_t>(decimals)));
  digits.append(static_cast<size_t>(decimals) -
                    std::min<size_t>(d.fraction.size(), static_cast<size_t>(decimals)),
                '0');
  if (d.fraction.size() > static_cast<size_t>(decimals) &&
      d.fraction[static_cast<size_t>(decimals)] >= '5') {
    size_t k = digits.size();
    while (k > 0) {
      --k;
      if (digits[k] == '9') {
        digits[k] = '0';
      } else {
        ++digits[k];
        break;
      }
      if (k == 0) digits.insert(digits.begin(), '1');
    }
    if (digits.empty()) digits = "1";
  }
  const size_t split = digits.size() - static_cast<size_t>(decimals);
  std::string whole = digits.substr(0, split);
  const std::string fraction = digits.substr(split);
  const size_t lead = whole.find_first_not_of('0');
  whole = lead == std::string::npos ? "0" : whole.substr(lead);
  const bool zero = digits.find_first_not_of('0') == std::string::npos;
  std::string out = (d.negative && !zero ? "-" : "") + whole;
  if (decimals > 0) out += "." + fraction;
  if (out.size() > static_cast<size_t>(width)) return std::nullopt;
  return std::string(static_cast<size_t>(width) - out.size(), ' ') + out;
}

// One byte table from a code page to another; -1 where the target has no counterpart.
class Transcoder {
 public:
  Transcoder(const std::string& from, const std::string& to) : from_(from), to_(to) {
    for (int b = 0; b < 256; ++b) {
      map_[static_cast<size_t>(b)] = static_cast<int16_t>(b);
      if (b < 0x80) continue;
      std::string utf8;
      std::string out;
      try {
        utf8 = platform::ToUtf8(std::string(1, static_cast<char>(b)), from);
        if (utf8 == "\xEF\xBF\xBD" || !platform::FromUtf8(utf8, to, out) || out.size() != 1) {
          map_[static_cast<size_t>(b)] = -1;
        } else {
          map_[static_cast<size_t>(b)] = static_cast<uint8_t>(out[0]);
        }
      } catch (const std::invalid_argument&) {
        Fail(ErrCannotReplace, "unknown code page " + from + " or " + to);
      }
    }
  }
  // Converts in place; the offset of the first byte without counterpart, or -1.
  long Convert(std::string& text) const {
    for (size_t i = 0; i < text.size(); ++i) {
      const int16_t m = map_[static_cast<uint8_t>(text[i])];
      if (m < 0) return static_cast<long>(i);
      text[i] = static_cast<char>(m);
    }
    return -1;
  }
  const std::string& To() const { return to_; }

 private:
  std::string from_;
  std::string to_;
  std::array<int16_t, 256> map_{};
};

// The value of one new field, taken from the old record.
class FieldCopy {
 public:
  enum class Kind { kBlank, kBytes, kTranscode, kNumber, kMemo, kGeneral };

  FieldCopy(const DbfFieldInfo* from, const DbfFieldInfo& to, uint8_t oldVersion,
            uint8_t newVersion, bool transcode)
      : from_(from), to_(to), oldVersion_(oldVersion), newVersion_(newVersion) {
    if (!from) {
      kind_ = Kind::kBlank;
    } else if (IsMemoType(from->type, oldVersion) && IsMemoType(to.type, newVersion)) {
      kind_ = Kind::kMemo;
      textMemo_ = transcode && from->type == 'M';
    } else if (from->type == to.type && from->length == to.length &&
               from->decimals == to.decimals) {
      kind_ = transcode && to.type == 'C' ? Kind::kTranscode : Kind::kBytes;
    } else if (IsNumberType(from->type) && IsNumberType(to.type)) {
      kind_ = Kind::kNumber;
    } else {
      kind_ = Kind::kGeneral;
      transcode_ = transcode;
    }
  }

  Kind Type() const { return kind_; }
  const DbfFieldInfo* From() const { return from_; }
  const DbfFieldInfo& To() const { return to_; }
  bool TextMemo() const { return textMemo_; }
  bool SourceIsMemo() const { return from_ && IsMemoType(from_->type, oldVersion_); }
  bool TargetIsMemo() const { return IsMemoType(to_.type, newVersion_); }
  bool Transcodes() const { return transcode_; }

 private:
  const DbfFieldInfo* from_;
  DbfFieldInfo to_;
  uint8_t oldVersion_;
  uint8_t newVersion_;
  Kind kind_ = Kind::kBlank;
  bool textMemo_ = false;
  bool transcode_ = false;
};

// Puts `text` into a non-memo field of type `type`; false when it does not fit (the
// field then holds what `accept` allows: cut text, otherwise blanks).
bool PutText(const std::string& text, const DbfFieldInfo& to, uint8_t* record) {
  uint8_t* at = record + to.offset;
  const size_t width = static_cast<size_t>(to.length);
  std::memset(at, ' ', width);
  if (text.empty()) return true;
  switch (to.type) {
    case 'C': {
      std::memcpy(at, text.data(), std::min(width, text.size()));
      return text.size() <= width;
    }
    case 'N':
    case 'F': {
      auto d = ParseDecimal(text);
      if (!d) return false;
      auto formatted = FormatDecimal(*d, to.length, to.decimals);
      if (!formatted) return false;
      std::memcpy(at, formatted->data(), width);
      return true;
    }
    case 'D': {
      const bool digits = text.size() == 8 && std::all_of(text.begin(), text.end(), [](char c) {
                            return c >= '0' && c <= '9';
                          });
      if (!digits || width != 8) return false;
      std::memcpy(at, text.data(), 8);
      return true;
    }
    case 'L': {
      if (text.size() != 1 || std::string("TtFfYyNn?").find(text[0]) == std::string::npos ||
          width < 1)
        return false;
      at[0] = static_cast<uint8_t>(text[0]);
      return true;
    }
    default:
      if (text.size() > width) return false;
      std::memcpy(at, text.data(), text.size());
      return true;
  }
}

int32_t MemoBlockOf(const uint8_t* record, const DbfFieldInfo& field) {
  int64_t block = 0;
  for (int i = 0; i < field.length; ++i) {
    const uint8_t c = record[field.offset + i];
    if (c >= '0' && c <= '9') {
      block = block * 10 + (c - '0');
      if (block > INT32_MAX) return 0;
    } else if (c != ' ' && c != 0) {
      return 0;
    }
  }
  return static_cast<int32_t>(block);
}

void PutMemoBlock(int32_t block, const DbfFieldInfo& to, uint8_t* record) {
  uint8_t* at = record + to.offset;
  std::memset(at, ' ', static_cast<size_t>(to.length));
  if (block <= 0) return;
  const std::string digits = std::to_string(block);
  if (digits.size() > static_cast<size_t>(to.length)) return;
  std::memcpy(at + to.length - static_cast<int>(digits.size()), digits.data(), digits.size());
}

// Carries the records of one table into another (or, without a target, only checks them).
class RecordCopier {
 public:
  RecordCopier(KXO_dBHandler& source, const TkxRebuildPlan& plan,
               const std::vector<DbfFieldInfo>& newFields, uint8_t newVersion)
      : source_(source), plan_(plan) {
    if (!plan.fromCodePage.empty() || !plan.toCodePage.empty())
      transcoder_.emplace(plan.fromCodePage, plan.toCodePage);
    const auto& old = source.Fields();
    for (size_t i = 0; i < newFields.size(); ++i) {
      const int origin = plan.fields[i].origin;
      const DbfFieldInfo* from = origin >= 1 && static_cast<size_t>(origin) <= old.size()
                                     ? &old[static_cast<size_t>(origin - 1)]
                                     : nullptr;
      copies_.emplace_back(from, newFields[i], source.Version(), newVersion,
                           transcoder_.has_value());
      if (copies_.back().SourceIsMemo()) needsSourceMemo_ = true;
    }
    if (needsSourceMemo_) sourceMemo_ = source.OpenMemo();
  }

  bool NeedsCheck() const {
    for (const auto& c : copies_)
      if (c.Type() == FieldCopy::Kind::kGeneral || c.Type() == FieldCopy::Kind::kNumber)
        return true;
    return false;
  }

  // Fills `record` (the new record length) from the source's current record; memos go
  // to `memo`. Without `writing`, only checks: memos are neither written nor copied.
  // False when a value did not fit (`misfitField` then names the first one); while
  // writing, a misfit the plan does not accept raises.
  bool Fill(uint8_t* record, KXobjMemo* memo, bool writing, int32_t recno,
            std::string* misfitField) {
    const uint8_t* old = source_.Buffer();
    record[0] = old[0] == '*' ? '*' : ' ';
    bool fits = true;
    for (const FieldCopy& c : copies_) {
      const DbfFieldInfo& to = c.To();
      const DbfFieldInfo* from = c.From();
      if (!writing && c.Type() == FieldCopy::Kind::kMemo) continue;
      bool ok = true;
      switch (c.Type()) {
        case FieldCopy::Kind::kBlank:
          std::memset(record + to.offset, ' ', static_cast<size_t>(to.length));
          break;
        case FieldCopy::Kind::kBytes:
          std::memcpy(record + to.offset, old + from->offset, static_cast<size_t>(to.length));
          break;
        case FieldCopy::Kind::kTranscode: {
          std::string text(reinterpret_cast<const char*>(old + from->offset),
                           static_cast<size_t>(from->length));
          Transcode(text, recno, to.name);
          std::memcpy(record + to.offset, text.data(), text.size());
          break;
        }
        case FieldCopy::Kind::kNumber: {
          const std::string text(reinterpret_cast<const char*>(old + from->offset),
                                 static_cast<size_t>(from->length));
          ok = PutText(TrimBoth(text), to, record);
          break;
        }
        case FieldCopy::Kind::kMemo: {
          bool exists = false;
          std::string data = ReadMemo(old, *from, &exists);
          if (c.TextMemo()) Transcode(data, recno, to.name);
          int32_t block = 0;
          // The copy keeps the memo's block type (a general field's object stays one), and
          // an empty memo stays an empty memo.
          if (memo && exists)
            block = memo->MemoWriteNew(reinterpret_cast<const uint8_t*>(data.data()), data.size(),
                                       SourceBlockType());
          if (memo && exists && block <= 0)
            Fail(101, memo->FileName() + ": the memo of record " + std::to_string(recno) +
                          " could not be written");
          PutMemoBlock(block, to, record);
          break;
        }
        case FieldCopy::Kind::kGeneral:
          ok = General(c, old, record, memo, recno);
          break;
      }
      if (!ok && fits) {
        fits = false;
        if (misfitField) *misfitField = to.name;
      }
      if (!ok && !plan_.acceptMisfits && writing) {
        Fail(ErrCannotReplace, "record " + std::to_string(recno) + ", field " + to.name +
                                   ": the value does not fit the new field");
      }
      if (!ok && c.Type() != FieldCopy::Kind::kGeneral) {
        std::memset(record + to.offset, ' ', static_cast<size_t>(to.length));
      }
    }
    return fits;
  }

 private:
  void Transcode(std::string& text, int32_t recno, const std::string& field) const {
    if (!transcoder_) return;
    const long bad = transcoder_->Convert(text);
    if (bad < 0) return;
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", static_cast<uint8_t>(text[static_cast<size_t>(bad)]));
    Fail(ErrNoCounterpart, "record " + std::to_string(recno) + ", field " + field + ": character " +
                               hex + " has no counterpart in " + transcoder_->To());
  }

  // The block type of the memo ReadMemo read last.
  uint32_t SourceBlockType() const {
    return sourceMemo_ ? sourceMemo_->LastBlockType() : KXobjMemo::kTextBlock;
  }

  // The memo's bytes; `exists` (when given) tells whether there was a readable memo,
  // which may be empty.
  std::string ReadMemo(const uint8_t* old, const DbfFieldInfo& from, bool* exists = nullptr) {
    if (exists) *exists = false;
    if (!sourceMemo_) return {};
    const int32_t block = MemoBlockOf(old, from);
    if (block <= 0) return {};
    std::vector<uint8_t> data;
    try {
      data = sourceMemo_->MemoRead(block);
    } catch (const ETolvernError&) {
      return {};  // a damaged memo has nothing to carry over
    }
    if (exists) *exists = true;
    return std::string(data.begin(), data.end());
  }

  // Conversions between kinds of fields, through the value's text.
  bool General(const FieldCopy& c, const uint8_t* old, uint8_t* record, KXobjMemo* memo,
               int32_t recno) {
    const DbfFieldInfo& to = c.To();
    const DbfFieldInfo& from = *c.From();
    std::string text;
    if (c.SourceIsMemo()) {
      text = ReadMemo(old, from);
      if (from.type == 'M' && c.Transcodes()) Transcode(text, recno, to.name);
    } else {
      text.assign(reinterpret_cast<const char*>(old + from.offset),
                  static_cast<size_t>(from.length));
      if (from.type == 'C' && c.Transcodes()) Transcode(text, recno, to.name);
      text = from.type == 'C' ? TrimRight(text) : TrimBoth(text);
    }
    if (c.TargetIsMemo()) {
      int32_t block = 0;
      if (memo && !text.empty())
        block = memo->MemoWrite(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 0);
      PutMemoBlock(block, to, record);
      return true;
    }
    if (to.type == 'C' && c.SourceIsMemo()) text = TrimRight(text);
    const bool fits = PutText(text, to, record);
    if (!fits && to.type != 'C') {
      std::memset(record + to.offset, ' ', static_cast<size_t>(to.length));
    }
    return fits;
  }

  KXO_dBHandler& source_;
  const TkxRebuildPlan& plan_;
  std::optional<Transcoder> transcoder_;
  std::vector<FieldCopy> copies_;
  bool needsSourceMemo_ = false;
  KXobjMemo* sourceMemo_ = nullptr;
};

// The field descriptors as a builder would lay them out (offsets from 1).
std::vector<DbfFieldInfo> LayOut(const TkxRebuildPlan& plan) {
  std::vector<DbfFieldInfo> fields;
  int offset = 1;
  for (size_t i = 0; i < plan.fields.size(); ++i) {
    DbfFieldInfo f;
    f.name = plan.fields[i].name;
    f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(plan.fields[i].type)));
    f.length = plan.fields[i].length;
    f.decimals = plan.fields[i].decimals;
    if (f.type == 'D') f.length = 8;
    if (f.type == 'L') f.length = 1;
    if (f.type == 'M' || f.type == 'G' || f.type == 'B') f.length = 10;
    f.offset = offset;
    f.number = static_cast<int>(i) + 1;
    offset += f.length;
    fields.push_back(std::move(f));
  }
  return fields;
}

// Passes the reports on and remembers that the work was asked to stop, also when the
// progress stopped it by raising something of its own.
class StopWatch final : public TkxProgress {
 public:
  explicit StopWatch(TkxProgress* inner) : inner_(inner) {}
  void Start(int32_t kind, int64_t total) override {
    if (inner_) inner_->Start(kind, total);
  }
  bool Step(int64_t done) override {
    try {
      stopped_ = inner_ && !inner_->Step(done);
    } catch (...) {
      stopped_ = true;
      throw;
    }
    return !stopped_;
  }
  void Finish() override {
    if (inner_) inner_->Finish();
  }
  bool Stopped() const { return stopped_; }

 private:
  TkxProgress* inner_;
  bool stopped_ = false;
};

// Restores the read-ahead state of the source however the rebuild ends.
class SequentialRead {
 public:
  explicit SequentialRead(KXO_dBHandler& table) : table_(table), ahead_(table.ReadAheadOn()) {
    table_.SetReadAheadOn(true);
  }
  ~SequentialRead() {
    try {
      table_.SetReadAheadOn(ahead_);
    } catch (...) {
    }
  }
  SequentialRead(const SequentialRead&) = delete;
  SequentialRead& operator=(const SequentialRead&) = delete;

 private:
  KXO_dBHandler& table_;
  bool ahead_;
};

// A field carried with its type, width and decimals keeps the descriptor bytes after them
// that the builder leaves zero (18-30: flags, an autoincrement field's next value and
// step, and what other programs keep there). Byte 31, dBase IV's production-tag mark,
// follows the rebuilt tags instead.
void CarryDescriptorBytes(KXO_dBHandler& table, const TkxRebuildField& field,
                          DbfDescriptor& descriptor) {
  constexpr int kFirst = 18;
  constexpr int kLast = 30;
  const auto& old = table.Fields();
  if (field.origin < 1 || static_cast<size_t>(field.origin) > old.size()) return;
  const DbfFieldInfo& from = old[static_cast<size_t>(field.origin - 1)];
  const char type = static_cast<char>(std::toupper(static_cast<unsigned char>(field.type)));
  if (from.type != type || from.length != field.length || from.decimals != field.decimals) return;
  std::array<uint8_t, kLast - kFirst + 1> bytes{};
  const int64_t at = int64_t{kDescriptorSize} * from.number + kFirst;
  if (table.ReadAt(at, bytes.data(), static_cast<int64_t>(bytes.size())) !=
      static_cast<int64_t>(bytes.size()))
    return;
  std::copy(bytes.begin(), bytes.end(), descriptor.begin() + kFirst);
}

void RefuseVisual(const KXO_dBHandler& table) {
  if (table.Version() == kVersionVisual)
    Fail(ErrCannotReplace, table.FileName() + ": tables of version 0x30 cannot be rebuilt");
}

std::unique_ptr<KXO_DBFBuild> MakeBuilder(const KXO_dBHandler& table, const TkxRebuildPlan& plan,
                                          const std::string& path) {
  TkxMemoKind kind = plan.memoKindForPlainTable;
  if (table.Version() == kVersionDb3Memo) kind = TkxMemoKind::kDBase3;
  if (table.Version() == kVersionDb4Memo) kind = TkxMemoKind::kDBase4;
  if (table.Version() == kVersionFoxMemo) kind = TkxMemoKind::kFoxPro;
  if (plan.memoKind) kind = *plan.memoKind;
  switch (kind) {
    case TkxMemoKind::kDBase3:
      return std::make_unique<KXO_DBFBuild>(path);
    case TkxMemoKind::kDBase4:
      return std::make_unique<KXO_DB4Build>(path);
    case TkxMemoKind::kFoxPro:
      break;
  }
  auto fox = std::make_unique<KXO_DBFoxBuild>(path);
  int size = plan.memoBlockSize > 0 ? plan.memoBlockSize : 64;
  if (table.Memo() && table.Version() == kVersionFoxMemo) size = table.Memo()->MemoBlockSize();
  fox->SetMemoBlockSize(static_cast<uint16_t>(std::clamp(size, 1, 65535)));
  return fox;
}

// Sets or clears the production-index bit of a table file's header.
void SetProductionBit(const std::string& path, bool on) {
  platform::OsFile file;
  if (file.Open(path, true) != 0) Fail(5, path);
  uint8_t flags = 0;
  size_t done = 0;
  if (file.ReadAt(28, &flags, 1, done) != 0 || done != 1) Fail(100, path);
  const uint8_t wanted = on ? (flags | 0x01) : (flags & 0xFE);
  if (wanted == flags) return;
  if (file.WriteAt(28, &wanted, 1, done) != 0 || done != 1) Fail(101, path);
  if (file.Flush() != 0) Fail(101, path);
}

struct IndexDefinition {
  std::string path;
  TkxIndexFormat format;
  struct Tag {
    std::string name, key, forExpr;
    bool ascending, unique, general;
  };
  std::vector<Tag> tags;
};

std::vector<IndexDefinition> OpenIndexDefinitions(const KXO_dBHandler& table) {
  std::vector<IndexDefinition> files;
  for (int slot = 1; slot <= KXO_dBHandler::kMaxIndexFiles; ++slot) {
    KXobjIndexFile* file = table.IndexFile(slot);
    if (!file || !file->Disk()) continue;
    const std::string path = file->Disk()->FileName();  // canonical
    IndexDefinition def{path, IndexFormatOf(path), {}};
    for (int i = 0; i < file->TagCount(); ++i) {
      KXobjIndexTag* tag = file->TagAt(i);
      if (!tag) continue;
      const auto* cdx = dynamic_cast<const KXobjCDXTag*>(tag);
      def.tags.push_back({tag->TagName(), tag->KeyExprText(),
                          tag->HasFor() ? tag->ForExprText() : "", tag->Ascending(), tag->Unique(),
                          cdx && cdx->Collation() == CdxCollation::General});
    }
    files.push_back(std::move(def));
  }
  return files;
}

bool IsProductionName(const std::string& indexPath, const std::string& tablePath) {
  const TkxIndexFormat format = IndexFormatOf(indexPath);
  if (!IsMultiTagFormat(format)) return false;
  return platform::DirectoryOf(indexPath) == platform::DirectoryOf(tablePath) &&
         UpperCase(NameWithoutExtension(platform::FileNameOf(indexPath))) ==
             UpperCase(NameWithoutExtension(platform::FileNameOf(tablePath)));
}

std::string FormatExtension(TkxIndexFormat format, const std::string& like) {
  const std::string old = platform::ExtensionOf(like);
  const bool lower = !old.empty() && old != UpperCase(old);
  std::string ext = format == TkxIndexFormat::kNtx   ? ".NTX"
                    : format == TkxIndexFormat::kCdx ? ".CDX"
                    : format == TkxIndexFormat::kMdx ? ".MDX"
                                                     : ".NDX";
  if (lower)
    std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) {
      return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
  return ext;
}

// Why `format` cannot hold `tag`; empty when it can.
std::string LossOf(const IndexDefinition::Tag& tag, TkxIndexFormat format) {
  if (format != TkxIndexFormat::kNdx) return {};
  if (!tag.forExpr.empty()) return "an NDX file holds no FOR condition";
  if (!tag.ascending) return "an NDX file holds no descending order";
  return {};
}

// The file `tag` of `def` goes to when its file is rebuilt in `format`.
std::string ConvertedPath(const IndexDefinition& def, const IndexDefinition::Tag& tag,
                          TkxIndexFormat format) {
  const std::string home = platform::DirectoryOf(def.path);
  const std::string stem =
      IsMultiTagFormat(format) ? NameWithoutExtension(platform::FileNameOf(def.path)) : tag.name;
  return home + "/" + stem + FormatExtension(format, def.path);
}

}  // namespace

uint8_t VersionOfMemoKind(TkxMemoKind kind, bool withMemo) {
  if (!withMemo) return kVersionPlain;
  switch (kind) {
    case TkxMemoKind::kDBase3:
      return kVersionDb3Memo;
    case TkxMemoKind::kDBase4:
      return kVersionDb4Memo;
    case TkxMemoKind::kFoxPro:
      break;
  }
  return kVersionFoxMemo;
}

std::vector<TkxIndexConversion> IndexConversions(const KXO_dBHandler& table,
                                                 TkxIndexFormat format) {
  std::vector<TkxIndexConversion> out;
  for (const IndexDefinition& def : OpenIndexDefinitions(table)) {
    if (def.format == format) continue;
    TkxIndexConversion conversion{def.path, {}};
    for (const auto& tag : def.tags) {
      if (!LossOf(tag, format).empty()) continue;
      const std::string to = ConvertedPath(def, tag, format);
      if (std::find(conversion.to.begin(), conversion.to.end(), to) == conversion.to.end())
        conversion.to.push_back(to);
    }
    out.push_back(std::move(conversion));
  }
  return out;
}

std::vector<std::string> ConversionLosses(const KXO_dBHandler& table, TkxIndexFormat format) {
  std::vector<std::string> out;
  for (const IndexDefinition& def : OpenIndexDefinitions(table)) {
    if (def.format == format) continue;
    for (const auto& tag : def.tags) {
      const std::string why = LossOf(tag, format);
      if (!why.empty())
        out.push_back(platform::FileNameOf(def.path) + ": " + tag.name + " (" + why + ")");
    }
  }
  return out;
}

uint8_t LanguageMarkFor(const std::string& codePage, const KXO_dBaseDBF& table) {
  const std::optional<uint8_t> preferred = MarkOfCodePage(codePage);
  if (!preferred) return 0;
  const uint8_t present = table.CodePageMark();
  const bool dBaseVersion =
      table.Version() == kVersionDb3Memo || table.Version() == kVersionDb4Memo;
  const bool dBaseMark = present != 0 && MarkOfCodePage(CodePageOfMark(present)) &&
                         *MarkOfCodePage(CodePageOfMark(present)) != present;
  const bool dBaseFamily = table.Version() != kVersionFoxMemo && (dBaseVersion || dBaseMark);
  if (dBaseFamily) {
    for (int m = 1; m < 256; ++m) {
      const auto mark = static_cast<uint8_t>(m);
      if (mark != *preferred && MarkOfCodePage(CodePageOfMark(mark)) == preferred) return mark;
    }
  }
  return *preferred;
}

TkxRebuildPlan SameFieldsPlan(const KXO_dBaseDBF& table) {
  TkxRebuildPlan plan;
  for (const auto& f : table.Fields())
    plan.fields.push_back({f.name, f.type, f.length, f.decimals, f.number});
  return plan;
}

std::vector<TkxMisfit> FindMisfits(KXO_dBHandler& table, const TkxRebuildPlan& plan, size_t limit) {
  RefuseVisual(table);
  std::vector<TkxMisfit> misfits;
  const std::vector<DbfFieldInfo> fields = LayOut(plan);
  const uint8_t version = table.Version();
  TkxRebuildPlan checking = plan;
  checking.fromCodePage.clear();
  checking.toCodePage.clear();
  RecordCopier copier(table, checking, fields, version);
  if (!copier.NeedsCheck()) return misfits;
  SequentialRead sequential(table);
  const int32_t count = table.RecordCount();
  std::vector<uint8_t> record(
      static_cast<size_t>(fields.empty() ? 1 : fields.back().offset + fields.back().length));
  for (int32_t j = 1; j <= count && misfits.size() < limit; ++j) {
    table.KXO_dBaseFld::GetRecord(j);
    if (table.Eof()) break;
    std::string field;
    if (!copier.Fill(record.data(), nullptr, false, j, &field)) misfits.push_back({j, field});
  }
  return misfits;
}

TkxRebuildReport RebuildTable(KXO_dBHandler& table, const TkxRebuildPlan& plan) {
  RefuseVisual(table);
  if (table.Shared() || !table.ReadWrite())
    Fail(ErrAccessDenied, table.FileName() + ": the table must be open exclusively for writing");
  if (plan.fields.empty()) Fail(ErrCannotReplace, table.FileName() + ": no fields");
  ReplaceStepsBegin();
  TkxRebuildReport report;
  const std::string tablePath = table.FileName();
  const std::string directory = platform::DirectoryOf(tablePath);
  const std::vector<IndexDefinition> indexes = OpenIndexDefinitions(table);
  const bool hadProduction = table.ProductionIndexFlag();
  const std::string oldMemo = table.HasMemo() && table.OpenMemo() ? table.Memo()->FileName() : "";
  if (plan.indexFormat && !IsMultiTagFormat(*plan.indexFormat)) {
    // Files named after tags must not replace files the table does not own.
    for (const TkxIndexConversion& c : IndexConversions(table, *plan.indexFormat))
      for (const std::string& to : c.to) {
        const bool own = std::any_of(indexes.begin(), indexes.end(),
                                     [&](const IndexDefinition& d) { return d.path == to; });
        if (!own && platform::FileExists(to))
          Fail(ErrCannotReplace, to + ": the index file would replace a file of that name");
      }
  }

  TkxReplaceJournal journal(tablePath);
  const std::string staging = journal.StagingFor(directory);
  const std::string stagedTable = staging + "/" + platform::FileNameOf(tablePath);

  // The new, empty table.
  std::unique_ptr<KXO_DBFBuild> builder = MakeBuilder(table, plan, stagedTable);
  builder->SetLanguageMark(plan.languageMark >= 0 ? static_cast<uint8_t>(plan.languageMark)
                                                  : table.CodePageMark());
  builder->SetWriteEnabled(false);
  builder->SetAcceptStoredTypes(true);
  for (const auto& f : plan.fields) {
    const int index = builder->AddField(f.name, f.type, f.length, f.decimals);
    if (index < 0) Fail(ErrFieldType, f.name + ": the field cannot be created");
    CarryDescriptorBytes(table, f, *builder->At(index));
  }
  builder->SetWriteEnabled(true);
  builder->WriteTable();
  const bool newHasMemo = builder->HasMemo();
  const std::string stagedMemo = newHasMemo ? builder->MemoFileName() : "";
  builder.reset();
  ReplaceFileStep();

  // Every record, in record-number order.
  {
    KXO_dBaseFld target(stagedTable, true, false);
    RecordCopier copier(table, plan, target.Fields(), target.Version());
    KXobjMemo* memo = newHasMemo ? target.OpenMemo() : nullptr;
    SequentialRead sequential(table);
    target.SetWriteBehind(kWriteBehindBytes);
    target.LockTable();
    const int32_t count = table.RecordCount();
    TkxProgressScope progress(table.Progress(), kStatusRebuild, count);
    for (int32_t j = 1; j <= count; ++j) {
      table.KXO_dBaseFld::GetRecord(j);
      if (table.Eof()) break;
      target.BlankBuffer();
      copier.Fill(target.Buffer(), memo, true, j, nullptr);
      const bool deleted = target.Buffer()[0] == '*';
      target.AppendRecord();
      if (deleted) target.DeleteRecord();
      ++report.records;
      if (ProgressDue(j, count)) progress.Step(j);
    }
    target.UnlockTable();
    target.FlushFile();
  }
  ReplaceFileStep();

  // The index files, rebuilt on the new table.
  bool productionKept = false;
  std::vector<std::pair<std::string, std::string>> moves;
  {
    KXO_dBHandler rebuilt(stagedTable, true, false);
    // The index builds report (and may be stopped) like the records' copy.
    StopWatch watch(table.Progress());
    rebuilt.SetProgress(&watch);
    rebuilt.SetKeepIndexesOnCancel(false);
    for (const IndexDefinition& def : indexes) {
      const bool convert = plan.indexFormat && *plan.indexFormat != def.format;
      const std::string home = platform::DirectoryOf(def.path);
      const std::string stage = home == directory ? staging : journal.StagingFor(home);
      std::vector<std::string> made;  // the files built, where they go
      for (const auto& tag : def.tags) {
        const std::string lost = convert ? LossOf(tag, *plan.indexFormat) : "";
        if (!lost.empty()) {
          report.droppedTags.push_back(platform::FileNameOf(def.path) + ": " + tag.name + " (" +
                                       lost + ")");
          continue;
        }
        const std::string to = convert ? ConvertedPath(def, tag, *plan.indexFormat) : def.path;
        const std::string staged = stage + "/" + platform::FileNameOf(to);
        // Only CDX files keep the GENERAL collation; elsewhere the tag sorts by bytes.
        const bool general = tag.general && IndexFormatOf(to) == TkxIndexFormat::kCdx;
        const int sortOption = general ? (tag.ascending ? 7 : 8) : (tag.ascending ? 0 : 1);
        try {
          rebuilt.IndexOn(staged, tag.name, sortOption, !tag.unique, tag.forExpr, tag.key);
          if (std::find(made.begin(), made.end(), to) == made.end()) made.push_back(to);
        } catch (const std::exception& e) {
          if (watch.Stopped()) throw;  // a stop, not a tag that does not fit
          report.droppedTags.push_back(platform::FileNameOf(def.path) + ": " + tag.name + " (" +
                                       e.what() + ")");
          if (!IsMultiTagFormat(IndexFormatOf(to))) platform::RemoveFile(staged);
        }
      }
      rebuilt.CloseAllIndexes();
      ReplaceFileStep();
      bool kept = false;
      for (const std::string& to : made) {
        const std::string staged = stage + "/" + platform::FileNameOf(to);
        if (!platform::FileExists(staged)) continue;
        moves.emplace_back(staged, to);
        kept = kept || to == def.path;
        if (IsProductionName(to, tablePath)) productionKept = true;
      }
      if (made.empty()) report.droppedFiles.push_back(def.path);
      if (!kept) {
        const std::string staged = stage + "/" + platform::FileNameOf(def.path);
        platform::RemoveFile(staged);
        moves.emplace_back(def.path, staged);  // the old file goes
      }
    }
    rebuilt.FlushFile();
  }
  SetProductionBit(stagedTable, hadProduction && productionKept);
  ReplaceFileStep();

  // The memo file keeps its name; one no longer needed goes.
  // A memo file of another kind with another extension takes the new name; the old goes.
  const bool memoRenamed =
      newHasMemo && !oldMemo.empty() &&
      UpperCase(platform::ExtensionOf(oldMemo)) != UpperCase(platform::ExtensionOf(stagedMemo));
  if (memoRenamed) journal.AddMove(oldMemo, staging + "/" + platform::FileNameOf(oldMemo));
  if (newHasMemo) {
    std::string finalMemo = oldMemo.empty() || memoRenamed
                                ? directory + "/" + platform::FileNameOf(stagedMemo)
                                : oldMemo;
    const std::string wanted = staging + "/" + platform::FileNameOf(finalMemo);
    if (wanted != stagedMemo) {
      if (platform::RenameFile(stagedMemo, wanted) != 0) Fail(ErrCannotReplace, stagedMemo);
    }
    journal.AddMove(wanted, finalMemo);
  } else if (!oldMemo.empty()) {
    journal.AddMove(oldMemo, staging + "/" + platform::FileNameOf(oldMemo));
  }
  for (const auto& [from, to] : moves) journal.AddMove(from, to);
  journal.AddMove(stagedTable, tablePath);  // the table last

  journal.Commit();
  journal.Finish();
  return report;
}

}  // namespace tolvern
