// Argument matching and the standard argument conversions, with Python's own
// wording for argument errors ("f() missing 1 required positional argument: 'a'").
#ifndef VOSTREL_BINDING_RUNTIME_ARGS_H_
#define VOSTREL_BINDING_RUNTIME_ARGS_H_

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vostrel::py {

struct KeywordOnly {
  const char* name;
  bool required;
};

// The parameters of one callable. Every positional parameter may also be
// passed by keyword; the leading `required_positional` ones have no default.
struct ArgumentDescription {
  const char* function_name;  // "__new__" for a constructor
  const char* class_name;     // null for a module function
  std::span<const char* const> positional;
  std::size_t required_positional = 0;
  std::span<const KeywordOnly> keyword_only = {};

  std::size_t slot_count() const { return positional.size() + keyword_only.size(); }
  // "Class.function()" or "function()".
  std::string full_name() const;
};

// Fills `slots` (slot_count() entries, positional first, then keyword-only)
// with borrowed references; empty slots stay null. False with TypeError set
// on a matching error.
bool match_fastcall(const ArgumentDescription& desc, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** slots);
bool match_tuple_dict(const ArgumentDescription& desc, PyObject* args, PyObject* kwargs,
                      PyObject** slots);

// Wraps the current error as "argument '{}': {}" when its type is exactly
// TypeError; other errors stay as they are. Returns null.
std::nullptr_t argument_error(const char* parameter);

// Standard conversions: false with the Python error set (not yet wrapped).
bool extract_text(PyObject* object, std::string& out);
bool extract_bool(PyObject* object, bool& out);
bool extract_i64(PyObject* object, std::int64_t& out);
bool extract_u64(PyObject* object, std::uint64_t& out);
bool extract_u32(PyObject* object, std::uint32_t& out);
bool extract_u16(PyObject* object, std::uint16_t& out);
bool extract_f64(PyObject* object, double& out);
bool check_dict(PyObject* object);
// A str, or an object whose os.fspath() gives a str, encoded with the file
// system encoding.
bool extract_path(PyObject* object, std::string& out);
// True for a sequence that is not a str; otherwise false with the TypeError
// that refuses a str or names the sequence kind.
bool check_sequence_not_str(PyObject* object);
// Any sequence but a str, each item a str by the strict rule.
bool extract_text_list(PyObject* object, std::vector<std::string>& out);

// An optional argument: an empty slot or None is absent.
inline bool is_absent(PyObject* slot) { return slot == nullptr || slot == Py_None; }

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_RUNTIME_ARGS_H_
