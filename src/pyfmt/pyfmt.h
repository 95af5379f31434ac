// Python-compatible text of values, so that prompts, tool results, error
// messages and __repr__ strings read alike whether Python or the core wrote them.
#ifndef VOSTREL_PYFMT_PYFMT_H_
#define VOSTREL_PYFMT_PYFMT_H_

#include <string>
#include <string_view>

#include "json/value.h"

namespace vostrel {

// JSON in the style of Python's json.dumps with default settings: separators
// ", " and ": ", insertion order, ASCII-only \u escapes. Pure ASCII output.
std::string py_json_dumps(const JsonValue& value);

// The value as Python prints it inside a container: None, True, False,
// integral doubles with ".0", strings quoted by repr(), lists and dicts.
std::string py_str(const JsonValue& value);

// The text as Python's repr() quotes it.
std::string py_repr_str(std::string_view text);

// "NoneType", "bool", "int", "float", "str", "list" or "dict": the name of the
// Python type the value converts to.
std::string_view py_type_name(const JsonValue& value);

}  // namespace vostrel

#endif  // VOSTREL_PYFMT_PYFMT_H_
