// fendral-cli info TABLE: the header facts of a table as one JSON object.
#include <cstdio>
#include <string>

#include "cli_common.h"
#include "kx6_DBF.h"
#include "kx6_bytes.h"
#include "platform/pf_text.h"

namespace fendral::cli {

int CmdInfo(const Arguments& args) {
  if (args.positional.size() != 1) throw UsageError{"usage: fendral-cli info TABLE"};
  tolvern::KXO_dBaseDBF table(args.positional[0], false, true);
  table.SetLockProtocol(LockProtocolOption(args));
  const auto& head = table.HeaderImage();
  tolvern::ByteReader reader(head.data(), head.size());
  const std::string encoding = TableEncoding(args, table.CodePageMark());

  char version[8];
  std::snprintf(version, sizeof version, "0x%02X", reader.U8(0));
  const int yy = reader.U8(1);
  const int year = yy >= 80 ? 1900 + yy : 2000 + yy;
  char date[32];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", year, reader.U8(2), reader.U8(3));

  std::string out = "{";
  out += "\"version\": " + JsonString(version);
  out += ", \"records\": " + std::to_string(table.RecordCount());
  out += ", \"header_records\": " + std::to_string(reader.U32LE(4));
  out += ", \"header_length\": " + std::to_string(table.HeaderLength());
  out += ", \"record_length\": " + std::to_string(table.RecordLength());
  out += ", \"last_update\": " + JsonString(date);
  out += ", \"flags\": " + std::to_string(reader.U8(28));
  out += ", \"codepage_mark\": " + std::to_string(reader.U8(29));
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
