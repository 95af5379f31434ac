// JSON writers: compact, two-space pretty, and the Python `json.dumps` style.
#ifndef VOSTREL_JSON_WRITER_H_
#define VOSTREL_JSON_WRITER_H_

#include <string>
#include <string_view>

#include "json/value.h"

namespace vostrel {

// How a document is laid out. One writer serves every style.
struct JsonStyle {
  std::string_view item_separator = ",";  // between array items and object entries
  std::string_view key_separator = ":";   // between a key and its value
  int indent = 0;                         // spaces per level; 0 writes one line
  bool ascii_only = false;                // escape every non-ASCII character as \uXXXX
};

inline constexpr JsonStyle kCompactStyle{",", ":", 0, false};
inline constexpr JsonStyle kPrettyStyle{",", ": ", 2, false};
// Python's json.dumps defaults: ", " and ": ", ASCII-only escapes.
inline constexpr JsonStyle kPythonStyle{", ", ": ", 0, true};

// Appends `value` to `out` in `style`. Never fails.
void write_json(std::string& out, const JsonValue& value, const JsonStyle& style);

// `{"a":1}`
std::string to_json(const JsonValue& value);
// Two-space indentation, one entry a line: "{\n  \"a\": 1\n}".
std::string to_json_pretty(const JsonValue& value);

// Appends `text` as a quoted JSON string.
void write_json_string(std::string& out, std::string_view text, bool ascii_only);

// How a double is laid out. Both use the shortest digits that read back to the
// same double.
enum class DoubleLayout {
  // Plain when the decimal exponent is in [-5, 15] ("100.0", "0.00001"),
  // else exponent form ("1e+16", "1.5e-7").
  kJson,
  // Always plain ("10000000000000000.0", "0.00000015"), as Python's str() of a
  // value inside a container shows it here.
  kPlain,
};

// Appends a finite double; a non-finite one is written "null".
void append_double(std::string& out, double value, DoubleLayout layout);

}  // namespace vostrel

#endif  // VOSTREL_JSON_WRITER_H_
