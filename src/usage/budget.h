// A run's limits (RunBudget) and token prices (TokenPricing), the ways a
// budget can be exhausted, and the pricing of one operation in micro-USD.
#ifndef VOSTREL_USAGE_BUDGET_H_
#define VOSTREL_USAGE_BUDGET_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/value.h"
#include "usage/ledger.h"
#include "utils/result.h"

namespace vostrel::usage {

enum class BudgetMode : std::uint8_t { kHard = 0, kMeasuredThreshold = 1 };

// "hard", "measured_threshold".
std::string_view budget_mode_name(BudgetMode mode);

// An absent limit does not limit. The default limits nothing, in hard mode.
struct RunBudget {
  Count max_provider_operations;
  Count max_tool_calls;
  Count max_tokens;
  Count max_cost_microusd;
  Count max_elapsed_ms;
  BudgetMode mode = BudgetMode::kHard;

  bool operator==(const RunBudget&) const = default;
};

// The prices of one (provider, model) pair, per million tokens.
struct TokenPricing {
  std::string provider;
  std::string model;
  std::uint64_t input_microusd_per_million_tokens = 0;
  std::uint64_t output_microusd_per_million_tokens = 0;
  Count cached_input_microusd_per_million_tokens;     // none: the input price
  Count cache_creation_microusd_per_million_tokens;   // none: the input price

  bool operator==(const TokenPricing&) const = default;
};

// The seven ways a budget test fails, in order.
enum class BudgetKind : std::uint8_t {
  kProviderOperations = 0,
  kToolCalls,
  kTokens,
  kCost,
  kElapsed,
  kUnknownTokenUsage,
  kUnknownCost,
};

// "provider operation budget exhausted", ...
std::string_view budget_message(BudgetKind kind);

// The readers of the `budget` and `pricing` options. A refusal is a Value
// error with the shared reader messages ("missing field `model`", "invalid
// type: floating point `2.5`, expected u64", ...). A RunBudget also reads from
// an array of its field values (five or six; five means mode "hard"), a
// TokenPricing from an array of its six.
Result<BudgetMode> budget_mode_from_json(const JsonValue& value);
Result<RunBudget> run_budget_from_json(const JsonValue& value);
Result<TokenPricing> token_pricing_from_json(const JsonValue& value);
Result<std::vector<TokenPricing>> pricing_from_json(const JsonValue& value);

// The cost of one operation in micro-USD, rounded up, or unknown (no entry for
// the pair, a count the prices need is unknown or inconsistent, or overflow).
Count price_usage(const std::vector<TokenPricing>& pricing, std::string_view provider,
                  std::string_view model, const NormalizedUsage& usage);

}  // namespace vostrel::usage

#endif  // VOSTREL_USAGE_BUDGET_H_
