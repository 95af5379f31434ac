// Entry helpers that put the boundary, the receiver check and the borrow in
// front of a body, for getters and representation slots.
#ifndef VOSTREL_BINDING_RUNTIME_ENTRIES_H_
#define VOSTREL_BINDING_RUNTIME_ENTRIES_H_

#include <Python.h>

#include <utility>

#include "runtime/args.h"
#include "runtime/boundary.h"
#include "runtime/classes.h"

namespace vostrel::py {

// A getter: `Read(const Value&)` returns a new reference (or null with an
// error set), with a shared borrow of the receiver for the read.
template <typename C, auto Read>
PyObject* field_getter(PyObject* self, void*) {
  return call_boundary([self]() -> PyObject* {
    auto receiver = borrow_ref<C>(self);
    if (!receiver) return nullptr;
    return Read(**receiver);
  });
}

// A setter: deleting is refused, the new value is converted by
// `Convert(PyObject*, T&)` (a TypeError wrapped as "argument 'value': ..."),
// then the receiver is borrowed exclusively and `Assign(Value&, T&&)` runs.
template <typename C, typename T, auto Convert, auto Assign>
int field_setter(PyObject* self, PyObject* value, void*) {
  return call_boundary<int>(-1, [self, value]() -> int {
    if (value == nullptr) {
      raise_text(PyExc_AttributeError, "can't delete attribute");
      return -1;
    }
    T converted{};
    if (!Convert(value, converted)) {
      argument_error("value");
      return -1;
    }
    auto receiver = borrow_mut<C>(self);
    if (!receiver) return -1;
    Assign(receiver->mut(), std::move(converted));
    return 0;
  });
}

// A __repr__ slot: `Format(const Value&)` gives the text.
template <typename C, auto Format>
PyObject* repr_slot(PyObject* self) {
  return call_boundary([self]() -> PyObject* {
    auto receiver = borrow_ref<C>(self);
    if (!receiver) return nullptr;
    return new_str(Format(**receiver));
  });
}

inline PyObject* py_bool(bool value) { return PyBool_FromLong(value ? 1 : 0); }
inline const char* py_bool_text(bool value) { return value ? "True" : "False"; }

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_RUNTIME_ENTRIES_H_
