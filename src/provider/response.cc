#include "provider/response.h"

#include <array>
#include <string>

#include "pyfmt/pyfmt.h"
#include "unicode/unicode.h"

namespace vostrel::provider {

namespace {
constexpr std::array<std::string_view, 6> kEffortNames = {"minimal", "low", "medium",
                                                          "high",    "xhigh", "max"};
}  // namespace

std::string_view reasoning_effort_name(ReasoningEffort effort) {
  return kEffortNames[static_cast<std::size_t>(effort)];
}

Result<ReasoningEffort> parse_reasoning_effort(std::string_view text) {
  for (std::size_t i = 0; i < kEffortNames.size(); ++i) {
    if (kEffortNames[i] == text) return static_cast<ReasoningEffort>(i);
  }
  return CoreError::value("Unknown reasoning effort " + py_repr_str(text) +
                          ". Expected 'minimal', 'low', 'medium', 'high', 'xhigh', or 'max'.");
}

bool ProviderResponse::is_empty() const {
  return tool_calls.empty() && unicode::trim(content).empty();
}

}  // namespace vostrel::provider
