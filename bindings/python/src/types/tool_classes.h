// The tool vocabulary classes: ToolCall, ToolSpec, ToolResult and ToolHandler.
#ifndef VOSTREL_BINDING_TYPES_TOOL_CLASSES_H_
#define VOSTREL_BINDING_TYPES_TOOL_CLASSES_H_

#include <memory>

#include "agent_runtime/tool.h"
#include "runtime/classes.h"
#include "runtime/ref.h"

namespace vostrel::py {

struct ToolCallClass {
  using Value = agent_runtime::ToolCall;
  static constexpr bool kHasFlag = false;
  static ClassDef def;
  static bool equal(const Value& a, const Value& b);
};

struct ToolResultClass {
  using Value = agent_runtime::ToolResult;
  static constexpr bool kHasFlag = false;
  static ClassDef def;
  static bool equal(const Value& a, const Value& b);
};

// A Python ToolSpec: the core spec, and beside it the object its `handler`
// attribute returns (the callable given to the constructor, or a ToolHandler
// wrapping a handler the system built). Copies need the interpreter lock.
struct ToolSpecValue {
  agent_runtime::ToolSpec spec;
  PyRef handler_object;
};

struct ToolSpecClass {
  using Value = ToolSpecValue;
  static constexpr bool kHasFlag = false;
  static ClassDef def;
  static bool equal(const Value& a, const Value& b);
};

// Fronts a handler that lives inside the core; its instances are callable.
struct ToolHandlerClass {
  using Value = std::shared_ptr<agent_runtime::ToolHandler>;
  static constexpr bool kHasFlag = false;
  static ClassDef def;
};

// A new Python ToolSpec for a core spec: the fields copied, the handler shared
// and wrapped in a new ToolHandler (None when the wrapper cannot be made).
PyObject* tool_spec_to_py(const agent_runtime::ToolSpec& spec);

}  // namespace vostrel::py

#endif  // VOSTREL_BINDING_TYPES_TOOL_CLASSES_H_
