// The index part of the table doctor. Each tag's tree is walked page by page from its root
// with an explicit stack: every page is visited once (a page met again is a loop or a page
// two trees share, reported and not followed), the depth is bounded, and a page that
// cannot be decoded is reported and its subtree skipped. The walk yields the tag's
// (key, record) pairs in stored order, checked for order as they come. Then one pass over
// the records computes every tag's key the way a build does, and a merge by record number
// against the pairs tells missing, extra and stale keys.
#include "kx6_verify_index.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "kx6_bytes.h"
#include "kx6_cdx.h"
#include "kx6_eror.h"
#include "kx6_indx.h"
#include "kx6_mdx.h"
#include "kx6_ndx.h"
#include "kx6_ntx.h"
#include "kx6_sql.h"
#include "kx6_tool.h"

namespace tolvern {

namespace {

// Findings of one code in one tag beyond this many are counted, not listed.
constexpr int64_t kFindingCap = 100;
constexpr int64_t kStepEvery = 1024;

// Collects findings for one file, capping each (tag, code) and summing up the rest.
class Reporter {
 public:
  Reporter(const TkxFindingSink& sink, const std::string& path) : sink_(sink), path_(path) {}

  void Report(const std::string& tag, TkxSeverity severity, const std::string& code, int64_t recno,
              const std::string& detail) {
    Count& count = counts_[{tag, code}];
    if (count.n++ < kFindingCap) {
      if (sink_) sink_(TkxFinding{"index", path_, tag, severity, code, recno, detail});
    } else {
      count.severity = severity;
    }
  }

  // One finding per capped (tag, code) with the number left unlisted.
  void Flush() {
    for (const auto& [key, count] : counts_) {
      if (count.n <= kFindingCap || !sink_) continue;
      sink_(TkxFinding{"index", path_, key.first, count.severity, key.second, 0,
                       std::to_string(count.n - kFindingCap) + " more findings of this kind"});
    }
    counts_.clear();
  }

 private:
  struct Count {
    int64_t n = 0;
    TkxSeverity severity = TkxSeverity::kError;
  };
  const TkxFindingSink& sink_;
  std::string path_;
  std::map<std::pair<std::string, std::string>, Count> counts_;
};

// A key as stored: its variant type and bytes (text without trailing blanks or NULs).
struct StoredKey {
  uint8_t type = TkxVariant::kNone;
  std::string bytes;
};

StoredKey StoredOf(const TkxVariant& v) {
  StoredKey key;
  key.type = v.VariantType();
  if (!v.IsEmpty()) key.bytes.assign(reinterpret_cast<const char*>(v.Data()), v.Length());
  if (key.type == TkxVariant::kText) {
    size_t n = key.bytes.size();
    while (n > 0 && (key.bytes[n - 1] == ' ' || key.bytes[n - 1] == '\0')) --n;
    key.bytes.resize(n);
  }
  return key;
}

void VariantOf(const StoredKey& key, TkxVariant& v) {
  v.SetBytes(key.bytes.data(), static_cast<int32_t>(key.bytes.size()));
  v.SetVariantType(key.type);
}

std::string Printable(const StoredKey& key) {
  std::string out;
  if (key.type == TkxVariant::kText) {
    for (char c : key.bytes) {
      const auto u = static_cast<unsigned char>(c);
      out += u >= 0x20 && u != 0x7F ? c : '?';
    }
    return "'" + out + "'";
  }
  static const char* hex = "0123456789ABCDEF";
  for (char c : key.bytes) {
    const auto u = static_cast<unsigned char>(c);
    out += hex[u >> 4];
    out += hex[u & 15];
  }
  return "0x" + out;
}

// A (record, key) pair of the tree; the key's bytes lie in the tag's arena.
struct IndexPair {
  int32_t recno;
  uint8_t type;
  uint16_t length;
  uint64_t at;
};

// One page decoded: its kind and entries. `pointerOnlyLast`: the last entry of a branch
// carries no key of its own (NDX, MDX). `inOrderKeys`: branch keys are keys of their own
// between their children (NTX).
struct DecodedPage {
  bool leaf = true;
  std::vector<std::unique_ptr<KXobjIndexKeyData>> entries;  // reference: child or record
  int32_t trailingChild = 0;                                // NTX branches: the last pointer
};

// Which tag reached each page first, across the tags of a file.
using PageOwners = std::unordered_map<int32_t, int>;

class TagCheck {
 public:
  TagCheck(KXO_dBHandler& table, KXobjIndexFile& file, KXobjIndexTag& tag, TkxIndexFormat format,
           int tagIndex, Reporter& report, PageOwners& owners, const std::string& name)
      : table_(table),
        file_(file),
        tag_(tag),
        format_(format),
        tagIndex_(tagIndex),
        report_(report),
        owners_(owners),
        name_(name) {}

