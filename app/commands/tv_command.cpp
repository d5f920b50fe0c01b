#include "tv_command.h"

namespace fendral {

TCommandOutcome RunCommandNow(TCommand& command, TAppDialogs& dialogs,
                              tolvern::TkxProgress& progress) {
  if (!command.Prepare(dialogs)) return {};
  std::exception_ptr error;
  try {
    command.Execute(progress);
  } catch (...) {
    error = std::current_exception();
  }
  TCommandOutcome outcome = command.Finish(dialogs, error);
  if (error) {
    try {
      std::rethrow_exception(error);
    } catch (const tolvern::ETolvernCancelled&) {
      outcome.cancelled = true;
      outcome.done = false;
    }
  }
  return outcome;
}

}  // namespace fendral
