// The expression link of a table: its field variables and table functions, and the
// formula request through which the table's owner supplies functions the expression
// language does not know.
#pragma once

#include <string>

#include "kx6_sql.h"

namespace tolvern {

class KXO_dBaseFld;

// Registers the table functions RECNO, DELETED, BOF, EOF, TYPE and LEN and one field
// variable per field, in field order. A field variable evaluates the current record:
// C fields as text, D as the day number (0 for a blank date), N and F as numbers
// carrying the field's width and decimals (the binary numbers I, B and Y of 0x30 tables
// as plain numbers), L as logical, M as the memo's text ("" for none), every other type
// (binary memos, timestamps) as its raw bytes (type 9).
//
// A field may also be named with an alias: FIELD->NAME, _FIELD->NAME or TABLE->NAME,
// where TABLE is the table's file name without extension (characters that cannot stand
// in a name read as "_"), in any case. Names are significant to ten characters.
//
// A function found nowhere else is offered to the table's FormulaRequest: "FIND" with
// the name asks whether it is known (-1: not known). A known name becomes a generic
// function that, when evaluated, calls "PARSE" with its name and a zero-filled buffer of
// kFormulaBufferSize bytes whose first bytes hold the address of the calling
// TkxExpFunction node (for its arguments). The request fills the buffer, sets the type
// letter and answers -1 on failure: C text (up to the first zero byte), D a 4-byte day
// number, F/N an 8-byte double, L true when the first byte is one of "TtYyJj".
class TkxDBFExpUserLink : public TkxExpUserLink {
 public:
  static constexpr size_t kFormulaBufferSize = 512;

  explicit TkxDBFExpUserLink(KXO_dBaseFld& table);
  ~TkxDBFExpUserLink() override;

  TkxUserDefFieldVar* FindFieldVar(const std::string& name) override;
  TkxUserDefFunction* FunctionNotFound(const std::string& name) override;

  KXO_dBaseFld& Table() const { return table_; }

 private:
  KXO_dBaseFld& table_;
};

}  // namespace tolvern
