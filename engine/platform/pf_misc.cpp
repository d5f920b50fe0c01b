#include "platform/pf_misc.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

namespace tolvern::platform {

namespace {

std::mutex& DateFormatMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string& DateFormatValue() {
  static std::string format = "MM/DD/YYYY";
  return format;
}

}  // namespace

std::string ShortDateFormat() {
  std::lock_guard<std::mutex> guard(DateFormatMutex());
  return DateFormatValue();
}

void SetShortDateFormat(const std::string& format) {
  std::lock_guard<std::mutex> guard(DateFormatMutex());
  DateFormatValue() = format;
}

std::string UniqueTempFile(const std::string& directory, const std::string& prefix,
                           const std::string& suffix) {
  std::string templ = directory;
  if (!templ.empty() && templ.back() != '/') templ += '/';
  templ += prefix;
  templ += "XXXXXX";
  templ += suffix;
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back('\0');
  const int fd = ::mkostemps(buffer.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
  if (fd < 0) {
    throw std::system_error(errno, std::generic_category(),
                            "cannot create a temporary file in '" + directory + "'");
  }
  ::close(fd);
  return std::string(buffer.data());
}

std::string ConfigDirectory() {
  // The XDG base-directory rules ignore an empty or relative $XDG_CONFIG_HOME.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    return xdg;
  }
  if (const char* home = std::getenv("HOME"); home && home[0] != '\0') {
    std::string dir = home;
    if (dir.back() != '/') dir += '/';
    return dir + ".config";
  }
  std::error_code ec;
  const std::filesystem::path cwd = std::filesystem::current_path(ec);
  return ec ? std::string(".") : cwd.string();
}

namespace {

LocalTime SystemNow() {
  timeval tv{};
  ::gettimeofday(&tv, nullptr);
  std::tm tm{};
  const time_t seconds = tv.tv_sec;
  ::localtime_r(&seconds, &tm);
  return {tm.tm_year + 1900,
          tm.tm_mon + 1,
          tm.tm_mday,
          tm.tm_hour,
          tm.tm_min,
          tm.tm_sec,
          static_cast<int>(tv.tv_usec / 1000)};
}

std::atomic<ClockSource> clockSource{&SystemNow};

// -1 until the environment was read (or a test set the value).
std::atomic<long> stopAfterFileOps{-1};

}  // namespace

LocalTime LocalNow() { return clockSource.load(std::memory_order_acquire)(); }

void SetClockSource(ClockSource source) {
  clockSource.store(source ? source : &SystemNow, std::memory_order_release);
}

long StopAfterFileOps() {
  long value = stopAfterFileOps.load(std::memory_order_relaxed);
  if (value >= 0) return value;
  // Two threads asking first both read the same environment: either store is right.
  const char* text = std::getenv("FENDRAL_STOP_AFTER_FILE_OPS");
  value = text ? std::strtol(text, nullptr, 10) : 0L;
  if (value < 0) value = 0;
  long unread = -1;
  if (!stopAfterFileOps.compare_exchange_strong(unread, value, std::memory_order_relaxed))
    return unread;  // a test set it meanwhile
  return value;
}

void SetStopAfterFileOps(long count) {
  stopAfterFileOps.store(count < 0 ? 0 : count, std::memory_order_relaxed);
}

void ExitAtOnce(int code) { ::_exit(code); }

}  // namespace tolvern::platform
