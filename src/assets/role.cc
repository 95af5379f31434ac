#include "assets/role.h"

#include "assets/assets.h"
#include "assets/read_text.h"
#include "pyfmt/pyfmt.h"
#include "unicode/unicode.h"
#include "utils/text.h"
#include "yaml/yaml.h"

namespace vostrel::assets {
namespace fs = std::filesystem;

std::string_view agent_position_name(AgentPosition position) {
  return position == AgentPosition::kOrchestrator ? "orchestrator" : "participant";
}

Result<AgentPosition> parse_agent_position(std::string_view text) {
  if (text == "participant") return AgentPosition::kParticipant;
  if (text == "orchestrator") return AgentPosition::kOrchestrator;
  return CoreError::value("Unknown agent position " + py_repr_str(text) +
                          ". Expected 'participant' or 'orchestrator'.");
}

Result<fs::path> find_role_file(std::string_view name, std::span<const fs::path> search) {
  return resolve_asset_path("Role", name, search, builtin_dir(kRolesDir));
}

Result<RoleConfig> read_role_file(std::string_view name, std::span<const fs::path> search) {
  VOSTREL_ASSIGN_OR_RETURN(const fs::path path, find_role_file(name, search));
  const std::string source = path_display(path);
  VOSTREL_ASSIGN_OR_RETURN(const std::string text, read_utf8_file(path, source));
  VOSTREL_ASSIGN_OR_RETURN(yaml::Frontmatter fm, yaml::parse_frontmatter(text, "Role", source));

  RoleConfig role;
  role.name = yaml::frontmatter_text(fm.mapping, "name");
  if (role.name.empty()) role.name = file_stem_text(path);
  const JsonValue* position = fm.mapping.find("position");
  if (position != nullptr && !position->is_null()) {
    const std::string text_form = position->is_string() ? position->as_string() : py_str(*position);
    Result<AgentPosition> parsed = parse_agent_position(unicode::trim(text_form));
    if (!parsed.ok()) return CoreError::value(parsed.error().message + " In " + source + ".");
    role.position = *parsed;
  }
  role.description = yaml::frontmatter_text(fm.mapping, "description");
  role.content = std::string(unicode::trim(fm.body));
  return role;
}

Result<std::string> agent_role_prompt(const std::optional<std::string>& role) {
  if (!role) {
    VOSTREL_ASSIGN_OR_RETURN(RoleConfig config, read_role_file(kDefaultRoleFile, {}));
    return std::move(config.content);
  }
  if (role->size() >= 3 && role->ends_with(".md")) {
    VOSTREL_ASSIGN_OR_RETURN(RoleConfig config, read_role_file(*role, {}));
    return std::move(config.content);
  }
  return *role;
}

}  // namespace vostrel::assets
