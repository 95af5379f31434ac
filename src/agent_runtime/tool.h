// The tool vocabulary: what a model asks for (ToolCall), what a tool gives back
// (ToolResult), what a registered tool is (ToolSpec with its ToolHandler), and
// how tool calls travel for a provider (ToolDialect).
#ifndef VOSTREL_AGENT_RUNTIME_TOOL_H_
#define VOSTREL_AGENT_RUNTIME_TOOL_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "json/value.h"
#include "utils/result.h"

namespace vostrel::agent_runtime {

// Placeholder name of a reply whose tool-call block could not be read.
inline constexpr std::string_view kInvalidCall = "__invalid_tool_calls__";

// One call a model asked for. `arguments` is always an object.
struct ToolCall {
  std::string name;
  JsonObject arguments;
  std::string id;  // empty when none was given

  bool operator==(const ToolCall&) const = default;
};

// What running one call produced.
struct ToolResult {
  std::string name;
  std::string content;
  bool is_error = false;

  bool operator==(const ToolResult&) const = default;
};

// How tool calls travel between the system and one provider.
enum class ToolDialect : std::uint8_t { kText = 0, kOpenai = 1, kAnthropic = 2 };

// The dialects' JSON texts, in the order of their values.
inline constexpr std::string_view kToolDialectNames[] = {"text", "openai", "anthropic"};

// "text", "openai", "anthropic".
std::string_view tool_dialect_name(ToolDialect dialect);
std::optional<ToolDialect> tool_dialect_from_name(std::string_view name);

// Who made a tool call in which run and turn.
struct ToolIdentity {
  std::string actor;
  std::string run_id;
  std::uint64_t turn_id = 0;
  std::string call_id;

  bool operator==(const ToolIdentity&) const = default;
};

// The implementation of a tool. Shared between threads by the copies of its
// ToolSpec, so implementations must be thread-safe; a tool is called on one
// thread at a time per turn.
class ToolHandler {
 public:
  virtual ~ToolHandler() = default;
  // `arguments` is the call's object; `actor` the calling agent's name, or empty
  // when the ToolSpec does not take the actor. The text becomes the result's content;
  // an error becomes a failed result.
  virtual Result<std::string> call(const JsonObject& arguments, std::string_view actor) = 0;
};

// One registered tool. Copies share the handler.
struct ToolSpec {
  std::string name;
  std::string description;
  JsonValue parameters;
  std::shared_ptr<ToolHandler> handler;
  bool takes_actor = false;

  // Copies the texts, takes the schema and the handler; `takes_actor` false.
  static ToolSpec make(std::string_view name, std::string_view description, JsonValue parameters,
                       std::shared_ptr<ToolHandler> handler) {
    return ToolSpec{std::string(name), std::string(description), std::move(parameters),
                    std::move(handler), false};
  }
};

// What a contextual tool asks for before it runs (JSON tag "kind"): the user
// confirms a description, or approves a command line run in a folder.
struct ConfirmAction {
  std::string description;
  bool operator==(const ConfirmAction&) const = default;
};
struct CommandAction {
  std::string command;
  std::optional<std::string> cwd;
  bool operator==(const CommandAction&) const = default;
};
using PreflightAction = std::variant<ConfirmAction, CommandAction>;

// The capabilities a run grants one invocation of a contextual tool; defined
// by the run engine, which builds one per call and expires it when the call
// returns.
class ToolContext;

// A tool that is asked what it needs before it runs. Shared between threads
// like ToolHandler; the run engine calls `preflight` and then `invoke`, on the
// stepping thread.
class ContextualToolHandler {
 public:
  virtual ~ContextualToolHandler() = default;
  // Whether the run must first confirm an action or approve a command; nothing
  // when the call needs no consent.
  virtual Result<std::optional<PreflightAction>> preflight(const JsonObject& arguments,
                                                           const ToolIdentity& identity) = 0;
  // Runs the tool; the context's capabilities end when this returns.
  virtual Result<std::string> invoke(const JsonObject& arguments, ToolContext& context) = 0;
};

}  // namespace vostrel::agent_runtime

#endif  // VOSTREL_AGENT_RUNTIME_TOOL_H_
