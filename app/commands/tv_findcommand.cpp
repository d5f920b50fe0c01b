#include "tv_findcommand.h"

#include "kx6_dbsy.h"
#include "tv_appdialogs.h"

namespace fendral {

TFindCommand::TFindCommand(TTolvernDataSet& table, QString& lastSearch, TFrom from)
    : table_(table), lastSearch_(lastSearch), from_(from) {}

QString TFindCommand::Title() const {
  return from_ == TFrom::kFirst ? tr("Find") : tr("Find next");
}

bool TFindCommand::Prepare(TAppDialogs& dialogs) {
  if (!table_.Active()) return false;
  if (from_ == TFrom::kFirst) {
    QString answer = lastSearch_;
    if (!dialogs.InputText(tr("Find"), tr("Text to find:"), answer)) return false;
    lastSearch_ = answer.toUpper();
  }
  if (lastSearch_.isEmpty()) return false;
  text_ = lastSearch_;
  fromRecord_ = from_ == TFrom::kFirst || table_.IsEmpty() ? 0 : table_.RecNo();
  foundField_ = 0;
  return true;
}

void TFindCommand::Execute(tolvern::TkxProgress& progress) {
  DBFObject& handler = *table_.Handler();
  // The kind of work is known before the search reports its first step.
  tolvern::TkxProgressScope scope(&progress, tolvern::kStatusSearch, handler.RecordCount());
  tolvern::TkxProgress* before = table_.Progress();
  table_.SetProgress(&progress);
  handler.SearchOptions = tolvern::kSearchCaseInsensitive;
  struct Restore {
    TTolvernDataSet& table;
    DBFObject& handler;
    tolvern::TkxProgress* progress;
    ~Restore() {
      handler.SearchOptions = 0;
      table.SetProgress(progress);
    }
  } restore{table_, handler, before};
  int fieldNo = 0;
  int32_t recNo = fromRecord_;
  if (table_.SearchText(text_, fieldNo, 0, recNo) && fieldNo > 0) foundField_ = fieldNo;
}

TCommandOutcome TFindCommand::Finish(TAppDialogs&, std::exception_ptr error) {
  TCommandOutcome outcome;
  if (error) return outcome;  // a cancel, or an error the caller shows
  outcome.done = true;
  outcome.records = foundField_ > 0 ? 1 : 0;
  return outcome;
}

}  // namespace fendral
