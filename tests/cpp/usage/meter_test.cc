#include "usage/meter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <thread>
#include <vector>

#include "json/writer.h"
#include "usage/scope.h"

namespace vostrel::usage {
namespace {

std::shared_ptr<UsageMeter> make_meter(RunBudget budget = {}, std::vector<TokenPricing> pricing = {},
                                       UsageLedger ledger = {}) {
  auto meter = UsageMeter::create(std::move(budget), std::move(pricing), std::move(ledger));
  EXPECT_TRUE(meter.ok()) << meter.error().error_text();
  return *meter;
}

provider::ProviderResponse reply_with_usage(JsonObject usage) {
  provider::ProviderResponse r;
  r.content = "hi";
  r.usage = std::move(usage);
  return r;
}

TEST(UsageMeterTest, CreateRefusesHardTokenBudgetsDuplicatePricesAndBadLedgers) {
  RunBudget hard_tokens;
  hard_tokens.max_tokens = 1000;
  RunBudget hard_cost;
  hard_cost.max_cost_microusd = 5;
  RunBudget measured = hard_tokens;
  measured.mode = BudgetMode::kMeasuredThreshold;
  UsageLedger bad;
  bad.totals.provider_operations = 1;
  const std::string hard_message =
      "Hard token/cost budgets require a provable per-operation upper bound, which Provider does not "
      "expose; select measured_threshold explicitly.";
  struct Case {
    std::string name;
    RunBudget budget;
    std::vector<TokenPricing> pricing;
    UsageLedger ledger;
    std::string error;  // empty: accepted
  };
  const std::vector<Case> cases = {
      {"hard token limit", hard_tokens, {}, {}, hard_message},
      {"hard cost limit", hard_cost, {}, {}, hard_message},
      {"measured token limit", measured, {}, {}, ""},
      {"hard operation limits", RunBudget{2, 3, std::nullopt, std::nullopt, 100, BudgetMode::kHard}, {}, {}, ""},
      {"duplicate pricing",
       {},
       {{"P", "a", 1, 1, {}, {}}, {"P", "m x", 1, 1, {}, {}}, {"Q", "m x", 1, 1, {}, {}}, {"P", "m x", 2, 2, {}, {}}},
       {},
       "Duplicate token pricing for provider P model m x"},
      {"same model, other case", {}, {{"P", "m", 1, 1, {}, {}}, {"P", "M", 1, 1, {}, {}}}, {}, ""},
      {"ledger totals disagree", {}, {}, bad, "Usage ledger totals do not match its records"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto meter = UsageMeter::create(c.budget, c.pricing, c.ledger);
    if (c.error.empty()) {
      EXPECT_TRUE(meter.ok());
    } else {
      ASSERT_FALSE(meter.ok());
      EXPECT_EQ(meter.error().kind, ErrorKind::kValue);
      EXPECT_EQ(meter.error().message, c.error);
    }
  }
}

TEST(UsageMeterTest, BudgetTestsRunInOrderAndLatchTheFirstExhaustedKind) {
  // A token budget with a reply that has no usage: unknown usage stops the run.
  RunBudget tokens;
  tokens.max_tokens = 1000;
  tokens.mode = BudgetMode::kMeasuredThreshold;
  auto meter = make_meter(tokens);
  {
    std::lock_guard lock(meter->mutex);
    EXPECT_TRUE(check_run_budget(*meter, BudgetCheck::kProviderOperation).ok());
  }
  ++meter->in_flight;
  record_provider_usage(*meter, "a", "P", "m", "turn", false, reply_with_usage({}));
  Status status = check_waiting_point(*meter);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().kind, ErrorKind::kSession);
  EXPECT_EQ(status.error().message, "token budget cannot continue with unknown usage");
  // Latched: a tool call with no tool limit fails the same way.
  status = begin_tool_call(*meter);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().message, "token budget cannot continue with unknown usage");
  EXPECT_EQ(meter->latched_budget, BudgetKind::kUnknownTokenUsage);
  EXPECT_EQ(meter->ledger.tool_calls, 0u) << "a refused tool call is not counted";

