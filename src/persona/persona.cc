#include "persona/persona.h"

#include "assets/assets.h"
#include "assets/read_text.h"
#include "re2/re2.h"
#include "unicode/unicode.h"
#include "utils/text.h"

namespace vostrel::persona {
namespace fs = std::filesystem;

namespace {

// The body of the first "## {title}" section: its lines up to the next line
// starting with "## ", joined and trimmed.
std::string section_body(std::span<const std::string_view> lines, std::string_view title) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (!line.starts_with("## ")) continue;
    std::string_view rest = line.substr(3);
    if (!rest.starts_with(title)) continue;
    rest.remove_prefix(title.size());
    if (!unicode::trim(rest).empty()) continue;
    std::string body;
    for (std::size_t j = i + 1; j < lines.size() && !lines[j].starts_with("## "); ++j) {
      if (j > i + 1) body += '\n';
      body += lines[j];
    }
    return std::string(unicode::trim(body));
  }
  return std::string();
}

}  // namespace

Result<fs::path> find_persona_file(std::string_view name, std::span<const fs::path> search) {
  return assets::resolve_asset_path("Persona", name, search,
                                    assets::builtin_dir(assets::kPersonasDir));
}

Result<PersonaConfig> read_persona_file(std::string_view name, std::span<const fs::path> search) {
  VOSTREL_ASSIGN_OR_RETURN(const fs::path path, find_persona_file(name, search));
  VOSTREL_ASSIGN_OR_RETURN(const std::string text,
                           assets::read_utf8_file(path, assets::path_display(path)));
  return parse_persona_text(text, assets::file_stem_text(path));
}

PersonaConfig parse_persona_text(std::string_view text, std::string_view stem) {
  // "\s" over the whole White_Space property: RE2's own "\s" knows only ASCII
  // blanks (and not even the vertical tab).
  static const RE2* name_line = new RE2(
      "(?m)\\A# Persona:[\\t\\n\\x{0B}\\f\\r \\x{85}\\x{A0}\\x{1680}\\x{2000}-\\x{200A}\\x{2028}\\x{2029}"
      "\\x{202F}\\x{205F}\\x{3000}]*(.+)$");
  PersonaConfig out;
  re2::StringPiece name;
  if (RE2::PartialMatch(re2::StringPiece(text.data(), text.size()), *name_line, &name)) {
    out.name = std::string(unicode::trim(std::string_view(name.data(), name.size())));
  } else {
    out.name = std::string(stem);
  }
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (true) {
    const std::size_t nl = text.find('\n', start);
    std::string_view line = text.substr(start, nl == std::string_view::npos ? text.size() - start : nl - start);
    if (nl != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    if (nl == std::string_view::npos) break;
    start = nl + 1;
  }
  out.persona = section_body(lines, "Persona");
  out.background = section_body(lines, "Background");
  out.communication_style = section_body(lines, "Communication Style");
  return out;
}

std::string persona_prompt_section(const PersonaConfig& persona) {
  std::string out;
  const auto add = [&out](std::string_view label, const std::string& text) {
    if (text.empty()) return;
    if (!out.empty()) out += '\n';
    out += label;
    out += text;
  };
  add("Persona: ", persona.persona);
  add("Background: ", persona.background);
  add("Communication style: ", persona.communication_style);
  return out;
}

Result<std::string> agent_system_prompt(const AgentProfile& agent, std::string_view base_prompt,
                                        ShowReasoning show_reasoning, std::string_view extra) {
  std::string prompt(base_prompt);
  if (agent.persona) {
    std::string text;
    if (agent.persona->ends_with(".md")) {
      VOSTREL_ASSIGN_OR_RETURN(const PersonaConfig config, read_persona_file(*agent.persona, {}));
      text = persona_prompt_section(config);
    } else {
      text = "Persona: " + *agent.persona;
    }
    prompt += '\n';
    prompt += text;
  }
  if (show_reasoning) {
    prompt += *show_reasoning ? "\nProvide brief reasoning." : "\nDo not include your reasoning, only the answer.";
  }
  if (agent.language) {
    prompt += "\nRespond in ";
    prompt += *agent.language;
    prompt += '.';
  }
  if (!extra.empty()) {
    prompt += '\n';
    prompt += extra;
  }
  prompt = replace_all(prompt, "{bot_id}", agent.name);
  prompt = replace_all(prompt, "{bot_name}", agent.name);
  prompt = replace_all(prompt, "{model}", agent.model ? *agent.model : std::string());
  return prompt;
}

JsonValue chat_message(std::string_view role, std::string content) {
  JsonObject message;
  message.insert("role", JsonValue(role));
  message.insert("content", JsonValue(std::move(content)));
  return JsonValue(std::move(message));
}

Result<std::vector<JsonValue>> agent_chat_messages(const AgentProfile& agent,
                                                   std::span<const JsonValue> history,
                                                   std::string_view default_prompt,
                                                   ShowReasoning show_reasoning,
                                                   std::string_view extra) {
  const std::string_view base = agent.system_prompt ? std::string_view(*agent.system_prompt) : default_prompt;
  VOSTREL_ASSIGN_OR_RETURN(std::string system, agent_system_prompt(agent, base, show_reasoning, extra));
  std::vector<JsonValue> out;
  out.reserve(history.size() + 1);
  out.push_back(chat_message("system", std::move(system)));
  out.insert(out.end(), history.begin(), history.end());
  return out;
}

}  // namespace vostrel::persona
