// The POSIX file layer: positioned transfers, size and truncation, error numbers,
// rename and removal, and open-file-description byte-range locks.
#include "platform/pf_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

using fendral::test::ReadBytes;
using fendral::test::TempDir;
using fendral::test::WriteBytes;
using tolvern::platform::FileExists;
using tolvern::platform::OsFile;
using tolvern::platform::RemoveFile;
using tolvern::platform::RenameFile;
using tolvern::platform::SystemErrorCode;

constexpr int32_t kLocked = 33;

std::vector<uint8_t> Bytes(size_t count, uint8_t first = 0) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

// ---------------------------------------------------------------------------------------
// Positioned transfers, size, truncation

TEST(PlatformFileTransfer, ReadAtAnswersShortCountAtEndOfFile) {
  TempDir dir;
  WriteBytes(dir.File("t.dat"), Bytes(10));
  OsFile file;
  ASSERT_EQ(file.Open(dir.File("t.dat"), false), 0);

  std::vector<uint8_t> buffer(8, 0xEE);
  size_t done = 99;
  EXPECT_EQ(file.ReadAt(6, buffer.data(), buffer.size(), done), 0);
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 4),
            (std::vector<uint8_t>{6, 7, 8, 9}));
  EXPECT_EQ(buffer[4], 0xEE) << "bytes past the end are not touched";

  EXPECT_EQ(file.ReadAt(10, buffer.data(), buffer.size(), done), 0);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(file.ReadAt(1000, buffer.data(), buffer.size(), done), 0);
  EXPECT_EQ(done, 0u);
}

TEST(PlatformFileTransfer, WriteAtPositionsAndFillsGapsWithZeros) {
  TempDir dir;
  OsFile file;
  ASSERT_EQ(file.Create(dir.File("t.dat")), 0);
  const auto head = Bytes(4, 1);
  size_t done = 0;
  ASSERT_EQ(file.WriteAt(0, head.data(), head.size(), done), 0);
  EXPECT_EQ(done, 4u);
  ASSERT_EQ(file.WriteAt(8, head.data(), 2, done), 0);
  EXPECT_EQ(done, 2u);
  ASSERT_EQ(file.WriteAt(1, "\x7F", 1, done), 0);
  EXPECT_EQ(file.Flush(), 0);

  EXPECT_EQ(ReadBytes(dir.File("t.dat")), (std::vector<uint8_t>{1, 0x7F, 3, 4, 0, 0, 0, 0, 1, 2}));
  std::vector<uint8_t> back(10);
  ASSERT_EQ(file.ReadAt(0, back.data(), back.size(), done), 0);
  EXPECT_EQ(done, 10u);
  EXPECT_EQ(back, ReadBytes(dir.File("t.dat")));
}

TEST(PlatformFileTransfer, OffsetsBeyondFourGigabytesAreUsedAsGiven) {
  TempDir dir;
  OsFile file;
  ASSERT_EQ(file.Create(dir.File("big.dat")), 0);
  constexpr int64_t kOffset = int64_t{0x1'0000'0002};
  size_t done = 0;
  ASSERT_EQ(file.WriteAt(kOffset, "xy", 2, done), 0);  // Sparse: no disk space used.
  int64_t size = 0;
  ASSERT_EQ(file.Size(size), 0);
  EXPECT_EQ(size, kOffset + 2);
  char back[4] = {};
  ASSERT_EQ(file.ReadAt(kOffset - 1, back, sizeof back, done), 0);
  EXPECT_EQ(done, 3u);
  EXPECT_EQ(std::string(back, 3), std::string("\0xy", 3));
}

TEST(PlatformFileTransfer, SizeFollowsWritesAndTruncate) {
  TempDir dir;
  OsFile file;
  ASSERT_EQ(file.Create(dir.File("t.dat")), 0);
  int64_t size = -1;
  ASSERT_EQ(file.Size(size), 0);
  EXPECT_EQ(size, 0);

  const auto data = Bytes(100);
  size_t done = 0;
  ASSERT_EQ(file.WriteAt(0, data.data(), data.size(), done), 0);
  ASSERT_EQ(file.Size(size), 0);
  EXPECT_EQ(size, 100);

  ASSERT_EQ(file.Truncate(40), 0);
  ASSERT_EQ(file.Size(size), 0);
  EXPECT_EQ(size, 40);
  EXPECT_EQ(ReadBytes(dir.File("t.dat")), Bytes(40));

  ASSERT_EQ(file.Truncate(64), 0);  // Growing pads with zeros.
  ASSERT_EQ(file.Size(size), 0);
  EXPECT_EQ(size, 64);
  EXPECT_EQ(ReadBytes(dir.File("t.dat"))[63], 0);
}

