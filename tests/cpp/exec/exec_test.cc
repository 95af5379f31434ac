// Running commands: results and errors, time-outs, cancellation, process
// groups, concurrency, the output cap, and the two entry points.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "exec/exec.h"
#include "support/recording_channel.h"
#include "support/temp_dir.h"

namespace vostrel {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

AccessPolicy allow_all() {
  AccessPolicyConfig config;
  config.workspace = "/";
  config.allowed_command_patterns = {"*"};
  return AccessPolicy::create(std::move(config));
}

Result<std::string> run(std::string_view command, CommandTimeout timeout = std::nullopt, std::string cwd = "/") {
  return exec_command(allow_all(), command, cwd, timeout, "", never_cancelled);
}

using testing::TempDir;

// Whether a process is gone (or only a zombie waiting for its new parent).
bool process_gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return true;
  std::string line;
  std::getline(stat, line);
  const std::size_t paren = line.rfind(')');
  return paren == std::string::npos || line.substr(paren + 2, 1) == "Z";
}

TEST(ExecCommand, ResultsAndErrors) {
  struct Case {
    const char* name;
    std::string command;
    std::optional<std::string> output;  // success with this output
    std::string error;                  // else this Session error
  };
  const std::vector<Case> cases = {
      {"output is untrimmed", "echo hi", "hi\n", ""},
      {"arguments are not expanded", "echo $HOME '*' ~", "$HOME * ~\n", ""},
      {"standard error dropped on success", "sh -c 'echo oops >&2'", "", ""},
      {"invalid UTF-8 replaced", "printf 'a\\377b\\342\\202c'", "a\uFFFDb\uFFFDc", ""},
      {"exit code with trimmed standard error", "sh -c 'echo \"  oops \" >&2; exit 3'", std::nullopt,
       "Command failed (exit 3): sh -c 'echo \"  oops \" >&2; exit 3'\noops"},
      {"exit code without standard error", "false", std::nullopt, "Command failed (exit 1): false"},
      {"ended by a signal", "sh -c 'kill -9 $$'", std::nullopt, "Command failed (exit -1): sh -c 'kill -9 $$'"},
      {"unterminated quote", "echo 'oops", std::nullopt, "Invalid command syntax: missing closing quote"},
      {"only a comment", "# nothing", std::nullopt, "Command has no program to run: # nothing"},
      {"blank", "  \t", std::nullopt, "Command has no program to run:   \t"},
      {"no such program", "no-such-program-vq", std::nullopt,
       "Command failed: no-such-program-vq: No such file or directory"},
      {"NUL in a word", std::string("echo a\0b", 8), std::nullopt,
       "Command failed: " + std::string("echo a\0b", 8) + ": nul byte found in provided data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result<std::string> r = run(c.command);
    if (c.output) {
      ASSERT_TRUE(r.ok()) << r.error().message;
      EXPECT_EQ(*r, *c.output);
    } else {
      ASSERT_FALSE(r.ok());
      EXPECT_EQ(r.error().kind, ErrorKind::kSession);
      EXPECT_EQ(r.error().message, c.error);
    }
  }
}

TEST(ExecCommand, WorkingDirectoryAndEnvironment) {
  TempDir dir;
  Result<std::string> r = run("pwd", std::nullopt, dir.path());
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(*r, dir.path() + "\n");

  r = run("pwd", std::nullopt, dir.path() + "/missing");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message, "Command failed: pwd: No such file or directory");

  r = run("pwd", std::nullopt, std::string("/tmp\0x", 6));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message, "Command failed: pwd: nul byte found in provided data");

  ::setenv("VOSTREL_EXEC_PROBE", "inherited", 1);
  r = run("sh -c 'echo $VOSTREL_EXEC_PROBE; cat'");  // standard input is the null device
  ::unsetenv("VOSTREL_EXEC_PROBE");
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(*r, "inherited\n");
}

