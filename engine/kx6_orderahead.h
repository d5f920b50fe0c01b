// Records read ahead for a walk in an index order: the record numbers the order gives
// next are read sorted, neighbours merged into one transfer when the gap between them is
// small, and handed out in whatever order they are asked for. Memory stays within a fixed
// budget whatever the record length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace tolvern {

class KXO_DiskFile;

class TkxOrderAhead {
 public:
  // The most bytes the held records and the transfer buffer take together.
  static constexpr size_t kBudgetBytes = 8u * 1024 * 1024;
  // The most record numbers one fill asks for.
  static constexpr int32_t kMaxRecords = 4096;
  // What one record number costs besides its record: the sorted and the walk lists here
  // and the lists the caller gathers the numbers in.
  static constexpr size_t kBytesPerNumber = 32;
  // Records closer than this are read in one transfer, the bytes between them included.
  static constexpr int64_t kMergeGapBytes = 4096;
  // The largest single transfer of merged records.
  static constexpr size_t kTransferBytes = 512u * 1024;

  // How many records one fill may hold for records of `recordLength` bytes.
  static int32_t Capacity(int32_t recordLength);

  // Reads the records `numbers` names (in the order they will be asked for, repeats and numbers
  // outside 1..recordCount ignored; at most Capacity of them) from `disk`, where record n starts at
  // headerLength + (n - 1) * recordLength. Whatever was held before is dropped. Answers false when
  // the disk reported an error (nothing is held then).
  bool Fill(KXO_DiskFile& disk, int32_t headerLength, int32_t recordLength, int32_t recordCount,
            std::vector<int32_t> numbers);
  // Copies record n into `out` (recordLength bytes) when it is held.
  bool Take(int32_t n, uint8_t* out) const;
  bool Holds(int32_t n) const { return Find(n) >= 0; }
  // Record n was written with `bytes`: a held copy shows them.
  void Update(int32_t n, const uint8_t* bytes);
  void Drop();
  bool Empty() const { return numbers_.empty(); }

  // For benchmarks and tests: transfers made, records read through fills, and the most
  // bytes the look-ahead has held at once.
  int64_t Transfers() const { return transfers_; }
  int64_t RecordsRead() const { return recordsRead_; }
  size_t PeakBytes() const { return peakBytes_; }

 private:
  int32_t Find(int32_t n) const;

  // The numbers in the order given, each with its place in numbers_ (-1: not held), and
  // where the walk is in them: a walk that asks in that order finds each at once.
  std::vector<std::pair<int32_t, int32_t>> walk_;
  std::vector<std::pair<int32_t, int32_t>> byNumber_;  // (number, walk position), sorted
  mutable size_t cursor_ = 0;

  int32_t recordLength_ = 0;
  std::vector<int32_t> numbers_;  // sorted; record i of numbers_ is at i * recordLength_
  std::vector<uint8_t> records_;
  std::vector<uint8_t> transfer_;
  int64_t transfers_ = 0;
  int64_t recordsRead_ = 0;
  size_t peakBytes_ = 0;
};

}  // namespace tolvern
