// The access policy of a session: what agents may read, list, run and reach.
//
// A policy is compiled once from its configuration (`AccessPolicy::create`)
// and is immutable afterwards, apart from directory grants made under the
// session's mutex (`AccessPolicyCell`). Every test works on a private copy, so
// no lock is held while a test, an approval or a command runs.
#ifndef VOSTREL_ACCESS_POLICY_H_
#define VOSTREL_ACCESS_POLICY_H_

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "access/command_pattern.h"
#include "access/request.h"
#include "utils/result.h"

namespace vostrel {

// The configuration as the host gives it.
struct AccessPolicyConfig {
  // A command that begins with one of these needs no approval.
  std::vector<std::string> auto_approve_prefixes;
  // Whole-command patterns in which "*" stands for any run of characters.
  std::vector<std::string> allowed_commands;
  // Regular expressions; a command in which one matches anywhere is allowed.
  std::vector<std::string> allowed_command_patterns;
  // Single files, and directory trees, usable outside the workspace.
  std::vector<std::string> allowed_files;
  std::vector<std::string> allowed_dirs;
  // Host patterns ("*" wildcards) a command may name in a URL; empty allows all.
  std::vector<std::string> allowed_hosts;
  // The session workspace; unset means the current directory at compile time.
  std::optional<std::string> workspace;
  // Decides accesses no rule allows; unset refuses them.
  std::shared_ptr<Approver> approve_prompt;
  // Agent name -> a workspace that replaces the session's for that agent.
  std::map<std::string, std::string> agent_workspaces;
  // Whether directories granted by an activated skill are added to allowed_dirs.
  bool trust_skill_bundles = false;
};

// What `check_command` answers when it does not refuse: allowed by a rule, or
// a request for the approval step.
struct CommandCheck {
  std::optional<AccessRequest> approval;  // set: needs approval

  bool allowed() const { return !approval.has_value(); }
  bool operator==(const CommandCheck&) const = default;
};

// The ten configuration fields followed by the compiled fields the tests read.
// Copies share the approver and the compiled expressions; everything else is
// copied. A compiled policy may be used from any thread.
struct AccessPolicy : AccessPolicyConfig {
  std::string resolved_workspace;
  std::vector<std::string> approve_prefixes;
  std::vector<std::string> command_wildcards;
  std::vector<std::shared_ptr<const CommandPattern>> command_regexes;
  std::vector<std::string> resolved_files;
  std::vector<std::string> resolved_dirs;
  std::vector<std::string> host_wildcards;
  std::map<std::string, std::string> resolved_agent_workspaces;

  // Compiles `config`, which it takes over unchanged. Cannot fail: a command
  // pattern that does not compile is left out.
  static AccessPolicy create(AccessPolicyConfig config);

  // An independent copy (sharing the approver and the compiled expressions).
  AccessPolicy clone() const { return *this; }

  // The resolved path when `path` lies in the actor's workspace (its own one
  // when it has one, else the session's), is an allowed file or lies in an
  // allowed directory; else AccessDenied headed by `action`. The resolved path
  // is what the caller must use for the access. A path whose resolution runs
  // through more symbolic links than the budget, or holds a NUL byte, is
  // refused: it cannot be resolved the way the system would open it.
  Result<std::string> check_path(std::string_view action, std::string_view path, std::string_view actor) const;

  // Refuses an empty command and any command naming a URL whose host is not
  // allowed; otherwise answers allowed (a prefix, a wildcard or an expression
  // allows it) or needs-approval with the request.
  Result<CommandCheck> check_command(std::string_view command, std::string_view actor) const;

  // Succeeds when `target` (a URL or a bare host name) names an allowed host.
  Status check_host(std::string_view target, std::string_view actor) const;

  // `check_command`, then the approver for a command that needs approval.
  // Refuses with AccessDenied when the approver says no or there is none.
  Status authorize_command(std::string_view command, std::string_view actor) const;

  // Appends `dirs` (as text) to allowed_dirs and rebuilds resolved_dirs.
  void append_allowed_dirs(const std::vector<std::string>& dirs);
};

// How many symbolic links one path resolution follows at most.
inline constexpr int kSymlinkBudget = 40;

// A path resolved the way every access test sees it: "~" from HOME, relative
// paths against the current directory, ".." applied, symbolic links followed
// (at most kSymlinkBudget), missing parts kept as written. Always absolute,
// without ".", "..", empty components or a trailing "/". Cannot fail.
std::string expand_path(std::string_view path);

// `expand_path` with whether a symbolic link was met after the budget was
// spent (the rest was then taken as written, unresolved, where the system
// itself would refuse the path).
struct ExpandedPath {
  std::string path;
  bool links_exhausted = false;
};
ExpandedPath expand_path_checked(std::string_view path);

// `expand_path` of every entry, in order, duplicates and empty entries kept.
std::vector<std::string> normalize_dir_list(const std::vector<std::string>& paths);

// True when `text` matches at least one of `patterns` ("*" any run of bytes;
// everything else compared exactly).
bool wildcard_match(std::string_view text, const std::vector<std::string>& patterns);

// A session's policy behind its mutex. The mutex is held only to copy the
// policy or to grant directories, never while a test, approval or command runs.
struct AccessPolicyCell {
  mutable std::mutex mutex;
  AccessPolicy policy;
};

// A private copy of the session's policy, taken under its mutex.
AccessPolicy snapshot_access_policy(const AccessPolicyCell& cell);

}  // namespace vostrel

#endif  // VOSTREL_ACCESS_POLICY_H_
