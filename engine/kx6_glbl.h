// Process-wide values of the engine. They are meant to be set once, before tables are
// opened, and are not locked.
#pragma once

#include <cstdint>
#include <string>

namespace tolvern {

class TkxDBFDate;
class KXobjFileColl;

// A logical field's character is true when it is one of these, false when one of
// LogicalFalseChars.
extern std::string LogicalTrueChars;   // "TtYyJj"
extern std::string LogicalFalseChars;  // "FfNn"

// Stored after every record buffer, so that an append rewrites the end-of-file mark.
inline constexpr char EOFMark = 0x1A;
// Extension given to a table name that has none.
inline constexpr const char* kDefaultExtension = ".DBF";

// Memo file lock retries: Total / Step attempts, Step milliseconds apart.
extern uint16_t MemoLockWaitTotal;  // 2000
extern uint16_t MemoLockWaitStep;   // 50

// The one date converter of the process (four-digit years on).
TkxDBFDate& GlobalDateConverter();
// The list of every open disk file of the process.
KXobjFileColl& OpenFileList();

}  // namespace tolvern
