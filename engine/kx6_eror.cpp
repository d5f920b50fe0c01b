#include "kx6_eror.h"

#include <array>
#include <string>

namespace tolvern {

namespace {

struct ErrorEntry {
  int32_t code;
  const char* text;
};

constexpr std::array<ErrorEntry, 30> kErrorTable{{
    {2, "File not found"},
    {3, "Path not found"},
    {4, "Too many open files"},
    {5, "File access denied"},
    {12, "Invalid file access code"},
    {15, "Invalid drive number"},
    {32, "File access denied"},
    {33, "Record locked by another user"},
    {100, "Disk read error"},
    {101, "Disk write error"},
    {102, "File not assigned"},
    {103, "File not open"},
    {104, "File not open for input"},
    {105, "File not open for output"},
    {106, "Invalid numeric format"},
    {150, "Disk is write-protected"},
    {152, "Drive not ready"},
    {162, "Hardware failure"},
    {183, "File already exists"},
    {1001, "dBase DBF file header invalid"},
    {1002, "dBase record request beyond EOF"},
    {1003, "dBase field name is invalid"},
    {1004, "dBase field is of incorrect type"},
    {1005, "dBase memo record has format error"},
    {1006, "Formula expression cannot be translated"},
    {1011, "Number too large to fit in field"},
    {1020, "Character not in target code page"},
    {1021, "Table cannot be replaced"},
    {1022, "Unfinished table replacement"},
    {1023, "Table kind not supported"},
}};

// A table text joined with its separator is held to this many characters.
constexpr size_t kTableTextCap = 43;

}  // namespace

ERunError::ERunError(int number)
    : std::runtime_error("Runtime error " + std::to_string(number)), number_(number) {}

constinit TkxErrorProcVar EngineErrorProc{&DefaultErrorProc};

const char* EngineErrorText(int32_t code) {
  for (const auto& entry : kErrorTable) {
    if (entry.code == code) return entry.text;
  }
  return nullptr;
}

std::string EngineErrorMessage(int32_t code, int32_t subCode, const char* info) {
  const std::string detail = info ? info : "";
  if (const char* text = EngineErrorText(code)) {
    std::string head = std::string(text) + " - ";
    if (head.size() > kTableTextCap) head.resize(kTableTextCap);
    return head + detail;
  }
  std::string message = "Tolvern Error " + std::to_string(code);
  if (subCode != SubCodeNone) message += ", SubCode " + std::to_string(subCode);
  message += ".\r";
  if (!detail.empty()) message += " " + detail + ">" + std::to_string(subCode);
  return message;
}

void DefaultErrorProc(int32_t code, int32_t subCode, const char* info) {
  if (subCode < 0 && subCode != SubCodeNone) {
    throw ERunError(static_cast<int>(code & 0xFF));
  }
  throw ETolvernError(EngineErrorMessage(code, subCode, info));
}

void RaiseEngineError(int32_t code, int32_t subCode, const std::string& info) {
  EngineErrorProc(code, subCode, info.c_str());
}

}  // namespace tolvern
