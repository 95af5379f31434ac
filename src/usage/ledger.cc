#include "usage/ledger.h"

#include <array>
#include <limits>
#include <utility>

namespace vostrel::usage {

namespace {

constexpr std::uint64_t kMaxCount = std::numeric_limits<std::uint64_t>::max();

JsonValue count_json(Count c) { return c ? JsonValue(*c) : JsonValue(nullptr); }

// Every usage field and the cost, as pointers into a record or totals, so the
// two kinds of sum share one walk.
template <typename Usage>
auto usage_fields(Usage& u) {
  return std::array{&u.input_tokens,        &u.output_tokens,
                    &u.total_tokens,        &u.cached_input_tokens,
                    &u.cache_creation_input_tokens, &u.reasoning_tokens};
}

// A count only when the value is a non-negative integer of the reader's
// unsigned kind.
Count count_of(const JsonValue* value) {
  if (value == nullptr || !value->is_u64()) return std::nullopt;
  return value->as_u64();
}

Count nested_count(const JsonObject& u, std::string_view outer, std::string_view inner) {
  const JsonValue* o = u.find(outer);
  if (o == nullptr || !o->is_object()) return std::nullopt;
  return count_of(o->as_object().find(inner));
}

}  // namespace

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  return a > kMaxCount - b ? kMaxCount : a + b;
}

Count checked_add(Count a, Count b) {
  if (!a || !b || *a > kMaxCount - *b) return std::nullopt;
  return *a + *b;
}

NormalizedUsage NormalizedUsage::zero() { return NormalizedUsage{0, 0, 0, 0, 0, 0}; }

void UsageLedger::add(ProviderUsage record) {
  totals.provider_operations = saturating_add(totals.provider_operations, 1);
  if (record.failed) totals.failed_operations = saturating_add(totals.failed_operations, 1);
  if (record.opaque) totals.opaque_operations = saturating_add(totals.opaque_operations, 1);
  auto sums = usage_fields(totals.usage);
  auto parts = usage_fields(record.usage);
  for (std::size_t i = 0; i < sums.size(); ++i) *sums[i] = checked_add(*sums[i], *parts[i]);
  totals.cost_microusd = checked_add(totals.cost_microusd, record.cost_microusd);
  records.push_back(std::move(record));
}

bool UsageLedger::totals_match_records() const {
  UsageLedger rebuilt;
  for (const ProviderUsage& record : records) rebuilt.add(record);
  return rebuilt.totals == totals;
}

JsonValue to_json(const NormalizedUsage& u) {
  return JsonObject{{"input_tokens", count_json(u.input_tokens)},
                    {"output_tokens", count_json(u.output_tokens)},
                    {"total_tokens", count_json(u.total_tokens)},
                    {"cached_input_tokens", count_json(u.cached_input_tokens)},
                    {"cache_creation_input_tokens", count_json(u.cache_creation_input_tokens)},
                    {"reasoning_tokens", count_json(u.reasoning_tokens)}};
}

JsonValue to_json(const UsageTotals& t) {
  return JsonObject{{"provider_operations", t.provider_operations},
                    {"failed_operations", t.failed_operations},
                    {"opaque_operations", t.opaque_operations},
                    {"usage", to_json(t.usage)},
                    {"cost_microusd", count_json(t.cost_microusd)}};
}

JsonValue to_json(const ProviderUsage& r) {
  return JsonObject{{"actor", r.actor},     {"provider", r.provider}, {"model", r.model},
                    {"purpose", r.purpose}, {"failed", r.failed},     {"opaque", r.opaque},
                    {"usage", to_json(r.usage)}, {"cost_microusd", count_json(r.cost_microusd)}};
}

JsonValue UsageLedger::to_json() const {
  JsonArray list;
  list.reserve(records.size());
  for (const ProviderUsage& r : records) list.push_back(usage::to_json(r));
  return JsonObject{{"totals", usage::to_json(totals)},
                    {"tool_calls", tool_calls},
                    {"elapsed_ms", elapsed_ms},
                    {"records", std::move(list)}};
}

NormalizedUsage normalize_usage(const JsonObject& u) {
  NormalizedUsage n;
  const JsonValue* cache_read = u.find("cache_read_input_tokens");
  const JsonValue* cache_creation = u.find("cache_creation_input_tokens");
  const bool anthropic = cache_read != nullptr || cache_creation != nullptr;

  if (anthropic) {
    n.cached_input_tokens = count_of(cache_read);
  } else {
    n.cached_input_tokens = nested_count(u, "prompt_tokens_details", "cached_tokens");
    if (!n.cached_input_tokens) n.cached_input_tokens = nested_count(u, "input_tokens_details", "cached_tokens");
  }
  n.cache_creation_input_tokens = count_of(cache_creation);

  // A present key decides, even when its value is no count.
  const JsonValue* input = u.find("input_tokens");
  n.input_tokens = count_of(input != nullptr ? input : u.find("prompt_tokens"));
  if (anthropic) {
    if (cache_read != nullptr) n.input_tokens = checked_add(n.input_tokens, count_of(cache_read));
    if (cache_creation != nullptr) n.input_tokens = checked_add(n.input_tokens, count_of(cache_creation));
  }

  const JsonValue* output = u.find("output_tokens");
  n.output_tokens = count_of(output != nullptr ? output : u.find("completion_tokens"));

  const Count derived = checked_add(n.input_tokens, n.output_tokens);
  if (const JsonValue* total = u.find("total_tokens")) {
    const Count reported = count_of(total);
    // A reported total that contradicts input plus output is not trusted.
    n.total_tokens = (reported && (!derived || *derived == *reported)) ? reported : std::nullopt;
  } else {
    n.total_tokens = derived;
  }

  n.reasoning_tokens = nested_count(u, "completion_tokens_details", "reasoning_tokens");
  if (!n.reasoning_tokens) n.reasoning_tokens = nested_count(u, "output_tokens_details", "reasoning_tokens");
  return n;
}

}  // namespace vostrel::usage
