// The commands that replace the browsed table's files as a whole: "Modify DBF" (the field
// list of the structure table, and possibly another kind of table) and the two code-page
// converts. The engine rebuilds the table beside itself and puts it in place through its
// replacement journal, so it is never half replaced, and a cancel before the replacement
// leaves every file as it was.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "Tolvern6DB.h"
#include "tv_command.h"

namespace tolvern {
struct TkxRebuildPlan;
}

namespace fendral {

// What "Modify DBF" is asked for besides the field list: the "DBF Type" choice (positions
// 0 Clipper, 1 dBase III, 2 dBase IV, 3 FoxPro) with the captions of the chosen and of
// the open table's kind, and the memo block size of a new FoxPro memo file (0: 64).
struct TModifyChoice {
  int chosenType = 3;
  int openType = -1;  // -1: unknown, never converted
  QString chosenName;
  QString openName;
  int memoBlockSize = 0;
};

class TReplaceCommand : public TCommand {
 public:
  enum TKind { kModify, kDosToAnsi, kAnsiToDos };
  // "Modify DBF": `fields` is the structure table (columns Name, DBF Type, Len, Dec and
  // Origin, the 1-based field a row came from).
  TReplaceCommand(TTolvernDataSet& table, TDataSet& fields, TModifyChoice choice);
  // A convert.
  TReplaceCommand(TTolvernDataSet& table, TKind kind);
  ~TReplaceCommand() override;

  QString Title() const override;
  bool Prepare(TAppDialogs& dialogs) override;
  void Execute(tolvern::TkxProgress& progress) override;
  TCommandOutcome Finish(TAppDialogs& dialogs, std::exception_ptr error) override;

 private:
  bool PlanFields(TAppDialogs& dialogs);
  bool PlanTypeConversion(TAppDialogs& dialogs);
  bool PlanConvert(TAppDialogs& dialogs);

  TTolvernDataSet& table_;
  TDataSet* fields_ = nullptr;
  TKind kind_;
  TModifyChoice choice_;
  std::unique_ptr<tolvern::TkxRebuildPlan> plan_;
  QString path_;
  QStringList tagFiles_;  // files of a one-tag index format the rebuild makes
  QStringList dropped_;   // tags that no longer fit, named
  int64_t records_ = 0;
  bool replaced_ = false;
};

}  // namespace fendral
