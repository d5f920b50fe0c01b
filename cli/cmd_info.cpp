// fendral-cli info TABLE: the header facts of a table as one JSON object.
#include <cstdio>
#include <string>

#include "cli_common.h"
#include "kx6_DBF.h"
#include "platform/pf_text.h"

namespace fendral::cli {

int CmdInfo(const Arguments& args) {
  if (args.positional.size() != 1) throw UsageError{"usage: fendral-cli info TABLE"};
  tolvern::KXO_dBaseDBF table(args.positional[0], false, true);
  table.SetLockProtocol(LockProtocolOption(args));
  const std::string encoding = TableEncoding(args, table.CodePageMark());
  const tolvern::KXO_dBaseDBF::HeaderInfo header = table.GetHeaderInfo();

  char version[8];
  std::snprintf(version, sizeof version, "0x%02X", table.Version());
  const int yy = header.date >> 16;
  const int year = yy >= 80 ? 1900 + yy : 2000 + yy;
  char date[32];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", year, (header.date >> 8) & 0xFF,
                header.date & 0xFF);

  std::string out = "{";
  out += "\"version\": " + JsonString(version);
  out += ", \"records\": " + std::to_string(table.RecordCount());
  out += ", \"header_records\": " + std::to_string(table.HeaderRecordCount());
  out += ", \"header_length\": " + std::to_string(table.HeaderLength());
  out += ", \"record_length\": " + std::to_string(table.RecordLength());
  out += ", \"last_update\": " + JsonString(date);
  out += ", \"flags\": " + std::to_string(table.HeaderFlags());
  out += ", \"codepage_mark\": " + std::to_string(table.CodePageMark());
  out += ", \"fields\": [";
  bool first = true;
  for (const auto& field : table.Fields()) {
    if (!first) out += ", ";
    first = false;
    out += "{\"name\": " + JsonString(tolvern::platform::ToUtf8(field.name, encoding));
    out += ", \"type\": " + JsonString(tolvern::platform::ToUtf8(std::string(1, field.type),
                                                                encoding));
    out += ", \"length\": " + std::to_string(field.length);
    out += ", \"decimals\": " + std::to_string(field.decimals);
    out += ", \"offset\": " + std::to_string(field.offset) + "}";
  }
  out += "]}\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}

}  // namespace fendral::cli
