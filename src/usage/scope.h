// Per-thread accounting around provider calls: the active usage scope, the
// stack of open provider operations (so that nested layers count one call
// once) and the run-cleanup guard. Each thread sees only its own values.
#ifndef VOSTREL_USAGE_SCOPE_H_
#define VOSTREL_USAGE_SCOPE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "provider/response.h"
#include "usage/meter.h"
#include "utils/result.h"

namespace vostrel::usage {

// Who is calling, for what, and on which meter.
struct UsageScope {
  std::string owner;
  std::string purpose;
  std::shared_ptr<UsageMeter> meter;
};

// Makes `scope` the thread's active scope; returns the one it replaces.
std::optional<UsageScope> enter_usage_scope(UsageScope scope);
// Puts `previous` back. Pairs with enter_usage_scope, last in first out.
void leave_usage_scope(std::optional<UsageScope> previous);
// A copy of the thread's active scope, if any.
std::optional<UsageScope> active_usage_scope();

// Enters a scope for the lifetime of the object.
class ScopedUsage {
 public:
  explicit ScopedUsage(UsageScope scope) : previous_(enter_usage_scope(std::move(scope))) {}
  ~ScopedUsage() { leave_usage_scope(std::move(previous_)); }
  ScopedUsage(const ScopedUsage&) = delete;
  ScopedUsage& operator=(const ScopedUsage&) = delete;

 private:
  std::optional<UsageScope> previous_;
};

// The run-cleanup guard's three states.
inline constexpr std::uint8_t kCleanupClosing = 0;
inline constexpr std::uint8_t kCleanupRefused = 1;
inline constexpr std::uint8_t kCleanupNormal = 2;

std::uint8_t run_cleanup_guard();
void set_run_cleanup_guard(std::uint8_t value);

// The Session error every refused provider call gets during run cleanup.
inline constexpr std::string_view kCleanupRefusal =
    "Provider operations cannot start during run cleanup; use explicit memory maintenance.";

// Refuses a provider call while a run's memory is being closed on this thread
// (and notes the refusal in the guard); nothing otherwise.
Status refuse_during_cleanup();

// Runs `close` with the guard in its closing state and restores it after; a
// provider call refused meanwhile fails the close with the cleanup refusal.
Status close_under_cleanup_guard(const std::function<Status()>& close);

// Handed out by begin_provider_operation; disarmed by pop or end, and ended by
// its destructor when still armed (so an operation left early is released).
class ProviderOperationGuard {
 public:
  ProviderOperationGuard() = default;
  ~ProviderOperationGuard();
  ProviderOperationGuard(ProviderOperationGuard&& other) noexcept
      : armed_(std::exchange(other.armed_, false)) {}
  ProviderOperationGuard& operator=(ProviderOperationGuard&&) = delete;
  ProviderOperationGuard(const ProviderOperationGuard&) = delete;

  bool armed() const { return armed_; }

 private:
  friend Result<ProviderOperationGuard> begin_provider_operation(const std::shared_ptr<UsageMeter>&);
  friend struct OperationAccess;
  bool armed_ = false;
};

// Opens a provider operation on this thread. An operation already open on the
// same meter hands its count to the new one (no budget test); otherwise the
// budget is tested for a provider operation and, when it passes, the call is
// counted in flight. The budget's Session error when it is exhausted.
Result<ProviderOperationGuard> begin_provider_operation(const std::shared_ptr<UsageMeter>& meter);

struct PoppedOperation {
  std::shared_ptr<UsageMeter> meter;
  bool counted = false;  // still holds its count: the caller must record it
};

// Disarms the guard and pops the thread's top operation; none when the guard
// was not armed.
std::optional<PoppedOperation> pop_provider_operation(ProviderOperationGuard& guard);

// Releases an operation that will not be recorded: disarms, pops and, when it
// was counted, takes it out of flight. Nothing when the guard is disarmed.
void end_provider_operation(ProviderOperationGuard& guard);

// Appends one record for a counted operation and takes it out of flight. A
// failed call or an opaque record has unknown usage; otherwise the reply's
// usage is normalised and priced.
void record_provider_usage(UsageMeter& meter, std::string_view actor, std::string_view provider,
                           std::string_view model, std::string_view purpose, bool opaque,
                           const Result<provider::ProviderResponse>& result);

}  // namespace vostrel::usage

#endif  // VOSTREL_USAGE_SCOPE_H_
