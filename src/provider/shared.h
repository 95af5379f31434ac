// The provider interface every model request goes through, the retry state
// and the two one-way latches every provider carries, and the calling order
// that places each call inside the run's usage accounting.
#ifndef VOSTREL_PROVIDER_SHARED_H_
#define VOSTREL_PROVIDER_SHARED_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "agent_runtime/tool.h"
#include "json/value.h"
#include "provider/response.h"
#include "utils/result.h"

namespace vostrel::provider {

using agent_runtime::ToolCall;
using agent_runtime::ToolDialect;
using agent_runtime::ToolSpec;

// Chat messages in the OpenAI shape ({"role", "content", ...}).
using Messages = std::vector<JsonValue>;
// The tools offered with a call; none is different from an empty list only in
// that neither sends any tool.
using ToolList = std::optional<std::span<const ToolSpec>>;

// The retry settings a provider is built with (its ProviderState less the latches).
struct RetrySettings {
  std::uint32_t retries = 2;
  double backoff_sec = 2.0;
  std::optional<double> interval_sec;
  std::optional<std::uint64_t> context_window;
};

// The retry settings, the configured context window and the two latches. The
// settings never change after construction; each latch only goes from false
// to true. Shared by every holder of the provider; safe on any thread.
struct ProviderState {
  std::uint32_t retries = 2;            // attempts = retries + 1
  double backoff_sec = 2.0;             // linear back-off base
  std::optional<double> interval_sec;   // > 0: a fixed delay instead
  std::optional<std::uint64_t> context_window;
  std::atomic<bool> native_tools_rejected{false};
  std::atomic<bool> reasoning_effort_rejected{false};

  ProviderState() = default;
  ProviderState(std::uint32_t retries, double backoff_sec, std::optional<double> interval_sec,
                std::optional<std::uint64_t> context_window)
      : retries(retries), backoff_sec(backoff_sec), interval_sec(interval_sec),
        context_window(context_window) {}
  explicit ProviderState(const RetrySettings& settings)
      : ProviderState(settings.retries, settings.backoff_sec, settings.interval_sec,
                      settings.context_window) {}
  ProviderState(const ProviderState&) = delete;  // the latches are shared, never copied
  ProviderState& operator=(const ProviderState&) = delete;
};

// The twelve operations, in their table order. Operations 1 to 8 never fail.
// The defaults are the behaviour of the built-in providers, which implement
// only `name`, `state`, `chat` and `tool_dialect`. A provider is shared
// between threads: implementations must be safe to call concurrently.
class Provider {
 public:
  virtual ~Provider() = default;

  // 1. The type name; the provider name of usage records and latch warnings.
  virtual std::string name() const = 0;
  // 2. The provider's retry settings and latches.
  virtual ProviderState& state() = 0;
  // 3. One request: no retry, no accounting.
  virtual Result<ProviderResponse> chat(std::string_view model, const Messages& messages,
                                        ToolList tools, ReasoningEffort effort) = 0;
  // 4. How tool calls travel natively.
  virtual ToolDialect tool_dialect() const = 0;
  // 5. The configured context window; `model` is what the caller is about to use.
  virtual std::optional<std::uint64_t> context_window(std::string_view model);
  // 6. Whether `chat` takes tools at all.
  virtual bool accepts_tools();
  // 7. `text` once native tools were refused, else `tool_dialect`.
  virtual ToolDialect effective_dialect();
  // 8. None once the reasoning effort was refused, else `requested`.
  virtual std::optional<ReasoningEffort> effective_effort(std::optional<ReasoningEffort> requested);
  // 9. Sets the tools latch (and warns) for an HTTP 400/404/422 naming tools.
  virtual bool note_native_tools_rejected(const CoreError& error);
  // 10. Sets the effort latch (and warns, once) for an HTTP 400/404/422 naming the effort.
  virtual bool note_reasoning_effort_rejected(const CoreError& error);
  // 11. The retry loop around `chat_dispatch`, then the latches.
  virtual Result<ProviderResponse> chat_with_retries(std::string_view model, const Messages& messages,
                                                     std::string_view purpose, ToolList tools,
                                                     ReasoningEffort effort);
  // 12. One metered request: the cleanup refusal, a provider operation on the
  // active scope's meter, `chat`, and its usage record.
  virtual Result<ProviderResponse> chat_dispatch(std::string_view model, const Messages& messages,
                                                 ToolList tools, ReasoningEffort effort);
};

// How the retry loop waits between attempts, in seconds (> 0).
using RetrySleep = std::function<void(double seconds)>;

// Blocks the calling thread for `seconds`, resuming after signals for the time
// that remains. Delays too long to express are clamped to the longest one.
void sleep_for_seconds(double seconds);

// `chat_with_retries` with the waits made through `sleep`: the default
// operation passes `sleep_for_seconds`; tests pass a recorder.
Result<ProviderResponse> chat_with_retries_using(Provider& provider, std::string_view model,
                                                 const Messages& messages, std::string_view purpose,
                                                 ToolList tools, ReasoningEffort effort,
                                                 const RetrySleep& sleep);

// The delay before attempt `attempt` + 1: the interval when set and > 0, else
// backoff × (attempt + 1). A delay that is not > 0 means no wait.
double retry_delay(const ProviderState& state, std::uint32_t attempt);

// The latch tests' common condition: ProviderHttp 400, 404 or 422.
bool is_rejection_status(const CoreError& error);

}  // namespace vostrel::provider

#endif  // VOSTREL_PROVIDER_SHARED_H_
