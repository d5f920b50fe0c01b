// The engine's error reporting: one replaceable error procedure that turns an error
// triple (code, sub-code, detail text) into an exception.
#pragma once

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace tolvern {

// Every table and file error of the engine.
class ETolvernError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Errors of the expression compiler and evaluator.
class ETolvernExpression : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A run-time error numbered 0-255, raised by the default procedure for a negative
// sub-code other than SubCodeNone. Deliberately not an ETolvernError.
class ERunError : public std::runtime_error {
 public:
  explicit ERunError(int number);
  int Number() const { return number_; }

 private:
  int number_;
};

// Sub-codes: which operation failed.
inline constexpr int32_t SubCodeNone = -7;
inline constexpr int32_t SubReadAt = 1101;
inline constexpr int32_t SubWriteAt = 1102;
inline constexpr int32_t SubFileSize = 1105;
inline constexpr int32_t SubRename = 1106;
inline constexpr int32_t SubOpen = 1107;
inline constexpr int32_t SubCreate = 1108;
inline constexpr int32_t SubTruncate = 1109;
inline constexpr int32_t SubFlush = 1111;
inline constexpr int32_t SubMemoLock = 1112;
inline constexpr int32_t SubTableOpen = 1204;
inline constexpr int32_t SubRecordRead = 1207;
inline constexpr int32_t SubPutDate = 1251;
inline constexpr int32_t SubPutNumber = 1261;
inline constexpr int32_t SubPutLogical = 1262;
inline constexpr int32_t SubFieldName = 1298;
inline constexpr int32_t SubFieldType = 1299;
inline constexpr int32_t SubPack = 2105;
inline constexpr int32_t SubZap = 2106;
inline constexpr int32_t SubIndexTag = 5114;
inline constexpr int32_t SubMemoMissing = 6101;
inline constexpr int32_t SubMemoHeader = 6199;

// Engine error codes (besides the operating system's numbers of the table).
inline constexpr int32_t ErrFileNotFound = 2;
inline constexpr int32_t ErrAccessDenied = 5;
inline constexpr int32_t ErrInvalidAccess = 12;
inline constexpr int32_t ErrInUse = 32;  // another program holds the file (share mode)
inline constexpr int32_t ErrLocked = 33;
inline constexpr int32_t ErrNotAssigned = 102;
inline constexpr int32_t ErrShortRead = 221;
inline constexpr int32_t ErrHeaderInvalid = 1001;
inline constexpr int32_t ErrBeyondEof = 1002;
inline constexpr int32_t ErrFieldName = 1003;
inline constexpr int32_t ErrFieldType = 1004;
inline constexpr int32_t ErrMemoFormat = 1005;
inline constexpr int32_t ErrFormula = 1006;
inline constexpr int32_t ErrNumberTooLarge = 1011;
inline constexpr int32_t ErrNoCounterpart = 1020;    // a character the target code page lacks
inline constexpr int32_t ErrCannotReplace = 1021;    // a table replacement refused
inline constexpr int32_t ErrReplaceUnfinished = 1022;  // a journal that could not be finished
inline constexpr int32_t ErrTableKind = 1023;  // a table of a kind the engine does not read

using ErrorProcType = void (*)(int32_t code, int32_t subCode, const char* info);

// Holds the error procedure: called like the procedure, assigned a new one and read back
// like a procedure pointer. Installing and calling may happen on different threads (the
// procedure itself must then be safe to run on any thread).
class TkxErrorProcVar {
 public:
  explicit constexpr TkxErrorProcVar(ErrorProcType proc) : proc_(proc) {}
  TkxErrorProcVar(const TkxErrorProcVar&) = delete;
  TkxErrorProcVar& operator=(const TkxErrorProcVar&) = delete;

  TkxErrorProcVar& operator=(ErrorProcType proc) {
    proc_.store(proc, std::memory_order_release);
    return *this;
  }
  operator ErrorProcType() const { return proc_.load(std::memory_order_acquire); }
  void operator()(int32_t code, int32_t subCode, const char* info) const {
    proc_.load(std::memory_order_acquire)(code, subCode, info);
  }

 private:
  std::atomic<ErrorProcType> proc_;
};

// The process-wide error procedure; DefaultErrorProc unless an application installs
// its own. One for every thread: install it before tables are opened.
extern TkxErrorProcVar EngineErrorProc;

// Always throws: ERunError for a negative sub-code other than SubCodeNone, otherwise
// ETolvernError with the message of EngineErrorMessage.
[[noreturn]] void DefaultErrorProc(int32_t code, int32_t subCode, const char* info);

// The message the default procedure raises for a triple (info may be null).
std::string EngineErrorMessage(int32_t code, int32_t subCode, const char* info);

// The table text of a code, or nullptr when the code is not in the table.
const char* EngineErrorText(int32_t code);

// Calls EngineErrorProc. Convenience for code that is not a file object.
void RaiseEngineError(int32_t code, int32_t subCode, const std::string& info);

}  // namespace tolvern
