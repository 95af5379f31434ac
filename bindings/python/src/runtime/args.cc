#include "runtime/args.h"

#include <string_view>

#include "runtime/ref.h"
#include "runtime/text.h"

namespace vostrel::py {
namespace {

std::string quoted_list(const std::vector<const char*>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) {
      if (names.size() > 2) out += ",";
      out += (i + 1 == names.size()) ? " and " : " ";
    }
    out += "'";
    out += names[i];
    out += "'";
  }
  return out;
}

bool missing_error(const ArgumentDescription& desc, const std::vector<const char*>& names,
                   const char* kind) {
  std::string message = desc.full_name() + " missing " + std::to_string(names.size()) +
                        " required " + kind + (names.size() == 1 ? " argument: " : " arguments: ") +
                        quoted_list(names);
  raise_text(PyExc_TypeError, message);
  return false;
}

bool too_many_error(const ArgumentDescription& desc, Py_ssize_t given) {
  std::string message = desc.full_name() + " takes ";
  if (desc.required_positional == desc.positional.size()) {
    message += std::to_string(desc.positional.size());
  } else {
    message += "from " + std::to_string(desc.required_positional) + " to " +
               std::to_string(desc.positional.size());
  }
  message += " positional arguments but " + std::to_string(given) +
             (given == 1 ? " was given" : " were given");
  raise_text(PyExc_TypeError, message);
  return false;
}

// Places one keyword argument; false with TypeError set.
bool place_keyword(const ArgumentDescription& desc, PyObject* name, PyObject* value,
                   PyObject** slots) {
  for (std::size_t i = 0; i < desc.keyword_only.size(); ++i) {
    if (PyUnicode_CompareWithASCIIString(name, desc.keyword_only[i].name) == 0) {
      slots[desc.positional.size() + i] = value;
      return true;
    }
  }
  for (std::size_t i = 0; i < desc.positional.size(); ++i) {
    if (PyUnicode_CompareWithASCIIString(name, desc.positional[i]) == 0) {
      if (slots[i] != nullptr) {
        raise_text(PyExc_TypeError, desc.full_name() + " got multiple values for argument '" +
                                        desc.positional[i] + "'");
        return false;
      }
      slots[i] = value;
      return true;
    }
  }
  std::string keyword = PyUnicode_Check(name) ? py_text_lossy(name) : std::string();
  raise_text(PyExc_TypeError,
             desc.full_name() + " got an unexpected keyword argument '" + keyword + "'");
  return false;
}

bool check_missing(const ArgumentDescription& desc, PyObject** slots) {
  std::vector<const char*> missing;
  for (std::size_t i = 0; i < desc.required_positional; ++i) {
    if (slots[i] == nullptr) missing.push_back(desc.positional[i]);
  }
  if (!missing.empty()) return missing_error(desc, missing, "positional");
  for (std::size_t i = 0; i < desc.keyword_only.size(); ++i) {
    if (desc.keyword_only[i].required && slots[desc.positional.size() + i] == nullptr) {
      missing.push_back(desc.keyword_only[i].name);
    }
  }
  if (!missing.empty()) return missing_error(desc, missing, "keyword");
  return true;
}

}  // namespace

std::string ArgumentDescription::full_name() const {
  std::string name;
  if (class_name != nullptr) {
    name += class_name;
    name += ".";
  }
  name += function_name;
  name += "()";
  return name;
}

bool match_fastcall(const ArgumentDescription& desc, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** slots) {
  if (static_cast<std::size_t>(nargs) > desc.positional.size()) return too_many_error(desc, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = args[i];
  if (kwnames != nullptr) {
    Py_ssize_t count = PyTuple_Size(kwnames);
    for (Py_ssize_t i = 0; i < count; ++i) {
      if (!place_keyword(desc, PyTuple_GetItem(kwnames, i), args[nargs + i], slots)) return false;
    }
  }
  return check_missing(desc, slots);
}

bool match_tuple_dict(const ArgumentDescription& desc, PyObject* args, PyObject* kwargs,
                      PyObject** slots) {
  Py_ssize_t nargs = PyTuple_Size(args);
  if (static_cast<std::size_t>(nargs) > desc.positional.size()) return too_many_error(desc, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = PyTuple_GetItem(args, i);
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!place_keyword(desc, key, value, slots)) return false;
    }
  }
  return check_missing(desc, slots);
}

