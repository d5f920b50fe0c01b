// Progress of long work and how the caller stops it.
//
// Every long loop of the engine (index builds, pack, copy, a table rebuild, text search)
// and of the layers above it (export, import) reports through one TkxProgress: Start once
// with the kind of work and its total, Step as it goes, Finish once at the end, also when
// it ends by an error or a cancel. Step answers false when the caller wants the work to
// stop; the loop then stops cleanly, leaves every file as it was before the work began
// (or, for an append, after a whole record) and throws ETolvernCancelled.
//
// A progress object may be asked from a thread other than the one that created it; the
// implementations that show progress in a window must be thread-safe.
#pragma once

#include <cstdint>
#include <stdexcept>

namespace tolvern {

// The kinds of long work (the `kind` of Start).
inline constexpr int32_t kStatusIndexRead = 1;   // reading the table for an index build
inline constexpr int32_t kStatusIndexWrite = 2;  // writing the index pages
inline constexpr int32_t kStatusCopy = 6;        // copying records to another table
inline constexpr int32_t kStatusPack = 11;       // removing deleted records
inline constexpr int32_t kStatusSearch = 21;     // searching the records for a text
inline constexpr int32_t kStatusExport = 31;     // writing records to a text file
inline constexpr int32_t kStatusImport = 32;     // appending records read from a text file
inline constexpr int32_t kStatusRebuild = 33;    // rebuilding a table (modify, code-page convert)

class TkxProgress {
 public:
  virtual ~TkxProgress() = default;
  virtual void Start(int32_t kind, int64_t total) = 0;
  // `done` of the total so far. False asks the work to stop. Called often: keep it cheap.
  virtual bool Step(int64_t done) = 0;
  virtual void Finish() = 0;
};

// Reports nothing and never stops the work.
class TkxNoProgress final : public TkxProgress {
 public:
  void Start(int32_t, int64_t) override {}
  bool Step(int64_t) override { return true; }
  void Finish() override {}
};

// The work stopped because its progress said so. Deliberately not an ETolvernError: a
// cancel is the user's wish, not a fault of the files.
class ETolvernCancelled : public std::runtime_error {
 public:
  ETolvernCancelled() : std::runtime_error("Cancelled") {}
};

// Start at construction, Finish when the scope ends however it ends; Step throws
// ETolvernCancelled when the progress says stop. A null progress reports nothing.
class TkxProgressScope {
 public:
  TkxProgressScope(TkxProgress* progress, int32_t kind, int64_t total) : progress_(progress) {
    if (progress_) progress_->Start(kind, total);
  }
  ~TkxProgressScope() {
    if (progress_) progress_->Finish();
  }
  TkxProgressScope(const TkxProgressScope&) = delete;
  TkxProgressScope& operator=(const TkxProgressScope&) = delete;
  void Step(int64_t done) {
    if (progress_ && !progress_->Step(done)) throw ETolvernCancelled();
  }

 private:
  TkxProgress* progress_;
};

}  // namespace tolvern