  // Header and expressions; false when the keys of the records cannot be computed.
  bool CheckHeader();
  // Walks the tree; `step` is told of every key.
  void Walk(const std::function<void(int64_t)>& step);
  // Whether the walk read every page it was led to.
  bool Complete() const { return complete_; }
  int64_t KeyCount() const { return static_cast<int64_t>(pairs_.size()); }
  // Pages per depth in walk order (for sibling checks).
  const std::vector<std::vector<int32_t>>& Levels() const { return levels_; }
  // Prepares the merge: the pairs by record number.
  void SortPairs();
  // The key of the current record against the pairs; records come in increasing order.
  void CheckRecord(int32_t recno);
  // Pairs whose records lie past the table.
  void FinishRecords(int32_t recordCount);
  const std::vector<IndexPair>& Pairs() const { return pairs_; }
  std::string_view BytesOf(const IndexPair& p) const {
    return std::string_view(arena_).substr(p.at, p.length);
  }
  StoredKey KeyOf(const IndexPair& p) const { return StoredKey{p.type, std::string(BytesOf(p))}; }
  void Report(TkxSeverity s, const std::string& code, int64_t recno, const std::string& detail) {
    report_.Report(name_, s, code, recno, detail);
  }

 private:
  bool Decode(int32_t page, DecodedPage& out, std::string& why);
  bool DecodeNtx(int32_t offset, DecodedPage& out, std::string& why);
  void Emit(std::unique_ptr<KXobjIndexKeyData> key, const KXobjIndexKeyData* bound, int32_t page);
  // Three-way order of two stored keys as the file sorts them.
  int Order(const TkxVariant& x, const TkxVariant& y) const;
  bool Same(const IndexPair& held, const StoredKey& want);

