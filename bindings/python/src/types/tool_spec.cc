// ToolSpec: a tool an agent may call.
#include <memory>
#include <string>

#include "adapters/py_tool_spec_handler.h"
#include "pyfmt/pyfmt.h"
#include "runtime/args.h"
#include "runtime/compare.h"
#include "runtime/entries.h"
#include "types/json.h"
#include "types/tool_classes.h"

namespace vostrel::py {
namespace {

using Value = ToolSpecValue;

constexpr const char* kNewParameters[] = {"name", "description", "parameters", "handler",
                                          "takes_actor"};
constexpr ArgumentDescription kNewArguments{"__new__", "ToolSpec", kNewParameters, 4};

PyObject* tool_spec_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return call_boundary([&]() -> PyObject* {
    PyObject* slots[5] = {};
    if (!match_tuple_dict(kNewArguments, args, kwargs, slots)) return nullptr;
    Value value;
    agent_runtime::ToolSpec& spec = value.spec;
    if (!extract_text(slots[0], spec.name)) return argument_error("name");
    if (!extract_text(slots[1], spec.description)) return argument_error("description");
    if (slots[4] != nullptr && !extract_bool(slots[4], spec.takes_actor)) {
      return argument_error("takes_actor");
    }
    if (!py_to_json(slots[2], spec.parameters)) return nullptr;
    value.handler_object = PyRef::borrow(slots[3]);
    spec.handler = std::make_shared<PyToolSpecHandler>(value.handler_object, spec.takes_actor);
    return into_py_object<ToolSpecClass>(std::move(value), type);
  });
}

std::string tool_spec_repr(const Value& value) {
  return "ToolSpec(name=" + py_repr_str(value.spec.name) +
         ", takes_actor=" + py_bool_text(value.spec.takes_actor) + ")";
}

PyObject* handler_object(const Value& value) {
  PyObject* object = value.handler_object ? value.handler_object.get() : Py_None;
  Py_INCREF(object);
  return object;
}

PyGetSetDef kGetset[] = {
    {"name", field_getter<ToolSpecClass, [](const Value& v) { return new_str(v.spec.name); }>,
     nullptr, nullptr, nullptr},
    {"description",
     field_getter<ToolSpecClass, [](const Value& v) { return new_str(v.spec.description); }>,
     nullptr, nullptr, nullptr},
    {"parameters",
     field_getter<ToolSpecClass, [](const Value& v) { return json_to_py(v.spec.parameters); }>,
     nullptr, nullptr, nullptr},
    {"handler", field_getter<ToolSpecClass, handler_object>, nullptr, nullptr, nullptr},
    {"takes_actor",
     field_getter<ToolSpecClass, [](const Value& v) { return py_bool(v.spec.takes_actor); }>,
     nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const PyType_Slot kSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(tool_spec_new)},
    {Py_tp_repr, reinterpret_cast<void*>(repr_slot<ToolSpecClass, tool_spec_repr>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(richcompare_slot<ToolSpecClass>)},
};

}  // namespace

bool ToolSpecClass::equal(const Value& a, const Value& b) {
  return a.spec.name == b.spec.name && a.spec.description == b.spec.description &&
         json_values_equal(a.spec.parameters, b.spec.parameters) &&
         a.spec.takes_actor == b.spec.takes_actor;
}

PyObject* tool_spec_to_py(const agent_runtime::ToolSpec& spec) {
  Value value{spec, PyRef()};
  PyObject* wrapper = new_py_object<ToolHandlerClass>(
      std::shared_ptr<agent_runtime::ToolHandler>(spec.handler));
  if (wrapper == nullptr) {
    PyErr_Clear();  // the ToolSpec then shows None as its handler
  }
  value.handler_object = PyRef::steal(wrapper);
  return new_py_object<ToolSpecClass>(std::move(value));
}

ClassDef ToolSpecClass::def{
    "ToolSpec", "A tool an agent may call.",
    "(name, description, parameters, handler, takes_actor=False)", false,
    instance_size<ToolSpecClass>(), dealloc_instance<ToolSpecClass>, kSlots, nullptr, kGetset,
};

}  // namespace vostrel::py