TEST(ExecCommand, PolicyDecidesBeforeAnythingStarts) {
  TempDir dir;
  AccessPolicyConfig config;
  config.workspace = "/";
  const AccessPolicy policy = AccessPolicy::create(config);
  const std::string marker = dir.path() + "/ran";
  Result<std::string> r = exec_command(policy, "touch " + marker, "/", std::nullopt, "", never_cancelled);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, ErrorKind::kAccessDenied);
  EXPECT_TRUE(r.error().message.starts_with("Approval required for touch "));
  EXPECT_FALSE(fs::exists(marker));

  // Syntax is checked before the policy is asked.
  r = exec_command(policy, "touch 'x", "/", std::nullopt, "", never_cancelled);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message, "Invalid command syntax: missing closing quote");

  // A cancel already set starts nothing.
  r = exec_command(allow_all(), "touch " + marker, "/", std::nullopt, "", [] { return true; });
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message, "Command cancelled.");
  EXPECT_FALSE(fs::exists(marker));
}

TEST(ExecCommand, TimeoutKillsTheWholeGroup) {
  TempDir dir;
  const std::string pid_file = dir.path() + "/grandchild";
  const std::string command = "sh -c 'sleep 30 & echo $! > " + pid_file + "; wait'";
  const auto start = Clock::now();
  Result<std::string> r = run(command, milliseconds(300));
  const auto elapsed = Clock::now() - start;
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, ErrorKind::kSession);
  EXPECT_EQ(r.error().message, "Command timed out: " + command);
  EXPECT_LT(elapsed, std::chrono::seconds(10));

  pid_t grandchild = 0;
  std::ifstream(pid_file) >> grandchild;
  ASSERT_GT(grandchild, 0);
  bool gone = false;
  for (int i = 0; i < 200 && !gone; ++i) {
    gone = process_gone(grandchild);
    if (!gone) std::this_thread::sleep_for(milliseconds(10));
  }
  EXPECT_TRUE(gone) << "the grandchild survived the time-out";

  // A zero time-out stops the command at its first check.
  r = run("sleep 10", std::chrono::nanoseconds(0));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message, "Command timed out: sleep 10");
}

TEST(ExecCommand, DescendantHoldingTheOutputIsWaitedFor) {
  const auto start = Clock::now();
  Result<std::string> r = run("sh -c 'sleep 0.3 & echo started'");
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(*r, "started\n");
  EXPECT_GE(Clock::now() - start, milliseconds(250));
}

TEST(ExecCommand, CancelFromAnotherThread) {
  std::atomic<bool> cancel{false};
  std::thread canceller([&] {
    std::this_thread::sleep_for(milliseconds(100));
    cancel = true;
  });
  const auto start = Clock::now();
  Result<std::string> r =
      exec_command(allow_all(), "sleep 10", "/", std::nullopt, "", [&] { return cancel.load(); });
  const auto elapsed = Clock::now() - start;
  canceller.join();
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message, "Command failed: sleep 10: Command cancelled.");
  EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST(ExecCommand, ConcurrentCommandsDoNotWaitForEachOther) {
  // The long command starts first; a pipe end leaked into it would keep the
  // short one waiting until the long one ended.
  std::atomic<bool> long_started{false};
  Clock::time_point long_end, short_end;
  std::thread long_thread([&] {
    long_started = true;
    Result<std::string> r = exec_command(allow_all(), "sleep 2", "/", std::nullopt, "", never_cancelled);
    EXPECT_TRUE(r.ok());
    long_end = Clock::now();
  });
  while (!long_started) std::this_thread::yield();
  std::vector<std::thread> shorts;
  std::atomic<int> short_ok{0};
  for (int i = 0; i < 4; ++i) {
    shorts.emplace_back([&] {
      for (int k = 0; k < 5; ++k) {
        Result<std::string> r = run("echo short");
        short_ok += r.ok() && *r == "short\n";
      }
    });
  }
  for (auto& t : shorts) t.join();
  short_end = Clock::now();
  long_thread.join();
  EXPECT_EQ(short_ok.load(), 20);
  EXPECT_LT(short_end, long_end);
}

TEST(ExecCommand, BrokenPipeSignalIsRestoredInTheChild) {
  // The host (Python does this) ignores SIGPIPE; the child must not inherit it.
  struct sigaction ignore = {}, old = {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &old);
  Result<std::string> r = run("grep SigIgn /proc/self/status");
  ::sigaction(SIGPIPE, &old, nullptr);
  ASSERT_TRUE(r.ok()) << r.error().message;
  const unsigned long long mask = std::stoull(r->substr(r->find(':') + 1), nullptr, 16);
  EXPECT_EQ(mask & (1ull << (SIGPIPE - 1)), 0ull) << *r;
}

