#include "usage/meter.h"

#include <limits>
#include <string>
#include <utility>

namespace vostrel::usage {

namespace {

// The carried-over time plus the whole milliseconds since the meter was made;
// none when that does not fit in 64 bits.
Count elapsed_ms(const UsageMeter& meter) {
  const auto now = std::chrono::steady_clock::now();
  if (now < meter.started_at) return meter.ledger.elapsed_ms;
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - meter.started_at).count();
  return checked_add(meter.ledger.elapsed_ms, static_cast<std::uint64_t>(ms));
}

Status exhausted(UsageMeter& meter, BudgetKind kind) {
  meter.latched_budget = kind;
  return CoreError::session(std::string(budget_message(kind)));
}

}  // namespace

Result<std::shared_ptr<UsageMeter>> UsageMeter::create(RunBudget budget,
                                                       std::vector<TokenPricing> pricing,
                                                       UsageLedger ledger) {
  if (budget.mode == BudgetMode::kHard && (budget.max_tokens || budget.max_cost_microusd)) {
    return CoreError::value(
        "Hard token/cost budgets require a provable per-operation upper bound, which Provider "
        "does not expose; select measured_threshold explicitly.");
  }
  for (std::size_t i = 1; i < pricing.size(); ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      if (pricing[i].provider == pricing[j].provider && pricing[i].model == pricing[j].model) {
        return CoreError::value("Duplicate token pricing for provider " + pricing[i].provider +
                                " model " + pricing[i].model);
      }
    }
  }
  if (!ledger.totals_match_records()) {
    return CoreError::value("Usage ledger totals do not match its records");
  }
  auto meter = std::make_shared<UsageMeter>();
  meter->ledger = std::move(ledger);
  meter->budget = std::move(budget);
  meter->pricing = std::move(pricing);
  meter->started_at = std::chrono::steady_clock::now();
  return meter;
}

Status check_run_budget(UsageMeter& meter, BudgetCheck starting) {
  if (meter.latched_budget) return CoreError::session(std::string(budget_message(*meter.latched_budget)));
  const RunBudget& b = meter.budget;
  const UsageTotals& totals = meter.ledger.totals;
  if (b.max_elapsed_ms) {
    const Count elapsed = elapsed_ms(meter);
    if (!elapsed || *elapsed >= *b.max_elapsed_ms) return exhausted(meter, BudgetKind::kElapsed);
  }
  if (starting == BudgetCheck::kProviderOperation && b.max_provider_operations &&
      saturating_add(totals.provider_operations, meter.in_flight) >= *b.max_provider_operations) {
    return exhausted(meter, BudgetKind::kProviderOperations);
  }
  if (starting == BudgetCheck::kToolCall && b.max_tool_calls &&
      meter.ledger.tool_calls >= *b.max_tool_calls) {
    return exhausted(meter, BudgetKind::kToolCalls);
  }
  if (b.max_tokens) {
    const Count total = totals.usage.total_tokens;
    if (!total) return exhausted(meter, BudgetKind::kUnknownTokenUsage);
    if (*total >= *b.max_tokens) return exhausted(meter, BudgetKind::kTokens);
  }
  if (b.max_cost_microusd) {
    const Count cost = totals.cost_microusd;
    if (!cost) return exhausted(meter, BudgetKind::kUnknownCost);
    if (*cost >= *b.max_cost_microusd) return exhausted(meter, BudgetKind::kCost);
  }
  return ok_status();
}

Status begin_tool_call(UsageMeter& meter) {
  std::lock_guard lock(meter.mutex);
  VOSTREL_TRY(check_run_budget(meter, BudgetCheck::kToolCall));
  meter.ledger.tool_calls = saturating_add(meter.ledger.tool_calls, 1);
  return ok_status();
}

Status check_waiting_point(UsageMeter& meter) {
  std::lock_guard lock(meter.mutex);
  return check_run_budget(meter, BudgetCheck::kNeither);
}

UsageLedger usage_meter_snapshot(UsageMeter& meter) {
  std::lock_guard lock(meter.mutex);
  UsageLedger copy = meter.ledger;
  const Count elapsed = elapsed_ms(meter);
  copy.elapsed_ms = elapsed ? *elapsed : std::numeric_limits<std::uint64_t>::max();
  return copy;
}

}  // namespace vostrel::usage
