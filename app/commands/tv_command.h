// The window's commands, without widgets.
//
// A command runs in three steps. Prepare runs on the window's thread: it asks the user
// what it needs (through the dialog interface) and checks what it can before anything
// changes; false means there is nothing to do. Execute does the work and asks nothing: the
// window runs it on a worker thread, reporting through `progress`, and it must not touch a
// widget. Execute ends by returning, by an error, or by ETolvernCancelled when the
// progress said stop; a cancelled command leaves the files as they were (an import keeps
// the whole records it appended and says how many). Finish runs on the window's thread
// afterwards (also after an error or a cancel) and says what happened.
//
// Tests run the three steps in a row with RunCommandNow, without a window.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <exception>
#include <optional>

#include "kx6_progress.h"

namespace fendral {

class TAppDialogs;

// What a command did.
struct TCommandOutcome {
  bool done = false;       // the work ran to its end
  bool cancelled = false;  // the user stopped it
  int64_t records = 0;     // records written, appended, copied or kept
  QStringList filesMade;   // files the command created
  QStringList skipped;     // what it left out, each with the reason
  QString message;         // what the user is told afterwards (empty: nothing)

  // What the window does with the browsed table afterwards (also after an error):
  bool closed = false;                 // the table is gone: the close-table procedure
  QString reopen;                      // the open-table procedure on this path (empty: none)
  QStringList reopenIndexFiles;        // index files opened with it besides those named like it
  std::optional<bool> translateASCII;  // the "Dos" choice after the reopen (none: as opened)
  bool tagsChanged = false;            // the index files were rebuilt: tag lists and marks follow
  bool refresh = false;                // the records or the order changed: the views read again
  bool toFirst = false;                // the table's position was used up: back to the first record
};

class TCommand {
 public:
  virtual ~TCommand() = default;
  // Window's thread: the title of its progress ("Pack", "Export base in TXT").
  virtual QString Title() const = 0;
  // Window's thread: asks and checks; false when there is nothing to do.
  virtual bool Prepare(TAppDialogs& dialogs) = 0;
  // Any thread: the work.
  virtual void Execute(tolvern::TkxProgress& progress) = 0;
  // Window's thread, after Execute (error: what it threw, or null). Errors other than a
  // cancel are shown by the caller; Finish may tell the user more through `dialogs`.
  virtual TCommandOutcome Finish(TAppDialogs& dialogs, std::exception_ptr error) = 0;
};

// True when `error` (what Execute threw) is the user's cancel.
bool IsCancel(const std::exception_ptr& error);
// The outcome's start for a command whose Execute ended with `error` (null: it ran to its
// end): `done` or `cancelled` set.
TCommandOutcome OutcomeAfter(const std::exception_ptr& error);

// Prepare, Execute and Finish in a row on this thread. An error of Execute other than a
// cancel is thrown again after Finish; a cancel gives an outcome with `cancelled` set.
TCommandOutcome RunCommandNow(TCommand& command, TAppDialogs& dialogs,
                              tolvern::TkxProgress& progress);

}  // namespace fendral
