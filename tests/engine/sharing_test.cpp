// Sharing a table with other processes: the lock regions each protocol takes (seen from
// another process), the protocol chosen from what is open, share modes of opens, and
// lock waits that end in the lock error instead of writing without the lock or waiting
// for ever.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kx6_build.h"
#include "kx6_dbsy.h"
#include "kx6_eror.h"
#include "kx6_glbl.h"
#include "kx6_indx.h"
#include "kx6_tool.h"
#include "platform/pf_file.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::ReadBytes;
using fendral::test::TempDir;

// A lock region as another process sees it: the lock that conflicts with a write lock
// on one byte.
struct Seen {
  bool held = false;
  uint64_t start = 0;
  uint64_t length = 0;
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& s) {
  return out << (s.held ? "held " : "free ") << s.start << "+" << s.length;
}

Seen Held(uint64_t start, uint64_t length) { return {true, start, length}; }

// Asks a child process which lock (if any) covers each byte of `path`.
std::vector<Seen> SeenFromAnotherProcess(const std::string& path,
                                         const std::vector<uint64_t>& bytes) {
  int out[2];
  if (pipe(out) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(out[0]);
    const int fd = open(path.c_str(), O_RDWR);
    for (uint64_t byte : bytes) {
      struct flock fl {};
      fl.l_type = F_WRLCK;
      fl.l_whence = SEEK_SET;
      fl.l_start = static_cast<off_t>(byte);
      fl.l_len = 1;
      Seen seen;
      if (fd >= 0 && fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK) {
        seen = {true, static_cast<uint64_t>(fl.l_start), static_cast<uint64_t>(fl.l_len)};
      }
      (void)!write(out[1], &seen, sizeof seen);
    }
    _exit(0);
  }
  close(out[1]);
  std::vector<Seen> result(bytes.size());
  for (Seen& s : result) {
    if (read(out[0], &s, sizeof s) != static_cast<ssize_t>(sizeof s)) break;
  }
  close(out[0]);
  waitpid(child, nullptr, 0);
  return result;
}

Seen SeenAt(const std::string& path, uint64_t byte) {
  return SeenFromAnotherProcess(path, {byte}).at(0);
}

// Keeps lock waits short while a test runs.
class ShortLockWait {
 public:
  ShortLockWait() : total_(MemoLockWaitTotal), step_(MemoLockWaitStep) {
    MemoLockWaitTotal = 200;
    MemoLockWaitStep = 20;
  }
  ~ShortLockWait() {
    MemoLockWaitTotal = total_;
    MemoLockWaitStep = step_;
  }

 private:
  uint16_t total_;
  uint16_t step_;
};

// Counts the error codes that reach the error procedure, then reports them as usual.
class ErrorCodes {
 public:
  ErrorCodes() : saved_(EngineErrorProc) {
    codes().clear();
    EngineErrorProc = &Record;
  }
  ~ErrorCodes() { EngineErrorProc = saved_; }
  static std::vector<int32_t>& codes() {
    static std::vector<int32_t> list;
    return list;
  }

 private:
  static void Record(int32_t code, int32_t subCode, const char* info) {
    codes().push_back(code);
    DefaultErrorProc(code, subCode, info);
  }
  ErrorProcType saved_;
};

// A table NAME C 10, AGE N 3 of `rows` records: 'F' FoxPro with memo, '4' dBase IV with
// memo, '3' dBase III without memo.
std::string MakeTable(const TempDir& dir, const std::string& file, int rows, char kind) {
  const std::string path = dir.File(file);
  {
    std::unique_ptr<KXO_DBFBuild> builder;
    if (kind == 'F') {
      builder = std::make_unique<KXO_DBFoxBuild>(path);
    } else if (kind == '4') {
      builder = std::make_unique<KXO_DB4Build>(path);
    } else {
      builder = std::make_unique<KXO_DBFBuild>(path);
    }
    builder->AddField("NAME", 'C', 10, 0);
    builder->AddField("AGE", 'N', 3, 0);
    if (kind != '3') builder->AddField("NOTE", 'M', 10, 0);
    builder->WriteTable();
  }
  KXO_dBHandler table(path, true, false);
  for (int i = 1; i <= rows; ++i) {
    table.BlankRecord();
    table.PutFieldByName("NAME", std::string("N").append(std::to_string(i)));
    table.PutNumberByName("AGE", i);
    table.AppendRecord();
  }
  return path;
}

