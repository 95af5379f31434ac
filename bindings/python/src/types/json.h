// JSON values to and from plain Python objects, and the kind-aware equality
// the comparison slots use. All with the interpreter lock held.
#ifndef VOSTREL_BINDING_TYPES_JSON_H_
#define VOSTREL_BINDING_TYPES_JSON_H_

#include <Python.h>

#include <optional>
#include <string>
#include <vector>

#include "json/reader.h"
#include "json/value.h"
#include "utils/result.h"

namespace vostrel::py {

// Containers from Python nest at most this deep, the depth the core's JSON
// reader accepts, so whatever is taken in can be written and read back.
// Deeper values (and containers that hold themselves) are refused with
// ValueError instead of recursing without end.
inline constexpr int kMaxPyJsonDepth = 127;

// Python object to JSON; false with the Python error set.
bool py_to_json(PyObject* object, JsonValue& out);
// A dict (or subclass) to a JSON object; false with the error set.
bool py_dict_to_json(PyObject* dict, JsonObject& out);
// Absent or None: an empty object; a dict: converted; else the conversion
// TypeError naming the dict kind.
bool py_dict_to_json_opt(PyObject* object, JsonObject& out);
// Any iterable, each item converted.
bool json_list_from_py(PyObject* object, std::vector<JsonValue>& out);

// JSON to new Python objects. Failure to allocate is a fatal error.
PyObject* json_to_py(const JsonValue& value);
PyObject* json_object_to_py(const JsonObject& object);
PyObject* json_list_to_py(const std::vector<JsonValue>& values);

// A core value written as JSON, to Python: the value converted, or a
// ValueError with the writer's or reader's own text.
PyObject* json_result_to_py(const Result<JsonValue>& result);
// ValueError for a reader failure: the message, with " at line {} column {}"
// when the error carries a position. Returns null.
std::nullptr_t json_error_to_value_error(const JsonParseError& error);

// Equality for comparisons: kinds kept apart (1 and 1.0 differ), objects equal
// whatever their key order.
bool json_values_equal(const JsonValue& a, const JsonValue& b);
bool json_objects_equal(const JsonObject& a, const JsonObject& b);

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_TYPES_JSON_H_
