#include "access/policy.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <deque>
#include <utility>

#include "unicode/unicode.h"

namespace vostrel {

AccessRequest access_request(std::string_view kind, std::string_view target, std::string_view actor) {
  return AccessRequest{std::string(kind), "run", std::string(target), std::string(actor)};
}

namespace {

std::vector<std::string> trimmed_non_empty(const std::vector<std::string>& entries) {
  std::vector<std::string> out;
  for (const std::string& entry : entries) {
    std::string_view t = unicode::trim(entry);
    if (!t.empty()) out.emplace_back(t);
  }
  return out;
}

std::string current_dir() {
  std::string buf(256, '\0');
  for (;;) {
    if (::getcwd(buf.data(), buf.size()) != nullptr) {
      buf.resize(std::char_traits<char>::length(buf.c_str()));
      return buf;
    }
    if (errno != ERANGE) return "/";
    buf.resize(buf.size() * 2);
  }
}

// The target of the symbolic link at `path`, or nothing when it is no link
// (or cannot be read). `path` holds no NUL byte.
std::optional<std::string> read_link(const std::string& path) {
  std::string buf(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
    if (n < 0) return std::nullopt;
    if (static_cast<std::size_t>(n) < buf.size()) {
      buf.resize(static_cast<std::size_t>(n));
      return buf;
    }
    buf.resize(buf.size() * 2);
  }
}

// Components of `path`, without empty and "." ones; ".." kept.
void push_components(std::string_view path, std::deque<std::string>& out, bool at_front) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (!part.empty() && part != ".") parts.emplace_back(part);
    start = end + 1;
  }
  if (at_front) {
    out.insert(out.begin(), parts.begin(), parts.end());
  } else {
    out.insert(out.end(), parts.begin(), parts.end());
  }
}

}  // namespace

ExpandedPath expand_path_checked(std::string_view input) {
  std::string path(input);
  if (input == "~" || input.starts_with("~/")) {
    if (const char* home = std::getenv("HOME")) {
      std::string value = home;
      if (input == "~") {
        path = value;
      } else {
        std::string_view rest = input.substr(2);
        if (rest.starts_with("/")) {
          path = std::string(rest);
        } else {
          path = value;
          if (!value.empty() && !value.ends_with("/")) path += '/';
          path += rest;
        }
      }
    }
  }
  if (!path.starts_with("/")) path = current_dir() + "/" + path;

  std::deque<std::string> work;
  push_components(path, work, false);
  // The result is built in place ("/a/b", empty for the root): each name is
  // appended, tried as a link, and taken off again when it is one, so a path
  // of many components costs time in proportion to its length.
  struct Kept {
    std::size_t start;  // where its "/" begins in `result`
    bool has_nul;
  };
  std::string result;
  std::vector<Kept> kept;
  std::size_t kept_with_nul = 0;
  int budget = kSymlinkBudget;
  ExpandedPath out;
  while (!work.empty()) {
    std::string name = std::move(work.front());
    work.pop_front();
    if (name == "..") {
      if (!kept.empty()) {
        result.resize(kept.back().start);
        kept_with_nul -= kept.back().has_nul ? 1 : 0;
        kept.pop_back();
      }
      continue;
    }
    const Kept part{result.size(), name.find('\0') != std::string::npos};
    result += '/';
    result += name;
    // A candidate with a NUL byte names no file, so it is no link either.
    std::optional<std::string> target =
        budget < 0 || part.has_nul || kept_with_nul > 0 ? std::nullopt : read_link(result);
    if (target && budget == 0) {
      // One link more than the budget: the system would refuse the path
      // (ELOOP). The rest is kept as written, and the caller told, so that an
      // unresolved tail is never taken for a place inside an allowed tree.
      out.links_exhausted = true;
      budget = -1;
      target.reset();
    }
    if (!target) {
      kept.push_back(part);
      kept_with_nul += part.has_nul ? 1 : 0;
      continue;
    }
    --budget;
    result.resize(part.start);
    if (target->starts_with("/")) {
      result.clear();
      kept.clear();
      kept_with_nul = 0;
    }
    push_components(*target, work, true);
  }
  out.path = result.empty() ? "/" : std::move(result);
  return out;
}

std::string expand_path(std::string_view path) { return expand_path_checked(path).path; }

std::vector<std::string> normalize_dir_list(const std::vector<std::string>& paths) {
  std::vector<std::string> out;
  out.reserve(paths.size());
  for (const std::string& p : paths) out.push_back(expand_path(p));
  return out;
}

AccessPolicy AccessPolicy::create(AccessPolicyConfig config) {
  AccessPolicy policy;
  static_cast<AccessPolicyConfig&>(policy) = std::move(config);
  policy.resolved_workspace = expand_path(policy.workspace.value_or("."));
  for (const auto& [name, path] : policy.agent_workspaces)
    policy.resolved_agent_workspaces.emplace(name, expand_path(path));
  policy.approve_prefixes = trimmed_non_empty(policy.auto_approve_prefixes);
  policy.command_wildcards = trimmed_non_empty(policy.allowed_commands);
  for (const std::string& pattern : policy.allowed_command_patterns) {
    // A lone "*" is the natural way to write "any command"; as a regular
    // expression it would not compile.
    auto compiled = CommandPattern::compile(pattern == "*" ? std::string_view("(?s).*") : pattern);
    if (compiled != nullptr) policy.command_regexes.push_back(std::move(compiled));
  }
  policy.resolved_files = normalize_dir_list(policy.allowed_files);
  policy.resolved_dirs = normalize_dir_list(policy.allowed_dirs);
  for (const std::string& host : trimmed_non_empty(policy.allowed_hosts))
    policy.host_wildcards.push_back(unicode::to_lowercase(host));
  return policy;
}

void AccessPolicy::append_allowed_dirs(const std::vector<std::string>& dirs) {
  allowed_dirs.insert(allowed_dirs.end(), dirs.begin(), dirs.end());
  resolved_dirs = normalize_dir_list(allowed_dirs);
}

AccessPolicy snapshot_access_policy(const AccessPolicyCell& cell) {
  std::lock_guard<std::mutex> lock(cell.mutex);
  return cell.policy.clone();
}

}  // namespace vostrel