  KXO_dBHandler& table_;
  KXobjIndexFile& file_;
  KXobjIndexTag& tag_;
  TkxIndexFormat format_;
  int tagIndex_;
  Reporter& report_;
  PageOwners& owners_;
  std::string name_;
  bool complete_ = true;
  bool computable_ = false;
  std::vector<IndexPair> pairs_;
  std::string arena_;
  std::vector<std::vector<int32_t>> levels_;
  std::unique_ptr<KXobjIndexKeyData> previous_;
  int32_t previousRecno_ = 0;
  // The merge.
  size_t cursor_ = 0;
  std::unordered_set<std::string> uniqueKeys_;  // unique tags: every key value held
  KXobjIndexKeyData computed_{256};
  TkxVariant a_, b_;
  int leafDepth_ = -1;
  int64_t unknownMissing_ = 0;
};

char TypeLetter(uint8_t variantType) {
  switch (variantType) {
    case TkxVariant::kText:
      return 'C';
    case TkxVariant::kFloat:
      return 'N';
    case TkxVariant::kDate:
      return 'D';
    case TkxVariant::kBoolean:
      return 'L';
    default:
      return '?';
  }
}

bool TagCheck::CheckHeader() {
  const std::string keyExpr = Trim(tag_.KeyExprText());
  if (keyExpr.empty()) {
    Report(TkxSeverity::kError, "tag-header", 0, "the tag has no key expression");
    return false;
  }
  bool ok = true;
  try {
    TkxExpHandler compiled(table_.ExpressionLink(), keyExpr);
  } catch (const std::exception& e) {
    Report(TkxSeverity::kError, "expression", 0,
           "key expression '" + keyExpr + "' does not compile: " + e.what());
    ok = false;
  }
  if (tag_.HasFor()) {
    try {
      TkxExpHandler compiled(table_.ExpressionLink(), tag_.ForExprText());
    } catch (const std::exception& e) {
      Report(TkxSeverity::kError, "expression", 0,
             "FOR condition '" + tag_.ForExprText() + "' does not compile: " + e.what());
      ok = false;
    }
  }
  if (!ok) return false;
  if (!tag_.Maintainable()) {
    Report(TkxSeverity::kWarning, "tag-unsupported", 0,
           "keys not compared with the records: " + tag_.ReadOnlyReason());
    return false;
  }
  // The key of the first record tells the expression's type and length.
  if (table_.RecordCount() > 0) {
    table_.KXO_dBaseFld::GetRecord(1);
    KXobjIndexKeyData value(256);
    bool built = false;
    try {
      if (!tag_.KeyBuild(value, built) || !built) {
        Report(TkxSeverity::kError, "expression", 0, "the key expression gives no value");
        return false;
      }
    } catch (const std::exception& e) {
      Report(TkxSeverity::kError, "expression", 1,
             std::string("the key expression cannot be evaluated: ") + e.what());
      return false;
    }
    const char type = TypeLetter(value.VariantType());
    const char stored = tag_.KeyType();
    const bool numberLike = stored == 'N' || stored == 'D' || stored == 'F';
    const bool typeAgrees = type == stored || (type == 'C' && stored == 'C') ||
                            (numberLike && (type == 'N' || type == 'D')) ||
                            (type == 'L' && stored == 'C');
    if (!typeAgrees) {
      Report(TkxSeverity::kError, "key-type", 0,
             std::string("the header says key type ") + stored + ", the expression gives " + type);
      return false;
    }
    // A longer value than the header's key length is cut in every key; a shorter one is
    // padded, which some writers do on purpose.
    if (type == 'C' && stored == 'C' && format_ != TkxIndexFormat::kCdx &&
        value.Length() != tag_.KeyLength()) {
      Report(value.Length() > tag_.KeyLength() ? TkxSeverity::kError : TkxSeverity::kWarning,
             "key-length", 0,
             "the header says key length " + std::to_string(tag_.KeyLength()) +
                 ", the expression gives " + std::to_string(value.Length()));
    }
  }
  computable_ = true;
  return true;
}

bool TagCheck::DecodeNtx(int32_t offset, DecodedPage& out, std::string& why) {
  constexpr int32_t kPage = KXobjNTXTag::kPageSize;
  auto& ntx = static_cast<KXobjNTXTag&>(tag_);
  std::vector<uint8_t> buffer(kPage, 0);
  if (!file_.PageRead(offset, buffer.data(), kPage)) {
    why = "cannot be read";
    return false;
  }
  const ByteReader reader(buffer.data(), buffer.size());
  const int count = reader.U16LE(0);
  if (count > ntx.MaxKeys()) {
    why = "holds " + std::to_string(count) + " keys, more than the " +
          std::to_string(ntx.MaxKeys()) + " a page can";
    return false;
  }
  const size_t keyLength = static_cast<size_t>(tag_.KeyLength());
  const size_t firstAt = reader.U16LE(2);
  if (count == 0 && (firstAt < 2 || firstAt + 8 > static_cast<size_t>(kPage))) {
    out.leaf = true;
    return true;
  }
  std::vector<size_t> at(static_cast<size_t>(count) + 1);
  for (int i = 0; i <= count; ++i) {
    at[i] = reader.U16LE(2 + 2 * static_cast<size_t>(i));
    const size_t need = i < count ? 8 + keyLength : 4;
    if (at[i] < 2 || at[i] + need > static_cast<size_t>(kPage)) {
      why = "has an entry outside the page";
      return false;
    }
  }
  out.leaf = reader.I32LE(at[0]) == 0;
  for (int i = 0; i < count; ++i) {
    const std::span<const uint8_t> bytes = reader.Bytes(at[i] + 8, keyLength);
    size_t length = bytes.size();
    while (length > 0 && (bytes[length - 1] == ' ' || bytes[length - 1] == '\0')) --length;
    auto entry = std::make_unique<KXobjIndexKeyData>(static_cast<int32_t>(length));
    entry->SetText(std::string_view(reinterpret_cast<const char*>(bytes.data()), length));
    entry->SetKeyRecNo(reader.I32LE(at[i] + 4));
    entry->SetReference(reader.I32LE(at[i]));
    if (!out.leaf && entry->Reference() == 0) {
      why = "is a branch with an entry without child";
      return false;
    }
    out.entries.push_back(std::move(entry));
  }
  if (!out.leaf) {
    out.trailingChild = reader.I32LE(at[static_cast<size_t>(count)]);
    if (out.trailingChild == 0) {
      why = "is a branch without its last child";
      return false;
    }
  }
  return true;
}

bool TagCheck::Decode(int32_t page, DecodedPage& out, std::string& why) {
  if (format_ == TkxIndexFormat::kNtx) return DecodeNtx(page, out, why);
  KXobjIndexKey node(&tag_, nullptr, 0);
  try {
    tag_.PageLoad(page, node);
  } catch (const ETolvernCancelled&) {
    throw;
  } catch (const std::exception& e) {
    why = e.what();
    return false;
  }
  out.leaf = node.IsLeaf();
  for (int i = 0; i < node.Count(); ++i) {
    KXobjIndexKeyData& data = node.At(i);
    auto copy = std::make_unique<KXobjIndexKeyData>(std::move(data));
    // Leaves: the reference is the record. NDX leaves keep it in the reference only.
    if (out.leaf) copy->SetKeyRecNo(copy->Reference());
    out.entries.push_back(std::move(copy));
  }
  if (!out.leaf && out.entries.empty()) {
    why = "is a branch without entries";
    return false;
  }
  return true;
}

int TagCheck::Order(const TkxVariant& x, const TkxVariant& y) const {
  if (format_ != TkxIndexFormat::kCdx) return tag_.CompareKeys(x, y, -1);
  // CDX pages hold keys in byte order (collation weights included), padded to the key
  // length; a descending tag is stored ascending.
  const char pad = static_cast<KXobjCDXTag&>(tag_).KeyForm().pad;
  const int32_t nx = x.IsEmpty() ? 0 : x.Length();
  const int32_t ny = y.IsEmpty() ? 0 : y.Length();
  const int32_t n = std::max(nx, ny);
  for (int32_t i = 0; i < n; ++i) {
    const auto a = static_cast<uint8_t>(i < nx ? x.Data()[i] : pad);
    const auto b = static_cast<uint8_t>(i < ny ? y.Data()[i] : pad);
    if (a != b) return a < b ? -1 : 1;
  }
  return 0;
}

void TagCheck::Emit(std::unique_ptr<KXobjIndexKeyData> key, const KXobjIndexKeyData* bound,
                    int32_t page) {
  const int32_t recno = key->KeyRecNo();
  if (previous_) {
    const int c = Order(*previous_, *key);
    if (c > 0) {
      Report(TkxSeverity::kError, "key-order", recno,
             "key " + Printable(StoredOf(*key)) + " of record " + std::to_string(recno) +
                 " on page " + std::to_string(page) + " sorts before " +
                 Printable(StoredOf(*previous_)) + " of record " + std::to_string(previousRecno_));
    } else if (c == 0) {
      if (tag_.Unique())
        Report(TkxSeverity::kError, "duplicate-key", recno,
               "record " + std::to_string(recno) + " has the same key as record " +
                   std::to_string(previousRecno_) + " in a unique tag");
      else if (file_.KeysByRecNo() && previousRecno_ > recno)
        Report(TkxSeverity::kError, "key-order", recno,
               "equal keys of records " + std::to_string(previousRecno_) + " and " +
                   std::to_string(recno) + " are not in record order");
    }
  }
  if (bound && Order(*key, *bound) > 0)
    Report(TkxSeverity::kError, "key-order", recno,
           "key of record " + std::to_string(recno) + " on page " + std::to_string(page) +
               " sorts after its branch entry");
  const StoredKey stored = StoredOf(*key);
  pairs_.push_back(
      IndexPair{recno, stored.type, static_cast<uint16_t>(stored.bytes.size()), arena_.size()});
  arena_ += stored.bytes;
  previousRecno_ = recno;
  previous_ = std::move(key);
}

void TagCheck::Walk(const std::function<void(int64_t)>& step) {
  // The pages of a binary CDX index are not in the compact layout; the header check says so.
  if (const auto* cdxTag = dynamic_cast<const KXobjCDXTag*>(&tag_);
      cdxTag && !cdxTag->IsDirectory() && cdxTag->Header().signature == kCdxSignatureBinary) {
    complete_ = false;
    return;
  }
  struct Item {
    int32_t page = 0;  // 0: an in-order key to emit (NTX branches)
    int depth = 0;
    std::shared_ptr<KXobjIndexKeyData> bound;  // upper bound of the subtree (B+ trees)
    std::unique_ptr<KXobjIndexKeyData> key;
    int32_t from = 0;  // the page that led here
  };
  const int32_t root = tag_.RootPage();
  std::vector<Item> stack;
  if (!file_.ValidNodePage(root)) {
    Report(TkxSeverity::kError, "page-out-of-bounds", 0,
           "the root page " + std::to_string(root) + " lies outside the file");
    complete_ = false;
    return;
  }
  stack.push_back(Item{root, 0, nullptr, nullptr, 0});
  int64_t emitted = 0;
  while (!stack.empty()) {
    Item item = std::move(stack.back());
    stack.pop_back();
    if (item.key) {
      Emit(std::move(item.key), item.bound.get(), item.from);
      if (++emitted % kStepEvery == 0) step(emitted);
      continue;
    }
    const int32_t page = item.page;
    const std::string where = "page " + std::to_string(page);
    if (item.depth >= kMaxTreeDepth) {
      Report(TkxSeverity::kError, "child-link", 0,
             where + " lies deeper than " + std::to_string(kMaxTreeDepth) + " levels");
      complete_ = false;
      continue;
    }
    auto [owner, fresh] = owners_.emplace(page, tagIndex_);
    if (!fresh) {
      Report(TkxSeverity::kError, owner->second == tagIndex_ ? "child-link" : "shared-page", 0,
             where +
                 (owner->second == tagIndex_ ? " is reached twice (a loop)"
                                             : " belongs to another tag as well") +
                 ", reached from page " + std::to_string(item.from));
      complete_ = false;
      continue;
    }
    DecodedPage decoded;
    std::string why;
    if (!Decode(page, decoded, why)) {
      Report(TkxSeverity::kError, "bad-page", 0, where + ": " + why);
      complete_ = false;
      continue;
    }
    if (levels_.size() <= static_cast<size_t>(item.depth)) levels_.resize(item.depth + 1);
    levels_[item.depth].push_back(page);
    if (decoded.leaf) {
      if (leafDepth_ < 0) leafDepth_ = item.depth;
      if (leafDepth_ != item.depth)
        Report(TkxSeverity::kError, "bad-page-type", 0,
               where + " is a leaf at depth " + std::to_string(item.depth) + ", others at " +
                   std::to_string(leafDepth_));
      if (decoded.entries.empty() && item.depth > 0)
        Report(TkxSeverity::kWarning, "key-count", 0, where + " is a leaf without keys");
      for (auto& entry : decoded.entries) {
        Emit(std::move(entry), item.bound.get(), page);
        if (++emitted % kStepEvery == 0) step(emitted);
      }
      continue;
    }
    // A branch: its children (and for NTX its own keys) go on the stack in reverse.
    auto child = [&](int32_t target, std::shared_ptr<KXobjIndexKeyData> bound) {
      if (!file_.ValidNodePage(target)) {
        Report(TkxSeverity::kError, "page-out-of-bounds", 0,
               where + " leads to page " + std::to_string(target) + " outside the file");
        complete_ = false;
        return;
      }
      stack.push_back(Item{target, item.depth + 1, std::move(bound), nullptr, page});
    };
    if (format_ == TkxIndexFormat::kNtx) {
      child(decoded.trailingChild, item.bound);
      for (size_t i = decoded.entries.size(); i-- > 0;) {
        auto key = std::move(decoded.entries[i]);
        const int32_t target = key->Reference();
        stack.push_back(Item{0, item.depth, item.bound, std::move(key), page});
        child(target, nullptr);
      }
      continue;
    }
    const bool pointerOnlyLast = format_ == TkxIndexFormat::kNdx || format_ == TkxIndexFormat::kMdx;
    for (size_t i = decoded.entries.size(); i-- > 0;) {
      const int32_t target = decoded.entries[i]->Reference();
      std::shared_ptr<KXobjIndexKeyData> bound =
          pointerOnlyLast && i + 1 == decoded.entries.size()
              ? item.bound
              : std::shared_ptr<KXobjIndexKeyData>(std::move(decoded.entries[i]));
      child(target, std::move(bound));
    }
  }
}

void TagCheck::SortPairs() {
  // By record; a record's pairs keep their stored order (their place in the buffer).
  std::sort(pairs_.begin(), pairs_.end(), [](const IndexPair& x, const IndexPair& y) {
    return x.recno != y.recno ? x.recno < y.recno : x.at < y.at;
  });
  cursor_ = 0;
  while (cursor_ < pairs_.size() && pairs_[cursor_].recno < 1) {
    Report(TkxSeverity::kError, "extra-key", pairs_[cursor_].recno,
           "a key for record " + std::to_string(pairs_[cursor_].recno) + ", which cannot exist");
    ++cursor_;
  }
  if (tag_.Unique() && computable_) {
    for (const IndexPair& p : pairs_) {
      std::string key(1, static_cast<char>(p.type));
      key += BytesOf(p);
      uniqueKeys_.insert(std::move(key));
    }
  }
}

bool TagCheck::Same(const IndexPair& held, const StoredKey& y) {
  if (held.type == y.type && BytesOf(held) == y.bytes) return true;
  const StoredKey x = KeyOf(held);
  VariantOf(x, a_);
  VariantOf(y, b_);
  try {
    return tag_.CompareKeys(a_, b_, 1) == 0;
  } catch (const std::exception&) {
    return false;
  }
}

void TagCheck::CheckRecord(int32_t recno) {
  size_t end = cursor_;
  while (end < pairs_.size() && pairs_[end].recno == recno) ++end;
  const size_t held = end - cursor_;
  if (!computable_) {
    cursor_ = end;
    return;
  }
  bool included = true;
  bool built = false;
  try {
    included = !tag_.HasFor() || tag_.ForTest();
    if (included) {
      if (!tag_.KeyBuild(computed_, built) || !built) {
        Report(TkxSeverity::kError, "expression", recno,
               "the key expression gives no value for record " + std::to_string(recno));
        cursor_ = end;
        return;
      }
      tag_.KeyAdjust(computed_);
    }
  } catch (const ETolvernCancelled&) {
    throw;
  } catch (const std::exception& e) {
    Report(TkxSeverity::kError, "expression", recno,
           "record " + std::to_string(recno) + ": " + e.what());
    cursor_ = end;
    return;
  }
  if (!included) {
    for (size_t i = cursor_; i < end; ++i)
      Report(TkxSeverity::kError, "extra-key", recno,
             "record " + std::to_string(recno) + " has a key but its FOR condition excludes it");
    cursor_ = end;
    return;
  }
  const StoredKey want = StoredOf(computed_);
  if (held == 0) {
    if (tag_.Unique()) {
      std::string key(1, static_cast<char>(want.type));
      key += want.bytes;
      if (uniqueKeys_.count(key)) return;
    }
    if (!complete_) {
      ++unknownMissing_;
      return;
    }
    Report(TkxSeverity::kError, "missing-key", recno,
           "record " + std::to_string(recno) + " has no key " + Printable(want));
    return;
  }
  if (!Same(pairs_[cursor_], want))
    Report(TkxSeverity::kError, "stale-key", recno,
           "the key of record " + std::to_string(recno) + " is " +

               Printable(KeyOf(pairs_[cursor_])) + ", the record gives " + Printable(want));
  for (size_t i = cursor_ + 1; i < end; ++i)
    Report(TkxSeverity::kError, "extra-key", recno,
           "record " + std::to_string(recno) + " has more than one key");
  cursor_ = end;
}

void TagCheck::FinishRecords(int32_t recordCount) {
  for (; cursor_ < pairs_.size(); ++cursor_)
    Report(TkxSeverity::kError, "extra-key", pairs_[cursor_].recno,
           "a key for record " + std::to_string(pairs_[cursor_].recno) +
               ", past the table's last record " + std::to_string(recordCount));
  if (unknownMissing_ > 0)
    Report(TkxSeverity::kWarning, "keys-unknown", 0,
           std::to_string(unknownMissing_) +
               " records have no key in the readable pages; the unreadable pages may hold them");
}

// Sibling links of CDX pages: each level, left to right, linked both ways and ended by
// "no page" at both ends.
void CheckCdxSiblings(KXobjIndexFile& file, TagCheck& check) {
  for (const std::vector<int32_t>& level : check.Levels()) {
    for (size_t i = 0; i < level.size(); ++i) {
      std::array<uint8_t, 12> head{};
      if (!file.PageRead(level[i], head.data(), 12)) continue;
      const ByteReader r(head.data(), head.size());
      const uint32_t left = r.U32LE(4);
      const uint32_t right = r.U32LE(8);
      const uint32_t wantLeft = i == 0 ? kCdxNoPage : static_cast<uint32_t>(level[i - 1]);
      const uint32_t wantRight =
          i + 1 == level.size() ? kCdxNoPage : static_cast<uint32_t>(level[i + 1]);
      if (left != wantLeft || right != wantRight)
        check.Report(TkxSeverity::kError, "sibling-link", 0,
                     "page " + std::to_string(level[i]) + " links to " +
                         std::to_string(static_cast<int32_t>(left)) + " and " +
                         std::to_string(static_cast<int32_t>(right)) + " instead of " +
                         std::to_string(static_cast<int32_t>(wantLeft)) + " and " +
                         std::to_string(static_cast<int32_t>(wantRight)));
    }
  }
}

// The CDX free list: pages inside the file, no loop, none that a tree uses.
void CheckCdxFreeList(KXobjCDXFile& cdx, const PageOwners& owners, Reporter& report) {
  KXobjCDXTag* directory = cdx.Directory();
  if (!directory) return;
  uint32_t page = directory->FreeList();
  std::unordered_set<uint32_t> seen;
  while (page != 0 && page != kCdxNoPage) {
    const std::string where = "free page " + std::to_string(page);
    if (page > INT32_MAX || !cdx.ValidNodePage(static_cast<int32_t>(page))) {
      report.Report("", TkxSeverity::kError, "free-list", 0, where + " lies outside the file");
      return;
    }
    if (!seen.insert(page).second) {
      report.Report("", TkxSeverity::kError, "free-list", 0, where + " is listed twice (a loop)");
      return;
    }
    if (owners.count(static_cast<int32_t>(page))) {
      report.Report("", TkxSeverity::kError, "free-list", 0, where + " is in use by a tag");
      return;
    }
    std::array<uint8_t, 4> next{};
    if (!cdx.PageRead(static_cast<int32_t>(page), next.data(), 4)) return;
    page = ByteReader(next.data(), next.size()).U32LE(0);
  }
}

// Tag directory entries against the tags read.
void CheckCdxDirectory(KXobjCDXFile& cdx, TagCheck& directoryCheck) {
  std::unordered_set<int32_t> offsets;
  for (int i = 0; i < cdx.TagCount(); ++i)
    offsets.insert(static_cast<KXobjCDXTag*>(cdx.TagAt(i))->HeaderOffset());
  for (const IndexPair& p : directoryCheck.Pairs()) {
    if (!offsets.count(p.recno))
      directoryCheck.Report(TkxSeverity::kError, "tag-directory", 0,
                            "the directory entry " + Printable(directoryCheck.KeyOf(p)) +
                                " names offset " + std::to_string(p.recno) +
                                ", where no tag was read");
  }
}

std::string UpperBaseName(const std::string& path) {
  return UpperCase(std::filesystem::path(path).stem().string());
}

bool TagDescending(const KXobjIndexTag& tag) { return !tag.Ascending() || tag.DescendingCompare(); }

}  // namespace

TkxIndexFormat IndexFormatOfPath(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == ".ndx") return TkxIndexFormat::kNdx;
  if (ext == ".ntx") return TkxIndexFormat::kNtx;
  if (ext == ".cdx") return TkxIndexFormat::kCdx;
  if (ext == ".mdx") return TkxIndexFormat::kMdx;
  return TkxIndexFormat::kUnknown;
}

