#include "types/json.h"

#include <cmath>
#include <string_view>

#include "runtime/boundary.h"
#include "runtime/ref.h"
#include "runtime/text.h"

namespace vostrel::py {
namespace {

bool convert(PyObject* object, JsonValue& out, int depth);

// Entering one more container level: refused past the depth limit, and
// through Py_EnterRecursiveCall so a deep Python stack is honoured too.
class ContainerLevel {
 public:
  explicit ContainerLevel(int depth) {
    if (depth >= kMaxPyJsonDepth) {
      raise_text(PyExc_ValueError, "JSON value nests deeper than " +
                                       std::to_string(kMaxPyJsonDepth) + " levels");
      return;
    }
    entered_ = Py_EnterRecursiveCall(" while converting a Python object to JSON") == 0;
  }
  ~ContainerLevel() {
    if (entered_) Py_LeaveRecursiveCall();
  }
  ContainerLevel(const ContainerLevel&) = delete;
  ContainerLevel& operator=(const ContainerLevel&) = delete;
  bool ok() const { return entered_; }

 private:
  bool entered_ = false;
};

bool convert_dict(PyObject* dict, JsonObject& out, int depth) {
  ContainerLevel level(depth);
  if (!level.ok()) return false;
  JsonObject result;
  const Py_ssize_t start_size = PyDict_Size(dict);
  Py_ssize_t position = 0;
  Py_ssize_t walked = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  for (;;) {
    if (PyDict_Size(dict) != start_size) panic("dictionary changed size during iteration");
    if (!PyDict_Next(dict, &position, &key, &value)) break;
    if (++walked > start_size) panic("dictionary keys changed during iteration");
    // str() of a key may run code that changes the dict: hold both.
    PyRef held_key = PyRef::borrow(key);
    PyRef held_value = PyRef::borrow(value);
    std::string key_text;
    if (PyUnicode_CheckExact(key)) {
      key_text = py_text_lossy(key);
    } else if (!py_str_lossy(key, key_text)) {
      return false;
    }
    JsonValue converted;
    if (!convert(value, converted, depth + 1)) return false;
    result.insert(std::move(key_text), std::move(converted));
  }
  out = std::move(result);
  return true;
}

bool convert_sequence(PyObject* sequence, JsonArray& out, int depth) {
  ContainerLevel level(depth);
  if (!level.ok()) return false;
  JsonArray result;
  if (PyList_CheckExact(sequence) || PyTuple_CheckExact(sequence)) {
    const bool is_list = PyList_CheckExact(sequence);
    // The size is read on every step: converting an item may run code that
    // changes the list, and iteration sees such changes too.
    for (Py_ssize_t i = 0;; ++i) {
      Py_ssize_t size = is_list ? PyList_Size(sequence) : PyTuple_Size(sequence);
      if (i >= size) break;
      PyRef item = PyRef::borrow(is_list ? PyList_GetItem(sequence, i)
                                         : PyTuple_GetItem(sequence, i));
      JsonValue converted;
      if (!convert(item.get(), converted, depth + 1)) return false;
      result.push_back(std::move(converted));
    }
  } else {
    bool ok = for_each_item(sequence, [&result, depth](PyObject* item) {
      return convert(item, result.emplace_back(), depth + 1);
    });
    if (!ok) return false;
  }
  out = std::move(result);
  return true;
}

bool convert(PyObject* object, JsonValue& out, int depth) {
  if (object == Py_None) {
    out = JsonValue();
    return true;
  }
  if (PyBool_Check(object)) {
    out = JsonValue(object == Py_True);
    return true;
  }
  if (PyLong_Check(object)) {
    long long value = PyLong_AsLongLong(object);
    if (value == -1 && PyErr_Occurred()) return false;
    out = JsonValue(static_cast<std::int64_t>(value));
    return true;
  }
  if (PyFloat_Check(object)) {
    double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return false;
    out = std::isfinite(value) ? JsonValue(value) : JsonValue();
    return true;
  }
  if (PyUnicode_Check(object)) {
    std::string_view text;
    if (!py_text_view(object, text)) return false;
    out = JsonValue(text);
    return true;
  }
  if (PyDict_Check(object)) {
    JsonObject converted;
    if (!convert_dict(object, converted, depth)) return false;
    out = JsonValue(std::move(converted));
    return true;
  }
  if (PyList_Check(object) || PyTuple_Check(object)) {
    JsonArray converted;
    if (!convert_sequence(object, converted, depth)) return false;
    out = JsonValue(std::move(converted));
    return true;
  }
  PyRef name = PyRef::steal(
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__"));
  std::string type_name;
  if (name && PyUnicode_Check(name.get())) type_name = py_text_lossy(name.get());
  PyErr_Clear();
  raise_text(PyExc_TypeError, "Object of type " + type_name + " is not JSON serializable");
  return false;
}

PyObject* must(PyObject* object) {
  if (object == nullptr) {
    PyErr_Clear();
    panic("failed to create a Python object");
  }
  return object;
}

}  // namespace

bool py_to_json(PyObject* object, JsonValue& out) { return convert(object, out, 0); }

bool py_dict_to_json(PyObject* dict, JsonObject& out) { return convert_dict(dict, out, 0); }

bool py_dict_to_json_opt(PyObject* object, JsonObject& out) {
  if (object == nullptr || object == Py_None) {
    out = JsonObject();
    return true;
  }
  if (!PyDict_Check(object)) {
    raise_conversion_error(object, kDictKind);
    return false;
  }
  return py_dict_to_json(object, out);
}

bool json_list_from_py(PyObject* object, std::vector<JsonValue>& out) {
  std::vector<JsonValue> result;
  bool ok = for_each_item(object, [&result](PyObject* item) {
    return py_to_json(item, result.emplace_back());
  });
  if (!ok) return false;
  out = std::move(result);
  return true;
}

PyObject* json_to_py(const JsonValue& value) {
  switch (value.type()) {
    case JsonType::kNull: Py_RETURN_NONE;
    case JsonType::kBool: return PyBool_FromLong(value.as_bool() ? 1 : 0);
    case JsonType::kUInt: return must(PyLong_FromUnsignedLongLong(value.as_u64()));
    case JsonType::kInt: return must(PyLong_FromLongLong(value.as_i64()));
    case JsonType::kDouble: return must(PyFloat_FromDouble(value.as_double()));
    case JsonType::kString: return new_str(value.as_string());
    case JsonType::kArray: return json_list_to_py(value.as_array());
    case JsonType::kObject: return json_object_to_py(value.as_object());
  }
  panic("unknown JSON value kind");
}

PyObject* json_object_to_py(const JsonObject& object) {
  PyRef dict = PyRef::steal(must(PyDict_New()));
  for (const auto& [key, member] : object) {
    PyRef converted = PyRef::steal(json_to_py(member));
    PyRef key_object = PyRef::steal(new_str(key));
    if (PyDict_SetItem(dict.get(), key_object.get(), converted.get()) < 0) {
      PyErr_Clear();
      panic("failed to fill a Python dict");
    }
  }
  return dict.release();
}

PyObject* json_list_to_py(const std::vector<JsonValue>& values) {
  PyRef list = PyRef::steal(must(PyList_New(static_cast<Py_ssize_t>(values.size()))));
  for (std::size_t i = 0; i < values.size(); ++i) {
    // PyList_SetItem steals the item.
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), json_to_py(values[i]));
  }
  return list.release();
}

