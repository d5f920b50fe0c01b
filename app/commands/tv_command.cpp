#include "tv_command.h"

namespace fendral {

bool IsCancel(const std::exception_ptr& error) {
  if (!error) return false;
  try {
    std::rethrow_exception(error);
  } catch (const tolvern::ETolvernCancelled&) {
    return true;
  } catch (...) {
    return false;  // another error: the caller shows it
  }
}

TCommandOutcome OutcomeAfter(const std::exception_ptr& error) {
  TCommandOutcome outcome;
  outcome.done = !error;
  outcome.cancelled = IsCancel(error);
  return outcome;
}

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