std::nullptr_t argument_error(const char* parameter) {
  if (PyErr_Occurred() != PyExc_TypeError) return nullptr;
  PyRef first = take_current_exception();
  std::string text;
  if (!first || !py_str_lossy(first.get(), text)) PyErr_Clear();
  PyRef message = PyRef::steal(new_str(std::string("argument '") + parameter + "': " + text));
  PyRef wrapped =
      PyRef::steal(PyObject_CallFunctionObjArgs(PyExc_TypeError, message.get(), nullptr));
  if (!wrapped) return nullptr;
  if (first) PyException_SetCause(wrapped.get(), PyException_GetCause(first.get()));
  PyErr_SetObject(PyExc_TypeError, wrapped.get());
  return nullptr;
}

bool extract_text(PyObject* object, std::string& out) {
  if (!PyUnicode_Check(object)) {
    raise_conversion_error(object, kTextKind);
    return false;
  }
  return py_text_strict(object, out);
}

namespace {

bool is_numpy_bool(PyObject* object) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(object));
  PyRef module = PyRef::steal(PyObject_GetAttrString(type, "__module__"));
  if (!module || !PyUnicode_Check(module.get()) ||
      PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) {
    PyErr_Clear();
    return false;
  }
  PyRef name = PyRef::steal(PyObject_GetAttrString(type, "__name__"));
  if (!name || !PyUnicode_Check(name.get())) {
    PyErr_Clear();
    return false;
  }
  return PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
         PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0;
}

}  // namespace

bool extract_bool(PyObject* object, bool& out) {
  if (PyBool_Check(object)) {
    out = object == Py_True;
    return true;
  }
  if (is_numpy_bool(object)) {
    int truth = PyObject_IsTrue(object);
    if (truth < 0) return false;
    out = truth == 1;
    return true;
  }
  raise_conversion_error(object, kBoolKind);
  return false;
}

bool extract_i64(PyObject* object, std::int64_t& out) {
  long long value = PyLong_AsLongLong(object);
  if (value == -1 && PyErr_Occurred()) return false;
  out = value;
  return true;
}

bool extract_u64(PyObject* object, std::uint64_t& out) {
  PyRef index = PyRef::steal(PyNumber_Index(object));
  if (!index) return false;
  unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = value;
  return true;
}

namespace {
template <typename U>
bool extract_narrow_unsigned(PyObject* object, U& out) {
  std::int64_t value = 0;
  if (!extract_i64(object, value)) return false;
  if (value < 0 || static_cast<std::uint64_t>(value) > static_cast<std::uint64_t>(U(~U(0)))) {
    raise_text(PyExc_OverflowError, "out of range integral type conversion attempted");
    return false;
  }
  out = static_cast<U>(value);
  return true;
}
}  // namespace

bool extract_u32(PyObject* object, std::uint32_t& out) { return extract_narrow_unsigned(object, out); }
bool extract_u16(PyObject* object, std::uint16_t& out) { return extract_narrow_unsigned(object, out); }

bool extract_f64(PyObject* object, double& out) {
  double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) return false;
  out = value;
  return true;
}

bool check_dict(PyObject* object) {
  if (PyDict_Check(object)) return true;
  raise_conversion_error(object, kDictKind);
  return false;
}

bool extract_path(PyObject* object, std::string& out) {
  PyRef path = PyRef::steal(PyOS_FSPath(object));
  if (!path) return false;
  if (!PyUnicode_Check(path.get())) {
    raise_conversion_error(path.get(), kTextKind);
    return false;
  }
  PyRef encoded = PyRef::steal(PyUnicode_EncodeFSDefault(path.get()));
  if (!encoded) return false;
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(encoded.get(), &data, &size) < 0) return false;
  out.assign(data, static_cast<std::size_t>(size));
  return true;
}

bool check_sequence_not_str(PyObject* object) {
  if (PyUnicode_Check(object)) {
    raise_text(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return false;
  }
  if (!PySequence_Check(object)) {
    raise_conversion_error(object, kSequenceKind);
    return false;
  }
  return true;
}

bool extract_text_list(PyObject* object, std::vector<std::string>& out) {
  if (!check_sequence_not_str(object)) return false;
  std::vector<std::string> items;
  bool ok = for_each_item(object, [&items](PyObject* item) {
    return extract_text(item, items.emplace_back());
  });
  if (!ok) return false;
  out = std::move(items);
  return true;
}

}  // namespace vostrel::py
