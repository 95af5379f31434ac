#include "usage/budget.h"

#include <array>
#include <limits>

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