void VerifyIndexFile(KXO_dBHandler& table, const std::string& path, const TkxFindingSink& sink,
                     TkxProgress* progress) {
  Reporter report(sink, path);
  const TkxIndexFormat format = IndexFormatOfPath(path);
  if (format == TkxIndexFormat::kUnknown) {
    report.Report("", TkxSeverity::kError, "unreadable", 0, "not an index file name");
    return;
  }
  std::unique_ptr<KXobjIndexFile> file;
  try {
    file = MakeIndexFileOf(&table, path, false, false, true);
  } catch (const ETolvernCancelled&) {
    throw;
  } catch (const std::exception& e) {
    // What is left of a multi-tag file: the tags whose headers can be read.
    try {
      if (!IsMultiTagFormat(format)) throw;
      IndexDefinitionsOpen definitionsOnly;
      IndexDamagedTagsSkipped skipDamaged;
      file = MakeIndexFileOf(&table, path, false, false, true);
    } catch (const ETolvernCancelled&) {
      throw;
    } catch (const std::exception&) {
      report.Report("", TkxSeverity::kError, "unreadable", 0, e.what());
      report.Flush();
      return;
    }
  }
  if (!file || !file->Opened()) {
    report.Report("", TkxSeverity::kError, "unreadable", 0, "the file cannot be opened");
    report.Flush();
    return;
  }
  for (const TkxSkippedTag& skipped : file->SkippedTags())
    report.Report(skipped.name, TkxSeverity::kError, "tag-header", 0, skipped.reason);
  PageOwners owners;
  std::vector<std::unique_ptr<TagCheck>> checks;
  auto* cdx = format == TkxIndexFormat::kCdx ? static_cast<KXobjCDXFile*>(file.get()) : nullptr;
  std::unique_ptr<TagCheck> directoryCheck;
  if (cdx && cdx->Directory())
    directoryCheck =
        std::make_unique<TagCheck>(table, *file, *cdx->Directory(), format, -1, report, owners, "");
  for (int i = 0; i < file->TagCount(); ++i) {
    KXobjIndexTag& tag = *file->TagAt(i);
    const std::string name =
        IsMultiTagFormat(format) ? UpperCase(tag.TagName()) : UpperBaseName(path);
    checks.push_back(
        std::make_unique<TagCheck>(table, *file, tag, format, i, report, owners, name));
  }

  const int64_t records = std::max<int32_t>(table.RecordCount(), 0);
  const int64_t tags = static_cast<int64_t>(checks.size());
  TkxProgressScope scope(progress, kStatusVerify, records * (tags + 1));
  if (directoryCheck) {
    directoryCheck->Walk([](int64_t) {});
    CheckCdxSiblings(*file, *directoryCheck);
    CheckCdxDirectory(*cdx, *directoryCheck);
  }
  for (size_t t = 0; t < checks.size(); ++t) {
    TagCheck& check = *checks[t];
    check.CheckHeader();
    const int64_t base = static_cast<int64_t>(t) * records;
    scope.Step(base);
    check.Walk([&](int64_t n) { scope.Step(base + std::min(n, records)); });
    if (cdx) CheckCdxSiblings(*file, check);
    check.SortPairs();
  }
  if (cdx) CheckCdxFreeList(*cdx, owners, report);

  // One pass over the records for every tag, read ahead as an index build reads them.
  const int64_t base = tags * records;
  scope.Step(base);
  struct ReadAhead {
    KXO_dBHandler& table;
    bool was;
    ~ReadAhead() { table.SetReadAheadOn(was); }
  } readAhead{table, table.ReadAheadOn()};
  table.SetReadAheadOn(true);
  for (int32_t recno = 1; recno <= records; ++recno) {
    table.KXO_dBaseFld::GetRecord(recno);
    if (table.Eof() || table.CurrentRecord() != recno) break;
    for (auto& check : checks) check->CheckRecord(recno);
    if (recno % kStepEvery == 0) scope.Step(base + recno);
  }
  for (auto& check : checks) check->FinishRecords(static_cast<int32_t>(records));
  report.Flush();
  file.reset();
}

