// A provider whose `chat` plays a script of replies and errors, recording each
// call, for tests of the retry loop, the latches and the usage accounting.
#ifndef VOSTREL_TESTS_SUPPORT_SCRIPTED_PROVIDER_H_
#define VOSTREL_TESTS_SUPPORT_SCRIPTED_PROVIDER_H_

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "provider/shared.h"

namespace vostrel::testing {

// What one `chat` call saw.
struct ScriptedCall {
  std::string model;
  std::size_t message_count = 0;
  std::size_t tool_count = 0;  // 0 also when no tool list was passed
  bool tools_given = false;
  provider::ReasoningEffort effort = provider::ReasoningEffort::kHigh;
  bool effort_latched = false;  // the effort latch was set when the call was made
};

class ScriptedProvider : public provider::Provider {
 public:
  explicit ScriptedProvider(provider::RetrySettings retry = {}, std::string name = "ScriptedProvider")
      : state_(retry),
        name_(std::move(name)) {}

  // Queues the next result; once the script is used up, every call fails with
  // a Provider error "script exhausted".
  void push(Result<provider::ProviderResponse> result);
  void push_reply(std::string content, JsonObject usage = {}, std::string stop_reason = "");
  void push_error(CoreError error);

  std::vector<ScriptedCall> calls() const;

  std::string name() const override { return name_; }
  provider::ProviderState& state() override { return state_; }
  Result<provider::ProviderResponse> chat(std::string_view model, const provider::Messages& messages,
                                          provider::ToolList tools,
                                          provider::ReasoningEffort effort) override;
  provider::ToolDialect tool_dialect() const override { return provider::ToolDialect::kOpenai; }

 private:
  provider::ProviderState state_;
  std::string name_;
  mutable std::mutex mutex_;
  std::deque<Result<provider::ProviderResponse>> script_;
  std::vector<ScriptedCall> calls_;
};

// An HTTP error as the transport reports it.
CoreError http_error(std::uint16_t status, std::string body);

}  // namespace vostrel::testing

#endif  // VOSTREL_TESTS_SUPPORT_SCRIPTED_PROVIDER_H_
