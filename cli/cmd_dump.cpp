// fendral-cli dump TABLE: every record as one JSON line, in record order.
#include <cmath>
#include <cstdio>
#include <string>

#include "cli_common.h"
#include "cli_values.h"
#include "kx6_eror.h"
#include "kx6_fld.h"
#include "table_open.h"
#include "text_codec.h"

namespace fendral::cli {

namespace {
constexpr int32_t kReadAheadBytes = 256 * 1024;
constexpr size_t kFlushAt = 1024 * 1024;
}  // namespace

int CmdDump(const Arguments& args) {
  if (args.positional.size() != 1)
    throw UsageError{"usage: fendral-cli dump TABLE [--encoding NAME] [--index FILE [--tag NAME]] "
                     "[--filter EXPR] [--hide-deleted]"};
  auto opened = OpenTable(args.positional[0], args, OpenOptions{});
  tolvern::KXO_dBHandler& table = *opened;
  const TextCodec codec(TableEncoding(args, table.CodePageMark()));
  RecordWriter writer(table, codec);
  if (!table.CurrentOrder()) table.SetReadAhead(kReadAheadBytes);

  std::string out;
  out.reserve(kFlushAt + 4096);
  bool damaged = false;
  for (table.GetRecord(tolvern::PosTop); !table.Eof(); table.GetRecord(tolvern::PosNext)) {
    damaged |= !writer.Write(out);
    out += '\n';
    if (out.size() >= kFlushAt) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  return damaged ? 2 : 0;
}

}  // namespace fendral::cli
