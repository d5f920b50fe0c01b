// The record-set layer's exceptions. Every failure the layer or a concrete dataset reports
// to the user is an EDatabaseError carrying the message to show. EAbort is the silent
// exception: an event handler throws it (through Abort()) to stop the operation that raised
// the event; callers that show errors to the user ignore it.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

class QString;

namespace fendral {

class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& message) : std::runtime_error(message) {}
  explicit EDatabaseError(const char* message) : std::runtime_error(message) {}
  explicit EDatabaseError(const QString& message);
};

// Stops the current operation without a message (see Abort()).
class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

// Throws EAbort. Called from Before... events to refuse the operation silently.
[[noreturn]] void Abort();

// Throws EDatabaseError with `message`.
[[noreturn]] void DatabaseError(const QString& message);

}  // namespace fendral