  struct Case {
    std::string name;
    RunBudget budget;
    UsageLedger ledger;
    BudgetCheck starting;
    std::string error;  // empty: passes
  };
  auto with_cost = [](Count cost, Count total) {
    UsageLedger l;
    ProviderUsage r;
    r.usage = NormalizedUsage::zero();
    r.usage.total_tokens = total;
    r.cost_microusd = cost;
    l.add(r);
    return l;
  };
  UsageLedger carried;
  carried.elapsed_ms = 5000;
  const auto measured = BudgetMode::kMeasuredThreshold;
  const std::vector<Case> cases = {
      {"operation limit 0 refuses the first", {0, {}, {}, {}, {}, BudgetMode::kHard}, {}, BudgetCheck::kProviderOperation,
       "provider operation budget exhausted"},
      {"operation limit ignored for a tool call", {0, {}, {}, {}, {}, BudgetMode::kHard}, {}, BudgetCheck::kToolCall, ""},
      {"tool limit reached", {{}, 0, {}, {}, {}, BudgetMode::kHard}, {}, BudgetCheck::kToolCall, "tool call budget exhausted"},
      {"elapsed carried over reaches the limit", {{}, {}, {}, {}, 5000, BudgetMode::kHard}, carried, BudgetCheck::kNeither,
       "elapsed time budget exhausted"},
      {"elapsed tested before operations", {0, {}, {}, {}, 0, BudgetMode::kHard}, {}, BudgetCheck::kProviderOperation,
       "elapsed time budget exhausted"},
      {"elapsed under the limit", {{}, {}, {}, {}, 3'600'000, BudgetMode::kHard}, {}, BudgetCheck::kNeither, ""},
      {"tokens reached at equality", {{}, {}, 300, {}, {}, measured}, with_cost(1, 300), BudgetCheck::kNeither,
       "token budget exhausted"},
      {"tokens below", {{}, {}, 301, {}, {}, measured}, with_cost(1, 300), BudgetCheck::kNeither, ""},
      {"tokens tested before cost", {{}, {}, 300, 1, {}, measured}, with_cost(1, 300), BudgetCheck::kNeither,
       "token budget exhausted"},
      {"cost unknown", {{}, {}, {}, 10, {}, measured}, with_cost(std::nullopt, 1), BudgetCheck::kNeither,
       "cost budget cannot continue with unknown cost"},
      {"cost reached", {{}, {}, {}, 10, {}, measured}, with_cost(10, 1), BudgetCheck::kNeither, "cost budget exhausted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto m = make_meter(c.budget, {}, c.ledger);
    std::lock_guard lock(m->mutex);
    Status s = check_run_budget(*m, c.starting);
    if (c.error.empty()) {
      EXPECT_TRUE(s.ok()) << s.error().message;
    } else {
      ASSERT_FALSE(s.ok());
      EXPECT_EQ(s.error().message, c.error);
    }
  }
}

TEST(UsageMeterTest, SnapshotAddsRunningTimeToCarriedTime) {
  UsageLedger carried;
  carried.elapsed_ms = 1234;
  auto meter = make_meter({}, {}, carried);
  UsageLedger copy = usage_meter_snapshot(*meter);
  EXPECT_GE(copy.elapsed_ms, 1234u);
  EXPECT_LT(copy.elapsed_ms, 1234u + 60'000u);
  EXPECT_EQ(meter->ledger.elapsed_ms, 1234u) << "the meter keeps only the carried-over time";
}

// Several threads race to begin provider operations and tool calls: the test
// and the count happen under one lock, so the limits hold exactly.
TEST(UsageMeterTest, BudgetsHoldAgainstParallelCallers) {
  constexpr int kThreads = 8;
  constexpr int kAttempts = 25;
  // Separate meters: the first exhausted budget latches for the whole meter.
  RunBudget operations_budget;
  operations_budget.max_provider_operations = 5;
  RunBudget tools_budget;
  tools_budget.max_tool_calls = 7;
  auto meter = make_meter(operations_budget);
  auto tools_meter = make_meter(tools_budget);
  std::atomic<int> operations_begun{0};
  std::atomic<int> tool_calls_begun{0};
  std::barrier start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      start.arrive_and_wait();
      for (int i = 0; i < kAttempts; ++i) {
        auto guard = begin_provider_operation(meter);
        if (guard.ok()) {
          ++operations_begun;
          std::this_thread::yield();  // keep it in flight a little
          if (auto popped = pop_provider_operation(*guard); popped && popped->counted) {
            record_provider_usage(*meter, "w", "P", "m", "batch", false, reply_with_usage({}));
          }
        }
        if (begin_tool_call(*tools_meter).ok()) ++tool_calls_begun;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(operations_begun.load(), 5);
  EXPECT_EQ(tool_calls_begun.load(), 7);
  EXPECT_EQ(tools_meter->ledger.tool_calls, 7u);
  EXPECT_EQ(meter->ledger.records.size(), 5u);
  EXPECT_EQ(meter->in_flight, 0u);
}

TEST(ProviderOperationTest, NestedOperationsRecordOnceAtTheInnermostLayer) {
  auto meter = make_meter();
  {
    auto outer = begin_provider_operation(meter);
    ASSERT_TRUE(outer.ok());
    EXPECT_EQ(meter->in_flight, 1u);
    {
      auto inner = begin_provider_operation(meter);
      ASSERT_TRUE(inner.ok());
      EXPECT_EQ(meter->in_flight, 1u) << "the inner operation takes the count over";
      auto popped = pop_provider_operation(*inner);
      ASSERT_TRUE(popped && popped->counted);
      record_provider_usage(*meter, "alice", "P", "m", "turn", false,
                            reply_with_usage({{"prompt_tokens", 3}, {"completion_tokens", 4}}));
      end_provider_operation(*inner);  // a no-op after pop
    }
    auto popped = pop_provider_operation(*outer);
    ASSERT_TRUE(popped);
    EXPECT_FALSE(popped->counted) << "the outer layer must not record again";
  }
  ASSERT_EQ(meter->ledger.records.size(), 1u);
  EXPECT_FALSE(meter->ledger.records[0].opaque);
  EXPECT_EQ(meter->ledger.records[0].usage.total_tokens, 7u);
  EXPECT_EQ(meter->in_flight, 0u);

  // An outer layer whose inner call never recorded records one opaque operation.
  {
    auto outer = begin_provider_operation(meter);
    ASSERT_TRUE(outer.ok());
    auto popped = pop_provider_operation(*outer);
    ASSERT_TRUE(popped && popped->counted);
    record_provider_usage(*meter, "alice", "P", "m", "turn", true,
                          Result<provider::ProviderResponse>(CoreError::provider("boom")));
  }
  ASSERT_EQ(meter->ledger.records.size(), 2u);
  const ProviderUsage& opaque = meter->ledger.records[1];
  EXPECT_TRUE(opaque.opaque);
  EXPECT_TRUE(opaque.failed);
  EXPECT_EQ(opaque.usage, NormalizedUsage{});
  EXPECT_EQ(meter->ledger.totals.failed_operations, 1u);
  EXPECT_EQ(meter->ledger.totals.provider_operations, 2u);

  // Operations on another meter do not take this one's count.
  auto other = make_meter();
  {
    auto a = begin_provider_operation(meter);
    auto b = begin_provider_operation(other);
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_EQ(meter->in_flight, 1u);
    EXPECT_EQ(other->in_flight, 1u);
  }
  EXPECT_EQ(meter->in_flight, 0u);
  EXPECT_EQ(other->in_flight, 0u);
}

TEST(ProviderOperationTest, RefusedOperationPushesNothing) {
  RunBudget budget;
  budget.max_provider_operations = 1;
  auto meter = make_meter(budget);
  auto first = begin_provider_operation(meter);
  ASSERT_TRUE(first.ok());
  // Another thread's stack holds nothing for the meter: it is tested, and the
  // operation in flight fills the budget.
  std::thread([&] {
    auto refused = begin_provider_operation(meter);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().kind, ErrorKind::kSession);
    EXPECT_EQ(refused.error().message, "provider operation budget exhausted");
  }).join();
  EXPECT_EQ(meter->in_flight, 1u);
  auto popped = pop_provider_operation(*first);
  ASSERT_TRUE(popped && popped->counted) << "the refusal left this thread's stack alone";
  record_provider_usage(*meter, "a", "P", "m", "turn", false, reply_with_usage({}));
  EXPECT_EQ(meter->in_flight, 0u);
  EXPECT_EQ(meter->ledger.records.size(), 1u) << "no record for the refused call";
  EXPECT_FALSE(begin_provider_operation(meter).ok());
}

TEST(RunCleanupGuardTest, RefusesProviderCallsWhileMemoryIsClosed) {
  EXPECT_EQ(run_cleanup_guard(), kCleanupNormal);
  EXPECT_TRUE(refuse_during_cleanup().ok());
  // A close that tries a provider call fails with the refusal.
  Status closed = close_under_cleanup_guard([] {
    Status refused = refuse_during_cleanup();
    EXPECT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message, kCleanupRefusal);
    return ok_status();
  });
  ASSERT_FALSE(closed.ok());
  EXPECT_EQ(closed.error().kind, ErrorKind::kSession);
  EXPECT_EQ(closed.error().message, kCleanupRefusal);
  EXPECT_EQ(run_cleanup_guard(), kCleanupNormal);
  // A clean close passes its own result through.
  EXPECT_TRUE(close_under_cleanup_guard([] { return ok_status(); }).ok());
  Status own = close_under_cleanup_guard([] { return Status(CoreError::io("disk")); });
  EXPECT_EQ(own.error().message, "disk");
  // A refusal inside a nested close fails both closes.
  Status outer = close_under_cleanup_guard([] {
    Status inner = close_under_cleanup_guard([] { return refuse_during_cleanup(); });
    EXPECT_FALSE(inner.ok());
    EXPECT_EQ(run_cleanup_guard(), kCleanupRefused);
    return ok_status();
  });
  EXPECT_FALSE(outer.ok());
  EXPECT_EQ(run_cleanup_guard(), kCleanupNormal);
  // Each thread has its own guard.
  set_run_cleanup_guard(kCleanupClosing);
  std::thread([] { EXPECT_TRUE(refuse_during_cleanup().ok()); }).join();
  set_run_cleanup_guard(kCleanupNormal);
}

}  // namespace
}  // namespace vostrel::usage
