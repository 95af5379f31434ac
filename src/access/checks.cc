// The path, command and host tests of an access policy, and the approval step.
#include <string>

#include "access/policy.h"
#include "exec/split.h"
#include "pyfmt/pyfmt.h"
#include "unicode/unicode.h"

namespace vostrel {

namespace {

// Whether `path` is `base` or lies under it, compared component by component
// (so /w/ab is not under /w/a). Both are expand_path results.
bool within(std::string_view path, std::string_view base) {
  if (base == "/") return true;
  return path.starts_with(base) && (path.size() == base.size() || path[base.size()] == '/');
}

bool is_shell_metachar(char32_t cp) {
  switch (cp) {
    case '"': case '\'': case '`': case '<': case '>': case '|': case ';': case '&': case '(': case ')':
      return true;
    default:
      return false;
  }
}

// Tests every piece of `text` that holds "://" with `check_host`, pieces being
// cut at white space and the shell metacharacters; the first refusal wins.
Status check_urls(const AccessPolicy& policy, std::string_view text, std::string_view actor) {
  std::size_t piece_start = 0;
  for (std::size_t i = 0; i <= text.size();) {
    std::size_t len = 1;
    bool separator = i == text.size();
    if (!separator) {
      const unicode::DecodedChar c = unicode::decode_utf8(text, i);
      len = c.length;
      separator = unicode::is_white_space(c.code_point) || is_shell_metachar(c.code_point);
    }
    if (separator) {
      std::string_view piece = text.substr(piece_start, i - piece_start);
      if (piece.find("://") != std::string_view::npos) VOSTREL_TRY(policy.check_host(piece, actor));
      piece_start = i + len;
    }
    i += len;
  }
  return ok_status();
}

}  // namespace

Result<std::string> AccessPolicy::check_path(std::string_view action, std::string_view path,
                                             std::string_view actor) const {
  if (path.find('\0') != std::string_view::npos) {
    return CoreError::access_denied(std::string(action) +
                                    " names a path with a NUL byte, which no file name may contain; the path is "
                                    "refused.");
  }
  ExpandedPath expanded = expand_path_checked(path);
  const std::string& resolved = expanded.path;
  if (expanded.links_exhausted) {
    return CoreError::access_denied(std::string(action) + " " + std::string(path) +
                                    " runs through more than " + std::to_string(kSymlinkBudget) +
                                    " symbolic links, so it cannot be resolved; the path is refused. "
                                    "Remove the link loop, or name the path without it.");
  }
  auto own = resolved_agent_workspaces.find(std::string(actor));
  const std::string& workspace =
      own != resolved_agent_workspaces.end() ? own->second : resolved_workspace;
  if (within(resolved, workspace)) return std::move(expanded.path);
  for (const std::string& file : resolved_files)
    if (resolved == file) return std::move(expanded.path);
  for (const std::string& dir : resolved_dirs)
    if (within(resolved, dir)) return std::move(expanded.path);
  return CoreError::access_denied(std::string(action) + " resolves to " + resolved +
                                  ", which is outside the workspace " + workspace +
                                  " and every allowed path. Widen the workspace, or name it in "
                                  "allowed_dirs or allowed_files.");
}

Result<CommandCheck> AccessPolicy::check_command(std::string_view command, std::string_view actor) const {
  const std::string_view trimmed = unicode::trim(command);
  if (trimmed.empty()) return CoreError::access_denied("Empty command is not allowed.");

  // Every URL is tested before any allowing rule, so an auto-approved prefix
  // cannot carry a request to a host outside allowed_hosts. Quotes separate
  // pieces too, so quoting does not hide a URL.
  VOSTREL_TRY(check_urls(*this, trimmed, actor));
  // The program receives words, not this text: quotes and backslashes that
  // the splitter removes could otherwise join a URL that no piece shows
  // (https:'//'host, https:\/\/host). Scan the words, split as the runner
  // splits them, as well; a command that does not split never runs.
  if (!host_wildcards.empty() && trimmed.find_first_of("'\"\\") != std::string_view::npos) {
    SplitResult split = split_command_words(command);
    for (const std::string& word : split.words) VOSTREL_TRY(check_urls(*this, word, actor));
  }

  for (const std::string& prefix : approve_prefixes)
    if (trimmed.starts_with(prefix)) return CommandCheck{};
  // The runner leaves a "#" comment out of the words, so a wildcard or pattern
  // could match through text that never runs ("make evil #install" against
  // "make * install"). Such a command is not allowed by those rules; it asks.
  const bool drops_comment =
      trimmed.find('#') != std::string_view::npos && split_command_words(command).dropped_comment;
  if (!drops_comment) {
    if (wildcard_match(trimmed, command_wildcards)) return CommandCheck{};
    for (const auto& regex : command_regexes)
      if (regex->search(trimmed)) return CommandCheck{};
  }
  return CommandCheck{access_request("command", trimmed, actor)};
}

Status AccessPolicy::check_host(std::string_view target, std::string_view actor) const {
  if (host_wildcards.empty()) return ok_status();
  std::string_view host = target;
  if (std::size_t scheme = host.find("://"); scheme != std::string_view::npos) host = host.substr(scheme + 3);
  host = host.substr(0, host.find_first_of("#/?"));
  if (std::size_t at = host.rfind('@'); at != std::string_view::npos) host = host.substr(at + 1);
  if (std::size_t colon = host.rfind(':'); colon != std::string_view::npos) {
    std::string_view port = host.substr(colon + 1);
    if (!port.empty() && port.find_first_not_of("0123456789") == std::string_view::npos)
      host = host.substr(0, colon);
  }
  const std::string lowered = unicode::to_lowercase(host);
  if (wildcard_match(lowered, host_wildcards)) return ok_status();
  std::string patterns;
  for (const std::string& w : host_wildcards) {
    if (!patterns.empty()) patterns += ", ";
    patterns += w;
  }
  return CoreError::access_denied(std::string(target) + " names the host " + py_repr_str(lowered) +
                                  ", which is not in allowed_hosts (" + patterns + "). Name it there to let " +
                                  (actor.empty() ? std::string("this session") : py_repr_str(actor)) +
                                  " reach it.");
}

Status AccessPolicy::authorize_command(std::string_view command, std::string_view actor) const {
  VOSTREL_ASSIGN_OR_RETURN(CommandCheck check, check_command(command, actor));
  if (check.allowed()) return ok_status();
  const AccessRequest& request = *check.approval;
  if (approve_prompt == nullptr) {
    return CoreError::access_denied("Approval required for " + request.target +
                                    ". No approve_prompt is configured, so unlisted access is refused "
                                    "\xE2\x80\x94 allow it in the AccessPolicy, or pass "
                                    "approve_prompt=prompt_on_console to ask a human.");
  }
  if (approve_prompt->approve(request)) return ok_status();
  return CoreError::access_denied("Approval denied for " + request.target);
}

bool wildcard_match(std::string_view text, const std::vector<std::string>& patterns) {
  for (const std::string& pattern : patterns) {
    std::vector<std::string_view> pieces;
    std::string_view rest = pattern;
    for (std::size_t star; (star = rest.find('*')) != std::string_view::npos; rest = rest.substr(star + 1))
      pieces.push_back(rest.substr(0, star));
    pieces.push_back(rest);
    if (pieces.size() == 1) {
      if (text == pattern) return true;
      continue;
    }
    const std::string_view first = pieces.front();
    const std::string_view last = pieces.back();
    if (text.size() < first.size() + last.size() || !text.starts_with(first) || !text.ends_with(last)) continue;
    std::string_view middle = text.substr(first.size(), text.size() - first.size() - last.size());
    bool found_all = true;
    for (std::size_t k = 1; k + 1 < pieces.size(); ++k) {
      const std::size_t at = middle.find(pieces[k]);
      if (at == std::string_view::npos) {
        found_all = false;
        break;
      }
      middle = middle.substr(at + pieces[k].size());
    }
    if (found_all) return true;
  }
  return false;
}

}  // namespace vostrel
