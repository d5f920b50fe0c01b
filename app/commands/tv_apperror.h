// The window's own errors and the one way any error becomes the text the user reads.
#pragma once

#include <QString>
#include <exception>
#include <stdexcept>

namespace fendral {

// An error the window or a command reports in its own words (already translated).
class EAppError : public std::runtime_error {
 public:
  explicit EAppError(const QString& text)
      : std::runtime_error(text.toStdString()), text_(text) {}
  const QString& Text() const { return text_; }

 private:
  QString text_;
};

// The text of `error` as the user reads it: the window's own words, or the engine's and
// the dataset's messages (UTF-8).
QString ErrorText(const std::exception& error);

}  // namespace fendral
