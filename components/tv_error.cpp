#include "tv_error.h"

#include <stdexcept>

namespace fendral {

void DatabaseError(const QString& message) { throw std::runtime_error(message.toStdString()); }

}  // namespace fendral
