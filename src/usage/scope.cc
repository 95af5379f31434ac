#include "usage/scope.h"

#include <utility>
#include <vector>

namespace vostrel::usage {

namespace {

struct OpenOperation {
  std::shared_ptr<UsageMeter> meter;
  bool counted = false;
};

thread_local std::optional<UsageScope> t_scope;
thread_local std::vector<OpenOperation> t_operations;
thread_local std::uint8_t t_cleanup_guard = kCleanupNormal;

void release_in_flight(UsageMeter& meter) {
  std::lock_guard lock(meter.mutex);
  if (meter.in_flight > 0) --meter.in_flight;
}

}  // namespace

struct OperationAccess {
  static void disarm(ProviderOperationGuard& guard) { guard.armed_ = false; }
};

std::optional<UsageScope> enter_usage_scope(UsageScope scope) {
  return std::exchange(t_scope, std::move(scope));
}

void leave_usage_scope(std::optional<UsageScope> previous) { t_scope = std::move(previous); }

std::optional<UsageScope> active_usage_scope() { return t_scope; }

std::uint8_t run_cleanup_guard() { return t_cleanup_guard; }
void set_run_cleanup_guard(std::uint8_t value) { t_cleanup_guard = value; }

Status refuse_during_cleanup() {
  if (t_cleanup_guard == kCleanupNormal) return ok_status();
  t_cleanup_guard = kCleanupRefused;
  return CoreError::session(std::string(kCleanupRefusal));
}

Status close_under_cleanup_guard(const std::function<Status()>& close) {
  const std::uint8_t saved = t_cleanup_guard;
  t_cleanup_guard = kCleanupClosing;
  Status closed = close();
  const std::uint8_t seen = t_cleanup_guard;
  const bool refused = seen == kCleanupRefused;
  if (saved != kCleanupClosing) {
    t_cleanup_guard = saved == kCleanupNormal ? kCleanupNormal : kCleanupRefused;
  } else {
    // A close nested in another keeps what it saw for the outer one to read.
    t_cleanup_guard = refused ? kCleanupRefused : kCleanupClosing;
  }
  if (refused) return CoreError::session(std::string(kCleanupRefusal));
  return closed;
}

ProviderOperationGuard::~ProviderOperationGuard() { end_provider_operation(*this); }

Result<ProviderOperationGuard> begin_provider_operation(const std::shared_ptr<UsageMeter>& meter) {
  for (auto it = t_operations.rbegin(); it != t_operations.rend(); ++it) {
    if (it->meter != meter) continue;
    if (it->counted) {
      // The inner operation takes the outer one's count over.
      it->counted = false;
      t_operations.push_back({meter, true});
      ProviderOperationGuard guard;
      guard.armed_ = true;
      return guard;
    }
    break;
  }
  {
    std::lock_guard lock(meter->mutex);
    VOSTREL_TRY(check_run_budget(*meter, BudgetCheck::kProviderOperation));
    ++meter->in_flight;
  }
  t_operations.push_back({meter, true});
  ProviderOperationGuard guard;
  guard.armed_ = true;
  return guard;
}

std::optional<PoppedOperation> pop_provider_operation(ProviderOperationGuard& guard) {
  if (!guard.armed()) return std::nullopt;
  OperationAccess::disarm(guard);
  if (t_operations.empty()) return std::nullopt;
  OpenOperation top = std::move(t_operations.back());
  t_operations.pop_back();
  return PoppedOperation{std::move(top.meter), top.counted};
}

void end_provider_operation(ProviderOperationGuard& guard) {
  std::optional<PoppedOperation> popped = pop_provider_operation(guard);
  if (popped && popped->counted) release_in_flight(*popped->meter);
}

void record_provider_usage(UsageMeter& meter, std::string_view actor, std::string_view provider,
                           std::string_view model, std::string_view purpose, bool opaque,
                           const Result<provider::ProviderResponse>& result) {
  ProviderUsage record;
  record.actor = actor;
  record.provider = provider;
  record.model = model;
  record.purpose = purpose;
  record.failed = !result.ok();
  record.opaque = opaque;
  if (result.ok() && !opaque) record.usage = normalize_usage(result->usage);
  std::lock_guard lock(meter.mutex);
  if (meter.in_flight > 0) --meter.in_flight;
  record.cost_microusd = price_usage(meter.pricing, provider, model, record.usage);
  meter.ledger.add(std::move(record));
}

}  // namespace vostrel::usage
