#include "runtime/classes.h"

#include <cstring>
#include <vector>

#include "runtime/module_add.h"

namespace vostrel::py {
namespace {

// The joined docstring, "{name}{signature}\n--\n\n{doc}" for classes with a
// constructor, so Python reports __text_signature__ and __doc__ apart.
const char* class_docstring(ClassDef& def) {
  const char* cached = def.docstring.load(std::memory_order_acquire);
  if (cached != nullptr) return cached;
  std::string text;
  if (def.text_signature != nullptr) {
    text = std::string(def.name) + def.text_signature + "\n--\n\n" + def.doc;
  } else {
    text = def.doc;
  }
  if (text.find('\0') != std::string::npos) {
    raise_text(PyExc_ValueError, "class doc cannot contain nul bytes");
    return nullptr;
  }
  // Kept for the life of the process, like the type that points at it.
  char* stored = new char[text.size() + 1];
  std::memcpy(stored, text.c_str(), text.size() + 1);
  const char* expected = nullptr;
  if (!def.docstring.compare_exchange_strong(expected, stored, std::memory_order_acq_rel)) {
    delete[] stored;
    return expected;
  }
  return stored;
}

bool has_slot(const ClassDef& def, int slot_id) {
  for (const PyType_Slot& slot : def.slots) {
    if (slot.slot == slot_id) return true;
  }
  return false;
}

}  // namespace

PyObject* no_constructor(PyTypeObject* type, PyObject*, PyObject*) {
  return call_boundary([type]() -> PyObject* {
    PyRef name = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type),
                                                     "__name__"));
    std::string text = "<unknown>";
    if (name && PyUnicode_Check(name.get())) text = py_text_lossy(name.get());
    PyErr_Clear();
    return raise_text(PyExc_TypeError, "No constructor defined for " + text);
  });
}

PyTypeObject* type_object_fallible(ClassDef& def) {
  PyTypeObject* cached = def.type.load(std::memory_order_acquire);
  if (cached != nullptr) return cached;

  const char* docstring = class_docstring(def);
  if (docstring == nullptr) return nullptr;

  std::vector<PyType_Slot> slots;
  slots.push_back({Py_tp_doc, const_cast<char*>(docstring)});
  for (const PyType_Slot& slot : def.slots) slots.push_back(slot);
  if (def.methods != nullptr) slots.push_back({Py_tp_methods, def.methods});
  if (def.getset != nullptr) slots.push_back({Py_tp_getset, def.getset});
  slots.push_back({Py_tp_base, &PyBaseObject_Type});
  if (!has_slot(def, Py_tp_new)) slots.push_back({Py_tp_new, reinterpret_cast<void*>(no_constructor)});
  slots.push_back({Py_tp_dealloc, reinterpret_cast<void*>(def.dealloc)});
  slots.push_back({0, nullptr});

  // CPython keeps pointing at the type name it was given, so it lives as long as the type.
  auto* qualified = new std::string(std::string("vostrel._core.") + def.name);
  PyType_Spec spec{};
  spec.name = qualified->c_str();
  spec.basicsize = def.basic_size;
  spec.itemsize = 0;
  spec.flags = Py_TPFLAGS_DEFAULT | (def.subclassable ? Py_TPFLAGS_BASETYPE : 0);
  spec.slots = slots.data();
  PyObject* type = PyType_FromSpec(&spec);
  if (type == nullptr) {
    delete qualified;
    return nullptr;
  }
  PyTypeObject* expected = nullptr;
  auto* built = reinterpret_cast<PyTypeObject*>(type);
  if (!def.type.compare_exchange_strong(expected, built, std::memory_order_acq_rel)) {
    Py_DECREF(type);
    return expected;
  }
  return built;
}

PyTypeObject* type_object(ClassDef& def) {
  PyTypeObject* type = type_object_fallible(def);
  if (type != nullptr) return type;
  PyErr_Print();
  panic(std::string("failed to create type object for ") + def.name);
}

int add_class(PyObject* module, ClassDef& def) {
  PyTypeObject* type = type_object_fallible(def);
  if (type == nullptr) {
    PyRef cause = take_current_exception();
    PyRef message = PyRef::steal(
        new_str(std::string("An error occurred while initializing class ") + def.name));
    PyRef error = PyRef::steal(
        PyObject_CallFunctionObjArgs(PyExc_RuntimeError, message.get(), nullptr));
    if (!error) return -1;
    PyException_SetCause(error.get(), cause.release());  // steals the cause
    PyErr_SetObject(PyExc_RuntimeError, error.get());
    return -1;
  }
  return module_add(module, def.name, reinterpret_cast<PyObject*>(type));
}

}  // namespace vostrel::py
