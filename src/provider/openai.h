// The three providers that speak the OpenAI chat-completions shape
// (OpenRouter, OpenAI, any custom endpoint), and the request and reply pieces
// they share.
#ifndef VOSTREL_PROVIDER_OPENAI_H_
#define VOSTREL_PROVIDER_OPENAI_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http/transport.h"
#include "json/value.h"
#include "provider/shared.h"

namespace vostrel::provider {

inline constexpr std::string_view kOpenRouterBaseUrl = "https://openrouter.ai/api/v1";
inline constexpr std::string_view kOpenAiBaseUrl = "https://api.openai.com/v1";

struct OpenRouterConfig {
  std::string api_key{};
  std::string base_url = std::string(kOpenRouterBaseUrl);
  std::uint64_t timeout_sec = 60;
  double temperature = 1.0;
  double top_p = 1.0;
  std::optional<std::int64_t> max_tokens{};
  std::string app_url{};   // "HTTP-Referer" when not empty
  std::string app_name{};  // "X-Title" when not empty
};

struct OpenAiConfig {
  std::string api_key{};
  std::string base_url = std::string(kOpenAiBaseUrl);
  std::uint64_t timeout_sec = 60;
  double temperature = 1.0;
  double top_p = 1.0;
  std::optional<std::int64_t> max_tokens{};
  std::optional<JsonValue> response_format{};  // see `json_schema_response_format`
};

struct CustomConfig {
  std::string url{};  // the endpoint's base URL
  std::string api_key{};
  JsonObject model_config{};  // kept with the provider; no request reads it
  std::uint64_t timeout_sec = 60;
  double temperature = 1.0;
  double top_p = 1.0;
  std::optional<std::int64_t> max_tokens{};
  http::Headers extra_headers{};
  JsonObject extra_body{};
};

// The three records. Their configuration is read-only after construction; a
// base URL is kept without trailing "/". Safe to share between threads.
class OpenRouterProvider final : public Provider {
 public:
  OpenRouterProvider(RetrySettings retry, OpenRouterConfig config);
  std::string name() const override { return "OpenRouterProvider"; }
  ProviderState& state() override { return state_; }
  Result<ProviderResponse> chat(std::string_view model, const Messages& messages, ToolList tools,
                                ReasoningEffort effort) override;
  ToolDialect tool_dialect() const override { return ToolDialect::kOpenai; }
  const OpenRouterConfig& config() const { return config_; }

 private:
  ProviderState state_;
  const OpenRouterConfig config_;
};

class OpenAiProvider final : public Provider {
 public:
  OpenAiProvider(RetrySettings retry, OpenAiConfig config);
  std::string name() const override { return "OpenAiProvider"; }
  ProviderState& state() override { return state_; }
  Result<ProviderResponse> chat(std::string_view model, const Messages& messages, ToolList tools,
                                ReasoningEffort effort) override;
  ToolDialect tool_dialect() const override { return ToolDialect::kOpenai; }
  const OpenAiConfig& config() const { return config_; }

 private:
  ProviderState state_;
  const OpenAiConfig config_;
};

class CustomProvider final : public Provider {
 public:
  CustomProvider(RetrySettings retry, CustomConfig config);
  std::string name() const override { return "CustomProvider"; }
  ProviderState& state() override { return state_; }
  Result<ProviderResponse> chat(std::string_view model, const Messages& messages, ToolList tools,
                                ReasoningEffort effort) override;
  ToolDialect tool_dialect() const override { return ToolDialect::kOpenai; }
  const CustomConfig& config() const { return config_; }

 private:
  ProviderState state_;
  const CustomConfig config_;
};

// {"type": "json_schema", "json_schema": {"name", "strict", "schema"}}: `name`
// falls back to "response_format" when empty; `schema` is used as given (the
// caller rewrites it into strict form when `strict` is set).
JsonValue json_schema_response_format(std::string_view name, bool strict, JsonValue schema);

// "Authorization: Bearer {key}" and "Content-Type: application/json".
http::Headers bearer_json_headers(std::string_view api_key);

// "model", "messages", "temperature", "top_p", "stream": false, then
// "max_tokens" when set. A temperature or top_p that is not finite is null.
JsonObject build_chat_body(std::string_view model, const Messages& messages, double temperature,
                           double top_p, std::optional<std::int64_t> max_tokens);

// Adds "reasoning_effort" unless `effort` is none.
void add_reasoning_effort(JsonObject& body, std::optional<ReasoningEffort> effort);

// Adds "tools" when the dialect has definitions for `tools`.
void add_tools_to_body(JsonObject& body, ToolDialect dialect, ToolList tools);

// Posts `body` to "{base_url}/chat/completions" and checks the reply; every
// message names `model`, the model asked for.
Result<ProviderResponse> send_openai_shaped(std::string_view base_url, JsonValue body,
                                            const http::Headers& headers,
                                            std::uint64_t timeout_sec, std::string_view model);

// The native tool calls of a chat message ({"tool_calls": [...]}). Never fails:
// unusable entries are skipped.
std::vector<ToolCall> parse_openai_tool_calls(const JsonValue& message);

}  // namespace vostrel::provider

#endif  // VOSTREL_PROVIDER_OPENAI_H_
