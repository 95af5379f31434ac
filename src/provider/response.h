// What one provider call gives back, and the reasoning-effort levels a call
// may ask for.
#ifndef VOSTREL_PROVIDER_RESPONSE_H_
#define VOSTREL_PROVIDER_RESPONSE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent_runtime/tool.h"
#include "json/value.h"
#include "utils/result.h"

namespace vostrel::provider {

// The six levels, in order; the name is both the text form and the wire value.
enum class ReasoningEffort : std::uint8_t { kMinimal = 0, kLow, kMedium, kHigh, kXhigh, kMax };

// "minimal", "low", "medium", "high", "xhigh", "max".
std::string_view reasoning_effort_name(ReasoningEffort effort);

// One of the six names exactly (case-sensitive, untrimmed), or a Value error
// "Unknown reasoning effort 'x'. Expected 'minimal', ...".
Result<ReasoningEffort> parse_reasoning_effort(std::string_view text);

// One normalised reply.
struct ProviderResponse {
  std::string content;      // the built-in providers trim it
  std::string model;        // the reply's model, else the one asked for
  JsonObject usage;         // the reply's usage object unchanged; empty when none
  JsonValue raw;            // the whole reply
  std::optional<JsonValue> structured;  // parsed structured output, when asked for
  std::vector<agent_runtime::ToolCall> tool_calls;
  std::string stop_reason;  // empty when the reply has none

  // No text (after trimming Unicode white space) and no tool calls.
  bool is_empty() const;
};

}  // namespace vostrel::provider

#endif  // VOSTREL_PROVIDER_RESPONSE_H_
