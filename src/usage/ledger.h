// The run's usage ledger: one record per provider operation, with totals kept
// equal to what the records add up to, and the normalisation of a reply's usage
// object into token counts. Unknown counts stay unknown (never 0).
#ifndef VOSTREL_USAGE_LEDGER_H_
#define VOSTREL_USAGE_LEDGER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "json/value.h"

namespace vostrel::usage {

using Count = std::optional<std::uint64_t>;  // none: unknown

// The token counts of one reply (or, in totals, of the whole run).
struct NormalizedUsage {
  Count input_tokens;                 // all prompt tokens, cached and cache-creation included
  Count output_tokens;
  Count total_tokens;
  Count cached_input_tokens;
  Count cache_creation_input_tokens;
  Count reasoning_tokens;

  // Every field known and 0: the totals of a new run.
  static NormalizedUsage zero();
  bool operator==(const NormalizedUsage&) const = default;
};

// One provider operation.
struct ProviderUsage {
  std::string actor;
  std::string provider;
  std::string model;
  std::string purpose;
  bool failed = false;
  bool opaque = false;  // recorded by an outer layer that did not see the reply
  NormalizedUsage usage;
  Count cost_microusd;

  bool operator==(const ProviderUsage&) const = default;
};

struct UsageTotals {
  std::uint64_t provider_operations = 0;
  std::uint64_t failed_operations = 0;
  std::uint64_t opaque_operations = 0;
  NormalizedUsage usage = NormalizedUsage::zero();
  Count cost_microusd = 0;

  bool operator==(const UsageTotals&) const = default;
};

struct UsageLedger {
  UsageTotals totals;
  std::uint64_t tool_calls = 0;
  std::uint64_t elapsed_ms = 0;  // carried over from earlier processes
  std::vector<ProviderUsage> records;

  // Appends `record` and folds it into the totals: counters stop at the
  // largest value; a usage or cost total stays known only while every part is
  // known and the sum fits.
  void add(ProviderUsage record);

  // Whether the totals are what the records add up to by the rule of `add`.
  bool totals_match_records() const;

  // {"totals", "tool_calls", "elapsed_ms", "records"}; unknown counts as null.
  JsonValue to_json() const;

  bool operator==(const UsageLedger&) const = default;
};

JsonValue to_json(const NormalizedUsage& usage);
JsonValue to_json(const UsageTotals& totals);
JsonValue to_json(const ProviderUsage& record);

// The token counts of a reply's usage object, OpenAI- or Anthropic-shaped.
// Never fails: a malformed field is unknown.
NormalizedUsage normalize_usage(const JsonObject& usage);

// a + b, stopping at the largest value.
std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b);
// a + b when both are known and the sum fits; else unknown.
Count checked_add(Count a, Count b);

}  // namespace vostrel::usage

#endif  // VOSTREL_USAGE_LEDGER_H_
