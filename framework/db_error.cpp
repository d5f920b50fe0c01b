#include "db_error.h"

#include <QString>

namespace fendral {

EDatabaseError::EDatabaseError(const QString& message)
    : std::runtime_error(message.toStdString()) {}

void Abort() { throw EAbort(); }

void DatabaseError(const QString& message) { throw EDatabaseError(message); }

}  // namespace fendral
