// 8-bit text services: OEM <-> ANSI code-page conversion, the ANSI code page's
// upper/lower-case tables, and general conversion to and from UTF-8.
//
// The OEM/ANSI pair is process-wide (default CP866/CP1251) and meant to be set once
// before tables are opened. Tables are built once per setting through iconv; bytes
// with no counterpart in the other code page are left unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tolvern::platform {

// Sets the pair by iconv names ("CP866", "CP1251"). Answers false, keeping the old pair,
// when iconv does not know either name.
bool SetCodePages(const std::string& oem, const std::string& ansi);
std::string OemCodePage();
std::string AnsiCodePage();

// In-place byte-for-byte conversion of `length` bytes.
void OemToAnsi(char* text, size_t length);
void AnsiToOem(char* text, size_t length);
std::string OemToAnsi(std::string text);
std::string AnsiToOem(std::string text);

// Upper/lower casing of single bytes in the ANSI code page (ASCII letters always).
unsigned char AnsiUpper(unsigned char c);
unsigned char AnsiLower(unsigned char c);
void AnsiUpperInPlace(char* text, size_t length);
void AnsiLowerInPlace(char* text, size_t length);
std::string AnsiUpper(std::string text);
std::string AnsiLower(std::string text);

// Converts `bytes` from the iconv code page `from` to UTF-8. Bytes that cannot be
// converted become U+FFFD. Throws std::invalid_argument when iconv does not know `from`.
std::string ToUtf8(const std::string& bytes, const std::string& from);
// Converts UTF-8 `text` to code page `to`. Answers false when a character has no
// counterpart (out is then unspecified). Throws std::invalid_argument for an unknown name.
bool FromUtf8(const std::string& text, const std::string& to, std::string& out);
// True when iconv knows the code page name.
bool IsKnownCodePage(const std::string& name);

}  // namespace tolvern::platform
