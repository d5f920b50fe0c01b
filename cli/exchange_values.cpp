#include "exchange_values.h"

#include <cstdio>

#include "cli_values.h"
#include "kx6_Date.h"
#include "kx6_glbl.h"

namespace fendral::cli {

ValueText::ValueText(tolvern::KXO_dBaseFld& table, const TextCodec& codec)
    : table_(table), codec_(codec) {}

void ValueText::Warn(const tolvern::DbfFieldInfo& field, const std::string& what) {
  std::string message = what;
  for (char& c : message)
    if (c == '\r' || c == '\n') c = ' ';
  std::fprintf(stderr, "fendral-cli: warning: record %d field %s: %s\n", table_.CurrentRecord(),
               codec_.ToUtf8(field.name).c_str(), message.c_str());
  clean_ = false;
}

CellKind ValueText::Read(const tolvern::DbfFieldInfo& field, std::string& out) {
  using Kind = tolvern::TkxValueKind;
  out.clear();
  table_.ReadFieldValue(field.number, value_);
  const std::string& text = value_.text;
  switch (value_.kind) {
    case Kind::kNull:
      return CellKind::kNull;
    case Kind::kText:
    case Kind::kRaw:
      out = codec_.ToUtf8(text);
      return CellKind::kText;
    case Kind::kNumber:
      out = text;
      return CellKind::kNumber;
    case Kind::kDate:
      out.append(text, 0, 4);
      out += '-';
      out.append(text, 4, 2);
      out += '-';
      out.append(text, 6, 2);
      return CellKind::kDate;
    case Kind::kLogical:
      out = value_.logical ? "true" : "false";
      return CellKind::kLogical;
    case Kind::kTimestamp: {
      int y = 0, m = 0, d = 0;
      tolvern::GlobalDateConverter().DecodeDay(value_.day, y, m, d);
      const int ms = value_.ms;
      char buf[40];
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", y, m, d, ms / 3600000,
                    ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
      out = buf;
      return CellKind::kTimestamp;
    }
    case Kind::kMemo:
      try {
        if (!table_.ReadMemo(field.number, memo_)) {
          Warn(field, "the table has no memo file");
          return CellKind::kNull;
        }
      } catch (const std::exception& e) {
        Warn(field, e.what());
        return CellKind::kNull;
      }
      if (value_.binaryMemo) {
        out = Base64Encode(std::string(memo_.begin(), memo_.end()));
        return CellKind::kBinary;
      }
      out = codec_.ToUtf8(std::string(memo_.begin(), memo_.end()));
      return CellKind::kText;
    case Kind::kInvalid:
      Warn(field, text.empty() ? std::string(value_.reason)
                               : std::string(value_.reason) + ": " + codec_.ToUtf8(text));
      return CellKind::kNull;
  }
  return CellKind::kNull;
}

}  // namespace fendral::cli