TkxIndexDefinitions ReadIndexDefinitions(const std::string& path) {
  TkxIndexDefinitions definitions;
  definitions.path = path;
  definitions.format = IndexFormatOfPath(path);
  if (definitions.format == TkxIndexFormat::kUnknown)
    throw ETolvernError(path + ": not an index file name");
  std::unique_ptr<KXobjIndexFile> file;
  {
    IndexDefinitionsOpen definitionsOnly;
    IndexDamagedTagsSkipped skipDamaged;
    file = MakeIndexFileOf(nullptr, path, false, false, true);
  }
  if (!file || !file->Opened()) throw ETolvernError(path + ": the file cannot be opened");
  // The tags in the order their headers lie in the file: the order they were made in, which
  // a rebuild keeps so that it lays the file out as before.
  std::vector<const KXobjIndexTag*> ordered;
  for (int i = 0; i < file->TagCount(); ++i) ordered.push_back(file->TagAt(i));
  auto place = [](const KXobjIndexTag* tag) -> int64_t {
    if (const auto* cdxTag = dynamic_cast<const KXobjCDXTag*>(tag)) return cdxTag->HeaderOffset();
    return tag->HeaderPage();
  };
  std::stable_sort(
      ordered.begin(), ordered.end(),
      [&](const KXobjIndexTag* x, const KXobjIndexTag* y) { return place(x) < place(y); });
  for (const KXobjIndexTag* tagAt : ordered) {
    const KXobjIndexTag& tag = *tagAt;
    if (const auto* cdxTag = dynamic_cast<const KXobjCDXTag*>(&tag);
        cdxTag && !cdxTag->LoadError().empty())
      continue;
    TkxTagDefinition definition;
    definition.name = IsMultiTagFormat(definitions.format) ? tag.TagName() : UpperBaseName(path);
    definition.key = Trim(tag.KeyExprText());
    definition.forExpr = tag.HasFor() ? Trim(tag.ForExprText()) : std::string();
    definition.unique = tag.Unique();
    definition.descending = TagDescending(tag);
    if (const auto* cdxTag = dynamic_cast<const KXobjCDXTag*>(&tag))
      definition.generalCollation = cdxTag->Collation() == CdxCollation::General;
    if (definition.key.empty()) continue;
    definitions.tags.push_back(std::move(definition));
  }
  if (definitions.tags.empty()) throw ETolvernError(path + ": no tag definition can be read");
  return definitions;
}

