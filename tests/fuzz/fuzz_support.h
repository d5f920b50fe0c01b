// What the fuzz targets share: one scratch directory per process (removed at exit), writing
// input bytes to a file there, and the drivers of the memo and index targets.
//
// A driver feeds the bytes to the engine as a file and works it the way the program does:
// open, read everything there is to read, then change it. The engine may answer with its
// own errors (ETolvernError, ETolvernExpression, and EConvertError from field text
// conversions); anything else escaping, a crash, a hang, a leak or a sanitizer report is a
// finding.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "kx6_Date.h"
#include "kx6_build.h"
#include "kx6_cdx.h"
#include "kx6_dbsy.h"
#include "kx6_eror.h"
#include "kx6_fld.h"
#include "kx6_indx.h"
#include "kx6_mdx.h"
#include "kx6_memo.h"
#include "kx6_ndx.h"
#include "kx6_ntx.h"
#include "kx6_verify_index.h"

namespace fuzz {

// The process's scratch directory; every file a target writes lives in it.
inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    char templ[] = "/tmp/fendral-fuzz-XXXXXX";
    const char* made = mkdtemp(templ);
    if (!made) {
      std::perror("mkdtemp");
      std::abort();
    }
    std::string path(made);
    static std::string removeAtExit;
    removeAtExit = path;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(removeAtExit, ignored);
    });
    return path;
  }();
  return dir;
}

inline void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();  // the scratch directory is ours: failing to write is a harness fault
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return bytes;
  uint8_t chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  return bytes;
}

// Runs `step`, swallowing the engine's own errors: later steps still run on the objects an
// earlier failure left behind, as the program goes on after showing an error.
template <class Step>
void EngineStep(Step&& step) {
  try {
    step();
  } catch (const tolvern::ETolvernError&) {
  } catch (const tolvern::ETolvernExpression&) {
  } catch (const tolvern::EConvertError&) {
  }
}

// ---------------------------------------------------------------------------------------
// Memo files: the input is the memo file. Every memo a table could point at in the first
// blocks (and at two block numbers taken from the input's last bytes) is measured and
// read; then a memo is rewritten in place, one is added and one is given back.

template <class Memo>
void ExerciseMemo(const uint8_t* data, size_t size, uint8_t version, const char* name) {
  const std::string path = ScratchDir() + "/" + name;
  WriteFile(path, data, size);
  std::vector<int32_t> blocks;
  for (int32_t b = 0; b < 24; ++b) blocks.push_back(b);
  if (size >= 8) {
    for (size_t at : {size - 8, size - 4}) {
      blocks.push_back(static_cast<int32_t>(data[at] | (data[at + 1] << 8) | (data[at + 2] << 16) |
                                            (static_cast<uint32_t>(data[at + 3]) << 24)));
    }
  }
  EngineStep([&] {
    Memo memo(nullptr, version, true, false, path);
    int32_t readable = 0;
    for (int32_t block : blocks) {
      EngineStep([&] {
        memo.MemoDataLength(block);
        if (!memo.MemoRead(block, 1 << 20).empty() && readable == 0) readable = block;
      });
    }
    const std::string small(40, 'a');
    // A length from the input, so that writes meet every block boundary.
    const size_t largeSize = size >= 2 ? ((data[0] << 8) | data[1]) % 6000 + 1 : 1500;
    const std::string large(largeSize, 'b');
    EngineStep([&] {
      const int32_t again =
          memo.MemoWrite(reinterpret_cast<const uint8_t*>(small.data()), small.size(), readable);
      memo.MemoRead(again, 1 << 20);
    });
    EngineStep([&] {
      const int32_t added =
          memo.MemoWrite(reinterpret_cast<const uint8_t*>(large.data()), large.size(), 0);
      memo.MemoRead(added, 1 << 20);
      memo.FreeMemo(readable);
      const int32_t reused =
          memo.MemoWrite(reinterpret_cast<const uint8_t*>(small.data()), small.size(), 0);
      memo.MemoRead(reused, 1 << 20);
      // Cutting the file back to the added memo (FoxPro files) leaves it unreadable.
      memo.SetNextFreeBlock(added);
      memo.MemoRead(added, 1 << 20);
      memo.MemoRead(reused, 1 << 20);
    });
  });
}

