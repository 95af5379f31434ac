// Agent identity: persona files, the persona text of a prompt, and an agent's
// system prompt and chat messages.
#ifndef VOSTREL_PERSONA_PERSONA_H_
#define VOSTREL_PERSONA_PERSONA_H_

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "assets/role.h"
#include "json/value.h"
#include "utils/result.h"

namespace vostrel::persona {

// One persona file. Each text may be empty.
struct PersonaConfig {
  std::string name;
  std::string persona;
  std::string background;
  std::string communication_style;

  bool operator==(const PersonaConfig&) const = default;
};

// What prompt assembly reads of an agent's configuration. The session's agent
// record hands this view over; nothing here keeps it.
struct AgentProfile {
  std::string name;
  assets::AgentPosition position = assets::AgentPosition::kParticipant;
  std::optional<std::string> model = std::nullopt;
  std::optional<std::string> persona = std::nullopt;  // a phrase, or a persona file ending in ".md"
  std::optional<std::string> language = std::nullopt;
  std::optional<std::string> system_prompt = std::nullopt;
  std::optional<std::string> role = std::nullopt;  // a role file ending in ".md", or the role text itself

  bool operator==(const AgentProfile&) const = default;
};

// Whether an agent is asked to show its reasoning: unset adds nothing.
using ShowReasoning = std::optional<bool>;

// The persona file `name`: the name as given, the search directories, then the
// built-in `personas` directory; NotFound "Persona file not found: ...".
Result<std::filesystem::path> find_persona_file(std::string_view name,
                                                std::span<const std::filesystem::path> search);

// Finds, reads (Io error "{path}: {reason}") and parses a persona file.
Result<PersonaConfig> read_persona_file(std::string_view name,
                                        std::span<const std::filesystem::path> search);

// Parses persona-file text; `stem` names a file without a "# Persona:" line.
PersonaConfig parse_persona_text(std::string_view text, std::string_view stem);

// "Persona: {}", "Background: {}" and "Communication style: {}" lines for the
// non-empty texts, joined with "\n".
std::string persona_prompt_section(const PersonaConfig& persona);

// The base prompt followed by the persona, reasoning, language and extra text,
// with "{bot_id}", "{bot_name}" and "{model}" filled in. Fails only when the
// agent's persona file cannot be found or read.
Result<std::string> agent_system_prompt(const AgentProfile& agent, std::string_view base_prompt,
                                        ShowReasoning show_reasoning, std::string_view extra);

// {"role": "system", "content": prompt} followed by copies of `history`. The
// agent's own system_prompt, when set, replaces `default_prompt`.
Result<std::vector<JsonValue>> agent_chat_messages(const AgentProfile& agent,
                                                   std::span<const JsonValue> history,
                                                   std::string_view default_prompt,
                                                   ShowReasoning show_reasoning,
                                                   std::string_view extra);

// The chat message {"role": role, "content": content}.
JsonValue chat_message(std::string_view role, std::string content);

}  // namespace vostrel::persona

#endif  // VOSTREL_PERSONA_PERSONA_H_
