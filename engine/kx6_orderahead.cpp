#include "kx6_orderahead.h"

#include <algorithm>
#include <cstring>

#include "kx6_disk.h"
#include "kx6_eror.h"

namespace tolvern {

int32_t TkxOrderAhead::Capacity(int32_t recordLength) {
  if (recordLength <= 0) return 0;
  // The transfer buffer is part of the budget; a record longer than a transfer is read
  // straight into its place.
  const size_t forRecords = kBudgetBytes - kTransferBytes;
  const size_t fit = forRecords / (static_cast<size_t>(recordLength) + kBytesPerNumber);
  return static_cast<int32_t>(std::min<size_t>(fit, static_cast<size_t>(kMaxRecords)));
}

bool TkxOrderAhead::Fill(KXO_DiskFile& disk, int32_t headerLength, int32_t recordLength,
                         int32_t recordCount, std::vector<int32_t> numbers) {
  Drop();
  recordLength_ = recordLength;
  std::erase_if(numbers, [recordCount](int32_t n) { return n < 1 || n > recordCount; });
  const size_t capacity = static_cast<size_t>(Capacity(recordLength));
  if (numbers.size() > capacity) numbers.resize(capacity);
  walk_.reserve(numbers.size());
  byNumber_.clear();
  for (const int32_t n : numbers) {
    byNumber_.emplace_back(n, static_cast<int32_t>(walk_.size()));
    walk_.emplace_back(n, -1);
  }
  std::sort(byNumber_.begin(), byNumber_.end());
  numbers.clear();
  for (const auto& [n, place] : byNumber_) {
    if (numbers.empty() || numbers.back() != n) numbers.push_back(n);
  }
  if (numbers.empty()) return true;

  const auto length = static_cast<int64_t>(recordLength);
  const auto offsetOf = [&](int32_t n) {
    return static_cast<int64_t>(headerLength) + static_cast<int64_t>(n - 1) * length;
  };
  // The buffers only grow, to exactly what a fill needs (never by doubling: the budget
  // holds), and are not cleared between fills.
  const size_t recordBytes = numbers.size() * static_cast<size_t>(recordLength);
  if (records_.size() < recordBytes) {
    records_.clear();
    records_.shrink_to_fit();
    records_.resize(recordBytes);
  }
  size_t kept = 0;  // records read completely, in order
  size_t i = 0;
  while (i < numbers.size()) {
    // A run: the records from i on whose gaps are small and that fit one transfer.
    size_t end = i + 1;
    const int64_t start = offsetOf(numbers[i]);
    int64_t runEnd = start + length;
    while (end < numbers.size()) {
      const int64_t next = offsetOf(numbers[end]);
      if (next - runEnd > kMergeGapBytes ||
          next + length - start > static_cast<int64_t>(kTransferBytes))
        break;
      runEnd = next + length;
      ++end;
    }
    uint8_t* slot = records_.data() + kept * static_cast<size_t>(recordLength);
    if (end == i + 1) {
      const int64_t got = disk.ReadAt(start, slot, length);
      ++transfers_;
      if (disk.LastError() != 0 && disk.LastError() != ErrShortRead) {
        Drop();
        return false;
      }
      if (got < length) break;  // the file ends here: nothing from here on is held
      numbers_.push_back(numbers[i]);
      ++kept;
    } else {
      if (transfer_.size() < static_cast<size_t>(runEnd - start)) {
        transfer_.clear();
        transfer_.shrink_to_fit();
        transfer_.resize(static_cast<size_t>(runEnd - start));
      }
      const int64_t got = disk.ReadAt(start, transfer_.data(), runEnd - start);
      ++transfers_;
      if (disk.LastError() != 0 && disk.LastError() != ErrShortRead) {
        Drop();
        return false;
      }
      bool complete = true;
      for (size_t k = i; k < end; ++k) {
        const int64_t at = offsetOf(numbers[k]) - start;
        if (at + length > got) {
          complete = false;
          break;
        }
        std::memcpy(records_.data() + kept * static_cast<size_t>(recordLength),
                    transfer_.data() + at, static_cast<size_t>(recordLength));
        numbers_.push_back(numbers[k]);
        ++kept;
      }
      if (!complete) break;
    }
    i = end;
  }
  // Both lists are sorted: one pass gives every walk position its record.
  size_t held = 0;
  for (const auto& [n, place] : byNumber_) {
    while (held < numbers_.size() && numbers_[held] < n) ++held;
    if (held < numbers_.size() && numbers_[held] == n)
      walk_[static_cast<size_t>(place)].second = static_cast<int32_t>(held);
  }
  recordsRead_ += static_cast<int64_t>(kept);
  peakBytes_ = std::max(peakBytes_, records_.capacity() + transfer_.capacity() +
                                        numbers_.capacity() * sizeof(int32_t) +
                                        walk_.capacity() * sizeof(walk_[0]) +
                                        byNumber_.capacity() * sizeof(byNumber_[0]));
  return true;
}

int32_t TkxOrderAhead::Find(int32_t n) const {
  // The walk asks for the next number given, or (when it hid one) the one after that.
  for (size_t i = cursor_; i < walk_.size() && i < cursor_ + 2; ++i) {
    if (walk_[i].first == n && walk_[i].second >= 0) {
      cursor_ = i;
      return walk_[i].second;
    }
  }
  const auto at = std::lower_bound(numbers_.begin(), numbers_.end(), n);
  if (at == numbers_.end() || *at != n) return -1;
  return static_cast<int32_t>(at - numbers_.begin());
}

bool TkxOrderAhead::Take(int32_t n, uint8_t* out) const {
  const int32_t i = Find(n);
  if (i < 0) return false;
  if (cursor_ < walk_.size() && walk_[cursor_].first == n) ++cursor_;
  std::memcpy(out, records_.data() + static_cast<size_t>(i) * static_cast<size_t>(recordLength_),
              static_cast<size_t>(recordLength_));
  return true;
}

void TkxOrderAhead::Update(int32_t n, const uint8_t* bytes) {
  const int32_t i = Find(n);
  if (i < 0) return;
  std::memcpy(records_.data() + static_cast<size_t>(i) * static_cast<size_t>(recordLength_), bytes,
              static_cast<size_t>(recordLength_));
}

void TkxOrderAhead::Drop() {
  numbers_.clear();
  walk_.clear();
  cursor_ = 0;
}

}  // namespace tolvern