void AddIndex(const std::string& table, const std::string& indexFile, const std::string& tag) {
  KXO_dBHandler t(table, true, false);
  t.IndexOn(indexFile, tag, 0, true, "", "NAME");
}

// --- Lock regions ---------------------------------------------------------------------------

struct RegionCase {
  const char* name;
  char kind;
  const char* indexFile;  // "" for none
  const char* tag;
  int protocol;
  Seen record5;  // the lock of record 5 (the record's offset is added for AtRecordOffset)
  Seen append;
  Seen file;
  Seen index;
  bool recordAtOffset = false;
};

TEST(LockRegions, EachProtocolTakesTheRegionsOfItsPrograms) {
  constexpr int kClip = static_cast<int>(TkxLokProtocol::ClipLock);
  constexpr int kFox = static_cast<int>(TkxLokProtocol::FoxLock);
  constexpr int kDefault = static_cast<int>(TkxLokProtocol::Default);
  constexpr int kDb4 = static_cast<int>(TkxLokProtocol::DB4Lock);
  const std::vector<RegionCase> cases = {
      {"clipper", '3', "t.ntx", "", kClip, Held(1000000005, 1), Held(1000000000, 1),
       Held(1000000000, 1000000000), Held(1000000000, 1)},
      {"foxpro with cdx", 'F', "t.cdx", "NAME", kFox, Held(0x7FFFFFFE - 5, 1), Held(0x7FFFFFFE, 1),
       Held(0x40000000, 0x3FFFFFFF), Held(0x7FFFFFFE, 1)},
      {"foxpro without index", 'F', "", "", kFox, Held(0x40000000, 1), Held(0x40000000, 1),
       Held(0x40000000, 0x3FFFFFFF), Seen{}, true},
      {"default with ntx", '3', "t.ntx", "", kDefault, Held(0x7FFFFFFE - 5, 1), Held(0x7FFFFFFE, 1),
       Held(0x40000000, 0x3FFFFFFF), Held(0x7FFFFFFE, 1)},
      {"default without index", '3', "", "", kDefault, Held(0x40000000, 1), Held(0x40000000, 1),
       Held(0x40000000, 0x3FFFFFFF), Seen{}, true},
      {"dbase4 with mdx", '4', "t.mdx", "NAME", kDb4, Held(0xEFFFFFF9, 1), Held(0xEFFFFFFF, 1),
       Held(0x40000000, 0xB0000000), Held(0xEFFFFFFE, 2)},
  };
  for (const RegionCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = MakeTable(dir, "t.dbf", 8, c.kind);
    if (*c.indexFile) AddIndex(path, c.indexFile, c.tag);
    KXO_dBHandler t(path, true, true);
    if (*c.indexFile) {
      ASSERT_EQ(t.OpenIndexFile(c.indexFile), 0);
    }
    t.SetLockProtocol(c.protocol);

    t.GetRecord(5);
    ASSERT_TRUE(t.LockRecord());
    Seen record = c.record5;
    if (c.recordAtOffset) record.start += t.HeaderLength() + 4 * t.RecordLength();
    EXPECT_EQ(SeenAt(path, record.start), record);
    EXPECT_EQ(SeenAt(path, record.start + 1), Seen{}) << "one byte only";

    // The append lock is held beside the record lock.
    ASSERT_TRUE(t.LockAppend());
    EXPECT_EQ(SeenAt(path, c.append.start), c.append);
    EXPECT_EQ(SeenAt(path, record.start), record) << "the record lock stays";
    ASSERT_TRUE(t.UnlockAppend());
    EXPECT_EQ(SeenAt(path, c.append.start), Seen{});
    EXPECT_EQ(SeenAt(path, record.start), record) << "releasing the append lock keeps it";
    t.UnlockRegion();

    ASSERT_TRUE(t.LockTable());
    EXPECT_EQ(SeenAt(path, c.file.start + c.file.length - 1), c.file);
    t.UnlockTable();
    EXPECT_EQ(SeenAt(path, c.file.start), Seen{});

    if (*c.indexFile) {
      KXobjIndexFile* index = t.IndexFile(1);
      ASSERT_NE(index, nullptr);
      ASSERT_TRUE(index->IndexLock());
      EXPECT_EQ(SeenAt(index->Disk()->FileName(), c.index.start), c.index);
      index->IndexUnlock();
      EXPECT_EQ(SeenAt(index->Disk()->FileName(), c.index.start), Seen{});
    }
  }
}

