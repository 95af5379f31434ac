// Role files: what part an agent plays in a session, and the role prompt every
// agent gets from its role setting.
#ifndef VOSTREL_ASSETS_ROLE_H_
#define VOSTREL_ASSETS_ROLE_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "utils/result.h"

namespace vostrel::assets {

// The role file an agent without a role reads.
inline constexpr std::string_view kDefaultRoleFile = "participant.md";

enum class AgentPosition : std::uint8_t { kParticipant = 0, kOrchestrator = 1 };

// "participant" or "orchestrator".
std::string_view agent_position_name(AgentPosition position);

// Exactly "participant" or "orchestrator"; anything else is a Value error
// "Unknown agent position {repr}. Expected 'participant' or 'orchestrator'.".
Result<AgentPosition> parse_agent_position(std::string_view text);

// One role file.
struct RoleConfig {
  std::string name;  // frontmatter `name`, else the file stem
  AgentPosition position = AgentPosition::kParticipant;
  std::string description;
  std::string content;  // the body, trimmed

  bool operator==(const RoleConfig&) const = default;
};

// The role file `name` (no extension added): the name as given, then each
// search directory, then the built-in `roles` directory. NotFound when none
// exists.
Result<std::filesystem::path> find_role_file(std::string_view name,
                                             std::span<const std::filesystem::path> search);

// Finds and reads a role file: NotFound, Io ("{source}: {os error}") or Value
// (frontmatter or position) errors.
Result<RoleConfig> read_role_file(std::string_view name,
                                  std::span<const std::filesystem::path> search);

// The role prompt of an agent: no role reads participant.md; a role text ending
// in ".md" (three characters or more) reads that file; any other text is the
// prompt itself (empty included).
Result<std::string> agent_role_prompt(const std::optional<std::string>& role);

}  // namespace vostrel::assets

#endif  // VOSTREL_ASSETS_ROLE_H_
