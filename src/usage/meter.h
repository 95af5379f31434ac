// The run's usage meter: the ledger with the budget and prices it is tested
// against, shared by the run, its batch workers and every usage scope.
#ifndef VOSTREL_USAGE_METER_H_
#define VOSTREL_USAGE_METER_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "usage/budget.h"
#include "usage/ledger.h"
#include "utils/result.h"

namespace vostrel::usage {

// Every field but `budget`, `pricing` and `started_at` (fixed at creation) is
// guarded by `mutex`; nothing else is called while it is held.
struct UsageMeter {
  std::mutex mutex;
  UsageLedger ledger;
  RunBudget budget;
  std::vector<TokenPricing> pricing;
  std::chrono::steady_clock::time_point started_at;
  std::uint64_t in_flight = 0;  // provider operations begun and not yet recorded or ended
  std::optional<BudgetKind> latched_budget;

  // Checks the budget, the prices and the ledger, in that order, and makes a
  // meter that starts its clock now. Value errors: a hard token or cost limit,
  // a repeated (provider, model) price, totals that disagree with the records.
  static Result<std::shared_ptr<UsageMeter>> create(RunBudget budget,
                                                    std::vector<TokenPricing> pricing,
                                                    UsageLedger ledger);
};

// What is about to start when the budget is tested.
enum class BudgetCheck : std::uint8_t { kProviderOperation, kToolCall, kNeither };

// Tests the budget in its fixed order and latches the first exhausted kind;
// later tests report that kind again. A Session error with the kind's message.
// The caller holds `meter.mutex`.
Status check_run_budget(UsageMeter& meter, BudgetCheck starting);

// Tests the budget for a tool call and, when it passes, counts the call, under
// one lock so that parallel callers cannot together pass the limit.
Status begin_tool_call(UsageMeter& meter);

// Tests the budget at a waiting point (nothing about to start).
Status check_waiting_point(UsageMeter& meter);

// A copy of the ledger with `elapsed_ms` brought up to now. The meter's own
// ledger keeps the carried-over time only.
UsageLedger usage_meter_snapshot(UsageMeter& meter);

}  // namespace vostrel::usage

#endif  // VOSTREL_USAGE_METER_H_
