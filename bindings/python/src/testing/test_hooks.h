// Test hooks of the extension module, present only on request.
#ifndef VOSTREL_BINDING_TESTING_TEST_HOOKS_H_
#define VOSTREL_BINDING_TESTING_TEST_HOOKS_H_

#include <Python.h>

namespace vostrel::py {

// Adds `_testing` to the module when VOSTREL_BINDING_TEST_HOOKS is "1";
// otherwise does nothing. -1 with the error set on failure.
int add_test_hooks(PyObject* module);

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_TESTING_TEST_HOOKS_H_
