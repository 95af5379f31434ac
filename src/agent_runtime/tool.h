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
  // when the spec does not take the actor. The text becomes the result's content;
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

}  // namespace vostrel::agent_runtime

#endif  // VOSTREL_AGENT_RUNTIME_TOOL_H_
