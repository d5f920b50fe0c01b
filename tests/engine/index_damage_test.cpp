// Damaged index files: every byte of real NDX and NTX files (headers whole, pages in a
// stride) overwritten in turn never crashes or hangs the engine. Opening, walking, seeking
// and adding a key either work or end in the engine's error; a walk never runs beyond the
// number of entries the file could hold.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "kx6_Date.h"
#include "kx6_eror.h"
#include "kx6_fld.h"
#include "kx6_indx.h"
#include "kx6_ndx.h"
#include "kx6_ntx.h"
#include "test_support.h"

namespace tolvern {
namespace {

namespace fs = std::filesystem;
using fendral::test::FixturesDir;
using fendral::test::ReadBytes;
using fendral::test::TempDir;
using fendral::test::WriteBytes;

struct Subject {
  const char* index;
  const char* table;
  size_t header;  // bytes damaged one by one
  size_t stride;  // then every stride-th byte
};

// Opens the damaged copy, walks it, seeks and (on a writable copy) adds a key. Answers
// what ended the attempt: "" for success, else the error text.
std::string Exercise(KXO_dBaseFld& table, const std::string& path, bool ntx, bool write) {
  try {
    std::unique_ptr<KXobjIndexFile> file;
    if (ntx) {
      file = std::make_unique<KXobjNTXFile>(&table, path, false, false, write, false);
    } else {
      file = std::make_unique<KXobjNDXFile>(&table, path, false, false, write, false);
    }
    KXobjIndexTag* tag = file->TagAt(0);
    if (!tag) return "no tag";
    const int64_t limit = static_cast<int64_t>(fs::file_size(path)) / 8 + 16;
    int64_t steps = 0;
    for (tag->Goto(PosTop); !tag->Eof() && steps < limit; tag->Goto(PosNext)) ++steps;
    for (tag->Goto(PosBottom); !tag->Bof() && steps < 2 * limit; tag->Goto(PosPrior)) ++steps;
    KXobjIndexKeyData key(256);
    key.SetText("M");
    key.SetReference(kSearchAnyRecord);
    tag->Seek(key);
    if (write && tag->Maintainable()) {
      key.SetReference(1);
      tag->KeyAdd(key);
      tag->FreePath();
    }
    return "";
  } catch (const ETolvernError& e) {
    return e.what();
  } catch (const ETolvernExpression& e) {
    return e.what();
  } catch (const EConvertError& e) {
    return e.what();
  }
}

class IndexDamage : public testing::TestWithParam<Subject> {};

TEST_P(IndexDamage, EveryDamagedByteEndsInSuccessOrTheEnginesError) {
  REQUIRE_SHARED();
  const Subject s = GetParam();
  const fs::path source = FixturesDir() / s.index;
  KXO_dBaseFld table((FixturesDir() / s.table).string(), false, true);
  const std::vector<uint8_t> original = ReadBytes(source);
  const bool ntx = source.extension() == ".ntx" || source.extension() == ".NTX";
  TempDir dir;
  // Read cases patch one byte of a copy in place (rewriting whole files is slow on some
  // file systems); write cases get a fresh copy of their own.
  const fs::path copy = dir.Path() / source.filename();
  WriteBytes(copy, original);
  std::fstream patch(copy, std::ios::binary | std::ios::in | std::ios::out);
  auto put = [&patch](size_t offset, uint8_t value) {
    patch.seekp(static_cast<std::streamoff>(offset));
    patch.put(static_cast<char>(value));
    patch.flush();
  };
  int attempts = 0, refused = 0;
  for (size_t offset = 0; offset < original.size(); offset += offset < s.header ? 1 : s.stride) {
    for (const uint8_t pattern : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t(original[offset] ^ 0x5A)}) {
      std::string outcome;
      // Writing is tried on every seventh case: stores on damaged pages must stay safe too.
      if (attempts % 7 == 0) {
        std::vector<uint8_t> damaged = original;
        damaged[offset] = pattern;
        const fs::path writable =
            dir.Path() / (std::to_string(attempts) + source.extension().string());
        WriteBytes(writable, damaged);
        outcome = Exercise(table, writable.string(), ntx, true);
        fs::remove(writable);
      } else {
        put(offset, pattern);
        outcome = Exercise(table, copy.string(), ntx, false);
        put(offset, original[offset]);
      }
      ++attempts;
      if (!outcome.empty()) ++refused;
    }
  }
  // The damage was seen: some cases were refused, most bytes of the file were tried.
  EXPECT_GT(refused, 0);
  EXPECT_GT(attempts, static_cast<int>(original.size() / s.stride));
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, IndexDamage,
    testing::Values(Subject{"dbd-xbase/ndx-char.ndx", "dbd-xbase/ndx-char.dbf", 512, 1},
                    Subject{"dbd-xbase/ndx-num.ndx", "dbd-xbase/ndx-num.dbf", 512, 5},
                    Subject{"peer-harbour/clip_name.ntx", "peer-harbour/clip.dbf", 1024, 3},
                    Subject{"peer-harbour/clip_amtd.ntx", "peer-harbour/clip.dbf", 1024, 7},
                    Subject{"xsharp/Samples/BYOR/CUSTNAME.NTX", "xsharp/Samples/BYOR/customer.dbf",
                            1024, 1}),
    [](const testing::TestParamInfo<Subject>& info) {
      std::string name = fs::path(info.param.index).stem().string();
      for (char& c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

}  // namespace
}  // namespace tolvern