PyObject* json_result_to_py(const Result<JsonValue>& result) {
  if (!result.ok()) return raise_text(PyExc_ValueError, result.error().message);
  return json_to_py(*result);
}

std::nullptr_t json_error_to_value_error(const JsonParseError& error) {
  return raise_text(PyExc_ValueError, error.line != 0 ? error.text() : error.message);
}

bool json_values_equal(const JsonValue& a, const JsonValue& b) {
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case JsonType::kNull: return true;
    case JsonType::kBool: return a.as_bool() == b.as_bool();
    case JsonType::kUInt: return a.as_u64() == b.as_u64();
    case JsonType::kInt: return a.as_i64() == b.as_i64();
    case JsonType::kDouble: return a.as_double() == b.as_double();
    case JsonType::kString: return a.as_string() == b.as_string();
    case JsonType::kArray: {
      const JsonArray& x = a.as_array();
      const JsonArray& y = b.as_array();
      if (x.size() != y.size()) return false;
      for (std::size_t i = 0; i < x.size(); ++i) {
        if (!json_values_equal(x[i], y[i])) return false;
      }
      return true;
    }
    case JsonType::kObject: return json_objects_equal(a.as_object(), b.as_object());
  }
  return false;
}

bool json_objects_equal(const JsonObject& a, const JsonObject& b) {
  if (a.size() != b.size()) return false;
  for (const auto& [key, value] : a) {
    const JsonValue* other = b.find(key);
    if (other == nullptr || !json_values_equal(value, *other)) return false;
  }
  return true;
}

}  // namespace vostrel::py
