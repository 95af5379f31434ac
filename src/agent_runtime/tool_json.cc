#include "agent_runtime/tool_json.h"

#include <string_view>

#include "json/typed_reader.h"

namespace vostrel::agent_runtime {

namespace {

constexpr std::string_view kToolCallFields[] = {"name", "arguments", "id"};
constexpr json::RecordShape kToolCallShape{"struct ToolCall", kToolCallFields};

constexpr std::string_view kToolResultFields[] = {"name", "content", "is_error"};
constexpr json::RecordShape kToolResultShape{"struct ToolResult", kToolResultFields};

Status read_tool_call_into(const JsonValue& value, ToolCall& out) {
  return json::read_record(value, kToolCallShape, [&](std::size_t field, const JsonValue& x) {
    switch (field) {
      case 0: return json::read_string(x, out.name);
      case 1: return json::read_map(x, out.arguments);
      default: return json::read_string(x, out.id);
    }
  });
}

Status read_tool_result_into(const JsonValue& value, ToolResult& out) {
  return json::read_record(value, kToolResultShape, [&](std::size_t field, const JsonValue& x) {
    switch (field) {
      case 0: return json::read_string(x, out.name);
      case 1: return json::read_string(x, out.content);
      default: return json::read_bool(x, out.is_error);
    }
  });
}

}  // namespace

JsonValue tool_call_to_json(const ToolCall& call) {
  JsonObject o;
  o.reserve(3);
  o.insert("name", call.name);
  o.insert("arguments", call.arguments);
  o.insert("id", call.id);
  return o;
}

JsonValue tool_calls_to_json(const std::vector<ToolCall>& calls) {
  JsonArray a;
  a.reserve(calls.size());
  for (const auto& call : calls) a.push_back(tool_call_to_json(call));
  return a;
}

JsonValue tool_results_to_json(const std::vector<ToolResult>& results) {
  JsonArray a;
  a.reserve(results.size());
  for (const auto& r : results) {
    JsonObject o;
    o.reserve(3);
    o.insert("name", r.name);
    o.insert("content", r.content);
    o.insert("is_error", r.is_error);
    a.emplace_back(std::move(o));
  }
  return a;
}

JsonValue tool_dialect_to_json(ToolDialect dialect) { return tool_dialect_name(dialect); }

Result<ToolCall> read_tool_call(const JsonValue& value) {
  return json::read_as<ToolCall>(value, read_tool_call_into);
}

Result<std::vector<ToolCall>> read_tool_calls(const JsonValue& value) {
  return json::read_list_as<ToolCall>(value, read_tool_call_into);
}

Result<std::vector<ToolResult>> read_tool_results(const JsonValue& value) {
  return json::read_list_as<ToolResult>(value, read_tool_result_into);
}

Result<ToolDialect> read_tool_dialect(const JsonValue& value) {
  VOSTREL_ASSIGN_OR_RETURN(std::size_t index, json::read_unit_variant(value, kToolDialectNames));
  return static_cast<ToolDialect>(index);
}

}  // namespace vostrel::agent_runtime
