// Process settings and locations (date format, temporary files, configuration
// directory) and the millisecond sleep.
#include "platform/pf_misc.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>

#include "platform/pf_sync.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using fendral::test::TempDir;
using namespace tolvern::platform;

// Sets or clears an environment variable for one test and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (saved_) {
      ::setenv(name_, saved_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

// ---------------------------------------------------------------------------------------
// Short date format

TEST(PlatformMiscDateFormat, DefaultsToMonthDayYear) { EXPECT_EQ(ShortDateFormat(), "MM/DD/YYYY"); }

TEST(PlatformMiscDateFormat, SettingIsSeenByEveryThread) {
  const std::string saved = ShortDateFormat();
  std::thread([] { SetShortDateFormat("DD.MM.YYYY"); }).join();
  EXPECT_EQ(ShortDateFormat(), "DD.MM.YYYY");
  SetShortDateFormat("YYYY-MM-DD");
  std::string seen;
  std::thread([&seen] { seen = ShortDateFormat(); }).join();
  EXPECT_EQ(seen, "YYYY-MM-DD");
  SetShortDateFormat(saved);
}

// ---------------------------------------------------------------------------------------
// Local clock

LocalTime FixedClock() { return {1999, 12, 31, 23, 59, 58, 999}; }

TEST(PlatformMiscClock, InstalledClockIsReadOnEveryThreadUntilRemoved) {
  SetClockSource(&FixedClock);
  LocalTime seen;
  std::thread([&seen] { seen = LocalNow(); }).join();
  SetClockSource(nullptr);
  EXPECT_EQ(seen.year, 1999);
  EXPECT_EQ(seen.month, 12);
  EXPECT_EQ(seen.day, 31);
  EXPECT_EQ(seen.millisecond, 999);
  const LocalTime now = LocalNow();
  EXPECT_GE(now.year, 2024);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31);
  EXPECT_TRUE(now.millisecond >= 0 && now.millisecond < 1000);
}

// ---------------------------------------------------------------------------------------
// Fault-injection hook

// Run as a child process of the next test, with the hook in its environment.
TEST(PlatformMiscFaultHook, ChildReadsTheEnvironmentOnce) {
  if (!std::getenv("FENDRAL_FAULT_HOOK_CHILD")) GTEST_SKIP() << "runs as a child process";
  EXPECT_EQ(StopAfterFileOps(), 7);
  ::setenv("FENDRAL_STOP_AFTER_FILE_OPS", "9", 1);
  EXPECT_EQ(StopAfterFileOps(), 7) << "the environment is read once per process";
  SetStopAfterFileOps(3);
  EXPECT_EQ(StopAfterFileOps(), 3);
}

TEST(PlatformMiscFaultHook, ChildProcessReceivesItThroughItsEnvironment) {
  std::string out;
  const int status = fendral::test::RunCommand(
      "FENDRAL_FAULT_HOOK_CHILD=1 FENDRAL_STOP_AFTER_FILE_OPS=7 /proc/" +
          std::to_string(::getpid()) +
          "/exe --gtest_filter=PlatformMiscFaultHook.ChildReadsTheEnvironmentOnce 2>&1",
      &out);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
}

TEST(PlatformMiscFaultHook, SetDirectlyAndNeverNegative) {
  const long saved = StopAfterFileOps();
  SetStopAfterFileOps(12);
  long seen = 0;
  std::thread([&seen] { seen = StopAfterFileOps(); }).join();
  EXPECT_EQ(seen, 12);
  SetStopAfterFileOps(-5);
  EXPECT_EQ(StopAfterFileOps(), 0);
  SetStopAfterFileOps(saved);
}

// ---------------------------------------------------------------------------------------
// Temporary files

TEST(PlatformMiscTempFile, CreatesDistinctEmptyFilesWithPrefixAndSuffix) {
  TempDir dir;
  std::set<std::string> names;
  for (int i = 0; i < 20; ++i) {
    const std::string path = UniqueTempFile(dir.Path().string(), "kx", ".dbf");
    EXPECT_TRUE(names.insert(path).second) << "repeated name " << path;
    ASSERT_TRUE(fs::is_regular_file(path)) << path;
    EXPECT_EQ(fs::file_size(path), 0u);
    EXPECT_EQ(fs::path(path).parent_path(), dir.Path());
    const std::string name = fs::path(path).filename().string();
    EXPECT_EQ(name.rfind("kx", 0), 0u) << name;
    EXPECT_EQ(fs::path(path).extension(), ".dbf");
    EXPECT_EQ(name.size(), 2u + 6u + 4u) << name;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 20);
}

TEST(PlatformMiscTempFile, WorksWithoutSuffixAndWithTrailingSlash) {
  TempDir dir;
  const std::string path = UniqueTempFile(dir.Path().string() + "/", "tmp");
  EXPECT_TRUE(fs::is_regular_file(path));
  EXPECT_EQ(fs::path(path).parent_path(), dir.Path());
  EXPECT_EQ(fs::path(path).filename().string().size(), 9u);
}

TEST(PlatformMiscTempFile, MissingDirectoryThrows) {
  TempDir dir;
  EXPECT_THROW(UniqueTempFile(dir.File("nodir"), "kx", ".dbf"), std::system_error);
}

// ---------------------------------------------------------------------------------------
// Configuration directory

TEST(PlatformMiscConfigDirectory, HonoursXdgConfigHome) {
  TempDir dir;
  ScopedEnv xdg("XDG_CONFIG_HOME", dir.Path().c_str());
  ScopedEnv home("HOME", "/home/nobody");
  EXPECT_EQ(ConfigDirectory(), dir.Path().string());
}

TEST(PlatformMiscConfigDirectory, FallsBackToHomeConfig) {
  ScopedEnv home("HOME", "/home/someone");
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(ConfigDirectory(), "/home/someone/.config");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "");
    EXPECT_EQ(ConfigDirectory(), "/home/someone/.config");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(ConfigDirectory(), "/home/someone/.config") << "relative paths are ignored";
  }
}

TEST(PlatformMiscConfigDirectory, FallsBackToCurrentDirectoryWithoutHome) {
  ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
  ScopedEnv home("HOME", nullptr);
  EXPECT_EQ(ConfigDirectory(), fs::current_path().string());
}

// ---------------------------------------------------------------------------------------
// Sleep

TEST(PlatformSync, SleepMsWaitsAtLeastTheGivenTime) {
  const auto start = std::chrono::steady_clock::now();
  SleepMs(20);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
  SleepMs(0);
}

TEST(PlatformSync, RecursiveMutexIsReentrant) {
  RecursiveMutex mutex;
  RecursiveLock outer(mutex);
  RecursiveLock inner(mutex);
  std::thread([&mutex] { EXPECT_FALSE(mutex.try_lock()); }).join();
}

}  // namespace
