#include "exec/exec.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <variant>

#include "access/approval.h"
#include "unicode/unicode.h"
#include "utils/text.h"
#include "exec/process.h"
#include "exec/runner.h"
#include "exec/split.h"

namespace vostrel {

namespace {

// A pipe's default capacity: one read takes whatever a talkative command has
// written since the last pass.
constexpr std::size_t kReadChunk = 65536;
constexpr int kIdleMillis = 5;

CoreError command_failed(std::string_view command, std::string_view reason) {
  return CoreError::session("Command failed: " + std::string(command) + ": " + std::string(reason));
}

enum class ReadOutcome { kData, kIdle, kClosed, kError };

// One non-blocking read of at most kReadChunk bytes, appended to `buffer`.
ReadOutcome read_some(int fd, std::string& buffer, int& err) {
  char chunk[kReadChunk];
  const ssize_t n = ::read(fd, chunk, sizeof chunk);
  if (n > 0) {
    buffer.append(chunk, static_cast<std::size_t>(n));
    return ReadOutcome::kData;
  }
  if (n == 0) return ReadOutcome::kClosed;
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return ReadOutcome::kIdle;
  err = errno;
  return ReadOutcome::kError;
}

// Why a watched command was stopped before it ended by itself.
struct StopReason {
  enum Kind { kNone, kCancel, kTimeout, kError } kind = kNone;
  std::string text;
};

// Paths compared component by component ("/a//b/" equals "/a/b").
bool same_path(std::string_view a, std::string_view b) {
  auto next = [](std::string_view& s) {
    for (;;) {
      while (s.starts_with("/")) s.remove_prefix(1);
      std::size_t end = s.find('/');
      std::string_view part = s.substr(0, end);
      s.remove_prefix(end == std::string_view::npos ? s.size() : end);
      if (part != ".") return part;
    }
  };
  if (a.starts_with("/") != b.starts_with("/")) return false;
  for (;;) {
    std::string_view pa = next(a);
    std::string_view pb = next(b);
    if (pa != pb) return false;
    if (pa.empty()) return true;
  }
}

std::string_view outcome_word(const Result<std::string>& result) {
  if (result.ok()) return "approved";
  return result.error().kind == ErrorKind::kAccessDenied ? "denied" : "failed";
}

std::string default_cwd(const AccessPolicy& policy, std::string_view actor) {
  auto own = policy.resolved_agent_workspaces.find(std::string(actor));
  return own != policy.resolved_agent_workspaces.end() ? own->second : policy.resolved_workspace;
}

Result<std::string> report(Channel& channel, std::string_view actor, std::string_view command,
                           Result<std::string> result) {
  std::string line = "[Command:" + std::string(outcome_word(result)) + "] " + std::string(actor) + ": " +
                     std::string(command);
  Status sent = channel.send_system(line);
  if (!sent.ok()) return std::move(sent).error();
  return result;
}

}  // namespace

namespace {

// Whether `bytes` is well-formed UTF-8, skipping ASCII a word at a time: the
// usual output is all ASCII, and is then handed back without a copy.
bool is_well_formed_utf8(std::string_view bytes) {
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n) {
    if (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, bytes.data() + i, 8);
      if ((word & 0x8080808080808080ull) == 0) {
        i += 8;
        continue;
      }
    }
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    const unicode::DecodedChar c = unicode::decode_utf8(bytes, i);
    if (c.code_point == unicode::kReplacementChar && c.length == 1) return false;
    i += c.length;
  }
  return true;
}

std::string decode_output(std::string&& bytes) {
  if (is_well_formed_utf8(bytes)) return std::move(bytes);
  return utf8_lossy(bytes);
}

}  // namespace

bool never_cancelled() { return false; }

Result<std::string> exec_command(const AccessPolicy& policy, std::string_view command, std::string_view cwd,
                                 CommandTimeout timeout, std::string_view actor, const CancelCheck& cancelled) {
  if (cancelled()) return CoreError::session("Command cancelled.");
  SplitResult split = split_command_words(command);
  if (!split.ok()) return CoreError::session("Invalid command syntax: " + split.error);
  if (split.words.empty()) return CoreError::session("Command has no program to run: " + std::string(command));
  VOSTREL_TRY(policy.authorize_command(command, actor));
  return exec_detail::run_words(command, split.words, std::string(cwd), timeout, cancelled, kMaxCommandOutputBytes);
}

