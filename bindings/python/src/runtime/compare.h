// The rich-comparison slot shared by the value-comparable classes: `==` and
// `!=` compare field by field through `C::equal(const Value&, const Value&)`,
// orderings are declined.
#ifndef VOSTREL_BINDING_RUNTIME_COMPARE_H_
#define VOSTREL_BINDING_RUNTIME_COMPARE_H_

#include <Python.h>

#include "runtime/boundary.h"
#include "runtime/classes.h"

namespace vostrel::py {

template <typename C>
PyObject* richcompare_slot(PyObject* self, PyObject* other, int op) {
  return call_boundary([self, other, op]() -> PyObject* {
    switch (op) {
      case Py_LT:
      case Py_LE:
      case Py_GT:
      case Py_GE:
        Py_RETURN_NOTIMPLEMENTED;
      case Py_EQ: {
        auto left = borrow_ref<C>(self);
        if (!left) {
          PyErr_Clear();
          Py_RETURN_NOTIMPLEMENTED;
        }
        // Another type, or an operand that another call holds exclusively at
        // this moment, is simply unequal: the comparison never fails, for any
        // class, so an operand being changed further up the stack cannot turn
        // `==` into an error or a crash.
        auto right = borrow_ref<C>(other);
        if (!right) {
          PyErr_Clear();
          Py_RETURN_FALSE;
        }
        return PyBool_FromLong(C::equal(**left, **right) ? 1 : 0);
      }
      case Py_NE: {
        PyRef equal = PyRef::steal(PyObject_RichCompare(self, other, Py_EQ));
        if (!equal) return nullptr;
        int truth = PyObject_IsTrue(equal.get());
        if (truth < 0) return nullptr;
        return PyBool_FromLong(truth ? 0 : 1);
      }
      default:
        panic("invalid compareop");
    }
  });
}

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_RUNTIME_COMPARE_H_
