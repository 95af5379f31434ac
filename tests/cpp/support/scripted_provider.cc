#include "scripted_provider.h"

namespace vostrel::testing {

void ScriptedProvider::push(Result<provider::ProviderResponse> result) {
  std::lock_guard lock(mutex_);
  script_.push_back(std::move(result));
}

void ScriptedProvider::push_reply(std::string content, JsonObject usage, std::string stop_reason) {
  provider::ProviderResponse reply;
  reply.content = std::move(content);
  reply.model = "scripted-model";
  reply.usage = std::move(usage);
  reply.stop_reason = std::move(stop_reason);
  push(std::move(reply));
}

void ScriptedProvider::push_error(CoreError error) { push(std::move(error)); }

std::vector<ScriptedCall> ScriptedProvider::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

Result<provider::ProviderResponse> ScriptedProvider::chat(std::string_view model,
                                                          const provider::Messages& messages,
                                                          provider::ToolList tools,
                                                          provider::ReasoningEffort effort) {
  std::lock_guard lock(mutex_);
  calls_.push_back(ScriptedCall{std::string(model), messages.size(), tools ? tools->size() : 0,
                                tools.has_value(), effort, state_.reasoning_effort_rejected.load()});
  if (script_.empty()) return CoreError::provider("script exhausted");
  Result<provider::ProviderResponse> next = std::move(script_.front());
  script_.pop_front();
  return next;
}

CoreError http_error(std::uint16_t status, std::string body) {
  return CoreError::provider_http(status, "http://127.0.0.1/v1/chat/completions", std::move(body));
}

}  // namespace vostrel::testing