TEST(ExecCommand, OnlyTheStandardDescriptorsReachTheChild) {
  // A descriptor the host left inheritable (a file opened without
  // close-on-exec, a socket) must not hand a command what its policy forbids.
  const int fd = ::open("/etc/hostname", O_RDONLY);
  ASSERT_GE(fd, 0);
  const int high = ::dup2(fd, 200);
  ASSERT_EQ(high, 200);
  ::close(fd);
  Result<std::string> r = run("test -e /proc/self/fd/200");
  Result<std::string> standard = run("test -e /proc/self/fd/2");
  ::close(high);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message, "Command failed (exit 1): test -e /proc/self/fd/200");
  EXPECT_TRUE(standard.ok()) << standard.error().message;
}

TEST(ExecCommand, OutputIsCapped) {
  Result<std::string> r = run("head -c " + std::to_string(kMaxCommandOutputBytes) + " /dev/zero");
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(r->size(), kMaxCommandOutputBytes);

  struct Case {
    const char* name;
    std::string command;
    const char* stream;
  };
  const std::vector<Case> cases = {
      {"standard output", "head -c " + std::to_string(kMaxCommandOutputBytes + 1) + " /dev/zero",
       "standard output"},
      {"endless standard error", "sh -c 'exec yes >&2'", "standard error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    r = run(c.command, std::chrono::seconds(60));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message, "Command failed: " + c.command + ": " + c.stream +
                                     " passed the limit of 16777216 bytes, so the command was stopped");
  }
}

// --- The entry points -------------------------------------------------------

class EntryPointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    workspace_ = dir_.path() + "/w";
    fs::create_directories(workspace_ + "/sub");
    fs::create_directories(dir_.path() + "/out");
    AccessPolicyConfig config;
    config.workspace = workspace_;
    config.auto_approve_prefixes = {"ls", "pwd", "false"};
    config.agent_workspaces = {{"carol", workspace_ + "/sub"}};
    cell_ = std::make_shared<AccessPolicyCell>();
    cell_->policy = AccessPolicy::create(std::move(config));
    context_.actor = "alice";
    context_.policy = cell_;
    context_.channel = channel_;
    context_.run_cancelled = std::make_shared<std::atomic<bool>>(false);
    context_.valid = std::make_shared<std::atomic<bool>>(true);
    context_.one_shot_token = std::make_shared<std::atomic<bool>>(true);
  }

  TempDir dir_;
  std::string workspace_;
  std::shared_ptr<AccessPolicyCell> cell_;
  std::shared_ptr<testing::RecordingChannel> channel_ = std::make_shared<testing::RecordingChannel>();
  ToolCommandContext context_;
};

TEST_F(EntryPointTest, ToolCommandReportsEachOutcome) {
  Result<std::string> r = run_tool_command(context_, "pwd", std::nullopt, std::nullopt);
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(*r, workspace_ + "\n");
  r = run_tool_command(context_, "rm -rf x", std::nullopt, std::nullopt);
  EXPECT_EQ(r.error().kind, ErrorKind::kAccessDenied);
  r = run_tool_command(context_, "false", std::nullopt, std::nullopt);
  EXPECT_EQ(r.error().message, "Command failed (exit 1): false");
  EXPECT_EQ(channel_->lines(), (std::vector<std::string>{"system: [Command:approved] alice: pwd",
                                                          "system: [Command:denied] alice: rm -rf x",
                                                          "system: [Command:failed] alice: false"}));

  // An agent with its own workspace runs there by default.
  context_.actor = "carol";
  r = run_tool_command(context_, "pwd", std::nullopt, std::nullopt);
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(*r, workspace_ + "/sub\n");
}

TEST_F(EntryPointTest, ToolCommandChecksTheWorkingDirectory) {
  Result<std::string> r = run_tool_command(context_, "pwd", dir_.path() + "/out", std::nullopt);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message, "Command working directory resolves to " + dir_.path() +
                                   "/out, which is outside the workspace " + workspace_ +
                                   " and every allowed path. Widen the workspace, or name it in allowed_dirs or "
                                   "allowed_files.");
  EXPECT_TRUE(channel_->lines().empty());

  r = run_tool_command(context_, "pwd", workspace_ + "/sub/../sub", std::nullopt);
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(*r, workspace_ + "/sub\n");
}