// The memo file of a FoxPro table locks its header byte while a block is allocated.
TEST(LockRegions, ProtocolsGiveTheirMemoRegion) {
  for (int protocol : {0, 1, 2, 3}) {
    TkxLockOffsets offsets{};
    ASSERT_TRUE(LockOffsetsOf(protocol, offsets));
    TkxLockOffsets withIndex{};
    ASSERT_TRUE(LockOffsetsOf(protocol, true, withIndex));
    EXPECT_EQ(offsets.memoLockOffset, withIndex.memoLockOffset);
    // The file lock covers every record lock and the append lock of its protocol.
    for (const TkxLockOffsets& o : {offsets, withIndex}) {
      const uint64_t first = o.fileLockOffset, last = first + o.fileLockLength - 1;
      EXPECT_TRUE(o.appendLockOffset >= first && o.appendLockOffset <= last) << protocol;
      for (int32_t n : {1, 1000, 100000}) {
        const uint32_t r = o.RecordLockOffset(n, 290, 75);
        EXPECT_TRUE(r >= first && r <= last) << protocol << " record " << n;
        EXPECT_NE(r, o.appendLockOffset);
      }
    }
  }
  TkxLockOffsets fox{};
  LockOffsetsOf(static_cast<int>(TkxLokProtocol::FoxLock), fox);
  EXPECT_EQ(fox.memoLockOffset, 0u);
  EXPECT_EQ(fox.memoLockLength, 1u);
}

// --- Choosing the protocol ----------------------------------------------------------------

TEST(LockProtocolChoice, FollowsWhatIsOpen) {
  TempDir dir;
  const std::string plain = MakeTable(dir, "p.dbf", 3, '3');
  AddIndex(plain, "p.ntx", "");
  AddIndex(plain, "p.cdx", "NAME");
  AddIndex(plain, "p.mdx", "NAME");
  const std::string fox = MakeTable(dir, "f.dbf", 3, 'F');
  const std::string db4 = MakeTable(dir, "d.dbf", 3, '4');

  KXO_dBHandler t(plain, true, true);
  EXPECT_TRUE(t.AutoLockProtocol());
  EXPECT_EQ(t.LockProtocol(), static_cast<int>(TkxLokProtocol::Default));
  ASSERT_EQ(t.OpenIndexFile("p.mdx"), 0);
  EXPECT_EQ(t.LockProtocol(), static_cast<int>(TkxLokProtocol::DB4Lock));
  ASSERT_EQ(t.OpenIndexFile("p.cdx"), 0);
  EXPECT_EQ(t.LockProtocol(), static_cast<int>(TkxLokProtocol::FoxLock));
  ASSERT_EQ(t.OpenIndexFile("p.ntx"), 0);
  EXPECT_EQ(t.LockProtocol(), static_cast<int>(TkxLokProtocol::ClipLock));
  EXPECT_EQ(t.IndexFile(1)->LockProtocol(), static_cast<int>(TkxLokProtocol::ClipLock))
      << "every index file follows";
  // While a lock is held the protocol stays.
  t.GetRecord(1);
  ASSERT_TRUE(t.LockRecord());
  EXPECT_EQ(t.CloseIndexFile("p.ntx"), 0);
  EXPECT_EQ(t.LockProtocol(), static_cast<int>(TkxLokProtocol::ClipLock));
  t.UnlockRegion();
  EXPECT_EQ(t.CloseIndexFile("p.cdx"), 0);
  EXPECT_EQ(t.LockProtocol(), static_cast<int>(TkxLokProtocol::DB4Lock));
  t.CloseAllIndexes();
  EXPECT_EQ(t.LockProtocol(), static_cast<int>(TkxLokProtocol::Default));
  // A protocol set by number stays, whatever opens.
  t.SetLockProtocol(static_cast<int>(TkxLokProtocol::FoxLock));
  ASSERT_EQ(t.OpenIndexFile("p.ntx"), 0);
  EXPECT_EQ(t.LockProtocol(), static_cast<int>(TkxLokProtocol::FoxLock));
  t.SetLockProtocol(kLockProtocolAuto);
  EXPECT_EQ(t.LockProtocol(), static_cast<int>(TkxLokProtocol::ClipLock));

  KXO_dBHandler f(fox, false, true);
  EXPECT_EQ(f.LockProtocol(), static_cast<int>(TkxLokProtocol::FoxLock)) << "an FPT memo";
  KXO_dBHandler d(db4, false, true);
  EXPECT_EQ(d.LockProtocol(), static_cast<int>(TkxLokProtocol::DB4Lock)) << "a dBase IV table";
}

