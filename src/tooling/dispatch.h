// Running one tool call: its arguments checked against the tool's parameter
// schema, then the tool's handler. Every failure becomes an error result that
// tells the model what went wrong; nothing here fails the caller.
#ifndef VOSTREL_TOOLING_DISPATCH_H_
#define VOSTREL_TOOLING_DISPATCH_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "agent_runtime/tool.h"
#include "json/value.h"

namespace vostrel::tooling {

using agent_runtime::ToolCall;
using agent_runtime::ToolResult;
using agent_runtime::ToolSpec;

// The tools a given actor may call at this moment.
using ToolsFor = std::function<std::vector<ToolSpec>(std::string_view actor)>;

// Checks `arguments` against the small subset of JSON Schema that tool
// parameters use: of a top-level object schema, "required",
// "additionalProperties": false, and each property's "type" (one of the seven
// JSON kinds, not a list) and "enum" (Python equality: 1 == 1.0 == true;
// objects equal whatever their key order). Nothing nested is examined.
//
// Returns the issues in this order: missing required arguments, unexpected
// arguments, then per argument its type issue and its enum issue; the empty
// list when the arguments pass. A schema that is not an object accepts
// anything. Never fails; pure.
std::vector<std::string> validate_arguments(const JsonValue& schema, const JsonObject& arguments);

// Runs `call` for `actor` and describes what happened; the result is named
// after the call. The invalid-call placeholder is answered with feedback
// without consulting `tools_for`; otherwise `tools_for(actor)` is called once
// and the first tool of that name is used. Unknown tools, argument issues and
// handler errors become error results ("Unknown tool: {}", "{}: {}"). The
// handler receives `actor` only when the tool takes it, else the empty text.
// Never fails. Runs on the calling thread.
ToolResult execute_tool_call(const ToolsFor& tools_for, const ToolCall& call,
                             std::string_view actor);

}  // namespace vostrel::tooling

#endif  // VOSTREL_TOOLING_DISPATCH_H_
