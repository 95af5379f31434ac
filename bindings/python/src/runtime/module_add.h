// Adding names to the module: every name is appended to `__all__` in the order
// added, then set as an attribute.
#ifndef VOSTREL_BINDING_RUNTIME_MODULE_ADD_H_
#define VOSTREL_BINDING_RUNTIME_MODULE_ADD_H_

#include <Python.h>

namespace vostrel::py {

// Adds `value` (borrowed) under `name`. -1 with the error set on failure; a
// failure to append to `__all__` is a fatal error.
int module_add(PyObject* module, const char* name, PyObject* value);

// Creates the built-in function of `def` bound to the module and adds it under
// its `__name__`. -1 with the error set on failure.
int module_add_function(PyObject* module, PyMethodDef* def);

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_RUNTIME_MODULE_ADD_H_
