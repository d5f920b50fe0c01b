#include "tv_apperror.h"

namespace fendral {

QString ErrorText(const std::exception& error) {
  if (const auto* own = dynamic_cast<const EAppError*>(&error)) return own->Text();
  return QString::fromUtf8(error.what());
}

}  // namespace fendral
