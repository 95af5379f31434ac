// System-prompt assembly: an agent's identity (persona module) plus standing
// context, the skills index, memory notes and, for agents that exchange tool
// calls as text, the tool rules. The orchestrator and the participants get the
// same pieces in two arrangements.
#ifndef VOSTREL_PROMPTING_PROMPTING_H_
#define VOSTREL_PROMPTING_PROMPTING_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "agent_runtime/tool.h"
#include "json/value.h"
#include "persona/persona.h"
#include "utils/result.h"

namespace vostrel::prompting {

inline constexpr std::string_view kMemoryHeader =
    "\n\n## Memory\nNotes the participants of this session have written down, quoted between the "
    "markers below.";
inline constexpr std::string_view kMemoryWriteHint =
    " You can add notes with the `write_memory` tool, or by including lines starting with "
    "`@MEMORY:` in your response.";
// Notes older than this many days get a caveat.
inline constexpr std::int64_t kMemoryStaleAfterDays = 1;
inline constexpr std::string_view kContextHeader =
    "\n\n## Context\nStanding information about this session, supplied by the program running it.";

// One entry of an agent's standing context.
struct ContextEntry {
  std::string name;
  std::string text;

  bool operator==(const ContextEntry&) const = default;
};

using persona::AgentProfile;

// The sources of one assembly. The optional callbacks may be left empty; the
// others must be set. Called on the assembling thread with no lock held.
struct PromptAssembler {
  // True when the agent exchanges tool calls in a native dialect.
  std::function<bool(const AgentProfile&)> native_dialect_for;
  // The age of the agent's memory in whole days, or none when unknown.
  std::function<std::optional<std::int64_t>(const AgentProfile&)> memory_age_for;
  std::function<std::vector<ContextEntry>(const AgentProfile&)> context_for;
  std::function<std::string(const AgentProfile&)> skills_for;
  std::function<std::string(const AgentProfile&)> memory_text_for;
  std::function<std::vector<agent_runtime::ToolSpec>(const AgentProfile&)> tools_for;
  persona::ShowReasoning show_reasoning;
  bool memory_writable = false;
};

// The memory notes between their markers with the header, the caveat for stale
// notes and the write hint; "" when the notes are blank.
std::string memory_section(std::string_view notes, bool writable, std::optional<std::int64_t> age_days);

// "## Context" and one "### {name}" block per entry with text; "" when none has.
std::string context_section(std::span<const ContextEntry> entries);

// The text-dialect tool rules and definitions; "" for no tools.
std::string tools_prompt_section(std::span<const agent_runtime::ToolSpec> tools);

std::string agent_context_section(const PromptAssembler& assembler, const AgentProfile& agent);
std::string agent_tools_section(const PromptAssembler& assembler, const AgentProfile& agent);

// Base prompt, persona, reasoning and language lines, context, skills, tool
// rules, memory. The agent's own system_prompt is not consulted.
Result<std::string> assemble_orchestrator_system(const PromptAssembler& assembler,
                                                 const AgentProfile& agent,
                                                 std::string_view base_prompt);

// The system message (base prompt or the agent's own system_prompt, persona,
// reasoning and language lines, context, skills, memory, tool rules) followed by
// the history.
Result<std::vector<JsonValue>> assemble_participant_messages(const PromptAssembler& assembler,
                                                             const AgentProfile& agent,
                                                             std::span<const JsonValue> history,
                                                             std::string_view default_prompt);

// The orchestrator arrangement for an orchestrator, else the participant one.
Result<std::vector<JsonValue>> assemble_agent_messages(const PromptAssembler& assembler,
                                                       const AgentProfile& agent,
                                                       std::span<const JsonValue> history,
                                                       std::string_view base_prompt);

}  // namespace vostrel::prompting

#endif  // VOSTREL_PROMPTING_PROMPTING_H_
