// The program's logging category. An exception that is caught and not shown to the user
// (clean-up while another error unwinds, a destructor) is logged through it, so nothing
// disappears without a trace. QT_LOGGING_RULES="fendral.debug=true" shows everything.
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcFendral)

namespace fendral {

// Logs the exception being handled with `where` (what was being done). Call it inside a
// catch block only; it never throws.
void LogSwallowed(const char* where) noexcept;

}  // namespace fendral
