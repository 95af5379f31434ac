#include "usage/budget.h"

#include <array>
#include <limits>

#include "json/typed_reader.h"

namespace vostrel::usage {

std::string_view budget_mode_name(BudgetMode mode) {
  return mode == BudgetMode::kHard ? "hard" : "measured_threshold";
}

std::string_view budget_message(BudgetKind kind) {
  static constexpr std::array<std::string_view, 7> kMessages = {
      "provider operation budget exhausted",
      "tool call budget exhausted",
      "token budget exhausted",
      "cost budget exhausted",
      "elapsed time budget exhausted",
      "token budget cannot continue with unknown usage",
      "cost budget cannot continue with unknown cost",
  };
  return kMessages[static_cast<std::size_t>(kind)];
}

namespace {

constexpr std::string_view kModeNames[] = {"hard", "measured_threshold"};
constexpr std::string_view kBudgetFields[] = {"max_provider_operations", "max_tool_calls", "max_tokens",
                                              "max_cost_microusd", "max_elapsed_ms", "mode"};
constexpr std::string_view kPricingFields[] = {"provider",
                                               "model",
                                               "input_microusd_per_million_tokens",
                                               "output_microusd_per_million_tokens",
                                               "cached_input_microusd_per_million_tokens",
                                               "cache_creation_microusd_per_million_tokens"};

// Absent or null: no value; otherwise a non-negative integer.
Status read_optional_count(const JsonValue& value, Count& out) {
  if (value.is_null()) {
    out = std::nullopt;
    return ok_status();
  }
  std::uint64_t n = 0;
  VOSTREL_TRY(json::read_u64(value, n));
  out = n;
  return ok_status();
}

}  // namespace

Result<BudgetMode> budget_mode_from_json(const JsonValue& value) {
  VOSTREL_ASSIGN_OR_RETURN(std::size_t index, json::read_unit_variant(value, kModeNames));
  return static_cast<BudgetMode>(index);
}

Result<RunBudget> run_budget_from_json(const JsonValue& value) {
  static constexpr json::RecordShape kShape{"struct RunBudget", kBudgetFields, json::UnknownKeys::kRefuse,
                                            0b111111, true};
  // The array form may leave the mode out.
  if (const JsonArray* items = value.get_array(); items != nullptr && items->size() == 5) {
    JsonArray with_mode = *items;
    with_mode.emplace_back("hard");
    return run_budget_from_json(JsonValue(std::move(with_mode)));
  }
  RunBudget budget;
  VOSTREL_TRY(json::read_record(value, kShape, [&](std::size_t field, const JsonValue& item) -> Status {
    switch (field) {
      case 0: return read_optional_count(item, budget.max_provider_operations);
      case 1: return read_optional_count(item, budget.max_tool_calls);
      case 2: return read_optional_count(item, budget.max_tokens);
      case 3: return read_optional_count(item, budget.max_cost_microusd);
      case 4: return read_optional_count(item, budget.max_elapsed_ms);
      default: {
        VOSTREL_ASSIGN_OR_RETURN(budget.mode, budget_mode_from_json(item));
        return ok_status();
      }
    }
  }));
  return budget;
}

Result<TokenPricing> token_pricing_from_json(const JsonValue& value) {
  static constexpr json::RecordShape kShape{"struct TokenPricing", kPricingFields, json::UnknownKeys::kRefuse,
                                            0b110000, true};
  TokenPricing pricing;
  VOSTREL_TRY(json::read_record(value, kShape, [&](std::size_t field, const JsonValue& item) -> Status {
    switch (field) {
      case 0: return json::read_string(item, pricing.provider);
      case 1: return json::read_string(item, pricing.model);
      case 2: return json::read_u64(item, pricing.input_microusd_per_million_tokens);
      case 3: return json::read_u64(item, pricing.output_microusd_per_million_tokens);
      case 4: return read_optional_count(item, pricing.cached_input_microusd_per_million_tokens);
      default: return read_optional_count(item, pricing.cache_creation_microusd_per_million_tokens);
    }
  }));
  return pricing;
}

Result<std::vector<TokenPricing>> pricing_from_json(const JsonValue& value) {
  return json::read_list_as<TokenPricing>(value, [](const JsonValue& item, TokenPricing& out) -> Status {
    VOSTREL_ASSIGN_OR_RETURN(out, token_pricing_from_json(item));
    return ok_status();
  });
}

Count price_usage(const std::vector<TokenPricing>& pricing, std::string_view provider,
                  std::string_view model, const NormalizedUsage& usage) {
  const TokenPricing* entry = nullptr;
  for (const TokenPricing& p : pricing) {
    if (p.provider == provider && p.model == model) {
      entry = &p;
      break;
    }
  }
  if (entry == nullptr || !usage.input_tokens || !usage.output_tokens) return std::nullopt;

  using u128 = unsigned __int128;
  constexpr u128 kMax128 = ~u128{0};
  u128 sum = 0;
  bool overflow = false;
  // Adds tokens × price; a product of two 64-bit values always fits in 128
  // bits, only the running sum can overflow.
  auto charge = [&](std::uint64_t tokens, std::uint64_t price) {
    u128 product = static_cast<u128>(tokens) * price;
    if (sum > kMax128 - product) overflow = true;
    else sum += product;
  };

  std::uint64_t rest = *usage.input_tokens;
  if (entry->cached_input_microusd_per_million_tokens) {
    const Count cached = usage.cached_input_tokens;
    if (!cached || *cached > rest) return std::nullopt;
    rest -= *cached;
    charge(*cached, *entry->cached_input_microusd_per_million_tokens);
  }
  if (entry->cache_creation_microusd_per_million_tokens) {
    const Count creation = usage.cache_creation_input_tokens;
    if (!creation || *creation > rest) return std::nullopt;
    rest -= *creation;
    charge(*creation, *entry->cache_creation_microusd_per_million_tokens);
  }
  charge(rest, entry->input_microusd_per_million_tokens);
  charge(*usage.output_tokens, entry->output_microusd_per_million_tokens);
  if (overflow) return std::nullopt;

  u128 cost = sum / 1'000'000 + (sum % 1'000'000 != 0 ? 1 : 0);
  if (cost > std::numeric_limits<std::uint64_t>::max()) return std::nullopt;
  return static_cast<std::uint64_t>(cost);
}

}  // namespace vostrel::usage
