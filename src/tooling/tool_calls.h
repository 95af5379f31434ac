// The text tool-call protocol: a model without native tool calls asks for
// tools by writing JSON into a `tool_calls` fenced block of its reply.
#ifndef VOSTREL_TOOLING_TOOL_CALLS_H_
#define VOSTREL_TOOLING_TOOL_CALLS_H_

#include <string>
#include <string_view>
#include <vector>

#include "agent_runtime/tool.h"
#include "json/value.h"

namespace vostrel::tooling {

using agent_runtime::ToolCall;

// The calls a text reply asks for, in the order written.
//
// Reads the `tool_calls` block; when that is empty, a `json` block that
// mentions the `tool_calls` key; else a bare reply that begins with "{" and
// mentions the key. A top-level array is the list of calls; an object must
// carry it under "tool_calls". Each call is an OpenAI-style item
// ({"id", "function": {"name", "arguments"}}) or a flat one ({"name",
// "arguments", "id"}); items without a usable name are dropped.
//
// Returns the empty list when the reply asks for no tools, and a list of one
// invalid_tool_call() placeholder when the attempt is malformed (its "error"
// tells the model what to fix, including the JSON reader's message and
// position). Never fails; runs in time linear in `text`; safe on any thread.
std::vector<ToolCall> parse_tool_calls(std::string_view text);

// Whether `text` mentions `tool_calls` as a key: bare or in double quotes, not
// part of a longer identifier, followed by optional ASCII white space and ":".
bool has_tool_calls_key(std::string_view text);

// The placeholder call of a reply whose tool-call block could not be read:
// name agent_runtime::kInvalidCall, arguments {"error": message}, empty id.
ToolCall invalid_tool_call(std::string message);

// {"raw": value}: how a model's tool-call arguments that are not a JSON object
// become an object.
JsonValue wrap_raw_value(JsonValue value);

}  // namespace vostrel::tooling

#endif  // VOSTREL_TOOLING_TOOL_CALLS_H_