TEST_F(EntryPointTest, ToolCommandRefusesExpiredAndCancelled) {
  const std::string marker = workspace_ + "/ran";
  cell_->policy.approve_prefixes.push_back("touch");
  context_.run_cancelled->store(true);
  Result<std::string> r = run_tool_command(context_, "touch " + marker, std::nullopt, std::nullopt);
  EXPECT_EQ(r.error().message, "Run cancelled.");
  context_.valid->store(false);
  r = run_tool_command(context_, "touch " + marker, std::nullopt, std::nullopt);
  EXPECT_EQ(r.error().message, "Tool capabilities expired when the invocation ended.");
  EXPECT_FALSE(fs::exists(marker));
  EXPECT_TRUE(channel_->lines().empty());
}

TEST_F(EntryPointTest, ToolCommandCancelledWhileRunning) {
  std::thread canceller([&] {
    std::this_thread::sleep_for(milliseconds(100));
    context_.run_cancelled->store(true);
  });
  cell_->policy.approve_prefixes.push_back("sleep");
  const auto start = Clock::now();
  Result<std::string> r = run_tool_command(context_, "sleep 10", std::nullopt, std::nullopt);
  canceller.join();
  EXPECT_EQ(r.error().message, "Command failed: sleep 10: Command cancelled.");
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

TEST_F(EntryPointTest, ExternalApprovalsAndPreApproval) {
  auto asked = std::make_shared<std::atomic<int>>(0);
  struct Yes : Approver {
    std::shared_ptr<std::atomic<int>> count;
    bool approve(const AccessRequest&) override { return ++*count > 0; }
  };
  auto yes = std::make_shared<Yes>();
  yes->count = asked;
  cell_->policy.approve_prompt = yes;

  // Callback approvals: the policy's approver decides.
  Result<std::string> r = run_tool_command(context_, "echo one", std::nullopt, std::nullopt);
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(asked->load(), 1);

  // External approvals: no callback; unlisted commands are refused ...
  context_.approvals_external = true;
  r = run_tool_command(context_, "echo one", std::nullopt, std::nullopt);
  ASSERT_FALSE(r.ok());
  EXPECT_TRUE(r.error().message.starts_with("Approval required for echo one."));
  EXPECT_EQ(asked->load(), 1);

  // ... unless the host approved exactly this command in this directory, once.
  context_.pre_approved_command = " echo one";
  context_.pre_approved_cwd = workspace_ + "/";
  r = run_tool_command(context_, " echo one", std::nullopt, std::nullopt);
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(*r, "one\n");
  r = run_tool_command(context_, " echo one", std::nullopt, std::nullopt);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message, "Approval denied for echo one");

  // A different text or directory is not the approved command.
  context_.one_shot_token->store(true);
  r = run_tool_command(context_, "echo one", std::nullopt, std::nullopt);
  EXPECT_TRUE(r.error().message.starts_with("Approval required for"));
  r = run_tool_command(context_, " echo one", workspace_ + "/sub", std::nullopt);
  EXPECT_TRUE(r.error().message.starts_with("Approval required for"));
  EXPECT_TRUE(context_.one_shot_token->load());
}

TEST_F(EntryPointTest, FailingChannelReplacesTheResult) {
  channel_->fail_with("disk full");
  Result<std::string> r = run_tool_command(context_, "pwd", std::nullopt, std::nullopt);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, ErrorKind::kIo);
  EXPECT_EQ(r.error().message, "disk full");
}

TEST_F(EntryPointTest, SessionCommand) {
  // No actor: no line; the working directory is not tested.
  Result<std::string> r = run_session_command(*cell_, *channel_, "pwd", dir_.path() + "/out", std::nullopt, "");
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(*r, dir_.path() + "/out\n");
  EXPECT_TRUE(channel_->lines().empty());

  r = run_session_command(*cell_, *channel_, "ls", std::nullopt, std::nullopt, "carol");
  ASSERT_TRUE(r.ok()) << r.error().message;
  EXPECT_EQ(*r, "");  // carol's workspace is empty
  r = run_session_command(*cell_, *channel_, "rm x", std::nullopt, std::nullopt, "carol");
  EXPECT_EQ(r.error().kind, ErrorKind::kAccessDenied);
  EXPECT_EQ(channel_->lines(), (std::vector<std::string>{"system: [Command:approved] carol: ls",
                                                          "system: [Command:denied] carol: rm x"}));
}

}  // namespace
}  // namespace vostrel
