// Inside the index checks of the table doctor (kx6_verify_index.cpp): the findings of one
// file with their cap, and the check of one tag. A tag's tree is walked page by page from
// its root with an explicit stack: every page is visited once (a page met again is a loop or
// a page two trees share, reported and not followed), the depth is bounded, and a page that
// cannot be decoded is reported and its subtree skipped. The walk yields the tag's
// (key, record) pairs in stored order, checked for order as they come. Then one pass over
// the records gives every record's key the way a build computes it, and a merge by record
// number against the pairs tells missing, extra and stale keys.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "kx6_dbsy.h"
#include "kx6_indx.h"
#include "kx6_verify.h"

namespace tolvern::indexcheck {

// Findings of one code in one tag beyond this many are counted, not listed.
inline constexpr int64_t kFindingCap = 100;
// Progress is told every this many keys or records.
inline constexpr int64_t kStepEvery = 1024;

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

// The stored key of an in-memory one (text without trailing blanks or NULs).
StoredKey StoredOf(const TkxVariant& v);
// A key for a finding's detail: quoted text, or hex bytes.
std::string Printable(const StoredKey& key);

// A (record, key) pair of the tree; the key's bytes lie in the tag's arena.
struct IndexPair {
  int32_t recno;
  uint8_t type;
  uint16_t length;
  uint64_t at;
};

// One page decoded: its kind and entries. An NTX branch's keys are keys of their own
// between their children, and its last child pointer has no key.
struct DecodedPage {
  bool leaf = true;
  std::vector<std::unique_ptr<KXobjIndexKeyData>> entries;  // reference: child or record
  int32_t trailingChild = 0;                                // NTX branches: the last pointer
};

// Which tag reached each page first, across the tags of a file.
using PageOwners = std::unordered_map<int32_t, int>;

// The check of one tag of an open index file, its findings reported under `name`.
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
  // Walks the tree; `step` is told of the keys read so far, now and then.
  void Walk(const std::function<void(int64_t)>& step);
  // Whether the walk read every page it was led to.
  bool Complete() const { return complete_; }
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

}  // namespace tolvern::indexcheck
