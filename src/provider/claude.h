// The provider that speaks the Anthropic messages shape.
#ifndef VOSTREL_PROVIDER_CLAUDE_H_
#define VOSTREL_PROVIDER_CLAUDE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/value.h"
#include "provider/shared.h"

namespace vostrel::provider {

inline constexpr std::string_view kClaudeBaseUrl = "https://api.anthropic.com/v1";
inline constexpr std::int64_t kDefaultClaudeMaxTokens = 4096;

// The credential: an API key ("x-api-key") or an OAuth token ("Authorization: Bearer").
struct ClaudeAuth {
  bool oauth = false;
  std::string secret{};
};

struct ClaudeConfig {
  ClaudeAuth auth{};
  std::string base_url = std::string(kClaudeBaseUrl);
  std::uint64_t timeout_sec = 60;
  double temperature = 1.0;
  std::int64_t max_tokens = kDefaultClaudeMaxTokens;
};

// Read-only after construction (base URL kept without trailing "/"); safe to
// share between threads.
class ClaudeProvider final : public Provider {
 public:
  ClaudeProvider(RetrySettings retry, ClaudeConfig config);
  std::string name() const override { return "ClaudeProvider"; }
  ProviderState& state() override { return state_; }
  Result<ProviderResponse> chat(std::string_view model, const Messages& messages, ToolList tools,
                                ReasoningEffort effort) override;
  ToolDialect tool_dialect() const override { return ToolDialect::kAnthropic; }
  const ClaudeConfig& config() const { return config_; }

 private:
  ProviderState state_;
  const ClaudeConfig config_;
};

// The system text (the contents of the "system" messages joined with "\n", a
// non-string content adding an empty part) and every other message unchanged.
struct ClaudeMessages {
  std::string system{};
  std::vector<JsonValue> messages;
};
ClaudeMessages claude_messages(const Messages& messages);

// The "tool_use" blocks of a reply's "content". Never fails.
std::vector<ToolCall> parse_anthropic_tool_calls(const JsonValue& reply);

}  // namespace vostrel::provider

#endif  // VOSTREL_PROVIDER_CLAUDE_H_