// --- Waits that end in the lock error -------------------------------------------------------

// Appends wait for the append lock; when another program keeps it, nothing is appended,
// the lock error reaches the error procedure, and the locks the table holds stay held.
TEST(SharedWrites, AppendWaitsForTheAppendLockAndOtherwiseRaises) {
  ShortLockWait wait;
  TempDir dir;
  const std::string path = MakeTable(dir, "a.dbf", 4, '3');
  KXO_dBHandler t(path, true, true);
  t.SetLockProtocol(static_cast<int>(TkxLokProtocol::ClipLock));
  platform::OsFile other;
  ASSERT_EQ(other.Open(path, true), 0);

  // Released while the append waits: the append goes through.
  ASSERT_EQ(other.Lock(1000000000, 1, true), 0);
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    other.Unlock(1000000000, 1);
  });
  t.BlankRecord();
  t.PutFieldByName("NAME", "WAITED");
  EXPECT_NO_THROW(t.AppendRecord());
  release.join();
  EXPECT_EQ(t.RecordCount(), 5);

  // Kept: nothing is appended and the record lock the table holds survives.
  t.GetRecord(2);
  ASSERT_TRUE(t.LockRecord());
  ASSERT_EQ(other.Lock(1000000000, 1, true), 0);
  const auto before = ReadBytes(path);
  t.BlankRecord();
  t.PutFieldByName("NAME", "REFUSED");
  {
    ErrorCodes errors;
    EXPECT_THROW(t.AppendRecord(), ETolvernError);
    ASSERT_FALSE(ErrorCodes::codes().empty());
    EXPECT_EQ(ErrorCodes::codes().back(), ErrLocked);
  }
  EXPECT_TRUE(ReadBytes(path) == before) << "a refused append wrote";
  EXPECT_EQ(SeenAt(path, 1000000002), Held(1000000002, 1)) << "the record lock was released";
  t.UnlockRegion();
  other.Unlock(1000000000, 1);
}

// A write whose index files cannot be locked raises the lock error and writes nothing.
TEST(SharedWrites, WriteWithoutTheIndexLockRaises) {
  ShortLockWait wait;
  TempDir dir;
  const std::string path = MakeTable(dir, "w.dbf", 4, 'F');
  AddIndex(path, "w.cdx", "NAME");
  KXO_dBHandler t(path, true, true);
  ASSERT_EQ(t.OpenIndexFile("w.cdx"), 0);
  ASSERT_EQ(t.LockProtocol(), static_cast<int>(TkxLokProtocol::FoxLock));
  platform::OsFile other;
  ASSERT_EQ(other.Open(dir.File("w.cdx"), true), 0);
  ASSERT_EQ(other.Lock(0x7FFFFFFE, 1, true), 0);  // another program changes the index
  const auto table = ReadBytes(path);
  const auto index = ReadBytes(dir.File("w.cdx"));

  t.GetRecord(2);
  t.PutFieldByName("NAME", "CHANGED");
  {
    ErrorCodes errors;
    EXPECT_THROW(t.PutRecord(2), ETolvernError);
    EXPECT_EQ(ErrorCodes::codes().back(), ErrLocked);
  }
  t.BlankRecord();
  t.PutFieldByName("NAME", "ADDED");
  {
    ErrorCodes errors;
    EXPECT_THROW(t.AppendRecord(), ETolvernError);
    EXPECT_EQ(ErrorCodes::codes().back(), ErrLocked);
  }
  EXPECT_TRUE(ReadBytes(path) == table);
  EXPECT_TRUE(ReadBytes(dir.File("w.cdx")) == index);
  other.Unlock(0x7FFFFFFE, 1);
}

