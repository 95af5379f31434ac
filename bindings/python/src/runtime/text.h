// Text across the boundary: the two rules for taking UTF-8 out of a Python
// str, making a str, and the messages that name a Python type.
#ifndef VOSTREL_BINDING_RUNTIME_TEXT_H_
#define VOSTREL_BINDING_RUNTIME_TEXT_H_

#include <Python.h>

#include <string>
#include <string_view>

#include "runtime/ref.h"

namespace vostrel::py {

// The UTF-8 bytes of `str` (a str or subclass), valid while `str` lives; false
// with UnicodeEncodeError set for a lone surrogate.
bool py_text_view(PyObject* str, std::string_view& out);

// Strict rule: the UTF-8 of `str`; false with UnicodeEncodeError set when it
// holds a lone surrogate.
bool py_text_strict(PyObject* str, std::string& out);

// Lossy rule: the UTF-8 of `str`, each lone surrogate turned into three U+FFFD.
// Never fails; leaves no Python error set.
std::string py_text_lossy(PyObject* str);

// str(object) by the lossy rule; false with the error of str() set.
bool py_str_lossy(PyObject* object, std::string& out);

// A new str from UTF-8 text (invalid bytes become U+FFFD). Failure to allocate
// is a fatal error.
PyObject* new_str(std::string_view text);

// The `__qualname__` of a type, or "<failed to extract type name>".
std::string type_qualname(PyTypeObject* type);

// Sets TypeError "'{}' object cannot be converted to '{}'" naming the type of
// `object` and `expected`; returns null for convenience.
std::nullptr_t raise_conversion_error(PyObject* object, std::string_view expected);

// Sets `type` with a formatted UTF-8 message; returns null.
std::nullptr_t raise_text(PyObject* type, std::string_view message);

// The expected-kind names that conversion errors use.
inline constexpr std::string_view kTextKind = "PyString";
inline constexpr std::string_view kBoolKind = "PyBool";
inline constexpr std::string_view kDictKind = "PyDict";
inline constexpr std::string_view kSequenceKind = "Sequence";
inline constexpr std::string_view kListKind = "PyList";

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_RUNTIME_TEXT_H_
