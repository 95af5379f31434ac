// PyToolSpecHandler: the core ToolHandler behind a ToolSpec built in Python,
// calling the Python handler with the interpreter lock taken for each call.
#ifndef VOSTREL_BINDING_ADAPTERS_PY_TOOL_SPEC_HANDLER_H_
#define VOSTREL_BINDING_ADAPTERS_PY_TOOL_SPEC_HANDLER_H_

#include <Python.h>

#include <string>
#include <string_view>

#include "agent_runtime/tool.h"
#include "runtime/ref.h"

namespace vostrel::py {

// Holds a strong reference to `handler` (any object; callability is found out
// at the first call). Callable from any thread.
class PyToolSpecHandler final : public agent_runtime::ToolHandler {
 public:
  PyToolSpecHandler(PyRef handler, bool takes_actor)
      : handler_(std::move(handler)), takes_actor_(takes_actor) {}

  // handler(arguments) or handler(arguments, actor); a str result as it is, a
  // list or tuple as str() of each item joined with ", ", anything else str().
  // A Python exception becomes the core error of its kind.
  Result<std::string> call(const JsonObject& arguments, std::string_view actor) override;

 private:
  PyRef handler_;
  bool takes_actor_;
};

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_ADAPTERS_PY_TOOL_SPEC_HANDLER_H_
