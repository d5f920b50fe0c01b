#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "kx6_disk.h"
#include "kx6_eror.h"
#include "kx6_glbl.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::TempDir;
using fendral::test::WriteText;

std::unique_ptr<KXO_DiskFile> OpenDisk(const std::string& name, bool rw, bool shared) {
  auto file = std::make_unique<KXO_DiskFile>(name, rw, shared);
  file->OpenFile();
  return file;
}

class DiskFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("data.bin");
    WriteText(path_, "0123456789");
  }
  TempDir dir_;
  std::string path_;
};

TEST_F(DiskFileTest, TwoNamesOfOneFileShareOneHandle) {
  auto first = OpenDisk(path_, true, true);
  // A relative name of the same file: same canonical path, same handle.
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_.Path());
  auto second = OpenDisk("data.bin", true, true);
  std::filesystem::current_path(cwd);
  EXPECT_EQ(first->FileName(), second->FileName());

  // A lock taken through one object is held by the shared handle: the other object's
  // write to the same file goes through the same description.
  second->WriteAt(0, "AB", 2);
  char buf[2];
  EXPECT_EQ(first->ReadAt(0, buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), "AB");

  // Closing the first leaves the second working; closing the last closes the handle.
  first->CloseFile();
  EXPECT_TRUE(first->IsClosed());
  EXPECT_EQ(second->ReadAt(2, buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), "23");
  const int listed = OpenFileList().Count();
  second->CloseFile();
  EXPECT_EQ(OpenFileList().Count(), listed - 1);
}

TEST_F(DiskFileTest, DifferentCaseIsADifferentFile) {
  WriteText(dir_.File("DATA.BIN"), "upper");
  auto lower = OpenDisk(path_, false, true);
  auto upper = OpenDisk(dir_.File("DATA.BIN"), false, true);
  EXPECT_NE(lower->FileName(), upper->FileName());
  char buf[5];
  upper->ReadAt(0, buf, 5);
  EXPECT_EQ(std::string(buf, 5), "upper");
  lower->ReadAt(0, buf, 5);
  EXPECT_EQ(std::string(buf, 5), "01234");
}

TEST_F(DiskFileTest, MissingFileReportsFileNotFoundWithPath) {
  KXO_DiskFile file(dir_.File("absent.dbf"), false, false);
  EXPECT_FALSE(file.FileExisted());
  try {
    file.OpenFile();
    FAIL() << "opening a missing file must raise";
  } catch (const ETolvernError& e) {
    EXPECT_EQ(std::string(e.what()), "File not found - " + dir_.File("absent.dbf"));
  }
  EXPECT_EQ(file.LastError(), 2);
}

TEST_F(DiskFileTest, CreateWhileAnotherObjectHoldsTheFileFails12) {
  auto open = OpenDisk(path_, true, true);
  KXO_DiskFile again(path_, true, true);
  try {
    again.CreateFile();
    FAIL();
  } catch (const ETolvernError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Invalid file access code - ", 0), 0u);
  }
  EXPECT_EQ(again.LastError(), 12);
  EXPECT_EQ(open->FileSize(), 10) << "the open file must not have been emptied";
}

TEST_F(DiskFileTest, ShortReadReturnsCountAndLeaves221) {
  auto file = OpenDisk(path_, false, false);
  char buf[20];
  EXPECT_EQ(file->ReadAt(6, buf, 20), 4);
  EXPECT_EQ(file->LastError(), 221);
  EXPECT_EQ(file->ReadAt(0, buf, 4), 4);
  EXPECT_EQ(file->LastError(), 0);
}

TEST_F(DiskFileTest, WriteToReadOnlyFileIsRefused) {
  auto file = OpenDisk(path_, false, false);
  EXPECT_THROW(file->WriteAt(0, "x", 1), ETolvernError);
  EXPECT_EQ(fendral::test::ReadText(path_), "0123456789");
}

TEST_F(DiskFileTest, UnsharedLocksAlwaysSucceedAndGiveExclusiveAccess) {
  auto file = OpenDisk(path_, true, false);
  EXPECT_TRUE(file->HasExclusiveAccess());
  EXPECT_TRUE(file->LockRegion(100, 1));
  EXPECT_TRUE(file->LockRegion(200, 1)) << "no system call when unshared";
  file->TruncateAt(4);
  EXPECT_EQ(file->FileSize(), 4);
}

