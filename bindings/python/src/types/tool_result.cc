// ToolResult: what a tool call produced.
#include <string>

#include "pyfmt/pyfmt.h"
#include "runtime/args.h"
#include "runtime/compare.h"
#include "runtime/entries.h"
#include "types/tool_classes.h"

namespace vostrel::py {
namespace {

using Value = agent_runtime::ToolResult;

constexpr const char* kNewParameters[] = {"name", "content", "is_error"};
constexpr ArgumentDescription kNewArguments{"__new__", "ToolResult", kNewParameters, 2};

PyObject* tool_result_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return call_boundary([&]() -> PyObject* {
    PyObject* slots[3] = {};
    if (!match_tuple_dict(kNewArguments, args, kwargs, slots)) return nullptr;
    Value result;
    if (!extract_text(slots[0], result.name)) return argument_error("name");
    if (!extract_text(slots[1], result.content)) return argument_error("content");
    if (slots[2] != nullptr && !extract_bool(slots[2], result.is_error)) {
      return argument_error("is_error");
    }
    return into_py_object<ToolResultClass>(std::move(result), type);
  });
}

std::string tool_result_repr(const Value& result) {
  return "ToolResult(name=" + py_repr_str(result.name) + ", content=" +
         py_repr_str(result.content) + ", is_error=" + py_bool_text(result.is_error) + ")";
}

PyGetSetDef kGetset[] = {
    {"name", field_getter<ToolResultClass, [](const Value& v) { return new_str(v.name); }>,
     nullptr, nullptr, nullptr},
    {"content", field_getter<ToolResultClass, [](const Value& v) { return new_str(v.content); }>,
     nullptr, nullptr, nullptr},
    {"is_error", field_getter<ToolResultClass, [](const Value& v) { return py_bool(v.is_error); }>,
     nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const PyType_Slot kSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(tool_result_new)},
    {Py_tp_repr, reinterpret_cast<void*>(repr_slot<ToolResultClass, tool_result_repr>)},
    {Py_tp_richcompare, reinterpret_cast<void*>(richcompare_slot<ToolResultClass>)},
};

}  // namespace

bool ToolResultClass::equal(const Value& a, const Value& b) {
  return a.name == b.name && a.content == b.content && a.is_error == b.is_error;
}

ClassDef ToolResultClass::def{
    "ToolResult", "What a tool call produced.", "(name, content, is_error=False)", false,
    instance_size<ToolResultClass>(), dealloc_instance<ToolResultClass>, kSlots, nullptr,
    kGetset,
};

}  // namespace vostrel::py
