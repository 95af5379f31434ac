#include "provider/claude.h"

#include <utility>

#include "http/transport.h"
#include "provider/openai.h"
#include "provider/wire.h"
#include "unicode/unicode.h"

namespace vostrel::provider {

ClaudeMessages claude_messages(const Messages& messages) {
  ClaudeMessages out;
  out.messages.reserve(messages.size());
  bool first_part = true;
  for (const JsonValue& message : messages) {
    const JsonValue* role = message.find("role");
    if (role != nullptr && role->is_string() && role->as_string() == "system") {
      if (!first_part) out.system += '\n';
      first_part = false;
      const JsonValue* content = message.find("content");
      if (content != nullptr && content->is_string()) out.system += content->as_string();
      continue;
    }
    out.messages.push_back(message);
  }
  return out;
}

std::vector<ToolCall> parse_anthropic_tool_calls(const JsonValue& reply) {
  std::vector<ToolCall> calls;
  const JsonValue* content = reply.find("content");
  if (content == nullptr || !content->is_array()) return calls;
  for (const JsonValue& block : content->as_array()) {
    const JsonValue* type = block.find("type");
    if (type == nullptr || !type->is_string() || type->as_string() != "tool_use") continue;
    const JsonValue* name = block.find("name");
    if (name == nullptr || json_is_empty(*name)) continue;
    JsonObject arguments;
    const JsonValue* input = block.find("input");
    if (input != nullptr && input->is_object()) {
      arguments = input->as_object();
    } else {
      arguments = JsonObject{{"raw", input != nullptr ? *input : JsonValue(nullptr)}};
    }
    calls.push_back(ToolCall{truthy_text(name), std::move(arguments), truthy_text(block.find("id"))});
  }
  return calls;
}

ClaudeProvider::ClaudeProvider(RetrySettings retry, ClaudeConfig config)
    : state_(retry), config_(with_stripped_url(std::move(config), &ClaudeConfig::base_url)) {}

namespace {

Result<ProviderResponse> read_claude_reply(JsonValue reply, std::string_view model) {
  ProviderResponse response;
  response.tool_calls = parse_anthropic_tool_calls(reply);
  const JsonValue* error = reply.find("error");
  if (error != nullptr && !error->is_null()) return reply_error("API error", model, reply);
  const JsonValue* stop = reply.find("stop_reason");
  if (stop != nullptr && stop->is_string() && stop->as_string() == "refusal") {
    return indicates_error(model, "refusal", reply);
  }
  const JsonValue* content = reply.find("content");
  if (content == nullptr || !content->is_array()) {
    return reply_error("Unexpected response structure", model, reply);
  }
  std::string text;
  bool any_text = false;
  for (const JsonValue& block : content->as_array()) {
    if (!block.is_object()) continue;
    const JsonValue* type = block.find("type");
    if (type != nullptr && type->is_string() && type->as_string() != "text") continue;
    const JsonValue* part = block.find("text");
    if (part == nullptr || !part->is_string()) continue;
    if (any_text) text += '\n';
    text += part->as_string();
    any_text = true;
  }
  if (!any_text && response.tool_calls.empty()) {
    return reply_error("Unexpected response structure", model, reply);
  }
  response.content = std::string(unicode::trim(text));
  const JsonValue* reply_model = reply.find("model");
  response.model = (reply_model != nullptr && reply_model->is_string()) ? reply_model->as_string()
                                                                        : std::string(model);
  if (const JsonValue* usage = reply.find("usage"); usage != nullptr && usage->is_object()) {
    response.usage = usage->as_object();
  }
  if (stop != nullptr && stop->is_string()) response.stop_reason = stop->as_string();
  response.raw = std::move(reply);
  return response;
}

}  // namespace

Result<ProviderResponse> ClaudeProvider::chat(std::string_view model, const Messages& messages,
                                              ToolList tools, ReasoningEffort effort) {
  http::Headers headers;
  headers.reserve(3);
  if (config_.auth.oauth) {
    headers.emplace_back("Authorization", "Bearer " + config_.auth.secret);
  } else {
    headers.emplace_back("x-api-key", config_.auth.secret);
  }
  headers.emplace_back("anthropic-version", "2023-06-01");
  headers.emplace_back("Content-Type", "application/json");

  ClaudeMessages converted = claude_messages(messages);
  JsonObject body;
  body.reserve(7);
  body.insert("model", model);
  body.insert("messages", JsonArray(std::move(converted.messages)));
  body.insert("max_tokens", config_.max_tokens);
  body.insert("temperature", finite_or_null(config_.temperature));
  if (!converted.system.empty()) body.insert("system", std::move(converted.system));
  if (!state_.reasoning_effort_rejected.load()) {
    body.insert("output_config", JsonObject{{"effort", reasoning_effort_name(effort)}});
  }
  add_tools_to_body(body, state_.native_tools_rejected.load() ? ToolDialect::kText : ToolDialect::kAnthropic,
                    tools);

  Result<JsonValue> reply = http::transport_post(config_.base_url + "/messages", JsonValue(std::move(body)),
                                                 headers, config_.timeout_sec);
  if (!reply.ok()) return redact_secret(std::move(reply).error(), config_.auth.secret);
  // The reply checks quote the whole reply, which may echo the credential.
  return without_secret(read_claude_reply(std::move(reply).value(), model), config_.auth.secret);
}

}  // namespace vostrel::provider
