// Running external commands: one runner (`exec_command`) that decides a
// command with the access policy, starts it without a shell in a process group
// of its own and watches it until it ends, times out or is cancelled; and the
// two entry points over it, from a tool call and from the session.
#ifndef VOSTREL_EXEC_EXEC_H_
#define VOSTREL_EXEC_EXEC_H_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "access/policy.h"
#include "channel/channel.h"
#include "utils/result.h"

namespace vostrel {

// How long a command may run; none means for ever, zero stops it at the first
// check after it starts.
using CommandTimeout = std::optional<std::chrono::nanoseconds>;

// Answers true when the command should stop. Called on the runner's thread.
using CancelCheck = std::function<bool()>;

// A cancel check that never cancels.
bool never_cancelled();

// The most a command may write to each of its standard output and standard
// error; past it the command's process group is killed and the command fails.
inline constexpr std::size_t kMaxCommandOutputBytes = std::size_t{16} << 20;

// Runs `command` under `policy` (the caller's private copy) in `cwd` (used as
// given) and returns its standard output (lossy UTF-8, untrimmed). Errors are
// Session errors ("Command cancelled.", "Invalid command syntax: {}", "Command
// has no program to run: {}", "Command failed: {}: {}", "Command timed out:
// {}", "Command failed (exit {}): {}"), except refusals of the policy, which
// stay AccessDenied. Timed-out, cancelled and over-long commands have their
// whole process group killed; every started process is reaped. Runs on the
// calling thread; several may run at once.
Result<std::string> exec_command(const AccessPolicy& policy, std::string_view command, std::string_view cwd,
                                 CommandTimeout timeout, std::string_view actor, const CancelCheck& cancelled);

// What a tool call's context gives the command runner. Made by the run engine
// for each tool call; the shared flags outlive the call.
struct ToolCommandContext {
  std::string actor;
  std::shared_ptr<AccessPolicyCell> policy;  // the session's policy
  std::shared_ptr<Channel> channel;          // the session's channel
  std::shared_ptr<std::atomic<bool>> run_cancelled;
  std::shared_ptr<std::atomic<bool>> valid;  // true while the tool call lasts
  bool approvals_external = false;
  // The command the host approved for this call, and its working directory.
  std::optional<std::string> pre_approved_command;
  std::optional<std::string> pre_approved_cwd;
  std::shared_ptr<std::atomic<bool>> one_shot_token;  // true until spent
};

// A command from a tool call: the working directory (given, else the actor's
// workspace, else the session's) must pass the path test; external approvals
// refuse unlisted commands unless the host pre-approved exactly this command
// in this directory (once); the outcome is reported on the session channel as
// "[Command:{approved|denied|failed}] {actor}: {command}". A failing channel
// turns the result into its error.
Result<std::string> run_tool_command(const ToolCommandContext& context, std::string_view command,
                                     const std::optional<std::string>& cwd, CommandTimeout timeout);

// A command run without a tool context: the working directory is used as
// given (else the actor's workspace, else the session's), never cancelled,
// and reported on `channel` only when `actor` is not empty.
Result<std::string> run_session_command(const AccessPolicyCell& policy, Channel& channel, std::string_view command,
                                        const std::optional<std::string>& cwd, CommandTimeout timeout,
                                        std::string_view actor);

}  // namespace vostrel

#endif  // VOSTREL_EXEC_EXEC_H_
