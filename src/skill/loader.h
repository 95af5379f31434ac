// Skill files: a packaged instruction an agent can load while it works. A skill
// is a directory holding SKILL.md (and optionally `scripts` and `references`),
// or any Markdown file named by path.
#ifndef VOSTREL_SKILL_LOADER_H_
#define VOSTREL_SKILL_LOADER_H_

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json/value.h"
#include "utils/result.h"

namespace vostrel::skill {

struct SkillConfig {
  std::string name;         // 1..64 characters of [a-z0-9] runs joined by single "-"
  std::string description;  // 1..1024 characters
  std::string content;      // the body, trimmed
  std::optional<std::vector<std::string>> allowed_tools;  // none when not declared
  std::vector<std::string> requires_tools;
  std::optional<std::filesystem::path> base_dir;  // the folder of a SKILL.md
  bool builtin = false;  // lies inside the built-in skills folder

  bool operator==(const SkillConfig&) const = default;
};

// The skill file of `path`: its SKILL.md when it is a directory holding one,
// the path itself when it is a regular file, else none.
std::optional<std::filesystem::path> locate_skill_file(const std::filesystem::path& path);

// Reads a built-in skill by name, or a skill directory or file by path (an
// argument with a slash or backslash, or ending in ".md"). Fails with NotFound
// "Skill file not found: {}", Io "{source}: {reason}", or the Value errors of
// the frontmatter, name, directory, description and tool-list rules.
Result<SkillConfig> read_skill_file(std::string_view argument);

// A tool list from frontmatter: absent or null gives none, a string is split at
// commas (pieces trimmed, empty ones dropped), a list of strings is trimmed item
// by item; anything else is a Value error "{key} must be a list of tool names in
// {source}, got {value}".
Result<std::optional<std::vector<std::string>>> parse_tool_list(const JsonValue* value,
                                                                std::string_view key,
                                                                std::string_view source);

// The skills a session asks for, in order: a registered skill of that exact name
// (copied), else `read_skill_file` of the name. The first failure is returned.
Result<std::vector<SkillConfig>> resolve_skill_names(std::span<const std::string> requested,
                                                     std::span<const SkillConfig> registered);

}  // namespace vostrel::skill

#endif  // VOSTREL_SKILL_LOADER_H_