namespace exec_detail {

Result<std::string> run_words(std::string_view command, const std::vector<std::string>& words,
                              const std::string& cwd, CommandTimeout timeout, const CancelCheck& cancelled,
                              std::size_t max_output_bytes) {
  int nonblock_error = 0;
  auto spawned = spawn_child(words, cwd, nonblock_error);
  if (auto* message = std::get_if<std::string>(&spawned)) return command_failed(command, *message);
  ChildProcess& child = std::get<ChildProcess>(spawned);

  const auto started = std::chrono::steady_clock::now();
  std::string out, err;
  StopReason stop;
  int wait_status = 0;
  if (nonblock_error != 0) stop = {StopReason::kError, std::strerror(nonblock_error)};
  while (stop.kind == StopReason::kNone) {
    if (cancelled()) {
      stop = {StopReason::kCancel, "Command cancelled."};
      break;
    }
    bool got_bytes = false;
    for (int stream = 0; stream < 2 && stop.kind == StopReason::kNone; ++stream) {
      const int fd = stream == 0 ? child.out_fd() : child.err_fd();
      if (fd < 0) continue;
      std::string& buffer = stream == 0 ? out : err;
      int read_error = 0;
      switch (read_some(fd, buffer, read_error)) {
        case ReadOutcome::kData:
          got_bytes = true;
          // Output is held in memory whole; a command that floods it is stopped
          // before it can exhaust the host.
          if (buffer.size() > max_output_bytes) {
            stop = {StopReason::kError, std::string(stream == 0 ? "standard output" : "standard error") +
                                            " passed the limit of " + std::to_string(max_output_bytes) +
                                            " bytes, so the command was stopped"};
          }
          break;
        case ReadOutcome::kClosed:
          stream == 0 ? child.close_out() : child.close_err();
          break;
        case ReadOutcome::kError:
          stop = {StopReason::kError, std::strerror(read_error)};
          break;
        case ReadOutcome::kIdle:
          break;
      }
    }
    if (stop.kind != StopReason::kNone) break;
    if (child.out_fd() < 0 && child.err_fd() < 0) {
      const int ended = child.try_wait(wait_status);
      if (ended == 1) break;
      if (ended < 0) {
        stop = {StopReason::kError, std::strerror(errno)};
        break;
      }
    }
    if (timeout && std::chrono::steady_clock::now() - started >= *timeout) {
      stop = {StopReason::kTimeout, ""};
      break;
    }
    if (!got_bytes) child.idle_wait(kIdleMillis);
  }

  if (stop.kind != StopReason::kNone) {
    if (const int failure = child.kill_and_reap(); failure != 0) return command_failed(command, std::strerror(failure));
    if (stop.kind == StopReason::kTimeout) return CoreError::session("Command timed out: " + std::string(command));
    return command_failed(command, stop.text);
  }

  if (WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0) return decode_output(std::move(out));
  const int code = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
  std::string message = "Command failed (exit " + std::to_string(code) + "): " + std::string(command);
  const std::string err_text = decode_output(std::move(err));
  const std::string_view trimmed = unicode::trim(err_text);
  if (!trimmed.empty()) {
    message += '\n';
    message.append(trimmed);
  }
  return CoreError::session(std::move(message));
}

}  // namespace exec_detail

Result<std::string> run_tool_command(const ToolCommandContext& context, std::string_view command,
                                     const std::optional<std::string>& cwd, CommandTimeout timeout) {
  if (context.valid == nullptr || !context.valid->load())
    return CoreError::session("Tool capabilities expired when the invocation ended.");
  if (context.run_cancelled != nullptr && context.run_cancelled->load()) return CoreError::session("Run cancelled.");
  AccessPolicy policy = snapshot_access_policy(*context.policy);
  const std::string requested = cwd ? *cwd : default_cwd(policy, context.actor);
  VOSTREL_ASSIGN_OR_RETURN(std::string dir, policy.check_path("Command working directory", requested, context.actor));
  if (context.approvals_external) policy.approve_prompt = nullptr;
  if (context.pre_approved_command && *context.pre_approved_command == command && context.pre_approved_cwd &&
      same_path(*context.pre_approved_cwd, dir)) {
    policy.approve_prompt = std::make_shared<OneShotApprover>(
        std::string(unicode::trim(*context.pre_approved_command)), context.actor, context.one_shot_token);
  }
  auto flag = context.run_cancelled;
  CancelCheck check = [flag] { return flag != nullptr && flag->load(std::memory_order_relaxed); };
  Result<std::string> result = exec_command(policy, command, dir, timeout, context.actor, check);
  return report(*context.channel, context.actor, command, std::move(result));
}

Result<std::string> run_session_command(const AccessPolicyCell& cell, Channel& channel, std::string_view command,
                                        const std::optional<std::string>& cwd, CommandTimeout timeout,
                                        std::string_view actor) {
  AccessPolicy policy = snapshot_access_policy(cell);
  const std::string dir = cwd ? *cwd : default_cwd(policy, actor);
  Result<std::string> result = exec_command(policy, command, dir, timeout, actor, never_cancelled);
  if (actor.empty()) return result;
  return report(channel, actor, command, std::move(result));
}

}  // namespace vostrel
