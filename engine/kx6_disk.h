// The one class through which the engine touches the disk, the owning collection, and
// the process-wide list of open files.
//
// Two objects that name the same file (the same canonical path) share one operating-
// system handle and its mutex. Region locks nest per object; the operating-system lock
// belongs to the shared handle and is taken only when the file is opened shared.
//
// Opening takes the whole-file share lock that other programs of this kind take: shared
// for a shared open, exclusive for an exclusive one that may write (an unshared open for
// reading only takes the shared lock), without waiting. A file another
// program holds in a conflicting mode is refused with error 32 ("in use").
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kx6_eror.h"
#include "kx6_progress.h"
#include "platform/pf_file.h"
#include "platform/pf_sync.h"

namespace tolvern {

// A list that owns its items and frees them when they are removed or the list dies.
template <typename T>
class TkxCollection {
 public:
  TkxCollection() = default;
  TkxCollection(const TkxCollection&) = delete;
  TkxCollection& operator=(const TkxCollection&) = delete;
  virtual ~TkxCollection() = default;

  T* Add(std::unique_ptr<T> item) {
    items_.push_back(std::move(item));
    return items_.back().get();
  }
  int Count() const { return static_cast<int>(items_.size()); }
  T* At(int index) const { return items_.at(static_cast<size_t>(index)).get(); }
  int IndexOf(const T* item) const {
    for (size_t i = 0; i < items_.size(); ++i)
      if (items_[i].get() == item) return static_cast<int>(i);
    return -1;
  }
  // Removes the item and frees it.
  void Free(const T* item) {
    const int i = IndexOf(item);
    if (i >= 0) items_.erase(items_.begin() + i);
  }
  // Removes the item and hands it back to the caller.
  std::unique_ptr<T> Extract(const T* item) {
    const int i = IndexOf(item);
    if (i < 0) return nullptr;
    std::unique_ptr<T> out = std::move(items_[static_cast<size_t>(i)]);
    items_.erase(items_.begin() + i);
    return out;
  }
  void FreeAll() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<T>> items_;
};

// Whether a loop at item `done` of `total` asks its progress: every 1024 items and at
// the last, so that a stop acts soon and asking stays cheap.
inline bool ProgressDue(int64_t done, int64_t total) {
  return (done & 0x3FF) == 0 || done == total;
}

class KXO_DiskFile;

// The open handle that every object naming one file shares. Objects on different threads
// may share it: every transfer runs under `mutex`, and `writable` may turn true (a writer
// attaching to a reader's handle) while another thread reads it.
struct SharedHandle {
  platform::OsFile file;
  platform::RecursiveMutex mutex;
  std::atomic<bool> writable{false};
};

// The list of open disk files. It does not own them. Every operation runs under the
// list's own mutex.
class KXobjFileColl {
 public:
  void Add(KXO_DiskFile* file);
  void Remove(KXO_DiskFile* file);
  int IndexOf(const KXO_DiskFile* file) const;
  int Count() const;
  // Another listed object with this canonical name, or nullptr. The answer may only be
  // compared: another thread may close and free that object at any time.
  KXO_DiskFile* FindByName(const std::string& name, const KXO_DiskFile* except) const;
  // The open handle of another listed object with this canonical name, taken under the
  // list's mutex (a listed object keeps its handle until it has left the list), with that
  // object's sharing mode and whether it holds a region lock. Nothing when none is open.
  struct Attachment {
    std::shared_ptr<SharedHandle> handle;
    bool shared = false;
    bool locked = false;
  };
  std::optional<Attachment> FindOpenHandle(const std::string& name,
                                           const KXO_DiskFile* except) const;
  // Releases at the operating system every region lock that a listed file holds.
  void ReleaseAllLocks();

 private:
  mutable platform::RecursiveMutex mutex_;
  std::vector<KXO_DiskFile*> files_;
};

class KXO_DiskFile {
 public:
  // Remembers the name (as a canonical absolute path, case kept) and the modes; does
  // not open the file.
  KXO_DiskFile(const std::string& name, bool readWrite, bool shared);
  virtual ~KXO_DiskFile();
  KXO_DiskFile(const KXO_DiskFile&) = delete;
  KXO_DiskFile& operator=(const KXO_DiskFile&) = delete;

