#include "platform/pf_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>

namespace tolvern::platform {

namespace fs = std::filesystem;

namespace {

// Drops trailing slashes, except the one of the root.
std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsIgnoringAsciiCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size(); ++i) {
    if (b[i] == '\0' || AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return b[i] == '\0';
}

std::string Join(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  if (directory.back() == '/') return directory + name;
  return directory + '/' + name;
}

// An existing entry that is not a directory (links followed).
bool IsFileEntry(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// Position of the extension's dot in the file-name part, or npos. A leading dot
// (".profile") starts no extension, nor do the names "." and "..".
size_t ExtensionPos(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || dot <= nameStart) return std::string::npos;
  if (path.compare(nameStart, std::string::npos, "..") == 0) return std::string::npos;
  return dot;
}

}  // namespace

std::string CanonicalPath(const std::string& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(path.empty() ? fs::path(".") : fs::path(path), ec);
  if (ec) return AbsolutePath(path);
  // weakly_canonical resolves the existing leading part through realpath (symbolic links
  // and ".." in their true order) and normalises the rest lexically.
  const fs::path canonical = fs::weakly_canonical(absolute, ec);
  if (ec) return AbsolutePath(path);
  return WithoutTrailingSlash(canonical.string());
}

std::string AbsolutePath(const std::string& path) {
  fs::path p(path.empty() ? "." : path);
  if (!p.is_absolute()) {
    std::error_code ec;
    const fs::path cwd = fs::current_path(ec);
    if (!ec) p = cwd / p;
  }
  return WithoutTrailingSlash(p.lexically_normal().string());
}

std::optional<std::string> FindCompanion(const std::string& directory,
                                         const std::string& fileName) {
  if (fileName.empty()) return std::nullopt;
  const std::string exact = Join(directory, fileName);
  if (IsFileEntry(exact)) return exact;
  if (fileName.find('/') != std::string::npos) return std::nullopt;

  std::unique_ptr<DIR, DirCloser> dir(::opendir(directory.empty() ? "." : directory.c_str()));
  if (!dir) return std::nullopt;
  std::optional<std::string> best;
  while (const dirent* entry = ::readdir(dir.get())) {
    if (!EqualsIgnoringAsciiCase(fileName, entry->d_name)) continue;
    const std::string name = entry->d_name;
    if (best && name >= *best) continue;
    if (IsFileEntry(Join(directory, name))) best = name;
  }
  if (!best) return std::nullopt;
  return Join(directory, *best);
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  // "a//b" -> "a"; "/b" and "//b" -> "/".
  size_t end = slash;
  while (end > 0 && path[end - 1] == '/') --end;
  if (end == 0) return "/";
  return path.substr(0, end);
}

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtensionOf(const std::string& path) {
  const size_t dot = ExtensionPos(path);
  return dot == std::string::npos ? std::string() : path.substr(dot);
}

std::string ReplaceExtension(const std::string& path, const std::string& newExt) {
  const size_t dot = ExtensionPos(path);
  std::string result = dot == std::string::npos ? path : path.substr(0, dot);
  if (!newExt.empty() && newExt.front() != '.') result += '.';
  return result + newExt;
}

std::string MatchExtensionCase(const std::string& tableExt, const std::string& ext) {
  bool anyUpper = false;
  bool anyLower = false;
  for (const char c : tableExt) {
    if (c >= 'A' && c <= 'Z') anyUpper = true;
    if (c >= 'a' && c <= 'z') anyLower = true;
  }
  if (anyUpper == anyLower) return ext;  // Mixed, or no letters at all.
  std::string result = ext;
  for (char& c : result) c = anyUpper ? AsciiUpper(c) : AsciiLower(c);
  return result;
}

}  // namespace tolvern::platform
