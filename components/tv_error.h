// How the components report a failure: the record-set layer's exception with a message.
#pragma once

#include <QString>

namespace fendral {

[[noreturn]] void DatabaseError(const QString& message);

}  // namespace fendral
