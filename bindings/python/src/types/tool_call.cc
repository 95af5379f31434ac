// ToolCall: a call the model asked for.
#include <string>

#include "pyfmt/pyfmt.h"
#include "runtime/args.h"
#include "runtime/compare.h"
#include "runtime/entries.h"
#include "types/json.h"
#include "types/tool_classes.h"

namespace vostrel::py {
namespace {

using Value = agent_runtime::ToolCall;

constexpr const char* kNewParameters[] = {"name", "arguments", "id"};
constexpr ArgumentDescription kNewArguments{"__new__", "ToolCall", kNewParameters, 1};

PyObject* tool_call_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return call_boundary([&]() -> PyObject* {
    PyObject* slots[3] = {};
    if (!match_tuple_dict(kNewArguments, args, kwargs, slots)) return nullptr;
    Value call;
    if (!extract_text(slots[0], call.name)) return argument_error("name");
    if (slots[2] != nullptr && !extract_text(slots[2], call.id)) return argument_error("id");
    if (!py_dict_to_json_opt(slots[1], call.arguments)) return nullptr;
    return into_py_object<ToolCallClass>(std::move(call), type);
  });
}

std::string tool_call_repr(const Value& call) {
  return "ToolCall(name=" + py_repr_str(call.name) +
         ", arguments=" + py_str(JsonValue(JsonObject(call.arguments))) +
         ", id=" + py_repr_str(call.id) + ")";
}

PyGetSetDef kGetset[] = {
    {"name", field_getter<ToolCallClass, [](const Value& v) { return new_str(v.name); }>, nullptr,
     nullptr, nullptr},
    {"arguments",
     field_getter<ToolCallClass, [](const Value& v) { return json_object_to_py(v.arguments); }>,
     nullptr, nullptr, nullptr},
    {"id", field_getter<ToolCallClass, [](const Value& v) { return new_str(v.id); }>, nullptr,
     nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const PyType_Slot kSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(tool_call_new)},
    {Py_tp_repr, reinterpret_cast<void*>(repr_slot<ToolCallClass, tool_call_repr>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(richcompare_slot<ToolCallClass>)},
};

}  // namespace

bool ToolCallClass::equal(const Value& a, const Value& b) {
  return a.name == b.name && json_objects_equal(a.arguments, b.arguments) && a.id == b.id;
}

ClassDef ToolCallClass::def{
    "ToolCall", "A call the model asked for.", "(name, arguments=None, id=...)", false,
    instance_size<ToolCallClass>(), dealloc_instance<ToolCallClass>, kSlots, nullptr, kGetset,
};

}  // namespace vostrel::py
