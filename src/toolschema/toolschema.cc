#include "toolschema/toolschema.h"

#include <string>
#include <utility>

#include "pyfmt/pyfmt.h"

namespace vostrel::toolschema {

namespace {

constexpr std::string_view kErrorPrefix = "[ToolError] ";

// The result's content as the text dialects show it.
std::string result_text(const ToolResult& result) {
  if (!result.is_error) return result.content;
  std::string text;
  text.reserve(kErrorPrefix.size() + result.content.size());
  text.append(kErrorPrefix).append(result.content);
  return text;
}

JsonValue openai_call(const ToolCall& call) {
  JsonObject function;
  function.insert("name", call.name);
  function.insert("arguments", py_json_dumps(JsonValue(call.arguments)));
  JsonObject entry;
  entry.insert("id", call.id);
  entry.insert("type", "function");
  entry.insert("function", std::move(function));
  return entry;
}

JsonValue anthropic_tool_use(const ToolCall& call) {
  JsonObject block;
  block.insert("type", "tool_use");
  block.insert("id", call.id);
  block.insert("name", call.name);
  block.insert("input", call.arguments);
  return block;
}

}  // namespace

JsonValue render_assistant_turn(ToolDialect dialect, std::string_view content,
                                std::span<const ToolCall> tool_calls) {
  JsonObject message;
  message.insert("role", "assistant");
  switch (dialect) {
    case ToolDialect::kText:
      message.insert("content", content);
      break;
    case ToolDialect::kOpenai: {
      message.insert("content", content.empty() ? JsonValue() : JsonValue(content));
      JsonArray calls;
      calls.reserve(tool_calls.size());
      for (const ToolCall& call : tool_calls) calls.push_back(openai_call(call));
      message.insert("tool_calls", std::move(calls));
      break;
    }
    case ToolDialect::kAnthropic: {
      JsonArray blocks;
      blocks.reserve(tool_calls.size() + 1);
      if (!content.empty()) {
        blocks.push_back(JsonObject{{"type", "text"}, {"text", content}});
      }
      for (const ToolCall& call : tool_calls) blocks.push_back(anthropic_tool_use(call));
      message.insert("content", std::move(blocks));
      break;
    }
  }
  return message;
}

JsonValue render_tool_result(ToolDialect dialect, std::string_view call_id,
                             const ToolResult& result) {
  JsonObject message;
  switch (dialect) {
    case ToolDialect::kText: {
      std::string content = "[Tool:";
      content.append(result.name).append("] ").append(result_text(result));
      message.insert("role", "assistant");
      message.insert("content", std::move(content));
      break;
    }
    case ToolDialect::kOpenai:
      message.insert("role", "tool");
      message.insert("tool_call_id", call_id);
      message.insert("content", result_text(result));
      break;
    case ToolDialect::kAnthropic: {
      JsonObject block;
      block.insert("type", "tool_result");
      block.insert("tool_use_id", call_id);
      block.insert("content", result.content);
      block.insert("is_error", result.is_error);
      message.insert("role", "user");
      message.insert("content", JsonArray{JsonValue(std::move(block))});
      break;
    }
  }
  return message;
}

JsonValue to_openai_tool(const ToolSpec& spec) {
  JsonObject function;
  function.insert("name", spec.name);
  function.insert("description", spec.description);
  function.insert("parameters", spec.parameters);
  JsonObject tool;
  tool.insert("type", "function");
  tool.insert("function", std::move(function));
  return tool;
}

JsonValue to_anthropic_tool(const ToolSpec& spec) {
  JsonObject tool;
  tool.insert("name", spec.name);
  tool.insert("description", spec.description);
  tool.insert("input_schema", spec.parameters);
  return tool;
}

std::optional<std::vector<JsonValue>> tool_schemas(ToolDialect dialect,
                                                   std::span<const ToolSpec> tools) {
  if (dialect == ToolDialect::kText || tools.empty()) return std::nullopt;
  std::vector<JsonValue> definitions;
  definitions.reserve(tools.size());
  for (const ToolSpec& spec : tools) {
    definitions.push_back(dialect == ToolDialect::kAnthropic ? to_anthropic_tool(spec)
                                                             : to_openai_tool(spec));
  }
  return definitions;
}

}  // namespace vostrel::toolschema
