// A small JSON reader for the lines that `import` takes. Numbers keep their text, so
// that a value is never rounded on its way into a field.
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace fendral::cli {

struct JsonValue {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  std::string text;  // the number's text, or the string's UTF-8 bytes
  std::vector<JsonValue> items;
  std::vector<std::pair<std::string, JsonValue>> members;  // in document order

  const JsonValue* Member(const std::string& name) const;
};

struct JsonError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Parses one JSON document; throws JsonError on malformed input or trailing text.
JsonValue ParseJson(const std::string& text);

}  // namespace fendral::cli