TEST(PlatformFileTransfer, CreateEmptiesAnExistingFile) {
  TempDir dir;
  WriteBytes(dir.File("t.dat"), Bytes(50));
  OsFile file;
  ASSERT_EQ(file.Create(dir.File("t.dat")), 0);
  int64_t size = -1;
  ASSERT_EQ(file.Size(size), 0);
  EXPECT_EQ(size, 0);
}

TEST(PlatformFileTransfer, NegativeOffsetsAreInvalidAccess) {
  TempDir dir;
  OsFile file;
  ASSERT_EQ(file.Create(dir.File("t.dat")), 0);
  char byte = 0;
  size_t done = 7;
  EXPECT_EQ(file.ReadAt(-1, &byte, 1, done), 12);
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(file.WriteAt(-5, &byte, 1, done), 12);
  EXPECT_EQ(file.Truncate(-1), 12);
}

TEST(PlatformFileTransfer, ClosedObjectAnswersFileNotOpen) {
  OsFile file;
  EXPECT_FALSE(file.IsOpen());
  char byte = 0;
  size_t done = 0;
  EXPECT_EQ(file.ReadAt(0, &byte, 1, done), 103);
  EXPECT_EQ(file.WriteAt(0, &byte, 1, done), 103);
  int64_t size = 0;
  EXPECT_EQ(file.Size(size), 103);
  EXPECT_EQ(file.Lock(0, 1, true), 103);
  EXPECT_EQ(file.Close(), 0);
}

TEST(PlatformFileTransfer, MoveHandsTheDescriptorOver) {
  TempDir dir;
  OsFile first;
  ASSERT_EQ(first.Create(dir.File("t.dat")), 0);
  const int fd = first.Fd();
  OsFile second(std::move(first));
  EXPECT_FALSE(first.IsOpen());  // NOLINT(bugprone-use-after-move): documented state.
  EXPECT_EQ(second.Fd(), fd);
  OsFile third;
  third = std::move(second);
  EXPECT_EQ(third.Fd(), fd);
  EXPECT_FALSE(second.IsOpen());  // NOLINT(bugprone-use-after-move)
  size_t done = 0;
  EXPECT_EQ(third.WriteAt(0, "a", 1, done), 0);
  EXPECT_EQ(third.Close(), 0);
  EXPECT_FALSE(third.IsOpen());
}

TEST(PlatformFileTransfer, DescriptorsAreCloseOnExec) {
  TempDir dir;
  OsFile file;
  ASSERT_EQ(file.Create(dir.File("t.dat")), 0);
  EXPECT_NE(::fcntl(file.Fd(), F_GETFD) & FD_CLOEXEC, 0);
  ASSERT_EQ(file.Open(dir.File("t.dat"), false), 0);
  EXPECT_NE(::fcntl(file.Fd(), F_GETFD) & FD_CLOEXEC, 0);
}

TEST(PlatformFileTransfer, ReplacedDescriptionKeepsTheNumberAndTakesTheNewMode) {
  TempDir dir;
  WriteBytes(dir.File("t.dat"), {1, 2, 3});
  OsFile reader;
  ASSERT_EQ(reader.Open(dir.File("t.dat"), false), 0);
  const int number = reader.Fd();
  size_t done = 0;
  const uint8_t byte = 9;
  EXPECT_NE(reader.WriteAt(0, &byte, 1, done), 0) << "opened for reading only";
  OsFile writer;
  ASSERT_EQ(writer.Open(dir.File("t.dat"), true), 0);
  ASSERT_EQ(reader.ReplaceDescriptionWith(writer), 0);
  EXPECT_EQ(reader.Fd(), number);
  EXPECT_NE(::fcntl(reader.Fd(), F_GETFD) & FD_CLOEXEC, 0);
  ASSERT_EQ(reader.WriteAt(0, &byte, 1, done), 0);
  EXPECT_EQ(done, 1u);
  EXPECT_EQ(ReadBytes(dir.File("t.dat")), (std::vector<uint8_t>{9, 2, 3}));
  EXPECT_EQ(reader.ReplaceDescriptionWith(reader), 0) << "itself: nothing to replace";
  OsFile closed;
  EXPECT_EQ(reader.ReplaceDescriptionWith(closed), 103);
  EXPECT_EQ(closed.ReplaceDescriptionWith(reader), 103);
}

