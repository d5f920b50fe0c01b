// "Find" and "Find next": a text searched in every field of every record, ignoring case.
//
// Find asks for the text (the last one offered), keeps it in upper case as the last search
// text and searches from the first record; Find next searches the last text again from the
// record after the current one. A match makes the found record the table's current one;
// FoundField then names the field that matched (1-based), 0 when nothing matched.
#pragma once

#include <QCoreApplication>
#include <QString>

#include "Tolvern6DB.h"
#include "tv_command.h"

namespace fendral {

class TFindCommand final : public TCommand {
  Q_DECLARE_TR_FUNCTIONS(TFindCommand)

 public:
  enum class TFrom { kFirst, kAfterCurrent };

  // `lastSearch` is the caller's last search text: Find asks starting from it and sets it.
  TFindCommand(TTolvernDataSet& table, QString& lastSearch, TFrom from);

  QString Title() const override;
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;
  TCommandOutcome Finish(TAppDialogs& dialogs, std::exception_ptr error) override;

  int FoundField() const { return foundField_; }

 private:
  TTolvernDataSet& table_;
  QString& lastSearch_;
  TFrom from_;
  QString text_;            // what Execute searches for
  int32_t fromRecord_ = 0;  // the search begins after this record (0: at the first)
  int foundField_ = 0;
};

}  // namespace fendral