// ---------------------------------------------------------------------------------------
// Index files: the input is [table length, 2 bytes little-endian][table][index file]. A
// table that is empty or cannot be opened is replaced by a small valid one (fields NAME C10,
// AMOUNT N8.2, BORN D8, OK L1; three records), so damaged indexes are still reached.

enum class IndexFormat { kNdx, kNtx, kCdx, kMdx };

// The bytes of the small valid table, built once.
inline const std::vector<uint8_t>& FallbackTable() {
  static const std::vector<uint8_t> bytes = [] {
    const std::string dir = ScratchDir() + "/fallback";
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/t.dbf";
    {
      tolvern::KXO_DBFBuild builder(path);
      builder.AddField("NAME", 'C', 10, 0);
      builder.AddField("AMOUNT", 'N', 8, 2);
      builder.AddField("BORN", 'D', 8, 0);
      builder.AddField("OK", 'L', 1, 0);
      builder.WriteTable();
    }
    {
      tolvern::KXO_dBaseFld t(path, true, false);
      const char* names[] = {"SMITH", "ADAMS", "MILLER"};
      const char* born[] = {"19800101", "19751224", "20010704"};
      for (int i = 0; i < 3; ++i) {
        t.BlankRecord();
        t.PutFieldByName("NAME", names[i]);
        t.PutNumberByName("AMOUNT", 12.5 * (i + 1));
        t.PutFieldByName("BORN", born[i]);
        t.PutFieldByName("OK", i % 2 ? "T" : "F");
        t.AppendRecord();
      }
    }
    std::vector<uint8_t> read = ReadFile(path);
    std::filesystem::remove_all(dir);
    return read;
  }();
  return bytes;
}

inline std::unique_ptr<tolvern::KXobjIndexFile> OpenIndexFile(IndexFormat format,
                                                              tolvern::KXO_dBaseFld* table,
                                                              const std::string& path) {
  switch (format) {
    case IndexFormat::kNdx:
      return std::make_unique<tolvern::KXobjNDXFile>(table, path, false, false, true, false);
    case IndexFormat::kNtx:
      return std::make_unique<tolvern::KXobjNTXFile>(table, path, false, false, true, false);
    case IndexFormat::kCdx:
      return std::make_unique<tolvern::KXobjCDXFile>(table, path, false, false, true, false);
    case IndexFormat::kMdx:
      return std::make_unique<tolvern::KXobjMDXFile>(table, path, false, false, true, false);
  }
  return nullptr;
}

// Walks, seeks and ranges one tag. A walk that runs on past the number of entries the file
// could hold stops (a loop the engine did not catch shows as a timeout in the fuzzer only
// when it never ends; the cap keeps damaged-but-finite orders fast).
inline void ReadTag(tolvern::KXobjIndexTag& tag, int64_t fileSize) {
  using namespace tolvern;
  const int64_t limit = fileSize / 2 + 16;
  KXobjIndexKeyData first(256);
  KXobjIndexKeyData last(256);
  bool haveKeys = false;
  EngineStep([&] {
    int64_t steps = 0;
    for (tag.Goto(PosTop); !tag.Eof() && steps < limit; tag.Goto(PosNext), ++steps) {
      if (steps == 0) {
        first = tag.CurrentKey();
        haveKeys = true;
      }
      last = tag.CurrentKey();
    }
  });
  EngineStep([&] {
    int64_t steps = 0;
    for (tag.Goto(PosBottom); !tag.Bof() && steps < limit; tag.Goto(PosPrior), ++steps) {
    }
  });
  EngineStep([&] {
    KXobjIndexKeyData key(256);
    key.SetText("M");
    key.SetReference(kSearchAnyRecord);
    tag.Seek(key);
    tag.Goto(PosNext);
    tag.Goto(PosPrior);
    if (haveKeys) {
      KXobjIndexKeyData exact = last;
      exact.SetReference(kSearchAnyRecord);
      tag.SeekKeep(exact);
      tag.Seek(exact);
    }
  });
  if (haveKeys) {
    EngineStep([&] {
      int64_t steps = 0;
      for (tag.SetRange(first, true, last, true); !tag.Eof() && steps < limit;
           tag.Goto(PosNext), ++steps) {
      }
      tag.ClearRange();
    });
  }
  EngineStep([&] { tag.FreePath(); });
}

