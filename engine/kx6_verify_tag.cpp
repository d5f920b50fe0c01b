// The check of one index tag: its pages, its key order and its keys against the records.
#include "kx6_verify_tag.h"

#include <algorithm>

#include "kx6_bytes.h"
#include "kx6_cdx.h"
#include "kx6_eror.h"
#include "kx6_ntx.h"
#include "kx6_sql.h"
#include "kx6_tool.h"

namespace tolvern::indexcheck {

namespace {

void VariantOf(const StoredKey& key, TkxVariant& v) {
  v.SetBytes(key.bytes.data(), static_cast<int32_t>(key.bytes.size()));
  v.SetVariantType(key.type);
}

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

}  // namespace

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
  // A tag whose keys this program cannot compute (another program's collation, integer
  // keys) is not held to this program's idea of their order either.
  const bool ordered = tag_.Maintainable();
  if (previous_ && ordered) {
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
  if (bound && ordered && Order(*key, *bound) > 0)
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

}  // namespace tolvern::indexcheck