// ---------------------------------------------------------------------------------------
// Error numbers

TEST(PlatformFileErrors, MissingFileIsTwoAndMissingDirectoryIsThree) {
  TempDir dir;
  OsFile file;
  EXPECT_EQ(file.Open(dir.File("missing.dbf"), false), 2);
  EXPECT_EQ(file.Open(dir.File("missing.dbf"), true), 2);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Open(dir.File("nodir/missing.dbf"), false), 3);
  EXPECT_EQ(file.Create(dir.File("nodir/new.dbf")), 3);
  EXPECT_EQ(RemoveFile(dir.File("missing.dbf")), 2);
  EXPECT_EQ(RemoveFile(dir.File("nodir/missing.dbf")), 3);

  // A file used as a directory is a path that does not exist either (ENOTDIR).
  WriteBytes(dir.File("plain"), Bytes(1));
  EXPECT_EQ(file.Open(dir.File("plain/x.dbf"), false), 3);
}

TEST(PlatformFileErrors, DirectoryCannotBeOpenedAsFile) {
  TempDir dir;
  OsFile file;
  EXPECT_EQ(file.Open(dir.Path().string(), false), 5);
  EXPECT_EQ(file.Open(dir.Path().string(), true), 5);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(RemoveFile(dir.Path().string()), 5);
}

TEST(PlatformFileErrors, FailedOpenLeavesObjectClosed) {
  TempDir dir;
  OsFile file;
  ASSERT_EQ(file.Create(dir.File("t.dat")), 0);
  EXPECT_EQ(file.Open(dir.File("missing.dat"), true), 2);
  EXPECT_FALSE(file.IsOpen());
}

TEST(PlatformFileErrors, SystemErrorCodeMapsErrnoToEngineNumbers) {
  EXPECT_EQ(SystemErrorCode(0), 0);
  EXPECT_EQ(SystemErrorCode(ENOENT), 2);
  EXPECT_EQ(SystemErrorCode(ENOTDIR), 3);
  EXPECT_EQ(SystemErrorCode(ENAMETOOLONG), 3);
  EXPECT_EQ(SystemErrorCode(ELOOP), 3);
  EXPECT_EQ(SystemErrorCode(EMFILE), 4);
  EXPECT_EQ(SystemErrorCode(ENFILE), 4);
  EXPECT_EQ(SystemErrorCode(EACCES), 5);
  EXPECT_EQ(SystemErrorCode(EPERM), 5);
  EXPECT_EQ(SystemErrorCode(EISDIR), 5);
  EXPECT_EQ(SystemErrorCode(EINVAL), 12);
  EXPECT_EQ(SystemErrorCode(EAGAIN), 33);
  EXPECT_EQ(SystemErrorCode(EBADF), 103);
  EXPECT_EQ(SystemErrorCode(EROFS), 150);
  EXPECT_EQ(SystemErrorCode(EEXIST), 183);
  EXPECT_EQ(SystemErrorCode(ENOSPC), 101);
  EXPECT_EQ(SystemErrorCode(EFBIG), 101);
  EXPECT_EQ(SystemErrorCode(EDQUOT), 101);
  // Generic failures: read 100, write 101.
  EXPECT_EQ(SystemErrorCode(EIO, false), 100);
  EXPECT_EQ(SystemErrorCode(EIO, true), 101);
  EXPECT_EQ(SystemErrorCode(ENXIO, false), 100);
  EXPECT_EQ(SystemErrorCode(ENXIO, true), 101);
}

// Runs `probe` in a child process without root's privileges (as nobody when the tests
// run as root, since root ignores permission bits) and answers its result (0-255), or -1.
template <typename Probe>
int RunUnprivileged(Probe probe) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(255);
    ::_exit(probe() & 0xFF);
  }
  int status = 0;
  pid_t r;
  do {
    r = ::waitpid(pid, &status, 0);
  } while (r < 0 && errno == EINTR);
  return r > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PlatformFileErrors, PermissionsAreAccessDenied) {
  TempDir dir;
  WriteBytes(dir.File("ro.dat"), Bytes(4));
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
  ASSERT_EQ(::chmod(dir.File("ro.dat").c_str(), 0444), 0);
  const std::string readOnly = dir.File("ro.dat");
  const std::string created = dir.File("new.dat");

  EXPECT_EQ(RunUnprivileged([&] { return OsFile().Open(readOnly, true); }), 5);
  EXPECT_EQ(RunUnprivileged([&] { return OsFile().Open(readOnly, false); }), 0);
  EXPECT_EQ(RunUnprivileged([&] { return OsFile().Create(created); }), 5);
  EXPECT_EQ(RunUnprivileged([&] { return RemoveFile(readOnly); }), 5);
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0700), 0);  // So that TempDir can clean up.
}

