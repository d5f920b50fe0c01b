// Thin POSIX layer for files: positioned transfers with byte counts, open/create,
// size, truncate, flush, rename, existence, and byte-range locks.
//
// Every call answers an engine error number (0 = success) instead of throwing; the
// disk file layer decides what to report. Numbers follow the engine's code table:
// 2 file not found, 3 path not found, 4 too many open files, 5 access denied,
// 12 invalid access (bad argument), 33 region locked by another handle, 100 read error,
// 101 write error (also: disk full), 103 file not open, 150 write-protected,
// 183 file exists. Any errno without a closer number (EIO included) becomes 100 for a
// read and 101 for a write (see SystemErrorCode). ENOENT from opening, renaming or
// removing answers 3 instead of 2 when the directory that would hold the file is missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tolvern::platform {

// Maps an errno value to the engine's error number. `writing` picks 101 over 100
// for generic I/O failures. ENOENT 2; ENOTDIR, ENAMETOOLONG, ELOOP 3; EMFILE, ENFILE 4;
// EACCES, EPERM, EISDIR, ETXTBSY 5; EINVAL 12; EAGAIN 33 (a refused lock); EBADF 103;
// EROFS 150; EEXIST, ENOTEMPTY 183; ENOSPC, EFBIG, EDQUOT 101; anything else 100 or 101.
int32_t SystemErrorCode(int err, bool writing = false);

// An owned POSIX file descriptor. Move-only; closes on destruction.
class OsFile {
 public:
  OsFile() = default;
  ~OsFile();
  OsFile(OsFile&& other) noexcept;
  OsFile& operator=(OsFile&& other) noexcept;
  OsFile(const OsFile&) = delete;
  OsFile& operator=(const OsFile&) = delete;

  // Opens an existing file, read-only or read-write (close-on-exec). Sharing between
  // processes is governed by byte-range locks alone, as on every POSIX system. A
  // directory answers 5. An open object is closed first; after a failure it is closed.
  int32_t Open(const std::string& path, bool readWrite);
  // Creates (or empties) the file read-write, mode 0666 & ~umask. A missing directory
  // answers 3.
  int32_t Create(const std::string& path);
  // Closes the descriptor (nothing to do when not open). Locks held through it go.
  int32_t Close();
  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

  // Positioned transfers; `done` receives the bytes moved. A read that meets the end
  // of the file is not an error: it answers 0 with a short `done`. Offsets are 64-bit;
  // a negative offset (or a negative Truncate size) answers 12.
  int32_t ReadAt(int64_t offset, void* buffer, size_t count, size_t& done);
  int32_t WriteAt(int64_t offset, const void* buffer, size_t count, size_t& done);
  int32_t Size(int64_t& size);
  int32_t Truncate(int64_t size);
  // Writes the file's data (and the metadata needed to read it back) to the device
  // (fdatasync). A descriptor that cannot be synchronised (a pipe) answers 0.
  int32_t Flush();

  // Byte-range locks on this open file description (Linux OFD locks). They fail at
  // once with 33 when another description, in this process or another, holds a
  // conflicting lock. `exclusive` false takes a shared (read) lock, which is what a
  // read-only descriptor can hold (an exclusive lock on it answers 103, EBADF).
  // Offsets and lengths are used as given; a length of 0 reaches to any end of file
  // (POSIX). Unlocking a range that is not locked succeeds. Closing the object
  // releases its locks and no other object's.
  int32_t Lock(uint64_t offset, uint64_t length, bool exclusive);
  int32_t Unlock(uint64_t offset, uint64_t length);
  // The whole-file share lock (flock) that other programs of this kind take when they
  // open a table, its memo and its indexes: shared for a shared open, exclusive for an
  // exclusive one. Never waits: 32 (sharing violation) when another open file
  // description holds a conflicting one. `Unshare` drops it.
  int32_t ShareLock(bool exclusive);
  int32_t Unshare();

  // Makes this object's descriptor refer to `other`'s open file description, keeping the
  // descriptor's number (so whoever holds the number sees the new description); the old
  // description is let go, with the locks it held. `other` stays open. Answers 0, or 103
  // when either is not open, or the system error.
  int32_t ReplaceDescriptionWith(const OsFile& other);

 private:
  int fd_ = -1;
};

// True when `path` names an existing entry that is not a directory (links followed).
bool FileExists(const std::string& path);
// Renames `from` to `to`, refusing with 183 when `to` exists (as MoveFile does): an
// existing file is never replaced. Missing source 2 (3 when its directory is missing),
// missing target directory 3.
int32_t RenameFile(const std::string& from, const std::string& to);
// Removes the file (unlink): missing 2 (3 when its directory is missing), directory 5.
int32_t RemoveFile(const std::string& path);
// Renames `from` to `to` in one step, replacing an existing `to` (rename(2)): a reader of
// `to` sees either the old file or the new one, never neither.
int32_t ReplaceFile(const std::string& from, const std::string& to);
// Makes the directory (mode 0777 & ~umask); an existing entry of that name answers 183.
int32_t MakeDirectory(const std::string& path);
// Removes an empty directory.
int32_t RemoveDirectory(const std::string& path);
// True when `path` is a directory itself (a symbolic link to one is not).
bool IsRealDirectory(const std::string& path);
// True when the entry `path` itself (links not followed) belongs to the process's user.
bool OwnedByProcessUser(const std::string& path);
// The names of the plain files in `directory` (no "." or ".."); empty when it cannot be
// read.
std::vector<std::string> ListFiles(const std::string& directory);
// Writes the directory's entries (created, renamed, removed names) to the device.
int32_t SyncDirectory(const std::string& directory);

}  // namespace tolvern::platform
