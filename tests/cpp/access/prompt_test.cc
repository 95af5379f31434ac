// The console approval prompt: through a scripted console, and through a real
// pseudo-terminal with the process's own standard streams.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "access/approval.h"

namespace vostrel {
namespace {

// Scripted answers; records every prompt; notes overlapping exchanges.
class FakeConsole : public Console {
 public:
  FakeConsole(bool in_tty, bool out_tty, std::vector<std::optional<std::string>> answers)
      : in_tty_(in_tty), out_tty_(out_tty), answers_(answers.begin(), answers.end()) {}
  bool stdin_is_tty() override { return in_tty_; }
  bool stdout_is_tty() override { return out_tty_; }
  std::optional<std::string> read_line(const std::string& prompt) override {
    if (active_.fetch_add(1) != 0) overlapped_ = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
    std::optional<std::string> answer;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      prompts.push_back(prompt);
      if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
      }
    }
    active_.fetch_sub(1);
    return answer;
  }

  std::vector<std::string> prompts;
  int delay_ms = 0;
  bool overlapped() const { return overlapped_; }

 private:
  bool in_tty_, out_tty_;
  std::mutex mutex_;
  std::deque<std::optional<std::string>> answers_;
  std::atomic<int> active_{0};
  std::atomic<bool> overlapped_{false};
};

// Installs a console for one test and puts the terminal console back after.
class PromptTest : public ::testing::Test {
 protected:
  void TearDown() override { install_console(std::make_shared<TerminalConsole>()); }
  std::shared_ptr<FakeConsole> use(bool in_tty, bool out_tty, std::vector<std::optional<std::string>> answers) {
    auto console = std::make_shared<FakeConsole>(in_tty, out_tty, std::move(answers));
    install_console(console);
    return console;
  }
};

const AccessRequest kLs{"command", "run", "ls", "alice"};

TEST_F(PromptTest, Answers) {
  struct Case {
    std::optional<std::string> answer;
    bool approved;
  };
  const std::vector<Case> cases = {
      {"\n", true},     {"", true},       {"  Y \n", true}, {"yes\n", true},  {"YES", true},
      {"y\r\n", true},  {"n\n", false},   {"no\n", false},  {"ok\n", false},  {"yess\n", false},
      {std::nullopt, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer.value_or("<end of input>"));
    use(true, false, {c.answer});
    EXPECT_EQ(prompt_on_console(kLs), c.approved);
  }
}

TEST_F(PromptTest, NullConsoleKeepsTheInstalledOne) {
  auto console = use(true, false, {"n\n"});
  install_console(nullptr);
  EXPECT_EQ(current_console(), console);
  EXPECT_FALSE(prompt_on_console(kLs));
}

TEST_F(PromptTest, PromptText) {
  auto console = use(true, false, {"y\n", "y\n", "y\n"});
  prompt_on_console(kLs);
  prompt_on_console({"command", "run", "ls", ""});
  prompt_on_console({"command", "run", "printf '\x1b[2J\x9b' \u202e\ttxt\n", "alice"});
  ASSERT_EQ(console->prompts.size(), 3u);
  EXPECT_EQ(console->prompts[0], "Approve request\nAgent: alice\nType: command run\nTarget: ls\nApprove? [Y/n]: ");
  EXPECT_EQ(console->prompts[1], "Approve request\nType: command run\nTarget: ls\nApprove? [Y/n]: ");
  // A model-written command cannot clear the screen or move the cursor: its
  // controls (and the stray byte) are shown, not sent.
  EXPECT_EQ(console->prompts[2],
            "Approve request\nAgent: alice\nType: command run\nTarget: printf '\\x1b[2J\\x9b' \\u202e\\ttxt\\n\n"
            "Approve? [Y/n]: ");
}

TEST_F(PromptTest, ColourOnATerminalOnly) {
  auto console = use(true, true, {"y\n"});
  EXPECT_TRUE(prompt_on_console(kLs));
  ASSERT_EQ(console->prompts.size(), 1u);
  EXPECT_EQ(console->prompts[0],
            "\x1b[34mApprove request\nAgent: alice\nType: command run\nTarget: ls\nApprove? [Y/n]: \x1b[0m");
}

TEST_F(PromptTest, NoTerminalRefusesWithoutAsking) {
  auto console = use(false, true, {"y\n"});
  EXPECT_FALSE(prompt_on_console(kLs));
  EXPECT_TRUE(console->prompts.empty());
}

TEST_F(PromptTest, ConcurrentPromptsTakeTurns) {
  auto console = use(true, false, {"y\n", "n\n", "y\n", "n\n"});
  console->delay_ms = 20;
  std::atomic<int> approved{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) threads.emplace_back([&] { approved += prompt_on_console(kLs) ? 1 : 0; });
  for (auto& t : threads) t.join();
  EXPECT_FALSE(console->overlapped());
  EXPECT_EQ(console->prompts.size(), 4u);
  EXPECT_EQ(approved.load(), 2);
}

// Reads from the pty master until `needle` has arrived or two seconds pass.
std::string read_until(int fd, const std::string& needle) {
  std::string seen;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (seen.find(needle) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    struct pollfd p = {fd, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    char buf[512];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    seen.append(buf, static_cast<std::size_t>(n));
  }
  return seen;
}

TEST(TerminalPrompt, ThroughAPseudoTerminal) {
  struct Case {
    const char* answer;
    int expected_exit;  // 0 approved, 1 refused
  };
  for (const Case c : {Case{"y\n", 0}, Case{"\n", 0}, Case{"nope\n", 1}}) {
    SCOPED_TRACE(c.answer);
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // The child's standard streams are the terminal's slave side.
      const bool approved = prompt_on_console({"command", "run", "ls", "alice"});
      ::_exit(approved ? 0 : 1);
    }
    const std::string shown = read_until(master, "\x1b[0m");
    // The terminal shows the blue prompt (its line discipline turns \n into \r\n).
    EXPECT_EQ(shown,
              "\x1b[34mApprove request\r\nAgent: alice\r\nType: command run\r\nTarget: ls\r\nApprove? [Y/n]: "
              "\x1b[0m");
    ASSERT_EQ(::write(master, c.answer, std::char_traits<char>::length(c.answer)),
              static_cast<ssize_t>(std::char_traits<char>::length(c.answer)));
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::close(master);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), c.expected_exit);
  }
}

}  // namespace
}  // namespace vostrel
