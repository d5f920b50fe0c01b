// Small text and name helpers shared by the storage classes.
#pragma once

#include <string>
#include <string_view>

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
// A number as text with "." as separator: integral values below 10^15 without a fraction,
// others in the shortest form that reads back as the same value; empty when not finite.
std::string NumberToText(double value);
// Parses a whole decimal number (no blanks) with "." as separator whatever the
// locale: an optional sign, digits with an
// optional fraction, an optional exponent (e or E). Values beyond the double range become
// infinite (or 0). False when the text is not such a number in full.
bool ParseDecimalNumber(std::string_view text, double& value);
// strtod with "." as the decimal separator whatever the process locale (out-of-range
// values give infinity or zero as strtod does).
double StrToDoubleC(const char* text, char** end);

}  // namespace tolvern
