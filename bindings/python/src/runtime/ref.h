// PyRef: an owning reference to a Python object.
#ifndef VOSTREL_BINDING_RUNTIME_REF_H_
#define VOSTREL_BINDING_RUNTIME_REF_H_

#include <Python.h>

#include <utility>

#include "runtime/lock.h"

namespace vostrel::py {

// Owns one strong reference. Dropping it without the interpreter lock (from a
// core thread) queues the release instead of touching the count unlocked.
// Copies take a new reference and so need the lock.
class PyRef {
 public:
  PyRef() = default;
  // Takes over a new reference (may be null).
  static PyRef steal(PyObject* object) { return PyRef(object); }
  // Adds a reference to a borrowed object (may be null).
  static PyRef borrow(PyObject* object) {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyRef(const PyRef& other) : object_(other.object_) { Py_XINCREF(object_); }
  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef other) noexcept {
    std::swap(object_, other.object_);
    return *this;
  }
  ~PyRef() { release_reference(object_); }

  PyObject* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Hands the reference to the caller.
  PyObject* release() { return std::exchange(object_, nullptr); }

 private:
  explicit PyRef(PyObject* object) : object_(object) {}
  PyObject* object_ = nullptr;
};

// Calls `fn(item)` (borrowed) for each item of `iterable` through Python's
// iteration protocol; stops at the first false from `fn` or at an error of
// iter() or of the iteration. False with the Python error set.
template <typename Fn>
bool for_each_item(PyObject* iterable, Fn&& fn) {
  PyRef iterator = PyRef::steal(PyObject_GetIter(iterable));
  if (!iterator) return false;
  while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
    if (!fn(item.get())) return false;
  }
  return PyErr_Occurred() == nullptr;
}

// Takes the current Python error as a normalized exception instance with its
// traceback attached; null when no error is set.
PyRef take_current_exception();

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_RUNTIME_REF_H_