TEST_F(DiskFileTest, SharedLocksNestAndRefuseASecondRegion) {
  auto file = OpenDisk(path_, true, true);
  ASSERT_TRUE(file->LockRegion(100, 1));
  ASSERT_TRUE(file->LockRegion(100, 1));
  EXPECT_EQ(file->LockCount(), 2);
  EXPECT_FALSE(file->LockRegion(200, 1));
  EXPECT_EQ(file->LastError(), 33);
  EXPECT_EQ(file->LockCount(), 2);

  // Another open description of the same file (as another program would have) sees the
  // lock until the second unlock.
  platform::OsFile other;
  ASSERT_EQ(other.Open(path_, true), 0);
  EXPECT_TRUE(file->UnlockRegion());
  EXPECT_EQ(other.Lock(100, 1, true), 33) << "one unlock must not release a nested lock";
  EXPECT_TRUE(file->UnlockRegion());
  EXPECT_EQ(other.Lock(100, 1, true), 0);
  EXPECT_EQ(other.Unlock(100, 1), 0);
}

TEST_F(DiskFileTest, TruncateOfSharedFileNeedsTheWholeFileLock) {
  auto file = OpenDisk(path_, true, true);
  EXPECT_FALSE(file->HasExclusiveAccess());
  EXPECT_THROW(file->TruncateAt(5), ETolvernError);
  EXPECT_EQ(file->LastError(), 5);
  EXPECT_EQ(file->FileSize(), 10);
  ASSERT_TRUE(file->LockWholeFile());
  EXPECT_TRUE(file->HasExclusiveAccess());
  file->TruncateAt(5);
  EXPECT_EQ(file->FileSize(), 5);
  file->UnlockRegion();
}

TEST_F(DiskFileTest, LockHeldByAnotherProcessFailsAtOnce) {
  int toParent[2];
  int toChild[2];
  ASSERT_EQ(pipe(toParent), 0);
  ASSERT_EQ(pipe(toChild), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    platform::OsFile own;
    int ok = own.Open(path_, true) == 0 && own.Lock(0x40000005, 1, true) == 0;
    char c = ok ? 'L' : 'E';
    (void)!write(toParent[1], &c, 1);
    (void)!read(toChild[0], &c, 1);  // hold the lock until the parent is done
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(toParent[0], &c, 1), 1);
  ASSERT_EQ(c, 'L');
  auto file = OpenDisk(path_, true, true);
  EXPECT_FALSE(file->LockRegion(0x40000005, 1));
  EXPECT_EQ(file->LastError(), 33);
  EXPECT_EQ(file->LockCount(), 0);
  EXPECT_TRUE(file->LockRegion(0x40000006, 1)) << "a neighbouring byte is free";
  file->UnlockRegion();
  (void)!write(toChild[1], "x", 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(file->LockRegion(0x40000005, 1)) << "free once the other process ends";
  file->UnlockRegion();
  for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) close(fd);
}

TEST_F(DiskFileTest, ReleaseAllLocksFreesEveryHeldRegion) {
  auto file = OpenDisk(path_, true, true);
  ASSERT_TRUE(file->LockRegion(300, 2));
  ASSERT_TRUE(file->LockRegion(300, 2));
  OpenFileList().ReleaseAllLocks();
  EXPECT_EQ(file->LockCount(), 0);
  platform::OsFile other;
  ASSERT_EQ(other.Open(path_, true), 0);
  EXPECT_EQ(other.Lock(300, 2, true), 0);
}

TEST_F(DiskFileTest, RenameKeepsTheObjectOpenUnderTheNewName) {
  auto file = OpenDisk(path_, true, false);
  EXPECT_TRUE(file->RenameTo(dir_.File("Renamed.Bin")));
  EXPECT_EQ(file->FileName(), dir_.File("Renamed.Bin"));
  EXPECT_FALSE(file->IsClosed());
  EXPECT_FALSE(std::filesystem::exists(path_));
  char buf[3];
  EXPECT_EQ(file->ReadAt(0, buf, 3), 3);
}

TEST(TkxCollectionTest, OwnsAndFreesItems) {
  struct Item {
    int* counter;
    ~Item() { ++*counter; }
  };
  int freed = 0;
  {
    TkxCollection<Item> list;
    Item* a = list.Add(std::make_unique<Item>(Item{&freed}));
    list.Add(std::make_unique<Item>(Item{&freed}));
    list.Add(std::make_unique<Item>(Item{&freed}));
    freed = 0;  // the temporaries moved into the list were destroyed already
    list.Free(a);
    EXPECT_EQ(freed, 1);
    EXPECT_EQ(list.Count(), 2);
  }
  EXPECT_EQ(freed, 3);
}

}  // namespace
}  // namespace tolvern
