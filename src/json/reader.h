// The JSON reader. Its messages and positions are part of the system's
// behaviour: they reach models (malformed tool calls) and users (bad files).
#ifndef VOSTREL_JSON_READER_H_
#define VOSTREL_JSON_READER_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "json/value.h"
#include "utils/result.h"

namespace vostrel {

// Arrays and objects nest at most this deep; the next level fails with
// "recursion limit exceeded".
inline constexpr int kJsonMaxDepth = 127;

struct JsonParseError {
  std::string message;     // "EOF while parsing a value", "expected `:`", ...
  std::size_t line = 0;    // counted from 1
  std::size_t column = 0;  // bytes from the start of the line up to and including the stopping byte

  // "{message} at line {line} column {column}".
  std::string text() const;
};

// Reads one JSON document; after the value only space, tab, line feed and
// carriage return may follow. On failure `error` says why and where.
bool parse_json(std::string_view text, JsonValue& out, JsonParseError& error);

// The same, with the failure as a Value error whose message is `JsonParseError::text()`.
Result<JsonValue> parse_json(std::string_view text);

}  // namespace vostrel

#endif  // VOSTREL_JSON_READER_H_