inline void ExerciseIndex(const uint8_t* data, size_t size, IndexFormat format) {
  using namespace tolvern;
  if (size < 2) return;
  const size_t tableSize = std::min<size_t>(size - 2, data[0] | (data[1] << 8));
  const std::string dir = ScratchDir();
  const std::string tablePath = dir + "/t.dbf";
  static const char* const kExtensions[] = {"/t.ndx", "/t.ntx", "/t.cdx", "/t.mdx"};
  const std::string indexPath = dir + kExtensions[static_cast<int>(format)];
  const uint8_t* index = data + 2 + tableSize;
  const size_t indexSize = size - 2 - tableSize;
  WriteFile(indexPath, index, indexSize);

  std::unique_ptr<KXO_dBaseFld> table;
  if (tableSize > 0) {
    WriteFile(tablePath, data + 2, tableSize);
    EngineStep([&] { table = std::make_unique<KXO_dBaseFld>(tablePath, true, false); });
  }
  if (!table) {
    const std::vector<uint8_t>& fallback = FallbackTable();
    WriteFile(tablePath, fallback.data(), fallback.size());
    table = std::make_unique<KXO_dBaseFld>(tablePath, true, false);
  }

  // The table doctor's check of the index file and its definitions read back, before
  // anything is changed. Only the engine's own errors may escape; the check reports damage
  // as findings.
  EngineStep([&] {
    KXO_dBHandler reader(tablePath, false, true);
    reader.CloseAllIndexes();
    size_t findings = 0;
    VerifyIndexFile(reader, indexPath, [&](const TkxFinding&) { ++findings; }, nullptr);
  });
  EngineStep([&] { ReadIndexDefinitions(indexPath); });

  EngineStep([&] {
    std::unique_ptr<KXobjIndexFile> file = OpenIndexFile(format, table.get(), indexPath);
    if (!file->Opened()) return;
    const int tags = std::min(file->TagCount(), 6);
    for (int i = 0; i < tags; ++i) {
      if (KXobjIndexTag* tag = file->TagAt(i)) ReadTag(*tag, static_cast<int64_t>(indexSize));
    }

    // Changes: a copy of the first record appended and indexed, the first record
    // rewritten with the last one's values (its keys move), the first key of each tag
    // deleted and added back.
    const bool smallTable = table->RecordCount() <= 2000;
    if (smallTable && table->RecordCount() > 0) {
      EngineStep([&] {
        table->GetRecord(1);
        table->AppendRecord();
        file->KeyUpdateAll(table->RecordCount(), true);
      });
      EngineStep([&] {
        std::vector<std::string> values;
        table->GetRecord(table->RecordCount() > 1 ? table->RecordCount() - 1 : 1);
        for (int32_t f = 1; f <= table->FieldCount(); ++f) values.push_back(table->GetField(f));
        table->GetRecord(1);
        for (int32_t f = 1; f <= table->FieldCount(); ++f) table->PutField(f, values[f - 1]);
        file->KeyUpdateAll(1, false);
        table->PutRecord(1);
      });
    }
    for (int i = 0; i < std::min(file->TagCount(), 6); ++i) {
      EngineStep([&] {
        KXobjIndexTag* tag = file->TagAt(i);
        if (!tag || !tag->Maintainable()) return;
        tag->Goto(PosTop);
        if (tag->Eof()) return;
        KXobjIndexKeyData key = tag->CurrentKey();
        tag->DeleteCurrentKey();
        tag->KeyAdd(key);
        tag->FreePath();
        ReadTag(*tag, static_cast<int64_t>(indexSize));
      });
    }
    // Multi-tag files: one tag dropped, one built from the table.
    if ((format == IndexFormat::kCdx || format == IndexFormat::kMdx) && smallTable) {
      EngineStep([&] {
        if (file->TagCount() > 0) file->TagDelete(file->TagAt(0)->TagName());
      });
      EngineStep([&] {
        if (table->FieldCount() == 0) return;
        file->TagAdd("FUZZ", table->Fields()[0].name, "", true, false);
        if (KXobjIndexTag* tag = file->TagByName("FUZZ"))
          ReadTag(*tag, static_cast<int64_t>(indexSize) + 4096);
      });
    }
    // The whole file rebuilt from its definitions.
    if (table->RecordCount() <= 200) {
      EngineStep([&] {
        file->Reindex();
        if (file->TagCount() > 0) ReadTag(*file->TagAt(0), file->Disk()->FileSize());
      });
    }
  });
}

}  // namespace fuzz