// ---------------------------------------------------------------------------------------
// Names: existence, rename, removal

TEST(PlatformFileNames, FileExistsForFilesOnly) {
  TempDir dir;
  EXPECT_FALSE(FileExists(dir.File("t.dat")));
  WriteBytes(dir.File("t.dat"), Bytes(1));
  EXPECT_TRUE(FileExists(dir.File("t.dat")));
  EXPECT_FALSE(FileExists(dir.Path().string()));
  ASSERT_EQ(::symlink("t.dat", dir.File("link").c_str()), 0);
  EXPECT_TRUE(FileExists(dir.File("link")));
  ASSERT_EQ(::symlink("gone.dat", dir.File("dangling").c_str()), 0);
  EXPECT_FALSE(FileExists(dir.File("dangling")));
}

TEST(PlatformFileNames, RenameMovesTheFile) {
  TempDir dir;
  WriteBytes(dir.File("old.dbf"), Bytes(5, 9));
  EXPECT_EQ(RenameFile(dir.File("old.dbf"), dir.File("new.dbf")), 0);
  EXPECT_FALSE(FileExists(dir.File("old.dbf")));
  EXPECT_EQ(ReadBytes(dir.File("new.dbf")), Bytes(5, 9));
}

TEST(PlatformFileNames, RenameNeverReplacesAnExistingFile) {
  TempDir dir;
  WriteBytes(dir.File("a.dbf"), Bytes(3, 1));
  WriteBytes(dir.File("b.dbf"), Bytes(4, 50));
  EXPECT_EQ(RenameFile(dir.File("a.dbf"), dir.File("b.dbf")), 183);
  EXPECT_EQ(ReadBytes(dir.File("a.dbf")), Bytes(3, 1));
  EXPECT_EQ(ReadBytes(dir.File("b.dbf")), Bytes(4, 50));
}

TEST(PlatformFileNames, RenameReportsMissingSourceAndTargetDirectory) {
  TempDir dir;
  EXPECT_EQ(RenameFile(dir.File("missing.dbf"), dir.File("x.dbf")), 2);
  EXPECT_EQ(RenameFile(dir.File("nodir/missing.dbf"), dir.File("x.dbf")), 3);
  WriteBytes(dir.File("a.dbf"), Bytes(1));
  EXPECT_EQ(RenameFile(dir.File("a.dbf"), dir.File("nodir/a.dbf")), 3);
  EXPECT_TRUE(FileExists(dir.File("a.dbf")));
}

TEST(PlatformFileNames, RenameKeepsAnOpenDescriptorOnTheFile) {
  TempDir dir;
  OsFile file;
  ASSERT_EQ(file.Create(dir.File("a.dbf")), 0);
  ASSERT_EQ(RenameFile(dir.File("a.dbf"), dir.File("b.dbf")), 0);
  size_t done = 0;
  ASSERT_EQ(file.WriteAt(0, "abc", 3, done), 0);
  EXPECT_EQ(fendral::test::ReadText(dir.File("b.dbf")), "abc");
}

TEST(PlatformFileNames, RemoveFileDeletesIt) {
  TempDir dir;
  WriteBytes(dir.File("t.dat"), Bytes(1));
  EXPECT_EQ(RemoveFile(dir.File("t.dat")), 0);
  EXPECT_FALSE(FileExists(dir.File("t.dat")));
  EXPECT_EQ(RemoveFile(dir.File("t.dat")), 2);
}

// ---------------------------------------------------------------------------------------
// Byte-range locks

class PlatformFileLock : public ::testing::Test {
 protected:
  void SetUp() override { WriteBytes(path_, Bytes(512)); }
  TempDir dir_;
  const std::string path_ = dir_.File("locked.dbf");
};