  virtual bool CloseFile();
  // Hands the error triple to the engine's error procedure.
  virtual void FileError(int32_t code, int32_t subCode, const char* info);
  // The file size, or -1 after a reported failure.
  virtual int64_t FileSize();
  virtual void FlushFile();
  virtual bool LockWholeFile();
  // Takes (or nests) the object's one region lock. Answers LastError() == 0; a
  // different region while one is held fails with 33.
  virtual bool LockRegion(uint32_t offset, uint32_t length);
  // Reads up to `count` bytes at `position`; answers the bytes read. A short read is
  // not reported but leaves LastError() at 221.
  virtual int64_t ReadAt(int64_t position, void* buffer, int64_t count);
  virtual bool RenameTo(const std::string& newName);
  virtual void OpenFile();
  virtual void CreateFile();
  // Cuts the file; needs write access and exclusive access (error 5 otherwise).
  virtual void TruncateAt(int64_t position);
  virtual bool UnlockRegion();
  // A region lock held beside the nested one (a lock protocol's append lock while a
  // record lock is held). It does not nest and must not overlap the nested region or
  // another extra region. Unshared files answer true without a system call. Failing
  // answers false with LastError() 33.
  bool LockExtraRegion(uint32_t offset, uint32_t length);
  bool UnlockExtraRegion(uint32_t offset, uint32_t length);
  // Takes the nested region lock, retrying every MemoLockWaitStep milliseconds for
  // about MemoLockWaitTotal milliseconds (also for an extra region when `extra`).
  bool LockRegionWaiting(uint32_t offset, uint32_t length, bool extra = false);
  // Takes the region lock for reading: a read lock at the system, which other readers
  // may hold at the same time and a writer of the region cannot. While this object holds
  // any region lock it only nests in it. Released by UnlockRegion; a write lock asked of
  // the same region while it is held for reading is taken at the system then.
  bool LockRegionShared(uint32_t offset, uint32_t length);
  virtual void WriteAt(int64_t position, const void* buffer, int64_t count);

  // Where the long work of this object (and of the index files on a table) reports its
  // progress and learns that it is to stop; null reports nothing. Not owned.
  void SetProgress(TkxProgress* progress) { progress_ = progress; }
  TkxProgress* Progress() const { return progress_; }

  // Does nothing for code 0; otherwise stores it and reports it with the file name.
  void CheckError(int32_t code, int32_t subCode);
  // True when unshared, or shared with the whole-file region (0, 0x7FFFFFFF) locked.
  bool HasExclusiveAccess() const;

  const std::string& FileName() const { return fileName_; }
  int32_t LastError() const { return lastError_; }
  bool FileExisted() const { return fileExisted_; }
  bool Shared() const { return shared_; }
  bool ReadWrite() const { return readWrite_; }
  bool IsClosed() const { return closed_; }
  bool IsDirty() const { return dirty_; }
  int64_t Position() const { return position_; }
  int64_t LastCount() const { return lastCount_; }
  int32_t LockCount() const { return lockCount_; }
  uint32_t LockOffset() const { return lockOffset_; }
  uint32_t LockLength() const { return lockLength_; }

 protected:
  void SetLastError(int32_t code) { lastError_ = code; }

 private:
  friend class KXobjFileColl;
  // Releases the operating-system lock of the held region, whatever the nesting.
  void ReleaseRegionAtSystem();
  void AttachOrOpenHandle();

  std::shared_ptr<SharedHandle> handle_;
  TkxProgress* progress_ = nullptr;
  int32_t lastError_ = 0;
  bool fileExisted_ = false;
  std::string fileName_;
  int64_t position_ = 0;
  bool shared_;
  bool readWrite_;
  int64_t lastCount_ = 0;
  // Written by the owner's thread only; atomic because an object attaching to the same
  // handle from another thread asks whether a lock is held.
  std::atomic<int32_t> lockCount_{0};
  uint32_t lockOffset_ = 0;
  uint32_t lockLength_ = 0;
  bool lockReading_ = false;  // the held region is a read lock at the system
  std::vector<std::pair<uint32_t, uint32_t>> extraRegions_;
  bool dirty_ = false;
  bool closed_ = true;
};

}  // namespace tolvern
