// The module constants and the names added after the module body's classes.
#ifndef VOSTREL_BINDING_FUNCS_CONSTANTS_H_
#define VOSTREL_BINDING_FUNCS_CONSTANTS_H_

#include <Python.h>

namespace vostrel::py {

// Adds `__version__`, the module constants, the class SessionSnapshot and the
// remaining module functions, in their fixed order. -1 with the error set.
int add_module_constants(PyObject* module);

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_FUNCS_CONSTANTS_H_
