#include "provider/openai.h"

#include <utility>

#include "json/reader.h"
#include "provider/wire.h"
#include "pyfmt/pyfmt.h"
#include "toolschema/toolschema.h"
#include "unicode/unicode.h"

namespace vostrel::provider {

namespace {

// The effort to send: none once the provider's effort latch is set.
std::optional<ReasoningEffort> effort_to_send(const ProviderState& state, ReasoningEffort effort) {
  if (state.reasoning_effort_rejected.load()) return std::nullopt;
  return effort;
}

ToolDialect tools_dialect(const ProviderState& state) {
  return state.native_tools_rejected.load() ? ToolDialect::kText : ToolDialect::kOpenai;
}

// The shape of a reply whose structured output did not parse, for the error text.
JsonValue reply_shape(const JsonValue& reply) {
  JsonArray keys;
  if (const JsonObject* object = reply.get_object()) {
    for (const auto& entry : *object) keys.emplace_back(entry.first);
  }
  std::uint64_t choice_count = 0;
  const JsonValue* choices = reply.find("choices");
  if (choices != nullptr && choices->is_array()) choice_count = choices->as_array().size();
  JsonObject shape{{"keys", std::move(keys)}, {"choice_count", choice_count}};
  if (choices != nullptr && choices->is_array() && !choices->as_array().empty()) {
    const JsonValue* finish = choices->as_array()[0].find("finish_reason");
    if (finish != nullptr && finish->is_string() && !finish->as_string().empty()) {
      shape.insert("finish_reason", *finish);
    }
  }
  return shape;
}

// Arguments of one OpenAI tool call: an object as given, JSON text parsed
// ("" reads as {}), anything else wrapped or dropped.
JsonObject tool_arguments(const JsonValue* arguments) {
  if (arguments == nullptr) return {};
  if (const JsonObject* object = arguments->get_object()) return *object;
  const std::string* text = arguments->get_string();
  if (text == nullptr) return {};
  JsonValue parsed;
  JsonParseError error;
  if (!parse_json(text->empty() ? std::string_view("{}") : std::string_view(*text), parsed, error)) {
    return JsonObject{{"raw", *text}};
  }
  if (JsonObject* object = parsed.get_object()) return std::move(*object);
  return JsonObject{{"raw", std::move(parsed)}};
}

// Whether a header of that name carries a credential ("Authorization",
// "x-api-key", "api-key", "X-Auth-Token", ...).
bool names_credential(std::string_view name) {
  const std::string lower = unicode::ascii_lowercase(name);
  for (std::string_view word : {"auth", "key", "token", "secret"}) {
    if (lower.find(word) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

JsonValue json_schema_response_format(std::string_view name, bool strict, JsonValue schema) {
  JsonObject inner{{"name", name.empty() ? std::string_view("response_format") : name},
                   {"strict", strict},
                   {"schema", std::move(schema)}};
  return JsonObject{{"type", "json_schema"}, {"json_schema", std::move(inner)}};
}

http::Headers bearer_json_headers(std::string_view api_key) {
  return {{"Authorization", "Bearer " + std::string(api_key)}, {"Content-Type", "application/json"}};
}

JsonObject build_chat_body(std::string_view model, const Messages& messages, double temperature,
                           double top_p, std::optional<std::int64_t> max_tokens) {
  JsonObject body;
  body.reserve(8);
  body.insert("model", model);
  body.insert("messages", JsonArray(messages.begin(), messages.end()));
  body.insert("temperature", finite_or_null(temperature));
  body.insert("top_p", finite_or_null(top_p));
  body.insert("stream", false);
  if (max_tokens) body.insert("max_tokens", *max_tokens);
  return body;
}

void add_reasoning_effort(JsonObject& body, std::optional<ReasoningEffort> effort) {
  if (effort) body.insert("reasoning_effort", reasoning_effort_name(*effort));
}

void add_tools_to_body(JsonObject& body, ToolDialect dialect, ToolList tools) {
  if (!tools) return;
  if (auto schemas = toolschema::tool_schemas(dialect, *tools)) {
    body.insert("tools", JsonArray(std::make_move_iterator(schemas->begin()),
                                   std::make_move_iterator(schemas->end())));
  }
}

std::vector<ToolCall> parse_openai_tool_calls(const JsonValue& message) {
  std::vector<ToolCall> calls;
  const JsonValue* list = message.find("tool_calls");
  if (list == nullptr || !list->is_array()) return calls;
  for (const JsonValue& entry : list->as_array()) {
    const JsonValue* function = entry.find("function");
    if (function == nullptr || !function->is_object()) continue;
    const JsonValue* name = function->find("name");
    if (name == nullptr || json_is_empty(*name)) continue;
    calls.push_back(ToolCall{truthy_text(name), tool_arguments(function->find("arguments")),
                             truthy_text(entry.find("id"))});
  }
  return calls;
}

Result<ProviderResponse> send_openai_shaped(std::string_view base_url, JsonValue body,
                                            const http::Headers& headers,
                                            std::uint64_t timeout_sec, std::string_view model) {
  VOSTREL_ASSIGN_OR_RETURN(JsonValue reply,
                           http::transport_post(std::string(base_url) + "/chat/completions", body,
                                                headers, timeout_sec));
  const JsonValue* error = reply.find("error");
  if (error != nullptr && !error->is_null()) return reply_error("API error", model, reply);
  const JsonValue* choices = reply.find("choices");
  if (choices == nullptr || !choices->is_array() || choices->as_array().empty()) {
    return reply_error("Unexpected response structure", model, reply);
  }
  const JsonValue& choice = choices->as_array()[0];
  std::string stop_reason;
  if (const JsonValue* finish = choice.find("finish_reason"); finish != nullptr && finish->is_string()) {
    stop_reason = finish->as_string();
  }
  if (stop_reason == "content_filter") return indicates_error(model, "content_filter", reply);
  const JsonValue* message = choice.find("message");
  if (message == nullptr || !message->is_object()) {
    return reply_error("Unexpected response structure", model, reply);
  }
  if (const JsonValue* refusal = message->find("refusal");
      refusal != nullptr && refusal->is_string() && !unicode::trim(refusal->as_string()).empty()) {
    return indicates_error(model, "refusal", reply);
  }
  const JsonValue* content = message->find("content");
  if (content != nullptr && content->is_array()) {
    for (const JsonValue& part : content->as_array()) {
      const JsonValue* type = part.find("type");
      if (type != nullptr && type->is_string() && type->as_string() == "refusal") {
        return indicates_error(model, "refusal", reply);
      }
    }
  }

  ProviderResponse response;
  response.tool_calls = parse_openai_tool_calls(*message);
  if (content != nullptr && content->is_string()) {
    response.content = std::string(unicode::trim(content->as_string()));
  } else if ((content == nullptr || content->is_null()) && response.tool_calls.empty()) {
    return reply_error("Unexpected response structure", model, reply);
  }
  const JsonValue* reply_model = reply.find("model");
  response.model = (reply_model != nullptr && reply_model->is_string()) ? reply_model->as_string()
                                                                        : std::string(model);
  if (const JsonValue* usage = reply.find("usage"); usage != nullptr && usage->is_object()) {
    response.usage = usage->as_object();
  }
  response.stop_reason = std::move(stop_reason);
  response.raw = std::move(reply);
  return response;
}

OpenRouterProvider::OpenRouterProvider(RetrySettings retry, OpenRouterConfig config)
    : state_(retry), config_(with_stripped_url(std::move(config), &OpenRouterConfig::base_url)) {}

Result<ProviderResponse> OpenRouterProvider::chat(std::string_view model, const Messages& messages,
                                                  ToolList tools, ReasoningEffort effort) {
  http::Headers headers = bearer_json_headers(config_.api_key);
  if (!config_.app_url.empty()) headers.emplace_back("HTTP-Referer", config_.app_url);
  if (!config_.app_name.empty()) headers.emplace_back("X-Title", config_.app_name);
  JsonObject body = build_chat_body(model, messages, config_.temperature, config_.top_p, config_.max_tokens);
  if (auto e = effort_to_send(state_, effort)) {
    body.insert("reasoning", JsonObject{{"effort", reasoning_effort_name(*e)}});
  }
  add_tools_to_body(body, tools_dialect(state_), tools);
  return without_secret(
      send_openai_shaped(config_.base_url, std::move(body), headers, config_.timeout_sec, model),
      config_.api_key);
}

OpenAiProvider::OpenAiProvider(RetrySettings retry, OpenAiConfig config)
    : state_(retry), config_(with_stripped_url(std::move(config), &OpenAiConfig::base_url)) {}

Result<ProviderResponse> OpenAiProvider::chat(std::string_view model, const Messages& messages,
                                              ToolList tools, ReasoningEffort effort) {
  JsonObject body = build_chat_body(model, messages, config_.temperature, config_.top_p, config_.max_tokens);
  if (config_.response_format) body.insert("response_format", *config_.response_format);
  add_reasoning_effort(body, effort_to_send(state_, effort));
  add_tools_to_body(body, tools_dialect(state_), tools);
  Result<ProviderResponse> reply = without_secret(
      send_openai_shaped(config_.base_url, std::move(body), bearer_json_headers(config_.api_key),
                         config_.timeout_sec, model),
      config_.api_key);
  if (!reply.ok() || !config_.response_format || !reply->tool_calls.empty()) return reply;

  JsonValue structured;
  JsonParseError error;
  if (!parse_json(reply->content, structured, error)) {
    return CoreError::provider("Structured output parsing failed for " + std::string(model) + ": " +
                               error.text() + ". Response shape: " + py_str(reply_shape(reply->raw)));
  }
  reply->structured = std::move(structured);
  return reply;
}

CustomProvider::CustomProvider(RetrySettings retry, CustomConfig config)
    : state_(retry), config_(with_stripped_url(std::move(config), &CustomConfig::url)) {}

Result<ProviderResponse> CustomProvider::chat(std::string_view model, const Messages& messages,
                                              ToolList tools, ReasoningEffort effort) {
  http::Headers headers = bearer_json_headers(config_.api_key);
  for (const http::Header& extra : config_.extra_headers) {
    bool replaced = false;
    for (http::Header& header : headers) {
      if (header.first == extra.first) {  // byte for byte: case matters
        header.second = extra.second;
        replaced = true;
        break;
      }
    }
    if (!replaced) headers.push_back(extra);
  }
  JsonObject body = build_chat_body(model, messages, config_.temperature, config_.top_p, config_.max_tokens);
  add_reasoning_effort(body, effort_to_send(state_, effort));
  for (const auto& [key, value] : config_.extra_body) body.insert(key, value);
  add_tools_to_body(body, tools_dialect(state_), tools);
  Result<ProviderResponse> reply = without_secret(
      send_openai_shaped(config_.url, std::move(body), headers, config_.timeout_sec, model),
      config_.api_key);
  // A custom endpoint's credential may be one of the extra headers instead.
  for (const http::Header& extra : config_.extra_headers) {
    if (reply.ok() || !names_credential(extra.first)) continue;
    reply = without_secret(std::move(reply), extra.second);
    // "Bearer <token>": the token alone may be echoed too.
    if (std::size_t space = extra.second.rfind(' '); space != std::string::npos) {
      reply = without_secret(std::move(reply), std::string_view(extra.second).substr(space + 1));
    }
  }
  return reply;
}

}  // namespace vostrel::provider
