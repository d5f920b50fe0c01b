#include "platform/pf_misc.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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

}  // namespace tolvern::platform
