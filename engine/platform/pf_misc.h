// Process settings and locations: the short date format, unique temporary files, the
// user configuration directory.
#pragma once

#include <string>

namespace tolvern::platform {

// The short date format, made of the letters D, M and Y (for example "MM/DD/YYYY",
// "DD.MM.YYYY", "YYYY-MM-DD") and separators. Default "MM/DD/YYYY". Process-wide.
std::string ShortDateFormat();
void SetShortDateFormat(const std::string& format);

// Creates a new, empty file with a unique name in `directory` (mkstemp) whose name
// starts with `prefix` and ends with `suffix`, and answers its path (`directory` joined
// with the name; an empty `directory` is the current one). The file is closed again and
// stays for the caller to use or remove. Throws std::system_error when the directory
// cannot take it.
std::string UniqueTempFile(const std::string& directory, const std::string& prefix,
                           const std::string& suffix = "");

// $XDG_CONFIG_HOME, else $HOME/.config, else the current directory. An empty or
// relative $XDG_CONFIG_HOME is ignored (XDG base-directory rules). Nothing is created.
std::string ConfigDirectory();

}  // namespace tolvern::platform
