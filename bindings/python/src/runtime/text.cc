#include "runtime/text.h"

#include "runtime/boundary.h"

namespace vostrel::py {

bool py_text_view(PyObject* str, std::string_view& out) {
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(str, &size);
  if (data == nullptr) return false;
  out = std::string_view(data, static_cast<std::size_t>(size));
  return true;
}

bool py_text_strict(PyObject* str, std::string& out) {
  std::string_view view;
  if (!py_text_view(str, view)) return false;
  out.assign(view);
  return true;
}

std::string py_text_lossy(PyObject* str) {
  std::string_view view;
  if (py_text_view(str, view)) return std::string(view);
  PyErr_Clear();
  // Surrogates pass through as their three-byte form; decoding that as UTF-8
  // with replacement gives one U+FFFD per invalid byte.
  PyRef bytes = PyRef::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
  if (!bytes) {
    PyErr_Clear();
    return std::string();
  }
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) {
    PyErr_Clear();
    return std::string();
  }
  PyRef decoded = PyRef::steal(PyUnicode_DecodeUTF8(data, size, "replace"));
  if (!decoded || !py_text_view(decoded.get(), view)) {
    PyErr_Clear();
    return std::string();
  }
  return std::string(view);
}

bool py_str_lossy(PyObject* object, std::string& out) {
  PyRef text = PyRef::steal(PyObject_Str(object));
  if (!text) return false;
  out = py_text_lossy(text.get());
  return true;
}

PyObject* new_str(std::string_view text) {
  PyObject* str = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()),
                                       "replace");
  if (str == nullptr) {
    PyErr_Clear();
    panic("failed to create a Python str");
  }
  return str;
}

std::string type_qualname(PyTypeObject* type) {
  PyRef name = PyRef::steal(
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__qualname__"));
  if (name && PyUnicode_Check(name.get())) return py_text_lossy(name.get());
  PyErr_Clear();
  return "<failed to extract type name>";
}

std::nullptr_t raise_text(PyObject* type, std::string_view message) {
  PyRef text = PyRef::steal(new_str(message));
  PyErr_SetObject(type, text.get());
  return nullptr;
}

std::nullptr_t raise_conversion_error(PyObject* object, std::string_view expected) {
  std::string message = "'";
  message += type_qualname(Py_TYPE(object));
  message += "' object cannot be converted to '";
  message += expected;
  message += "'";
  return raise_text(PyExc_TypeError, message);
}

}  // namespace vostrel::py
