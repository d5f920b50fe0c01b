// Field values as plain text for the exchange formats (CSV, SQL): the same values `dump`
// writes, without JSON around them. Dates are ISO YYYY-MM-DD, timestamps
// YYYY-MM-DDTHH:MM:SS.mmm, logicals true/false, numbers their exact digits with '.',
// memo text in full and binary memos as base64.
#pragma once

#include <string>

#include "kx6_fld.h"
#include "text_codec.h"

namespace fendral::cli {

enum class CellKind { kNull, kText, kNumber, kDate, kTimestamp, kLogical, kBinary };

class ValueText {
 public:
  ValueText(tolvern::KXO_dBaseFld& table, const TextCodec& codec);
  // Puts the value of `field` in the current record into `out` (UTF-8) and answers its
  // kind. A blank date or number, a '?' logical and an unreadable value are kNull; an
  // unreadable one is also reported on standard error and clears Clean().
  CellKind Read(const tolvern::DbfFieldInfo& field, std::string& out);
  // False once a value could not be read.
  bool Clean() const { return clean_; }

 private:
  void Warn(const tolvern::DbfFieldInfo& field, const std::string& what);

  tolvern::KXO_dBaseFld& table_;
  const TextCodec& codec_;
  tolvern::TkxFieldValue value_;
  std::vector<uint8_t> memo_;
  bool clean_ = true;
};

}  // namespace fendral::cli