// A copy of a shared table waits a bounded time for the whole-file lock and releases
// whatever it took. Run in a child so that a wait without end fails instead of hanging.
TEST(SharedWrites, CopyOfABusyTableEndsInTheLockError) {
  TempDir dir;
  const std::string path = MakeTable(dir, "c.dbf", 4, '3');
  platform::OsFile other;
  ASSERT_EQ(other.Open(path, true), 0);
  ASSERT_EQ(other.Lock(0x40000000 + 100, 1, true), 0);  // a record lock of another program
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int code = 2;
    try {
      ShortLockWait wait;
      KXO_dBHandler t(path, false, true);
      t.CopyTable(dir.File("copy.dbf"));
      code = 0;
    } catch (const ETolvernError&) {
      code = 1;
    } catch (...) {
    }
    _exit(code);
  }
  int status = 0;
  bool ended = false;
  for (int i = 0; i < 500 && !ended; ++i) {
    ended = waitpid(child, &status, WNOHANG) == child;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!ended) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  ASSERT_TRUE(ended) << "the copy waited for the lock without end";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1) << "the copy must end in the lock error";
  other.Unlock(0x40000000 + 100, 1);
}

// --- Share modes --------------------------------------------------------------------------

// Holds a whole-file share lock on `path` in a child process until destroyed.
class OtherProgramHolds {
 public:
  OtherProgramHolds(const std::string& path, bool exclusive) {
    int ready[2];
    if (pipe(ready) != 0 || pipe(stop_) != 0) return;
    child_ = fork();
    if (child_ == 0) {
      const int fd = open(path.c_str(), O_RDWR);
      const bool ok = fd >= 0 && flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0;
      (void)!write(ready[1], ok ? "y" : "n", 1);
      char c;
      (void)!read(stop_[0], &c, 1);
      _exit(0);
    }
    char c = 0;
    (void)!read(ready[0], &c, 1);
    held_ = c == 'y';
    close(ready[0]);
    close(ready[1]);
  }
  ~OtherProgramHolds() {
    if (child_ > 0) {
      (void)!write(stop_[1], "s", 1);
      waitpid(child_, nullptr, 0);
    }
    close(stop_[0]);
    close(stop_[1]);
  }
  bool Held() const { return held_; }

 private:
  pid_t child_ = -1;
  int stop_[2] = {-1, -1};
  bool held_ = false;
};

std::string OpenError(const std::string& path, bool shared) {
  try {
    KXO_dBHandler t(path, true, shared);
  } catch (const ETolvernError& e) {
    return e.what();
  }
  return "";
}

TEST(ShareModes, OpensRespectWhatOtherProgramsHold) {
  TempDir dir;
  const std::string path = MakeTable(dir, "m.dbf", 2, 'F');
  {
    OtherProgramHolds other(path, true);
    ASSERT_TRUE(other.Held());
    const std::string error = OpenError(path, true);
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
  }
  {
    OtherProgramHolds other(path, false);
    ASSERT_TRUE(other.Held());
    EXPECT_EQ(OpenError(path, true), "");
    const std::string error = OpenError(path, false);
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
  }
  {
    // The memo file counts too: an exclusive open does not get past it.
    OtherProgramHolds other(dir.File("m.fpt"), false);
    ASSERT_TRUE(other.Held());
    KXO_dBHandler t(path, true, false);
    EXPECT_THROW(t.OpenMemo(), ETolvernError);
  }
  // Our own opens: exclusive keeps other programs out; objects of this process that
  // name the same table share its handle and open as before.
  KXO_dBHandler exclusive(path, true, false);
  {
    OtherProgramHolds other(path, false);
    EXPECT_FALSE(other.Held());
  }
  KXO_dBHandler again(path, false, false);
  again.GetRecord(1);
  EXPECT_EQ(TrimRight(again.GetFieldByName("NAME")), "N1");
}

