// fendral-cli eval TABLE EXPR: the value of an expression for every record, in record
// order (deleted records included), one JSON line each.
#include <cmath>
#include <cstdio>
#include <string>

#include "cli_common.h"
#include "kx6_Date.h"
#include "kx6_eror.h"
#include "kx6_fld.h"
#include "kx6_glbl.h"
#include "kx6_sql.h"
#include "text_codec.h"

namespace fendral::cli {

namespace {

constexpr int32_t kReadAheadBytes = 256 * 1024;
constexpr size_t kFlushAt = 64 * 1024;

// "YYYY-MM-DD", or null for "no date" (the empty date, day numbers of 0 or less and
// days outside the calendar).
std::string JsonDate(double day) {
  if (!(day > 0) || day >= tolvern::kEmptyDate || day > 2147483647.0) return "null";
  int year = 0, month = 0, dayOfMonth = 0;
  tolvern::GlobalDateConverter().DecodeDay(static_cast<int32_t>(day), year, month, dayOfMonth);
  if (year == 0) return "null";
  char text[16];
  std::snprintf(text, sizeof text, "\"%04d-%02d-%02d\"", year, month, dayOfMonth);
  return text;
}

void Flush(std::string& out) {
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  out.clear();
}

}  // namespace

int CmdEval(const Arguments& args) {
  if (args.positional.size() != 2)
    throw UsageError{"usage: fendral-cli eval TABLE EXPR [--encoding NAME]"};
  tolvern::KXO_dBaseFld table(args.positional[0], false, true);
  table.SetLockProtocol(LockProtocolOption(args));
  const TextCodec codec(TableEncoding(args, table.CodePageMark()));

  // Literals in the expression are compared with table text: bring them into its code page.
  std::string source;
  if (!codec.FromUtf8(args.positional[1], source))
    throw UsageError{"the expression has characters that code page " + codec.CodePage() +
                     " cannot hold"};
  tolvern::TkxExpHandler expression(table.ExpressionLink(), source);
  if (!expression.HasRoot()) throw UsageError{"the expression is empty"};

  table.SetReadAhead(kReadAheadBytes);
  std::string out;
  out.reserve(kFlushAt + 4096);
  tolvern::TkxExpValue value;
  for (table.GetRecord(tolvern::PosTop); !table.Eof(); table.GetRecord(tolvern::PosNext)) {
    try {
      expression.EvaluateToBuffer(value);
    } catch (...) {
      Flush(out);  // the records before the failing one keep their lines
      throw;
    }
    std::string line = "{\"recno\": " + std::to_string(table.CurrentRecord());
    switch (value.type) {
      case tolvern::kExpChar:
        line += ", \"type\": \"C\", \"value\": ";
        codec.AppendJson(line, value.text.data(), value.text.size());
        break;
      case tolvern::kExpNumeric:
      case 5:
      case 7:
        line += ", \"type\": \"N\", \"value\": " + JsonNumber(value.number);
        break;
      case tolvern::kExpDate:
        line += ", \"type\": \"D\", \"value\": " + JsonDate(value.number);
        break;
      case tolvern::kExpLogical:
        line += value.logical ? ", \"type\": \"L\", \"value\": true"
                              : ", \"type\": \"L\", \"value\": false";
        break;
      default:
        Flush(out);
        throw tolvern::ETolvernExpression("Expression result of record " +
                                          std::to_string(table.CurrentRecord()) +
                                          " is not of type C, N, D or L");
    }
    out += line;
    out += "}\n";
    if (out.size() >= kFlushAt) Flush(out);
  }
  Flush(out);
  return 0;
}

}  // namespace fendral::cli