TEST_F(PlatformFileLock, ConflictsBetweenTwoHandlesInOneProcess) {
  OsFile a;
  OsFile b;
  ASSERT_EQ(a.Open(path_, true), 0);
  ASSERT_EQ(b.Open(path_, true), 0);
  ASSERT_EQ(a.Lock(100, 10, true), 0);

  EXPECT_EQ(b.Lock(100, 10, true), kLocked);
  EXPECT_EQ(b.Lock(109, 1, true), kLocked) << "overlap at the last byte";
  EXPECT_EQ(b.Lock(90, 11, false), kLocked) << "a shared lock meets an exclusive one";
  EXPECT_EQ(b.Lock(110, 5, true), 0) << "the adjacent range is free";
  EXPECT_EQ(b.Lock(90, 10, true), 0) << "so is the range just before";

  // The same description may re-lock and convert its own range.
  EXPECT_EQ(a.Lock(100, 10, true), 0);

  ASSERT_EQ(a.Unlock(100, 10), 0);
  EXPECT_EQ(b.Lock(100, 10, true), 0);
  EXPECT_EQ(a.Lock(100, 1, false), kLocked);
}

TEST_F(PlatformFileLock, ClosingReleasesOnlyThatHandlesLocks) {
  OsFile holder;
  OsFile other;
  OsFile prober;
  ASSERT_EQ(holder.Open(path_, true), 0);
  ASSERT_EQ(holder.Lock(0, 1, true), 0);

  // Classic POSIX locks would vanish here, when any descriptor of the process closes.
  ASSERT_EQ(other.Open(path_, false), 0);
  ASSERT_EQ(other.Close(), 0);

  ASSERT_EQ(prober.Open(path_, true), 0);
  EXPECT_EQ(prober.Lock(0, 1, true), kLocked);

  ASSERT_EQ(holder.Close(), 0);
  EXPECT_EQ(prober.Lock(0, 1, true), 0);
}

TEST_F(PlatformFileLock, MovedObjectKeepsItsLock) {
  OsFile holder;
  ASSERT_EQ(holder.Open(path_, true), 0);
  ASSERT_EQ(holder.Lock(5, 5, true), 0);
  OsFile moved(std::move(holder));
  OsFile prober;
  ASSERT_EQ(prober.Open(path_, true), 0);
  EXPECT_EQ(prober.Lock(5, 5, true), kLocked);
  moved.Close();
  EXPECT_EQ(prober.Lock(5, 5, true), 0);
}

TEST_F(PlatformFileLock, ReadOnlyDescriptorsShareReadLocks) {
  OsFile reader1;
  OsFile reader2;
  OsFile writer;
  ASSERT_EQ(reader1.Open(path_, false), 0);
  ASSERT_EQ(reader2.Open(path_, false), 0);
  ASSERT_EQ(writer.Open(path_, true), 0);

  EXPECT_EQ(reader1.Lock(0, 100, false), 0);
  EXPECT_EQ(reader2.Lock(50, 100, false), 0);
  EXPECT_EQ(writer.Lock(50, 100, false), 0) << "a read-write handle may share too";
  EXPECT_EQ(writer.Lock(120, 1, true), kLocked);

  // A read-only descriptor cannot hold a write lock at all (EBADF).
  EXPECT_EQ(reader1.Lock(400, 1, true), 103);

  ASSERT_EQ(reader1.Unlock(0, 100), 0);
  ASSERT_EQ(reader2.Unlock(50, 100), 0);
  EXPECT_EQ(writer.Lock(0, 200, true), 0) << "own shared lock is converted";
}

TEST_F(PlatformFileLock, OffsetsUpToFourGigabytesAreUsedAsGiven) {
  OsFile a;
  OsFile b;
  ASSERT_EQ(a.Open(path_, true), 0);
  ASSERT_EQ(b.Open(path_, true), 0);
  // Lock regions of xBase programs lie far beyond the end of the file.
  ASSERT_EQ(a.Lock(0xEFFFFFFFu, 1, true), 0);
  ASSERT_EQ(a.Lock(0xFFFFFFFEu, 1, true), 0);
  ASSERT_EQ(a.Lock(0x7FFFFFFEu, 1, true), 0);
  EXPECT_EQ(b.Lock(0xEFFFFFFFu, 1, true), kLocked);
  EXPECT_EQ(b.Lock(0xFFFFFFFEu, 1, true), kLocked);
  EXPECT_EQ(b.Lock(0x7FFFFFFEu, 1, true), kLocked);
  EXPECT_EQ(b.Lock(0xEFFFFFFEu, 1, true), 0);
  EXPECT_EQ(b.Lock(0xFFFFFFFFu, 1, true), 0);
  EXPECT_EQ(b.Lock(0, 0x7FFFFFFF, true), kLocked) << "whole-file region meets 0x7FFFFFFE";
  EXPECT_EQ(b.Lock(0, 0x7FFFFFFE, true), 0) << "ends just before it";
  EXPECT_EQ(a.Lock(0x7FFFFFFEu, 1, true), 0) << "own region";
  EXPECT_EQ(a.Lock(0, 1, true), kLocked);
  ASSERT_EQ(a.Unlock(0x7FFFFFFEu, 1), 0);
  ASSERT_EQ(b.Unlock(0, 0x7FFFFFFE), 0);
  EXPECT_EQ(b.Lock(0, 0x7FFFFFFF, true), 0);
}

