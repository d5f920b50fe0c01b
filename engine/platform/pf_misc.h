// Process settings and locations: the short date format, unique temporary files, the
// user configuration directory, the local clock, and the fault-injection hook of tests.
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

// A moment of local time (the system's time zone), to the millisecond.
struct LocalTime {
  int year = 0;    // four digits
  int month = 0;   // 1-12
  int day = 0;     // 1-31
  int hour = 0;    // 0-23
  int minute = 0;  // 0-59
  int second = 0;  // 0-60
  int millisecond = 0;
};

// The local time now, from the installed clock (the system clock unless a test installed
// another). Safe from any thread.
LocalTime LocalNow();

// Replaces the clock LocalNow reads; nullptr puts the system clock back. For tests that
// need a known date in what the engine writes.
using ClockSource = LocalTime (*)();
void SetClockSource(ClockSource source);

// Fault injection for crash tests: the number of file operations of a table replacement
// after which the process ends at once (0: never). Taken from the environment variable
// FENDRAL_STOP_AFTER_FILE_OPS the first time it is asked and kept for the life of the
// process, so that a child process started with the variable set stops where told while
// no step pays for an environment read. SetStopAfterFileOps replaces the value (a test
// sets it directly, or in a child it forks).
long StopAfterFileOps();
void SetStopAfterFileOps(long count);

// Ends the process at once with `code`: no unwinding, no exit handlers, nothing flushed.
[[noreturn]] void ExitAtOnce(int code);

}  // namespace tolvern::platform