TEST(ShareModes, ReadersNeverKeepEachOtherOut) {
  TempDir dir;
  const std::string path = MakeTable(dir, "r.dbf", 2, 'F');
  {
    // An unshared open for reading takes the shared lock: another reader is no conflict,
    // and while we read, a writer that wants the file to itself is kept out.
    OtherProgramHolds reader(path, false);
    ASSERT_TRUE(reader.Held());
    KXO_dBHandler t(path, false, false);
    t.GetRecord(2);
    EXPECT_EQ(TrimRight(t.GetFieldByName("NAME")), "N2");
    OtherProgramHolds writer(path, true);
    EXPECT_FALSE(writer.Held());
  }
  OtherProgramHolds writer(path, true);
  ASSERT_TRUE(writer.Held());
  EXPECT_THROW(KXO_dBHandler(path, false, false), ETolvernError);
}

// --- Reading while another writer changes the index ------------------------------------------

struct WalkCase {
  const char* name;
  char kind;
  const char* indexFile;
  const char* tag;
};

// A walk in index order through one handler while another (sharing the files, as another
// program would) appends records into the part ahead of it, splitting its pages, and
// rewrites records it has passed so that their keys move ahead of it. The walk still ends,
// lists each record at most once, and lists every record that kept its key throughout.
TEST(SharedReads, AWalkFollowsChangesMadeBetweenItsSteps) {
  for (const WalkCase& c :
       {WalkCase{"ntx", '3', "t.ntx", ""}, WalkCase{"ndx", '3', "t.ndx", ""},
        WalkCase{"cdx", 'F', "t.cdx", "NAME"}, WalkCase{"mdx", '4', "t.mdx", "NAME"}}) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    constexpr int kRows = 300;
    const std::string path = MakeTable(dir, "t.dbf", kRows, c.kind);
    const std::string index = dir.File(c.indexFile);
    AddIndex(path, index, *c.tag ? c.tag : "T");
    const std::string tag = *c.tag ? c.tag : "T";

    KXO_dBHandler writer(path, true, true);
    ASSERT_EQ(writer.OpenIndexFile(index), 0);
    KXO_dBHandler reader(path, true, true);
    ASSERT_EQ(reader.OpenIndexFile(index), 0);
    reader.SelectOrder(tag, false);

    std::map<int32_t, int> listed;
    std::set<int32_t> moved;
    int steps = 0;
    for (reader.GetRecord(PosTop); !reader.Eof(); reader.GetRecord(PosNext)) {
      ++listed[reader.CurrentRecord()];
      ASSERT_LT(++steps, 10 * kRows) << "the walk does not end";
      if (steps % 40 != 0) continue;
      // Between two steps: records land ahead of the walk, and the record just listed and
      // one listed before move ahead of it.
      for (int i = 0; i < 60; ++i) {
        writer.BlankRecord();
        writer.PutFieldByName(
            "NAME", std::string("N").append(std::to_string(100 + steps / 2 + i % 50)).append("X"));
        writer.AppendRecord();
      }
      for (int32_t recno : {reader.CurrentRecord(), listed.begin()->first}) {
        if (moved.count(recno)) continue;
        writer.GetRecord(recno);
        writer.PutFieldByName("NAME", std::string("Z").append(std::to_string(recno)));
        writer.PutRecord(recno);
        moved.insert(recno);
      }
    }
    for (const auto& [recno, times] : listed) EXPECT_EQ(times, 1) << "record " << recno;
    for (int32_t recno = 1; recno <= kRows; ++recno) {
      if (!moved.count(recno)) {
        EXPECT_EQ(listed.count(recno), 1u) << "record " << recno;
      }
    }
  }
}

}  // namespace
}  // namespace tolvern
