#include "skill/loader.h"

#include <system_error>

#include "assets/assets.h"
#include "assets/read_text.h"
#include "pyfmt/pyfmt.h"
#include "unicode/unicode.h"
#include "utils/text.h"
#include "yaml/yaml.h"

namespace vostrel::skill {
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMaxNameChars = 64;
constexpr std::size_t kMaxDescriptionChars = 1024;

// Lowercase letters and digits in runs joined by single hyphens.
bool is_skill_name(std::string_view name) {
  if (name.empty() || name.front() == '-' || name.back() == '-') return false;
  char prev = 0;
  for (char c : name) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!alnum && c != '-') return false;
    if (c == '-' && prev == '-') return false;
    prev = c;
  }
  return true;
}

std::string lower_ascii(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

fs::path resolved_or_same(const fs::path& path) {
  std::error_code ec;
  fs::path canonical = fs::canonical(path, ec);
  return ec ? path : canonical;
}

// Whether `path` lies inside `dir`, compared component by component.
bool lies_inside(const fs::path& path, const fs::path& dir) {
  auto p = path.begin();
  for (auto d = dir.begin(); d != dir.end(); ++d, ++p) {
    if (d->empty() && std::next(d) == dir.end()) break;  // a trailing slash
    if (p == path.end() || *p != *d) return false;
  }
  return true;
}

}  // namespace

std::optional<fs::path> locate_skill_file(const fs::path& path) {
  if (assets::has_nul(path)) return std::nullopt;
  std::error_code ec;
  if (fs::is_directory(path, ec)) {
    fs::path file = path / "SKILL.md";
    if (assets::path_exists(file)) return file;
  }
  if (fs::is_regular_file(path, ec)) return path;
  return std::nullopt;
}

Result<std::optional<std::vector<std::string>>> parse_tool_list(const JsonValue* value,
                                                                std::string_view key,
                                                                std::string_view source) {
  using List = std::vector<std::string>;
  if (value == nullptr || value->is_null()) return std::optional<List>();
  if (const std::string* text = value->get_string()) {
    List out;
    std::string_view rest = *text;
    while (true) {
      const std::size_t comma = rest.find(',');
      const std::string_view piece = unicode::trim(rest.substr(0, comma));
      if (!piece.empty()) out.emplace_back(piece);
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
    return std::optional<List>(std::move(out));
  }
  if (const JsonArray* items = value->get_array()) {
    List out;
    out.reserve(items->size());
    bool all_strings = true;
    for (const JsonValue& item : *items) {
      const std::string* s = item.get_string();
      if (s == nullptr) {
        all_strings = false;
        break;
      }
      out.emplace_back(unicode::trim(*s));
    }
    if (all_strings) return std::optional<List>(std::move(out));
  }
  return CoreError::value(std::string(key) + " must be a list of tool names in " +
                          std::string(source) + ", got " + py_str(*value));
}

Result<SkillConfig> read_skill_file(std::string_view argument) {
  const fs::path skills_dir = assets::builtin_dir(assets::kSkillsDir);
  std::optional<fs::path> located;
  if (!assets::is_path_argument(argument)) {
    const fs::path candidate = skills_dir / argument;
    located = locate_skill_file(candidate);
    if (!located) return CoreError::not_found("Skill file not found: " + assets::path_display(candidate));
  } else {
    located = locate_skill_file(fs::path(argument));
    if (!located) located = locate_skill_file(skills_dir / argument);
    if (!located) return CoreError::not_found("Skill file not found: " + std::string(argument));
  }
  const fs::path& path = *located;
  const std::string source = assets::path_display(path);
  VOSTREL_ASSIGN_OR_RETURN(const std::string text, assets::read_utf8_file(path, source));
  VOSTREL_ASSIGN_OR_RETURN(yaml::Frontmatter fm, yaml::parse_frontmatter(text, "Skill", source));

  SkillConfig skill;
  skill.name = yaml::frontmatter_text(fm.mapping, "name");
  skill.description = yaml::frontmatter_text(fm.mapping, "description");
  if (skill.name.empty() || skill.description.empty())
    return CoreError::value("Skill file missing required frontmatter: " + source);
  if (unicode::count_chars(skill.name) > kMaxNameChars || !is_skill_name(skill.name))
    return CoreError::value("Invalid skill name '" + skill.name + "' in " + source);
  const bool is_skill_md = lower_ascii(path.filename().native()) == "skill.md";
  if (is_skill_md) {
    // "." and ".." name no directory, and neither does an empty parent.
    const fs::path parent_name = path.parent_path().filename();
    if (!parent_name.empty() && parent_name != "." && parent_name != "..") {
      const std::string dir_name = utf8_lossy(parent_name.native());
      if (dir_name != skill.name) {
        return CoreError::value("Skill name '" + skill.name + "' must match parent directory '" +
                                dir_name + "'");
      }
    }
  }
  if (unicode::count_chars(skill.description) > kMaxDescriptionChars)
    return CoreError::value("Invalid skill description in " + source);
  if (is_skill_md) skill.base_dir = path.parent_path();
  skill.content = std::string(unicode::trim(fm.body));
  VOSTREL_ASSIGN_OR_RETURN(skill.allowed_tools,
                           parse_tool_list(fm.mapping.find("allowed-tools"), "allowed-tools", source));
  VOSTREL_ASSIGN_OR_RETURN(
      std::optional<std::vector<std::string>> requires_tools,
      parse_tool_list(fm.mapping.find("requires-tools"), "requires-tools", source));
  if (requires_tools) skill.requires_tools = std::move(*requires_tools);
  skill.builtin = lies_inside(resolved_or_same(path), resolved_or_same(skills_dir));
  return skill;
}

Result<std::vector<SkillConfig>> resolve_skill_names(std::span<const std::string> requested,
                                                     std::span<const SkillConfig> registered) {
  std::vector<SkillConfig> out;
  out.reserve(requested.size());
  for (const std::string& name : requested) {
    const SkillConfig* found = nullptr;
    for (const SkillConfig& skill : registered) {
      if (skill.name == name) {
        found = &skill;
        break;
      }
    }
    if (found != nullptr) {
      out.push_back(*found);
      continue;
    }
    VOSTREL_ASSIGN_OR_RETURN(SkillConfig skill, read_skill_file(name));
    out.push_back(std::move(skill));
  }
  return out;
}

}  // namespace vostrel::skill
