// JSON forms of the tool vocabulary, as agent-turn snapshots and run
// checkpoints store them. Writers never fail; every value a writer produces
// reads back unchanged. Readers refuse bad input with the shared typed-reader
// texts (json/typed_reader.h) and keep nothing of a failed read.
#ifndef VOSTREL_AGENT_RUNTIME_TOOL_JSON_H_
#define VOSTREL_AGENT_RUNTIME_TOOL_JSON_H_

#include <vector>

#include "agent_runtime/tool.h"
#include "json/value.h"
#include "utils/result.h"

namespace vostrel::agent_runtime {

// {"name": ..., "arguments": {...}, "id": ...}, keys in that order.
JsonValue tool_call_to_json(const ToolCall& call);
// An array of tool-call objects, in order.
JsonValue tool_calls_to_json(const std::vector<ToolCall>& calls);
// [{"name": ..., "content": ..., "is_error": ...}, ...], keys in that order.
JsonValue tool_results_to_json(const std::vector<ToolResult>& results);
// "text", "openai" or "anthropic".
JsonValue tool_dialect_to_json(ToolDialect dialect);

// A ToolCall from its object form (unknown keys ignored, the first absent of
// `name`, `arguments`, `id` refused) or its array form [name, arguments, id].
// `arguments` must already be an object: wrapping other values is the business
// of the readers of model output, not of this one.
Result<ToolCall> read_tool_call(const JsonValue& value);
// An array of calls; the first failing element ends the read.
Result<std::vector<ToolCall>> read_tool_calls(const JsonValue& value);
// An array of results, each an object or a [name, content, is_error] array.
Result<std::vector<ToolResult>> read_tool_results(const JsonValue& value);
// "text", "openai", "anthropic" (case matters), or a one-key object naming the
// dialect with a null value.
Result<ToolDialect> read_tool_dialect(const JsonValue& value);

}  // namespace vostrel::agent_runtime

#endif  // VOSTREL_AGENT_RUNTIME_TOOL_JSON_H_