TEST_F(PlatformFileLock, UnlockOfFreeRangeSucceeds) {
  OsFile a;
  ASSERT_EQ(a.Open(path_, true), 0);
  EXPECT_EQ(a.Unlock(0, 10), 0);
}

// A child process that holds a lock until the parent lets it go. The child reports
// through a pipe whether it got the lock; closing the release pipe ends it.
class LockingChild {
 public:
  // `classic` makes the child take a traditional process-owned POSIX lock (F_SETLK)
  // instead of an OFD lock through OsFile: the two kinds conflict on Linux.
  LockingChild(const std::string& path, uint64_t offset, uint64_t length, bool classic) {
    int ready[2];
    int release[2];
    if (::pipe(ready) != 0) return;
    if (::pipe(release) != 0) {
      ::close(ready[0]);
      ::close(ready[1]);
      return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(release[1]);
      char status = 'E';
      OsFile file;  // Stays open, and locked, until _exit.
      if (classic) {
        const int fd = ::open(path.c_str(), O_RDWR);
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = static_cast<off_t>(offset);
        fl.l_len = static_cast<off_t>(length);
        if (fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0) status = 'L';
      } else if (file.Open(path, true) == 0 && file.Lock(offset, length, true) == 0) {
        status = 'L';
      }
      (void)!::write(ready[1], &status, 1);
      char c;
      while (::read(release[0], &c, 1) < 0 && errno == EINTR) {
      }
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    readyFd_ = ready[0];
    releaseFd_ = release[1];
  }

  ~LockingChild() { Release(); }

  // Waits for the child's report: true when it holds its lock.
  bool HoldsLock() {
    if (pid_ <= 0) return false;
    char status = 0;
    ssize_t n;
    do {
      n = ::read(readyFd_, &status, 1);
    } while (n < 0 && errno == EINTR);
    return n == 1 && status == 'L';
  }

  // Lets the child exit and reaps it; answers its exit status (-1 when abnormal).
  int Release() {
    if (releaseFd_ >= 0) ::close(std::exchange(releaseFd_, -1));
    if (readyFd_ >= 0) ::close(std::exchange(readyFd_, -1));
    if (pid_ <= 0) return -1;
    int status = 0;
    pid_t r;
    do {
      r = ::waitpid(std::exchange(pid_, -1), &status, 0);
    } while (r < 0 && errno == EINTR);
    return r > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int readyFd_ = -1;
  int releaseFd_ = -1;
};

TEST_F(PlatformFileLock, LockHeldByAnotherProcessFailsAtOnce) {
  LockingChild child(path_, 200, 20, /*classic=*/false);
  ASSERT_TRUE(child.HoldsLock());

  OsFile file;
  ASSERT_EQ(file.Open(path_, true), 0);
  // F_OFD_SETLK never waits: were it to, the child (waiting for us) would never let go.
  EXPECT_EQ(file.Lock(200, 20, true), kLocked);
  EXPECT_EQ(file.Lock(219, 1, false), kLocked);
  EXPECT_EQ(file.Lock(220, 1, true), 0);

  EXPECT_EQ(child.Release(), 0);
  EXPECT_EQ(file.Lock(200, 20, true), 0) << "the lock went with the child";
}

TEST_F(PlatformFileLock, ClassicLockOfAnotherProcessConflictsToo) {
  LockingChild child(path_, 0, 0x7FFFFFFF, /*classic=*/true);
  ASSERT_TRUE(child.HoldsLock());

  OsFile file;
  ASSERT_EQ(file.Open(path_, false), 0);
  EXPECT_EQ(file.Lock(1000, 1, false), kLocked);

  EXPECT_EQ(child.Release(), 0);
  EXPECT_EQ(file.Lock(1000, 1, false), 0);
}

}  // namespace
