// What the table check and the repair share: the table's layout read from its raw bytes
// (never trusting the header) and the memo file's layout with each memo's extent. Every
// read is bounds-checked: these work on damaged files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kx6_DBF.h"
#include "platform/pf_file.h"

namespace tolvern::verify {

// The table file as its bytes describe it.
struct TableLayout {
  std::string path;
  int64_t fileSize = 0;
  std::vector<uint8_t> header;  // the 32 header bytes
  uint8_t version = 0;
  int32_t headerLength = 0;
  int32_t recordLength = 0;
  uint32_t headerCount = 0;           // the record count the header states
  int64_t terminatorAt = -1;          // file offset of the descriptors' 0x0D; -1: none found
  int64_t expectedTerminatorAt = -1;  // where it belongs: after the descriptors read
  std::vector<DbfFieldInfo> fields;
  int64_t fullRecords = 0;    // whole records the file holds after the header
  int64_t trailingBytes = 0;  // bytes after the last whole record
  bool eofMark = false;       // a 0x1A after the last whole record
  bool usable = false;        // header and record lengths allow reading records
};

// Reads the layout of `path` through `file`. False (with `why`) when it is no table at all.
bool ReadTableLayout(platform::OsFile& file, const std::string& path, TableLayout& out,
                     std::string& why);

// Whether field `f` of a table of `version` holds a memo block number.
bool IsMemoField(uint8_t version, const DbfFieldInfo& f);

// The memo block number a memo field's bytes hold: 0 none, -1 not a number.
int64_t MemoPointerOf(uint8_t version, const DbfFieldInfo& f, const uint8_t* record);

enum class MemoKind { kNone, kDBase3, kDBase4, kFoxPro };
MemoKind MemoKindOf(const TableLayout& table);
// The memo file of the table (found ignoring case), or empty.
std::string MemoPathOf(const TableLayout& table);

struct MemoLayout {
  MemoKind kind = MemoKind::kNone;
  int64_t fileSize = 0;
  int64_t blockSize = 512;
  int64_t firstDataBlock = 1;
  std::vector<uint8_t> header;  // the first 512 bytes (fewer when the file is shorter)
  bool headerValid = false;
  std::string headerProblem;
};
MemoLayout ReadMemoLayout(platform::OsFile& file, MemoKind kind);

// One memo as its first block describes it.
struct MemoExtent {
  int64_t blocks = 0;      // blocks it occupies
  int64_t dataOffset = 0;  // file offset of its data
  int64_t dataLength = 0;
  uint32_t type = 1;    // FoxPro block type; 1 (text) elsewhere
  std::string problem;  // empty: it can be followed
  std::string code;     // the finding code for `problem`
};
MemoExtent MeasureMemo(platform::OsFile& file, const MemoLayout& memo, int64_t block);

// Reads `length` bytes at `offset`; fewer when the file ends.
std::vector<uint8_t> ReadBytesAt(platform::OsFile& file, int64_t offset, int64_t length);

}  // namespace tolvern::verify
