#include "platform/pf_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <limits>
#include <utility>

namespace tolvern::platform {

static_assert(sizeof(off_t) == 8, "the platform layer needs a 64-bit off_t");

namespace {

constexpr int32_t kFileNotFound = 2;
constexpr int32_t kPathNotFound = 3;
constexpr int32_t kAccessDenied = 5;
constexpr int32_t kInvalidAccess = 12;
constexpr int32_t kSharingViolation = 32;
constexpr int32_t kLocked = 33;
constexpr int32_t kNotOpen = 103;

// The largest transfer handed to one system call (Linux moves at most about 2 GiB).
constexpr size_t kMaxChunk = size_t{1} << 30;

// Whether the directory part of `path` exists as a directory. A bare name lives in
// the current directory, which exists.
bool ParentDirectoryExists(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return true;
  const std::string dir = slash == 0 ? std::string("/") : path.substr(0, slash);
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ENOENT says "file not found" only when the directory it would live in exists;
// otherwise the path itself is missing, as a Windows caller would be told.
int32_t MissingEntryCode(const std::string& path) {
  return ParentDirectoryExists(path) ? kFileNotFound : kPathNotFound;
}

int32_t PathErrorCode(int err, const std::string& path, bool writing) {
  if (err == ENOENT) return MissingEntryCode(path);
  return SystemErrorCode(err, writing);
}

int OpenRetrying(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

int32_t SystemErrorCode(int err, bool writing) {
  switch (err) {
    case 0:
      return 0;
    case ENOENT:
      return kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return kPathNotFound;
    case EMFILE:
    case ENFILE:
      return 4;
    case EACCES:
    case EPERM:
    case EISDIR:
    case ETXTBSY:
      return kAccessDenied;
    case EINVAL:
      return kInvalidAccess;
    case EAGAIN:  // Only a lock request meets it: the descriptors are blocking.
      return kLocked;
    case EBADF:
      return kNotOpen;
    case EROFS:
      return 150;
    case EEXIST:
    case ENOTEMPTY:
      return 183;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return 101;
    default:  // EIO and everything else: the generic read or write failure.
      return writing ? 101 : 100;
  }
}

OsFile::~OsFile() { Close(); }

OsFile::OsFile(OsFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

OsFile& OsFile::operator=(OsFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

int32_t OsFile::Open(const std::string& path, bool readWrite) {
  Close();
  const int fd = OpenRetrying(path.c_str(), (readWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC, 0);
  if (fd < 0) return PathErrorCode(errno, path, false);
  // A directory opens read-only on POSIX; it is no file to the engine.
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return kAccessDenied;
  }
  fd_ = fd;
  return 0;
}

int32_t OsFile::Create(const std::string& path) {
  Close();
  const int fd = OpenRetrying(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    // Creating meets ENOENT only when a directory on the way is missing.
    return errno == ENOENT ? kPathNotFound : SystemErrorCode(errno, true);
  }
  fd_ = fd;
  return 0;
}

int32_t OsFile::Close() {
  if (fd_ < 0) return 0;
  const int fd = std::exchange(fd_, -1);
  // Linux releases the descriptor even when close reports EINTR: never retry.
  if (::close(fd) != 0 && errno != EINTR) return SystemErrorCode(errno, true);
  return 0;
}

int32_t OsFile::ReadAt(int64_t offset, void* buffer, size_t count, size_t& done) {
  done = 0;
  if (offset < 0) return kInvalidAccess;
  auto* out = static_cast<char*>(buffer);
  while (done < count) {
    const size_t chunk = std::min(count - done, kMaxChunk);
    const ssize_t n = ::pread(fd_, out + done, chunk, static_cast<off_t>(offset) + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return SystemErrorCode(errno, false);
    }
    if (n == 0) break;  // End of file: a short count, not an error.
    done += static_cast<size_t>(n);
  }
  return 0;
}

int32_t OsFile::WriteAt(int64_t offset, const void* buffer, size_t count, size_t& done) {
  done = 0;
  if (offset < 0) return kInvalidAccess;
  const auto* in = static_cast<const char*>(buffer);
  while (done < count) {
    const size_t chunk = std::min(count - done, kMaxChunk);
    const ssize_t n = ::pwrite(fd_, in + done, chunk, static_cast<off_t>(offset) + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return SystemErrorCode(errno, true);
    }
    if (n == 0) return SystemErrorCode(ENOSPC, true);  // No progress: treat as full.
    done += static_cast<size_t>(n);
  }
  return 0;
}

int32_t OsFile::Size(int64_t& size) {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    size = -1;
    return SystemErrorCode(errno, false);
  }
  size = static_cast<int64_t>(st.st_size);
  return 0;
}

int32_t OsFile::Truncate(int64_t size) {
  if (size < 0) return kInvalidAccess;
  int rc;
  do {
    rc = ::ftruncate(fd_, static_cast<off_t>(size));
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : SystemErrorCode(errno, true);
}

int32_t OsFile::Flush() {
  int rc;
  do {
    rc = ::fdatasync(fd_);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return 0;
  // A descriptor that cannot be synchronised (a pipe, a special file) has nothing to
  // flush.
  if (errno == EINVAL || errno == EROFS) return 0;
  return SystemErrorCode(errno, true);
}

namespace {

int32_t SetOfdLock(int fd, int type, uint64_t offset, uint64_t length) {
  constexpr auto kMaxOff = static_cast<uint64_t>(std::numeric_limits<off_t>::max());
  if (offset > kMaxOff || length > kMaxOff) return kInvalidAccess;
  struct flock fl {};
  fl.l_type = static_cast<short>(type);
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;  // Required by F_OFD_SETLK.
  int rc;
  do {
    rc = ::fcntl(fd, F_OFD_SETLK, &fl);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return 0;
  if (errno == EAGAIN || errno == EACCES) return kLocked;
  return SystemErrorCode(errno, false);
}

}  // namespace

int32_t OsFile::Lock(uint64_t offset, uint64_t length, bool exclusive) {
  return SetOfdLock(fd_, exclusive ? F_WRLCK : F_RDLCK, offset, length);
}

int32_t OsFile::Unlock(uint64_t offset, uint64_t length) {
  return SetOfdLock(fd_, F_UNLCK, offset, length);
}

int32_t OsFile::ShareLock(bool exclusive) {
  if (fd_ < 0) return kNotOpen;
  int rc;
  do {
    rc = ::flock(fd_, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return 0;
  if (errno == EWOULDBLOCK) return kSharingViolation;
  return SystemErrorCode(errno, false);
}

int32_t OsFile::Unshare() {
  if (fd_ < 0) return kNotOpen;
  return ::flock(fd_, LOCK_UN) == 0 ? 0 : SystemErrorCode(errno, false);
}

int32_t OsFile::ReplaceDescriptionWith(const OsFile& other) {
  if (fd_ < 0 || other.fd_ < 0) return kNotOpen;
  int rc;
  do {
    rc = ::dup3(other.fd_, fd_, O_CLOEXEC);
  } while (rc < 0 && errno == EINTR);
  if (rc < 0 && errno == EINVAL) return 0;  // the same descriptor: nothing to replace
  return rc < 0 ? SystemErrorCode(errno, false) : 0;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

int32_t RenameFile(const std::string& from, const std::string& to) {
  int rc = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
  if (rc != 0 && errno == EINVAL) {
    // The file system cannot rename without replacing: check first (racy, but the
    // best that such a file system allows).
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) return 183;
    rc = ::rename(from.c_str(), to.c_str());
  }
  if (rc == 0) return 0;
  const int err = errno;
  if (err == ENOENT) {
    // Either the source or the target's directory is missing.
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return MissingEntryCode(from);
    return kPathNotFound;
  }
  return SystemErrorCode(err, true);
}

int32_t RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) == 0) return 0;
  return PathErrorCode(errno, path, true);
}

int32_t ReplaceFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return 0;
  return PathErrorCode(errno, from, true);
}

int32_t MakeDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return 0;
  return PathErrorCode(errno, path, true);
}

int32_t RemoveDirectory(const std::string& path) {
  if (::rmdir(path.c_str()) == 0) return 0;
  return PathErrorCode(errno, path, true);
}

bool IsRealDirectory(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool OwnedByProcessUser(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && st.st_uid == ::geteuid();
}

std::vector<std::string> ListFiles(const std::string& directory) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(directory.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (::lstat((directory + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
      names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

int32_t SyncDirectory(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return PathErrorCode(errno, directory, false);
  const int rc = ::fsync(fd);
  const int err = errno;
  ::close(fd);
  return rc == 0 ? 0 : SystemErrorCode(err, true);
}

}  // namespace tolvern::platform
