// Small text and name helpers shared by the storage classes.
#pragma once

#include <string>

namespace tolvern {

// `name` unchanged when its file-name part has an extension, otherwise name + ext.
std::string ForceExtension(const std::string& name, const std::string& ext);
// The file-name part of `path` without its extension.
std::string NameWithoutExtension(const std::string& path);
// `text` padded with `fill` up to `length` characters (never shortened).
std::string PadRight(std::string text, char fill, size_t length);
// `text` without trailing blanks.
std::string TrimRight(std::string text);
// Leading and trailing blanks removed.
std::string Trim(std::string text);
// System (ANSI code page) upper-casing.
std::string UpperCase(std::string text);
// Case-sensitive and case-insensitive (system casing) three-way compares.
int CompareText(const std::string& a, const std::string& b);
int CompareTextNoCase(const std::string& a, const std::string& b);
// The absolute path of `name` relative to the current directory; case kept.
std::string ExpandPath(const std::string& name);

}  // namespace tolvern
