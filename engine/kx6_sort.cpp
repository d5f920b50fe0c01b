#include "kx6_sort.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <filesystem>

#include "kx6_cnst.h"
#include "kx6_eror.h"
#include "kx6_fld.h"
#include "kx6_indx.h"
#include "kx6_ndx.h"
#include "kx6_ntx.h"
#include "platform/pf_file.h"
#include "platform/pf_misc.h"

namespace tolvern {

namespace {

// Key type codes of sorted entries.
constexpr uint8_t kCodeRaw = 16;
constexpr uint8_t kCodeText = 32;
constexpr uint8_t kCodeFloat = 48;
constexpr uint8_t kCodeDate = 64;

constexpr size_t kBlockSize = 64 * 1024;
constexpr size_t kBlockShift = 16;
constexpr size_t kRunBuffer = 256 * 1024;
constexpr size_t kRecordHead = 6;  // code, length, record number (big-endian)

void PutBE32(uint8_t* out, uint32_t v) {
  for (int i = 3; i >= 0; --i, v >>= 8) out[i] = static_cast<uint8_t>(v);
}
uint32_t GetBE32(const uint8_t* in) {
  return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) | in[3];
}

// Eight bytes as a big-endian number.
uint64_t LoadBE64(const uint8_t* in) {
  uint64_t v;
  std::memcpy(&v, in, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

// Doubles as 8 bytes whose unsigned order is the numeric order.
void EncodeFloat(double value, uint8_t* out) {
  if (value == 0) value = 0;  // -0.0 and 0.0 are one key
  uint64_t bits = std::bit_cast<uint64_t>(value);
  bits = (bits & 0x8000000000000000ull) ? ~bits : bits ^ 0x8000000000000000ull;
  for (int i = 7; i >= 0; --i, bits >>= 8) out[i] = static_cast<uint8_t>(bits);
}
double DecodeFloat(const uint8_t* in) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = (bits << 8) | in[i];
  bits = (bits & 0x8000000000000000ull) ? bits ^ 0x8000000000000000ull : ~bits;
  return std::bit_cast<double>(bits);
}

[[noreturn]] void SortError(const char* message) { throw ETolvernError(message); }

std::atomic<size_t> defaultBudget{TkxSort::kDefaultMemoryBudget};

}  // namespace

// One source of pairs during the merge: a spilled run read in chunks, or the batch that
// stayed in memory.
struct TkxSort::RunCursor {
  size_t order = 0;  // creation order; earlier runs win ties
  bool inMemory = false;
  size_t itemIndex = 0;
  int64_t position = 0;
  int64_t end = 0;
  std::vector<uint8_t> buffer;
  size_t bufferPos = 0;
  size_t bufferLen = 0;
  // The current pair.
  uint8_t code = 0;
  std::vector<uint8_t> key;
  int32_t recno = 0;
};

TkxSort::TkxSort(int32_t maxKeyLength, bool unique, bool ascending, const uint8_t* collation)
    : maxKeyLength_(maxKeyLength), unique_(unique), ascending_(ascending) {
  if (maxKeyLength > kMaxKeyLength) SortError(kMsgSortKeyLength);
  if (maxKeyLength_ < 0) maxKeyLength_ = 0;
  if (collation) collation_.assign(collation, collation + 256);
  SetMemoryBudget(defaultBudget.load());
}

size_t TkxSort::SetDefaultMemoryBudget(size_t bytes) { return defaultBudget.exchange(bytes); }

TkxSort::~TkxSort() {
  spillFile_.reset();
  if (!spillPath_.empty()) platform::RemoveFile(spillPath_);
}

void TkxSort::SetMemoryBudget(size_t bytes) { budget_ = std::max<size_t>(bytes, 2 * kBlockSize); }

void TkxSort::ReserveKeys(size_t count) {
  // Items take half the budget at most; the key bytes need the rest.
  const size_t most = budget_ / 2 / sizeof(Item);
  items_.reserve(std::min(count, most));
}

size_t TkxSort::MemoryInUse() const {
  return blocks_.size() * kBlockSize + items_.capacity() * sizeof(Item);
}

uint32_t TkxSort::Store(uint8_t code, const uint8_t* bytes, size_t length) {
  const size_t need = 2 + length;
  if (blocks_.empty() || blockUsed_ + need > kBlockSize) {
    ++currentBlock_;
    if (currentBlock_ >= blocks_.size()) {
      blocks_.push_back(std::make_unique_for_overwrite<uint8_t[]>(kBlockSize));
      currentBlock_ = blocks_.size() - 1;
    }
    blockUsed_ = 0;
  }
  uint8_t* at = blocks_[currentBlock_].get() + blockUsed_;
  at[0] = code;
  at[1] = static_cast<uint8_t>(length);
  if (length) std::memcpy(at + 2, bytes, length);
  const uint32_t offset = static_cast<uint32_t>((currentBlock_ << kBlockShift) | blockUsed_);
  blockUsed_ += need;
  return offset;
}

const uint8_t* TkxSort::Entry(uint32_t offset) const {
  return blocks_[offset >> kBlockShift].get() + (offset & (kBlockSize - 1));
}

void TkxSort::SetPrefix(Item& item, uint8_t code, const uint8_t* bytes, size_t length) const {
  const bool translate = code == kCodeText && !collation_.empty();
  uint8_t head[kInlineBytes + 1] = {};
  const size_t n = std::min(kInlineBytes, length);
  if (translate) {
    for (size_t i = 0; i < n; ++i) head[i] = collation_[bytes[i]];
  } else if (n) {
    std::memcpy(head, bytes, n);
  }
  item.high = LoadBE64(head);
  item.middle = LoadBE64(head + 8);
  item.low = (LoadBE64(head + 16) & ~uint64_t{0xFF}) | std::min<size_t>(length, 255);
}

bool TkxSort::InlineOnly(size_t length) const {
  return length <= kInlineBytes && (code_ != kCodeText || collation_.empty());
}

const uint8_t* TkxSort::ItemKey(const Item& item, uint8_t* scratch) const {
  const size_t length = item.low & 0xFF;
  if (!InlineOnly(length)) return Entry(item.offset) + 2;
  for (size_t i = 0; i < 8; ++i) scratch[i] = static_cast<uint8_t>(item.high >> (56 - 8 * i));
  for (size_t i = 0; i < 8; ++i) scratch[8 + i] = static_cast<uint8_t>(item.middle >> (56 - 8 * i));
  for (size_t i = 16; i < kInlineBytes; ++i)
    scratch[i] = static_cast<uint8_t>(item.low >> (64 - 8 * (i - 15)));
  return scratch;
}

int TkxSort::CompareKeys(uint8_t codeA, const uint8_t* a, size_t lengthA, uint8_t codeB,
                         const uint8_t* b, size_t lengthB) const {
  if (codeA != codeB) return codeA < codeB ? -1 : 1;
  const bool translate = codeA == kCodeText && !collation_.empty();
  const size_t common = std::min(lengthA, lengthB);
  if (!translate) {
    if (const int c = common ? std::memcmp(a, b, common) : 0; c != 0) return c < 0 ? -1 : 1;
  } else {
    for (size_t i = 0; i < common; ++i) {
      const uint8_t x = collation_[a[i]], y = collation_[b[i]];
      if (x != y) return x < y ? -1 : 1;
    }
  }
  if (lengthA == lengthB) return 0;
  return lengthA < lengthB ? -1 : 1;
}

bool TkxSort::ItemBefore(const Item& a, const Item& b) const {
  int c;
  if (a.high != b.high) {
    c = a.high < b.high ? -1 : 1;
  } else if (a.middle != b.middle) {
    c = a.middle < b.middle ? -1 : 1;
  } else if ((a.low >> 8) != (b.low >> 8)) {
    c = (a.low >> 8) < (b.low >> 8) ? -1 : 1;
  } else if ((a.low & 0xFF) <= kInlineBytes || (b.low & 0xFF) <= kInlineBytes) {
    // The shorter key ends inside the inline bytes: equal so far, the shorter first.
    const uint64_t la = a.low & 0xFF, lb = b.low & 0xFF;
    c = la == lb ? 0 : (la < lb ? -1 : 1);
  } else {
    const uint8_t* x = Entry(a.offset);
    const uint8_t* y = Entry(b.offset);
    c = CompareKeys(x[0], x + 2, x[1], y[0], y + 2, y[1]);
  }
  if (c != 0) return ascending_ ? c < 0 : c > 0;
  if (ascending_ || tieAscending_) return a.recno < b.recno;
  return a.recno > b.recno;
}

void TkxSort::InsertKey(const TkxVariant& key, int32_t recno) {
  if (!addingAllowed_) SortError(kMsgSortAfterRetrieval);
  if (key.Length() > maxKeyLength_) SortError(kMsgSortKeyLength);
  uint8_t code;
  uint8_t encoded[8];
  const uint8_t* bytes = key.Data();
  size_t length = static_cast<size_t>(key.Length());
  switch (key.VariantType()) {
    case TkxVariant::kText:
      code = kCodeText;
      while (length > 0 && bytes[length - 1] == ' ') --length;
      break;
    case TkxVariant::kFloat:
      code = kCodeFloat;
      EncodeFloat(key.AsFloat(), encoded);
      bytes = encoded;
      length = 8;
      break;
    case TkxVariant::kDate:
      code = kCodeDate;
      PutBE32(encoded, static_cast<uint32_t>(key.AsDate()) ^ 0x80000000u);
      bytes = encoded;
      length = 4;
      break;
    case TkxVariant::kBytes:
      code = kCodeRaw;
      break;
    default:
      SortError(kMsgVariantSort);
  }
  if (keyCount_ == 0) code_ = code;
  if (code != code_) SortError(kMsgVariantCompare);

  // Room for one more key, spilling the batch first when the budget is reached.
  const bool stored = !InlineOnly(length);
  const bool newBlock = stored && (blocks_.empty() || blockUsed_ + 2 + length > kBlockSize);
  const bool growItems = items_.size() == items_.capacity();
  size_t wanted = MemoryInUse();
  if (newBlock && currentBlock_ + 1 >= blocks_.size()) wanted += kBlockSize;
  if (growItems) wanted += std::max<size_t>(items_.capacity(), 1024) * sizeof(Item);
  if (wanted > budget_ && !items_.empty()) {
    SpillBatch();
  } else if (growItems) {
    items_.reserve(std::max<size_t>(items_.capacity() * 2, 1024));
  }
  const uint32_t offset = stored ? Store(code, bytes, length) : 0;
  Item item{0, 0, 0, offset, recno};
  SetPrefix(item, code, bytes, length);
  items_.push_back(item);
  ++keyCount_;
}

namespace {

// Byte `at` (0-22) of an item's inline comparison bytes.
template <typename ItemT>
inline uint8_t InlineByte(const ItemT& item, size_t at) {
  if (at < 8) return static_cast<uint8_t>(item.high >> (56 - 8 * at));
  if (at < 16) return static_cast<uint8_t>(item.middle >> (56 - 8 * (at - 8)));
  return static_cast<uint8_t>(item.low >> (64 - 8 * (at - 15)));
}

// Sorts [begin, end) whose items agree on their first `at` inline bytes: an in-place
// bucket pass on byte `at` (items move straight to their bucket, no second array), then
// each bucket on the next byte; small buckets, and items equal in all inline bytes, go to
// `less`, which decides the whole order.
template <typename ItemT, typename Less>
void RadixSort(ItemT* begin, ItemT* end, size_t at, size_t inlineBytes, const Less& less) {
  constexpr size_t kSmall = 48;
  for (;;) {
    const size_t n = static_cast<size_t>(end - begin);
    if (n < kSmall || at >= inlineBytes) {
      std::sort(begin, end, less);
      return;
    }
    std::array<size_t, 256> count{};
    for (ItemT* p = begin; p != end; ++p) ++count[InlineByte(*p, at)];
    if (count[InlineByte(*begin, at)] == n) {
      ++at;  // one bucket: on to the next byte
      continue;
    }
    std::array<size_t, 256> head{}, tail{};
    size_t sum = 0;
    for (size_t b = 0; b < 256; ++b) {
      head[b] = sum;
      sum += count[b];
      tail[b] = sum;
    }
    const std::array<size_t, 256> start = head;
    for (size_t b = 0; b < 256; ++b) {
      while (head[b] < tail[b]) {
        ItemT moving = begin[head[b]];
        size_t to = InlineByte(moving, at);
        while (to != b) {
          std::swap(moving, begin[head[to]++]);
          to = InlineByte(moving, at);
        }
        begin[head[b]++] = moving;
      }
    }
    for (size_t b = 0; b < 256; ++b) {
      if (count[b] > 1)
        RadixSort(begin + start[b], begin + start[b] + count[b], at + 1, inlineBytes, less);
    }
    return;
  }
}

}  // namespace

void TkxSort::SortBatch() {
  if (ascending_) {
    // The common case, with the inline bytes compared as numbers before anything else,
    // after bucket passes on those bytes.
    auto less = [this](const Item& a, const Item& b) {
      if (a.high != b.high) return a.high < b.high;
      if (a.middle != b.middle) return a.middle < b.middle;
      if (a.low != b.low && ((a.low >> 8) != (b.low >> 8) || (a.low & 0xFF) <= kInlineBytes ||
                             (b.low & 0xFF) <= kInlineBytes))
        return a.low < b.low;
      return ItemBefore(a, b);
    };
    RadixSort(items_.data(), items_.data() + items_.size(), 0, kInlineBytes, less);
  } else {
    std::sort(items_.begin(), items_.end(),
              [this](const Item& a, const Item& b) { return ItemBefore(a, b); });
  }
}

void TkxSort::SpillBatch() {
  SortBatch();
  if (!spillFile_) {
    std::string dir = spillDirectory_;
    if (dir.empty()) dir = std::filesystem::temp_directory_path().string();
    spillPath_ = platform::UniqueTempFile(dir, ".fendral-sort-", ".tmp");
    spillFile_ = std::make_unique<platform::OsFile>();
    if (const int32_t err = spillFile_->Open(spillPath_, true); err != 0)
      RaiseEngineError(err, SubWriteAt, spillPath_);
  }
  std::vector<uint8_t> out;
  out.reserve(kRunBuffer + kRecordHead + 256);
  const int64_t begin = spillSize_;
  auto flush = [&] {
    size_t done = 0;
    const int32_t err = spillFile_->WriteAt(spillSize_, out.data(), out.size(), done);
    if (err != 0 || done != out.size()) RaiseEngineError(err ? err : 101, SubWriteAt, spillPath_);
    spillSize_ += static_cast<int64_t>(out.size());
    out.clear();
  };
  uint8_t scratch[kInlineBytes];
  // Keys in the arena are read in sorted order, all over it: ask for them a few items early.
  constexpr size_t kAhead = 8;
  const bool arena = !InlineOnly(static_cast<size_t>(maxKeyLength_));
  for (size_t i = 0; i < items_.size(); ++i) {
    const Item& item = items_[i];
    if (arena && i + kAhead < items_.size() && !InlineOnly(items_[i + kAhead].low & 0xFF))
      __builtin_prefetch(Entry(items_[i + kAhead].offset));
    const size_t length = item.low & 0xFF;
    const uint8_t* key = ItemKey(item, scratch);
    const size_t at = out.size();
    out.resize(at + kRecordHead + length);
    out[at] = code_;
    out[at + 1] = static_cast<uint8_t>(length);
    PutBE32(&out[at + 2], static_cast<uint32_t>(item.recno));
    if (length) std::memcpy(&out[at + kRecordHead], key, length);
    if (out.size() >= kRunBuffer) flush();
  }
  if (!out.empty()) flush();
  runs_.push_back(RunExtent{begin, spillSize_});
  items_.clear();
  currentBlock_ = 0;
  blockUsed_ = 0;
}

// ---------------------------------------------------------------------------------------
// Retrieval

bool TkxSort::CursorBefore(const RunCursor& a, const RunCursor& b) const {
  int c = CompareKeys(a.code, a.key.data(), a.key.size(), b.code, b.key.data(), b.key.size());
  if (c == 0) {
    if (a.recno != b.recno) {
      const bool recnoAscending = ascending_ || tieAscending_;
      return recnoAscending ? a.recno < b.recno : a.recno > b.recno;
    }
    return a.order < b.order;
  }
  return ascending_ ? c < 0 : c > 0;
}

void TkxSort::StartRetrieval() {
  retrieving_ = true;
  addingAllowed_ = false;
  SortBatch();
  size_t order = 0;
  for (const RunExtent& run : runs_) {
    auto cursor = std::make_unique<RunCursor>();
    cursor->order = order++;
    cursor->position = run.begin;
    cursor->end = run.end;
    cursor->buffer.resize(kRunBuffer);
    cursors_.push_back(std::move(cursor));
  }
  if (!items_.empty()) {
    auto cursor = std::make_unique<RunCursor>();
    cursor->order = order++;
    cursor->inMemory = true;
    cursors_.push_back(std::move(cursor));
  }
  for (auto& cursor : cursors_) {
    if (LoadNext(*cursor)) heap_.push_back(cursor.get());
  }
  std::make_heap(heap_.begin(), heap_.end(),
                 [this](const RunCursor* a, const RunCursor* b) { return CursorBefore(*b, *a); });
}

bool TkxSort::LoadNext(RunCursor& cursor) {
  if (cursor.inMemory) {
    if (cursor.itemIndex >= items_.size()) return false;
    const Item& item = items_[cursor.itemIndex++];
    if (const size_t ahead = cursor.itemIndex + 8;
        ahead < items_.size() && !InlineOnly(items_[ahead].low & 0xFF))
      __builtin_prefetch(Entry(items_[ahead].offset));
    const size_t length = item.low & 0xFF;
    cursor.code = code_;
    cursor.recno = item.recno;
    uint8_t scratch[kInlineBytes];
    const uint8_t* key = ItemKey(item, scratch);
    cursor.key.assign(key, key + length);
    return true;
  }
  // Make sure a whole record is in the buffer.
  auto available = [&] { return cursor.bufferLen - cursor.bufferPos; };
  auto refill = [&] {
    std::memmove(cursor.buffer.data(), cursor.buffer.data() + cursor.bufferPos, available());
    cursor.bufferLen = available();
    cursor.bufferPos = 0;
    const int64_t left = cursor.end - cursor.position;
    const size_t want =
        static_cast<size_t>(std::min<int64_t>(left, cursor.buffer.size() - cursor.bufferLen));
    if (want == 0) return;
    size_t done = 0;
    const int32_t err =
        spillFile_->ReadAt(cursor.position, cursor.buffer.data() + cursor.bufferLen, want, done);
    if (err != 0 || done != want) RaiseEngineError(err ? err : 100, SubReadAt, spillPath_);
    cursor.position += static_cast<int64_t>(done);
    cursor.bufferLen += done;
  };
  if (available() < kRecordHead) refill();
  if (available() < kRecordHead) return false;
  const uint8_t* head = cursor.buffer.data() + cursor.bufferPos;
  const size_t length = head[1];
  if (available() < kRecordHead + length) {
    refill();
    head = cursor.buffer.data() + cursor.bufferPos;
    if (available() < kRecordHead + length) return false;
  }
  cursor.code = head[0];
  cursor.recno = static_cast<int32_t>(GetBE32(head + 2));
  cursor.key.assign(head + kRecordHead, head + kRecordHead + length);
  cursor.bufferPos += kRecordHead + length;
  return true;
}

bool TkxSort::NextPair(std::vector<uint8_t>& key, uint8_t& code, int32_t& recno) {
  if (heap_.empty()) return false;
  if (heap_.size() == 1) {
    // One source left: no choosing.
    RunCursor* only = heap_.front();
    key.swap(only->key);
    code = only->code;
    recno = only->recno;
    if (!LoadNext(*only)) heap_.clear();
    return true;
  }
  auto greater = [this](const RunCursor* a, const RunCursor* b) { return CursorBefore(*b, *a); };
  std::pop_heap(heap_.begin(), heap_.end(), greater);
  RunCursor* top = heap_.back();
  key.swap(top->key);
  code = top->code;
  recno = top->recno;
  if (LoadNext(*top)) {
    std::push_heap(heap_.begin(), heap_.end(), greater);
  } else {
    heap_.pop_back();
  }
  return true;
}

bool TkxSort::RetrieveKey(TkxVariant& key, int32_t& recno) {
  if (!retrieving_) {
    if (keyCount_ == 0) return false;
    StartRetrieval();
  }
  std::vector<uint8_t>& bytes = retrieved_;
  uint8_t code = 0;
  for (;;) {
    if (!NextPair(bytes, code, recno)) return false;
    if (unique_ && haveLast_ &&
        CompareKeys(code, bytes.data(), bytes.size(), lastCode_, lastKey_.data(),
                    lastKey_.size()) == 0) {
      continue;
    }
    break;
  }
  if (unique_) {
    lastKey_ = bytes;
    lastCode_ = code;
    haveLast_ = true;
  }
  switch (code) {
    case kCodeText:
      key.SetText(reinterpret_cast<const char*>(bytes.data()), static_cast<int32_t>(bytes.size()));
      break;
    case kCodeFloat:
      key.SetFloat(bytes.size() == 8 ? DecodeFloat(bytes.data()) : 0.0);
      break;
    case kCodeDate:
      key.SetDate(bytes.size() == 4 ? static_cast<int32_t>(GetBE32(bytes.data()) ^ 0x80000000u)
                                    : 0);
      break;
    default:
      key.SetBytes(bytes.data(), static_cast<int32_t>(bytes.size()));
      break;
  }
  return true;
}

// =======================================================================================
// Bottom-up page writing

TkxTreeWriter::TkxTreeWriter(KXobjIndexTag* tag, int32_t maxKeyLength, bool unique, bool ascending,
                             const uint8_t* collation)
    : TkxSort(maxKeyLength, unique, ascending, collation), tag_(tag) {}

void TkxTreeWriter::WriteKeys() {
  KXO_dBaseFld* table = tag_->Table();
  const int64_t total = KeyCount();
  TkxProgressScope progress(table ? table->Progress() : nullptr, kStatusIndexWrite, total);
  TkxVariant key(256);
  int32_t recno = 0;
  while (RetrieveKey(key, recno)) {
    ++written_;
    if (ProgressDue(written_, total)) progress.Step(written_);
    Entry& entry = NextEntry(0);
    StoredKey(key, entry.key);
    entry.reference = recno;
    entry.recno = recno;
  }
}

void TkxTreeWriter::Emit(size_t level, const std::vector<Entry>& entries) {
  const int32_t page = tag_->File()->PageNew();
  Entry up{entries.back().key, page, entries.back().recno};
  WritePage(page, entries, static_cast<int>(level), false);
  // `entries` may live in levels_, which the next call can grow: not used after it.
  AddToLevel(level + 1, std::move(up));
}

TkxTreeWriter::Entry& TkxTreeWriter::NextEntry(size_t level) {
  if (levels_.size() <= level) levels_.resize(level + 1);
  if (levels_[level].used >= PageCapacity(static_cast<int>(level), false)) {
    // `current` is full and holds exactly its page's entries.
    levels_[level].current.resize(levels_[level].used);
    if (!levels_[level].held.empty()) Emit(level, levels_[level].held);
    // Emit may have grown levels_: the written page's entries take the next page.
    std::swap(levels_[level].held, levels_[level].current);
    levels_[level].used = 0;
  }
  Level& at = levels_[level];
  if (at.used == at.current.size()) at.current.emplace_back();
  return at.current[at.used++];
}

void TkxTreeWriter::AddToLevel(size_t level, Entry entry) {
  Entry& slot = NextEntry(level);
  slot = std::move(entry);
}

int32_t TkxTreeWriter::Finish() {
  if (finished_) return 0;
  finished_ = true;
  for (size_t level = 0; level < levels_.size(); ++level) {
    levels_[level].current.resize(levels_[level].used);
    std::vector<Entry> held = std::move(levels_[level].held);
    std::vector<Entry> last = std::move(levels_[level].current);
    levels_[level].held.clear();
    levels_[level].current.clear();
    levels_[level].used = 0;
    if (!held.empty()) {
      if (last.size() < held.size() / 2) {
        // Share the two pages evenly.
        held.insert(held.end(), std::make_move_iterator(last.begin()),
                    std::make_move_iterator(last.end()));
        const size_t keep = held.size() - held.size() / 2;
        last.assign(std::make_move_iterator(held.begin() + static_cast<std::ptrdiff_t>(keep)),
                    std::make_move_iterator(held.end()));
        held.resize(keep);
      }
      Emit(level, held);
    }
    const size_t edge = PageCapacity(static_cast<int>(level), true);
    if (last.size() > edge) {
      // The right edge takes fewer entries than the pages inside the tree.
      const size_t first = last.size() - last.size() / 2;
      std::vector<Entry> part(
          std::make_move_iterator(last.begin()),
          std::make_move_iterator(last.begin() + static_cast<std::ptrdiff_t>(first)));
      last.erase(last.begin(), last.begin() + static_cast<std::ptrdiff_t>(first));
      Emit(level, part);
    }
    if (last.empty()) continue;
    const int32_t page = tag_->File()->PageNew();
    Entry up{last.back().key, page, last.back().recno};
    WritePage(page, last, static_cast<int>(level), true);
    if (level + 1 == levels_.size()) return page;
    AddToLevel(level + 1, std::move(up));
  }
  return 0;
}

// --- NDX -----------------------------------------------------------------------------------

KXobjSortNdx::KXobjSortNdx(KXobjNDXTag* tag, const uint8_t* collation, bool ascending, bool unique)
    : TkxTreeWriter(tag, tag->KeyLength() + 1, unique, ascending, collation), ndx_(tag) {}

void KXobjSortNdx::StoredKey(const TkxVariant& key, std::string& out) { ndx_->StoredKey(key, out); }

size_t KXobjSortNdx::PageCapacity(int level, bool) const {
  // A branch page holds its keys and one more child pointer.
  const size_t keys = static_cast<size_t>(std::max(2, ndx_->MaxKeys()));
  return level == 0 ? keys : keys + 1;
}

void KXobjSortNdx::WritePage(int32_t page, const std::vector<Entry>& entries, int level, bool) {
  ndx_->WritePage(page, entries, 0, entries.size(), level > 0);
}

// --- NTX -----------------------------------------------------------------------------------

KXobjSortNTX::KXobjSortNTX(KXobjNTXTag* tag, const uint8_t* collation, bool ascending, bool unique)
    : TkxTreeWriter(tag, tag->KeyLength() + 1, unique, ascending, collation), ntx_(tag) {
  // Equal keys keep record-number order in either direction.
  SetTieBreakAscending(true);
}

void KXobjSortNTX::StoredKey(const TkxVariant& key, std::string& out) {
  out.assign(reinterpret_cast<const char*>(key.Data()),
             static_cast<size_t>(std::max(0, key.Length())));
  out.resize(static_cast<size_t>(ntx_->KeyLength()), ' ');
}

size_t KXobjSortNTX::PageCapacity(int level, bool last) const {
  // A page stores its keys; a branch one more child pointer, a leaf inside the tree one
  // more entry that becomes its separator.
  const size_t keys = static_cast<size_t>(std::max(2, ntx_->MaxKeys()));
  return level == 0 && last ? keys : keys + 1;
}

void KXobjSortNTX::WritePage(int32_t page, const std::vector<Entry>& entries, int level,
                             bool last) {
  // Each key is stored once: a leaf inside the tree leaves its last entry to its parent.
  const bool branch = level > 0;
  const size_t stored = branch || !last ? entries.size() - 1 : entries.size();
  ntx_->WritePage(page, entries, 0, stored, branch);
}

}  // namespace tolvern
