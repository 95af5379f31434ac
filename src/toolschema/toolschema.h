// How a tool-using exchange is written into the chat history sent to a
// provider, per tool dialect: the assistant message of a reply that asks for
// tools, the message that hands a tool result back, and the tool definitions
// sent with a request in the native dialects.
//
// Every function here is pure, never fails and returns a newly built value;
// safe on any thread.
#ifndef VOSTREL_TOOLSCHEMA_TOOLSCHEMA_H_
#define VOSTREL_TOOLSCHEMA_TOOLSCHEMA_H_

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "agent_runtime/tool.h"
#include "json/value.h"

namespace vostrel::toolschema {

using agent_runtime::ToolCall;
using agent_runtime::ToolDialect;
using agent_runtime::ToolResult;
using agent_runtime::ToolSpec;

// The assistant message a reply is appended to the history as. `content` and
// `tool_calls` are the reply's text and its calls (the only parts of a
// provider response that the shape uses), so callers pass
// `response.content, response.tool_calls`.
//   text:      {"role": "assistant", "content": content}
//   openai:    {"role": "assistant", "content": content or null,
//               "tool_calls": [{"id", "type": "function",
//                               "function": {"name", "arguments": json.dumps text}}]}
//   anthropic: {"role": "assistant", "content": [text block?, tool_use blocks...]}
JsonValue render_assistant_turn(ToolDialect dialect, std::string_view content,
                                std::span<const ToolCall> tool_calls);

// The message that hands one result back to the model. An error result is
// marked "[ToolError] " in the text and openai shapes and only by "is_error"
// in anthropic.
JsonValue render_tool_result(ToolDialect dialect, std::string_view call_id,
                             const ToolResult& result);

// {"type": "function", "function": {"name", "description", "parameters"}};
// the schema is copied unchanged.
JsonValue to_openai_tool(const ToolSpec& spec);

// {"name", "description", "input_schema"}; the schema is copied unchanged.
JsonValue to_anthropic_tool(const ToolSpec& spec);

// One definition per tool in the dialect's shape, in the order of `tools`;
// absent (not empty) for the text dialect or an empty list.
std::optional<std::vector<JsonValue>> tool_schemas(ToolDialect dialect,
                                                   std::span<const ToolSpec> tools);

}  // namespace vostrel::toolschema

#endif  // VOSTREL_TOOLSCHEMA_TOOLSCHEMA_H_
