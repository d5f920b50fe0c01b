// Path services: canonical absolute names, companion-file lookup, name parts.
#pragma once

#include <optional>
#include <string>

namespace tolvern::platform {

// The absolute, normalised form of `path` with symbolic links resolved as far as the
// path exists. Two names denote the same file when their canonical paths are equal.
// The case of every component is kept; there is no trailing slash. An empty path
// stands for the current directory.
std::string CanonicalPath(const std::string& path);

// Absolute form of `path` relative to the current directory, lexically normalised
// ("." and ".." removed, no trailing slash), without touching the file system beyond
// getcwd. Symbolic links are not resolved, so "link/.." becomes the link's directory.
std::string AbsolutePath(const std::string& path);

// Finds `fileName` (a bare name) in `directory`: the exact name first, otherwise the one
// entry whose name equals it ignoring ASCII case. Answers the full path, or nothing.
// When several entries match ignoring case and none exactly, the first in name order wins.
// Directories are not taken; an empty `directory` is the current one; a missing or
// unreadable directory answers nothing.
std::optional<std::string> FindCompanion(const std::string& directory,
                                         const std::string& fileName);

// Directory part of `path` ("." when there is none), without a trailing slash ("/" for
// a file in the root).
std::string DirectoryOf(const std::string& path);
// File-name part of `path`.
std::string FileNameOf(const std::string& path);
// Extension of the file-name part, with its dot (".dbf"), or empty. A dot that starts
// the name (".hidden") starts no extension; "name." has the extension ".".
std::string ExtensionOf(const std::string& path);
// `path` with the extension of its file-name part replaced by `newExt` (with dot; one
// is added when missing). An empty `newExt` removes the extension.
std::string ReplaceExtension(const std::string& path, const std::string& newExt);

// A companion extension written in the case of the table's own extension:
// (".dbf", ".fpt") -> ".fpt", (".DBF", ".fpt") -> ".FPT". Mixed or missing case
// takes `ext` as given.
std::string MatchExtensionCase(const std::string& tableExt, const std::string& ext);

}  // namespace tolvern::platform
