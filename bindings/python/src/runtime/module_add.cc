#include "runtime/module_add.h"

#include <string>

#include "runtime/boundary.h"
#include "runtime/ref.h"
#include "runtime/text.h"

namespace vostrel::py {

int module_add(PyObject* module, const char* name, PyObject* value) {
  PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    all = PyRef::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
  } else if (!PyList_Check(all.get())) {
    raise_conversion_error(all.get(), kListKind);
    return -1;
  }
  PyRef text = PyRef::steal(new_str(name));
  if (PyList_Append(all.get(), text.get()) < 0) {
    PyErr_Clear();
    panic("could not append __name__ to __all__");
  }
  return PyObject_SetAttrString(module, name, value);
}

int module_add_function(PyObject* module, PyMethodDef* def) {
  PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
  if (!module_name) return -1;
  PyRef function = PyRef::steal(PyCFunction_NewEx(def, module, module_name.get()));
  if (!function) return -1;
  PyRef name = PyRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
  if (!name) return -1;
  std::string text;
  if (!PyUnicode_Check(name.get())) {
    raise_conversion_error(name.get(), kTextKind);
    return -1;
  }
  if (!py_text_strict(name.get(), text)) return -1;
  return module_add(module, text.c_str(), function.get());
}

}  // namespace vostrel::py
