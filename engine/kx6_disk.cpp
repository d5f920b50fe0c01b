#include "kx6_disk.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "kx6_glbl.h"
#include "platform/pf_path.h"
#include "platform/pf_sync.h"

namespace tolvern {

namespace {

constexpr uint32_t kWholeFileLength = 0x7FFFFFFF;

void ReleaseAllLocksAtExit() { OpenFileList().ReleaseAllLocks(); }

}  // namespace

KXobjFileColl& OpenFileList() {
  static KXobjFileColl list;
  static const bool registered = [] { return std::atexit(&ReleaseAllLocksAtExit) == 0; }();
  (void)registered;
  return list;
}

// ---------------------------------------------------------------------------------------
// KXobjFileColl

void KXobjFileColl::Add(KXO_DiskFile* file) {
  platform::RecursiveLock guard(mutex_);
  files_.push_back(file);
}

void KXobjFileColl::Remove(KXO_DiskFile* file) {
  platform::RecursiveLock guard(mutex_);
  files_.erase(std::remove(files_.begin(), files_.end(), file), files_.end());
}

int KXobjFileColl::IndexOf(const KXO_DiskFile* file) const {
  platform::RecursiveLock guard(mutex_);
  auto it = std::find(files_.begin(), files_.end(), file);
  return it == files_.end() ? -1 : static_cast<int>(it - files_.begin());
}

int KXobjFileColl::Count() const {
  platform::RecursiveLock guard(mutex_);
  return static_cast<int>(files_.size());
}

KXO_DiskFile* KXobjFileColl::FindByName(const std::string& name,
                                        const KXO_DiskFile* except) const {
  platform::RecursiveLock guard(mutex_);
  for (KXO_DiskFile* file : files_) {
    if (file != except && file->FileName() == name) return file;
  }
  return nullptr;
}

std::optional<KXobjFileColl::Attachment> KXobjFileColl::FindOpenHandle(
    const std::string& name, const KXO_DiskFile* except) const {
  platform::RecursiveLock guard(mutex_);
  for (const KXO_DiskFile* file : files_) {
    if (file != except && file->FileName() == name && file->handle_)
      return Attachment{file->handle_, file->shared_, file->lockCount_ > 0};
  }
  return std::nullopt;
}

void KXobjFileColl::ReleaseAllLocks() {
  platform::RecursiveLock guard(mutex_);
  for (KXO_DiskFile* file : files_) {
    if (file->lockCount_ > 0) {
      file->lockCount_ = 1;
      file->ReleaseRegionAtSystem();
      file->lockCount_ = 0;
    }
    while (!file->extraRegions_.empty()) {
      const auto [offset, length] = file->extraRegions_.back();
      file->UnlockExtraRegion(offset, length);
    }
  }
}

// ---------------------------------------------------------------------------------------
// KXO_DiskFile

KXO_DiskFile::KXO_DiskFile(const std::string& name, bool readWrite, bool shared)
    : fileName_(platform::CanonicalPath(name)), shared_(shared), readWrite_(readWrite) {
  fileExisted_ = platform::FileExists(fileName_);
}

KXO_DiskFile::~KXO_DiskFile() {
  try {
    CloseFile();
  } catch (...) {
    // A destructor cannot report; the flush of a shared handle is best effort here.
  }
}

void KXO_DiskFile::FileError(int32_t code, int32_t subCode, const char* info) {
  EngineErrorProc(code, subCode, info);
}

void KXO_DiskFile::CheckError(int32_t code, int32_t subCode) {
  if (code == 0) return;
  lastError_ = code;
  FileError(code, subCode, fileName_.c_str());
}

void KXO_DiskFile::AttachOrOpenHandle() {
  // The other object may close on another thread meanwhile: what is needed of it is taken
  // under the list's mutex, and the handle stays alive through the shared pointer.
  if (std::optional<KXobjFileColl::Attachment> other =
          OpenFileList().FindOpenHandle(fileName_, this)) {
    shared_ = other->shared;
    handle_ = std::move(other->handle);
    if (readWrite_ && !handle_->writable) {
      // The shared handle was opened for reading only. Replace its description by a
      // writable one in place (same descriptor number), unless a lock is held on it:
      // replacing the description would silently drop that lock. The share lock moves
      // to the new description.
      platform::RecursiveLock guard(handle_->mutex);
      platform::OsFile upgraded;
      int32_t err = upgraded.Open(fileName_, true);
      if (err == 0 && other->locked) err = ErrAccessDenied;
      if (err == 0) {
        handle_->file.Unshare();
        err = upgraded.ShareLock(!shared_);
        if (err != 0) handle_->file.ShareLock(false);
      }
      if (err == 0) err = handle_->file.ReplaceDescriptionWith(upgraded);
      if (err == 0) handle_->writable = true;
      lastError_ = err;
      if (err != 0) handle_.reset();
    }
    return;
  }
  auto handle = std::make_shared<SharedHandle>();
  lastError_ = handle->file.Open(fileName_, readWrite_);
  // Only a writer keeps other programs out: an unshared open for reading takes the shared
  // lock, so that readers of the same file never refuse each other.
  if (lastError_ == 0) lastError_ = handle->file.ShareLock(!shared_ && readWrite_);
  if (lastError_ == 0) {
    handle->writable = readWrite_;
    handle_ = std::move(handle);
  }
}

void KXO_DiskFile::OpenFile() {
  lastError_ = 0;
  AttachOrOpenHandle();
  if (lastError_ == 0) {
    position_ = 0;
    if (OpenFileList().IndexOf(this) < 0) OpenFileList().Add(this);
    closed_ = false;
  }
  if (lastError_ == ErrInUse) {
    FileError(ErrInUse, SubOpen, (fileName_ + " is in use by another program").c_str());
    return;
  }
  CheckError(lastError_, SubOpen);
}

bool KXO_DiskFile::CloseFile() {
  if (closed_ || !handle_) return true;
  std::shared_ptr<SharedHandle> handle = handle_;
  {
    platform::RecursiveLock guard(handle->mutex);
    if (lockCount_ > 0) {
      lockCount_ = 1;
      UnlockRegion();
      lockCount_ = 0;
    }
    while (!extraRegions_.empty()) {
      const auto [offset, length] = extraRegions_.back();
      UnlockExtraRegion(offset, length);
    }
    lastError_ = 0;
    OpenFileList().Remove(this);
    if (OpenFileList().FindByName(fileName_, this) && dirty_) {
      handle->file.Flush();
    }
    dirty_ = false;
    handle_.reset();
    closed_ = true;
    position_ = 0;
  }
  // The handle itself closes when the last object that shares it lets go.
  return true;
}

void KXO_DiskFile::CreateFile() {
  if (OpenFileList().FindByName(fileName_, this)) {
    lastError_ = ErrInvalidAccess;
  } else {
    platform::OsFile created;
    lastError_ = created.Create(fileName_);
    if (lastError_ == 0) {
      created.Close();
      fileExisted_ = true;
      OpenFile();
      lastError_ = 0;
    }
  }
  CheckError(lastError_, SubCreate);
}

int64_t KXO_DiskFile::ReadAt(int64_t position, void* buffer, int64_t count) {
  size_t done = 0;
  if (!handle_) {
    lastError_ = 103;
  } else if (position < 0 || count < 0) {
    lastError_ = ErrInvalidAccess;
  } else {
    platform::RecursiveLock guard(handle_->mutex);
    lastError_ = handle_->file.ReadAt(position, buffer, static_cast<size_t>(count), done);
    if (lastError_ == 0) position_ = position + static_cast<int64_t>(done);
  }
  lastCount_ = static_cast<int64_t>(done);
  CheckError(lastError_, SubReadAt);
  if (static_cast<int64_t>(done) < count) lastError_ = ErrShortRead;
  return static_cast<int64_t>(done);
}

void KXO_DiskFile::WriteAt(int64_t position, const void* buffer, int64_t count) {
  size_t done = 0;
  if (!handle_) {
    lastError_ = 103;
  } else if (!handle_->writable) {
    lastError_ = ErrAccessDenied;
  } else if (position < 0 || count < 0) {
    lastError_ = ErrInvalidAccess;
  } else {
    platform::RecursiveLock guard(handle_->mutex);
    lastError_ = handle_->file.WriteAt(position, buffer, static_cast<size_t>(count), done);
    if (lastError_ == 0) {
      position_ = position + static_cast<int64_t>(done);
      dirty_ = true;
    }
  }
  lastCount_ = static_cast<int64_t>(done);
  CheckError(lastError_, SubWriteAt);
}

int64_t KXO_DiskFile::FileSize() {
  int64_t size = -1;
  if (!handle_) {
    lastError_ = 103;
  } else {
    platform::RecursiveLock guard(handle_->mutex);
    lastError_ = handle_->file.Size(size);
    if (lastError_ != 0) size = -1;
  }
  CheckError(lastError_, SubFileSize);
  return size;
}

void KXO_DiskFile::FlushFile() {
  if (closed_ || !handle_) return;
  {
    platform::RecursiveLock guard(handle_->mutex);
    lastError_ = handle_->writable ? handle_->file.Flush() : 0;
    dirty_ = false;
  }
  CheckError(lastError_, SubFlush);
}

void KXO_DiskFile::TruncateAt(int64_t position) {
  if (!handle_) {
    lastError_ = 103;
  } else {
    platform::RecursiveLock guard(handle_->mutex);
    if (!readWrite_ || !handle_->writable || !HasExclusiveAccess() || position < 0) {
      lastError_ = ErrAccessDenied;
    } else {
      lastError_ = handle_->file.Truncate(position);
    }
  }
  CheckError(lastError_, SubTruncate);
}

bool KXO_DiskFile::RenameTo(const std::string& newName) {
  lastError_ = 0;
  CloseFile();
  const std::string target = platform::CanonicalPath(newName);
  int32_t remembered = platform::RenameFile(fileName_, target);
  const bool renamed = remembered == 0;
  if (renamed) fileName_ = target;
  OpenFile();
  if (remembered != 0) lastError_ = remembered;
  CheckError(lastError_, SubRename);
  return renamed;
}

bool KXO_DiskFile::HasExclusiveAccess() const {
  if (!shared_) return true;
  return lockCount_ > 0 && lockOffset_ == 0 && lockLength_ == kWholeFileLength;
}

bool KXO_DiskFile::LockRegion(uint32_t offset, uint32_t length) {
  if (!shared_) {
    lastError_ = 0;
    ++lockCount_;
    lockOffset_ = offset;
    lockLength_ = length;
    return true;
  }
  if (lockCount_ > 0) {
    if (offset == lockOffset_ && length == lockLength_) {
      lastError_ = 0;
      if (lockReading_ && handle_) {
        // Held for reading only: a writer needs the system's write lock.
        lastError_ = handle_->file.Lock(offset, length, handle_->writable);
        if (lastError_ != 0) return false;
        lockReading_ = false;
      }
      ++lockCount_;
    } else {
      lastError_ = ErrLocked;
    }
    return lastError_ == 0;
  }
  if (!handle_) {
    lastError_ = 103;
    return false;
  }
  lockOffset_ = offset;
  lockLength_ = length;
  lastError_ = handle_->file.Lock(offset, length, handle_->writable);
  if (lastError_ == 0) {
    lockCount_ = 1;
    lockReading_ = false;
  }
  return lastError_ == 0;
}

bool KXO_DiskFile::LockRegionShared(uint32_t offset, uint32_t length) {
  lastError_ = 0;
  if (!shared_ || lockCount_ > 0) {
    if (lockCount_ == 0) {
      lockOffset_ = offset;
      lockLength_ = length;
    }
    ++lockCount_;
    return true;
  }
  if (!handle_) {
    lastError_ = 103;
    return false;
  }
  lastError_ = handle_->file.Lock(offset, length, false);
  if (lastError_ != 0) return false;
  lockOffset_ = offset;
  lockLength_ = length;
  lockCount_ = 1;
  lockReading_ = true;
  return true;
}

void KXO_DiskFile::ReleaseRegionAtSystem() {
  if (shared_ && handle_) handle_->file.Unlock(lockOffset_, lockLength_);
}

bool KXO_DiskFile::UnlockRegion() {
  lastError_ = 0;
  if (lockCount_ > 0) {
    if (shared_ && lockCount_ == 1 && handle_) {
      lastError_ = handle_->file.Unlock(lockOffset_, lockLength_);
    }
    if (lastError_ == 0) --lockCount_;
  }
  return lastError_ == 0;
}

bool KXO_DiskFile::LockExtraRegion(uint32_t offset, uint32_t length) {
  lastError_ = 0;
  if (!shared_) return true;
  if (!handle_) {
    lastError_ = 103;
    return false;
  }
  lastError_ = handle_->file.Lock(offset, length, handle_->writable);
  if (lastError_ == 0) extraRegions_.emplace_back(offset, length);
  return lastError_ == 0;
}

bool KXO_DiskFile::UnlockExtraRegion(uint32_t offset, uint32_t length) {
  lastError_ = 0;
  const auto held =
      std::find(extraRegions_.begin(), extraRegions_.end(), std::make_pair(offset, length));
  if (held == extraRegions_.end()) return true;
  extraRegions_.erase(held);
  if (shared_ && handle_) lastError_ = handle_->file.Unlock(offset, length);
  return lastError_ == 0;
}

bool KXO_DiskFile::LockRegionWaiting(uint32_t offset, uint32_t length, bool extra) {
  const uint32_t step = std::max<uint32_t>(1, MemoLockWaitStep);
  const uint32_t attempts = std::max<uint32_t>(1, MemoLockWaitTotal / step);
  for (uint32_t i = 0;; ++i) {
    if (extra ? LockExtraRegion(offset, length) : LockRegion(offset, length)) return true;
    // Only another holder is worth waiting for; any other failure stays a failure.
    if (LastError() != ErrLocked || i + 1 >= attempts) return false;
    platform::SleepMs(step);
  }
}

bool KXO_DiskFile::LockWholeFile() {
  if (!shared_) return true;
  return LockRegion(0, kWholeFileLength);
}

}  // namespace tolvern
