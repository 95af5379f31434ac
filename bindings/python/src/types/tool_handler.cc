// ToolHandler: a handler that lives inside the core, callable from Python.
#include <string>

#include "errors/errors.h"
#include "runtime/args.h"
#include "runtime/entries.h"
#include "types/json.h"
#include "types/tool_classes.h"

namespace vostrel::py {
namespace {

constexpr const char* kCallParameters[] = {"arguments", "actor"};
constexpr ArgumentDescription kCallArguments{"__call__", "ToolHandler", kCallParameters, 1};

PyObject* tool_handler_call(PyObject* self, PyObject* args, PyObject* kwargs) {
  return call_boundary([&]() -> PyObject* {
    PyObject* slots[2] = {};
    if (!match_tuple_dict(kCallArguments, args, kwargs, slots)) return nullptr;
    auto handler = borrow_ref<ToolHandlerClass>(self);
    if (!handler) return nullptr;
    if (!check_dict(slots[0])) return argument_error("arguments");
    std::string actor;
    if (slots[1] != nullptr && !extract_text(slots[1], actor)) return argument_error("actor");
    JsonObject arguments;
    if (!py_dict_to_json(slots[0], arguments)) return nullptr;
    // The lock stays held: a handler backed by Python re-enters on this thread.
    Result<std::string> result = (**handler)->call(arguments, actor);
    if (!result.ok()) return raise_core_error(std::move(result).error());
    return new_str(*result);
  });
}

const PyType_Slot kSlots[] = {
    {Py_tp_call, reinterpret_cast<void*>(tool_handler_call)},
};

}  // namespace

ClassDef ToolHandlerClass::def{
    "ToolHandler",
    "A framework handler, seen from Python as an ordinary callable.\n\n"
    "The built-in tools and the `Skill` tool are implemented inside the native\n"
    "core, so they have no Python function behind them. `handler` is still a\n"
    "documented attribute of a `ToolSpec`, and callers do reach for it; an\n"
    "instance of this class stands in for the function they would otherwise\n"
    "have found, and calling it runs the tool.",
    nullptr, false, instance_size<ToolHandlerClass>(), dealloc_instance<ToolHandlerClass>, kSlots,
    nullptr, nullptr,
};

}  // namespace vostrel::py
