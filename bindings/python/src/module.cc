// The extension module vostrel._core.
#include <Python.h>

namespace {

int exec_module(PyObject* module) {
  if (PyModule_AddStringConstant(module, "VERSION", "0.1.2") < 0) return -1;
  if (PyModule_AddStringConstant(module, "__version__", "0.1.2") < 0) return -1;
  return 0;
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
    {0, nullptr},
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "vostrel._core", "Native core of vostrel.", 0, nullptr, kSlots,
    nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__core(void) { return PyModuleDef_Init(&kModule); }
