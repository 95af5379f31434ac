#include "provider/shared.h"

#include <cerrno>
#include <cmath>
#include <ctime>
#include <string>

#include "logging/logger.h"
#include "unicode/unicode.h"
#include "usage/scope.h"

namespace vostrel::provider {

std::optional<std::uint64_t> Provider::context_window(std::string_view) {
  return state().context_window;
}

bool Provider::accepts_tools() { return true; }

ToolDialect Provider::effective_dialect() {
  return state().native_tools_rejected.load() ? ToolDialect::kText : tool_dialect();
}

std::optional<ReasoningEffort> Provider::effective_effort(std::optional<ReasoningEffort> requested) {
  if (state().reasoning_effort_rejected.load()) return std::nullopt;
  return requested;
}

bool is_rejection_status(const CoreError& error) {
  return error.kind == ErrorKind::kProviderHttp &&
         (error.status == 400 || error.status == 404 || error.status == 422);
}

bool Provider::note_native_tools_rejected(const CoreError& error) {
  if (!is_rejection_status(error)) return false;
  if (unicode::to_lowercase(error.body).find("tool") == std::string::npos) return false;
  log_message(LogLevel::kWarning,
              "Provider " + name() + " rejected native tool calling (HTTP " +
                  std::to_string(error.status) +
                  "); falling back to the text protocol for the rest of this session.");
  state().native_tools_rejected.store(true);
  return true;
}

bool Provider::note_reasoning_effort_rejected(const CoreError& error) {
  if (!is_rejection_status(error)) return false;
  const std::string body = unicode::to_lowercase(error.body);
  bool names_effort = false;
  for (std::string_view word : {"reasoning_effort", "output_config", "effort", "reasoning"}) {
    if (body.find(word) != std::string::npos) {
      names_effort = true;
      break;
    }
  }
  if (!names_effort) return false;
  // One caller wins the exchange: it alone warns and re-sends.
  if (state().reasoning_effort_rejected.exchange(true)) return false;
  log_message(LogLevel::kWarning,
              "Provider " + name() + " rejected the reasoning effort parameter (HTTP " +
                  std::to_string(error.status) + "); omitting it for the rest of this session.");
  return true;
}

Result<ProviderResponse> Provider::chat_dispatch(std::string_view model, const Messages& messages,
                                                 ToolList tools, ReasoningEffort effort) {
  VOSTREL_TRY(usage::refuse_during_cleanup());
  if (!tools || tools->empty() || state().native_tools_rejected.load()) tools = std::nullopt;
  std::optional<usage::UsageScope> scope = usage::active_usage_scope();
  if (!scope) return chat(model, messages, tools, effort);
  VOSTREL_ASSIGN_OR_RETURN(usage::ProviderOperationGuard operation,
                           usage::begin_provider_operation(scope->meter));
  Result<ProviderResponse> result = chat(model, messages, tools, effort);
  if (auto popped = usage::pop_provider_operation(operation); popped && popped->counted) {
    usage::record_provider_usage(*scope->meter, scope->owner, name(), model, scope->purpose, false,
                                 result);
  }
  return result;
}

Result<ProviderResponse> Provider::chat_with_retries(std::string_view model, const Messages& messages,
                                                     std::string_view purpose, ToolList tools,
                                                     ReasoningEffort effort) {
  return chat_with_retries_using(*this, model, messages, purpose, tools, effort, &sleep_for_seconds);
}

void sleep_for_seconds(double seconds) {
  if (!(seconds > 0)) return;
  constexpr double kLongest = 9.2e18;  // below 2^63 seconds
  seconds = std::min(seconds, kLongest);
  timespec remaining;
  double whole = std::floor(seconds);
  remaining.tv_sec = static_cast<time_t>(whole);
  remaining.tv_nsec = static_cast<long>(std::min((seconds - whole) * 1e9, 999'999'999.0));
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

double retry_delay(const ProviderState& state, std::uint32_t attempt) {
  if (state.interval_sec && *state.interval_sec > 0) return *state.interval_sec;
  return state.backoff_sec * (static_cast<double>(attempt) + 1.0);
}

namespace {

// One attempt of the retry loop: inside the active scope (re-entered with the
// loop's purpose), an operation of its own around `chat_dispatch`, recorded as
// opaque only when the dispatch did not record the call itself.
Result<ProviderResponse> attempt_once(Provider& provider, std::string_view model,
                                      const Messages& messages, std::string_view purpose,
                                      ToolList tools, ReasoningEffort effort) {
  VOSTREL_TRY(usage::refuse_during_cleanup());
  std::optional<usage::UsageScope> scope = usage::active_usage_scope();
  if (!scope) return provider.chat_dispatch(model, messages, tools, effort);
  usage::ScopedUsage nested({scope->owner, std::string(purpose), scope->meter});
  VOSTREL_TRY(usage::refuse_during_cleanup());
  VOSTREL_ASSIGN_OR_RETURN(usage::ProviderOperationGuard operation,
                           usage::begin_provider_operation(scope->meter));
  Result<ProviderResponse> result = provider.chat_dispatch(model, messages, tools, effort);
  if (auto popped = usage::pop_provider_operation(operation); popped && popped->counted) {
    usage::record_provider_usage(*scope->meter, scope->owner, provider.name(), model, purpose, true,
                                 result);
  }
  return result;
}

CoreError empty_reply_error(std::string_view model, std::string_view purpose,
                            const ProviderResponse& reply) {
  std::string message = "Empty response from " + std::string(model) + " for " + std::string(purpose);
  if (!reply.stop_reason.empty()) message += " (stop reason: " + reply.stop_reason + ")";
  return CoreError::provider_empty(std::move(message));
}

bool is_provider_kind(ErrorKind kind) {
  return kind == ErrorKind::kProvider || kind == ErrorKind::kProviderHttp ||
         kind == ErrorKind::kProviderNetwork || kind == ErrorKind::kProviderEmpty;
}

}  // namespace

Result<ProviderResponse> chat_with_retries_using(Provider& provider, std::string_view model,
                                                 const Messages& messages, std::string_view purpose,
                                                 ToolList tools, ReasoningEffort effort,
                                                 const RetrySleep& sleep) {
  ProviderState& state = provider.state();
  CoreError last;
  for (std::uint32_t attempt = 0;; ++attempt) {
    Result<ProviderResponse> result = attempt_once(provider, model, messages, purpose, tools, effort);
    if (result.ok()) {
      if (!result->is_empty()) return result;
      last = empty_reply_error(model, purpose, *result);
    } else {
      last = std::move(result).error();
    }
    if (attempt >= state.retries) break;
    const double delay = retry_delay(state, attempt);
    if (delay > 0) sleep(delay);
  }

  if (!is_provider_kind(last.kind)) {
    const std::string text = last.error_text();
    log_message(LogLevel::kWarning, "Provider failed for " + std::string(purpose) + ": " + text);
    return CoreError::provider("All retries exhausted for " + std::string(purpose) + ": " + text);
  }
  const bool tools_given = tools && !tools->empty();
  if (tools_given && provider.note_native_tools_rejected(last)) {
    return chat_with_retries_using(provider, model, messages, purpose, std::nullopt, effort, sleep);
  }
  if (provider.note_reasoning_effort_rejected(last)) {
    return chat_with_retries_using(provider, model, messages, purpose, tools, effort, sleep);
  }
  return last;
}

}  // namespace vostrel::provider