void BuildIndexFromDefinitions(KXO_dBHandler& table, const TkxIndexDefinitions& definitions,
                               const std::string& newPath, TkxProgress* progress) {
  if (definitions.format == TkxIndexFormat::kUnknown)
    throw ETolvernError(newPath + ": no index format given");
  if (!IsMultiTagFormat(definitions.format) && definitions.tags.size() != 1)
    throw ETolvernError(newPath + ": a single-tag index file needs exactly one tag");
  // The engine picks the format by the extension: build under a name that has the right
  // one, then take the name asked for.
  static const char* const kExt[] = {"", ".ndx", ".ntx", ".cdx", ".mdx"};
  std::string buildPath = newPath;
  if (IndexFormatOfPath(newPath) != definitions.format)
    buildPath = newPath + kExt[static_cast<int>(definitions.format)];
  std::error_code ignored;
  std::filesystem::remove(buildPath, ignored);
  // Each definition is checked against the table before anything is built.
  for (const TkxTagDefinition& tag : definitions.tags) {
    try {
      TkxExpHandler key(table.ExpressionLink(), tag.key);
      if (!Trim(tag.forExpr).empty()) TkxExpHandler condition(table.ExpressionLink(), tag.forExpr);
    } catch (const std::exception& e) {
      throw ETolvernError("tag " + tag.name + ": " + e.what());
    }
  }
  // The table's progress is the caller's for the build; a file left half-made goes.
  struct Scope {
    KXO_dBHandler& table;
    TkxProgress* saved;
    std::string path;
    bool keep = false;
    ~Scope() {
      table.SetProgress(saved);
      std::error_code ignored;
      if (!keep) std::filesystem::remove(path, ignored);
    }
  } scope{table, table.Progress(), buildPath};
  table.SetProgress(progress);
  table.CloseAllIndexes();
  for (const TkxTagDefinition& tag : definitions.tags) {
    const int sort = tag.generalCollation ? (tag.descending ? 8 : 7) : (tag.descending ? 1 : 0);
    try {
      table.IndexOn(buildPath, tag.name, sort, !tag.unique, tag.forExpr, tag.key);
    } catch (const ETolvernCancelled&) {
      throw;
    } catch (const std::exception& e) {
      throw ETolvernError("tag " + tag.name + ": " + e.what());
    }
  }
  if (!std::filesystem::exists(buildPath)) throw ETolvernError(newPath + ": nothing was built");
  if (buildPath != newPath) {
    std::error_code failed;
    std::filesystem::rename(buildPath, newPath, failed);
    if (failed) throw ETolvernError(newPath + ": " + failed.message());
  }
  scope.keep = true;
}

}  // namespace tolvern
