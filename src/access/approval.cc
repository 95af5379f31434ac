#include "access/approval.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "access/text_util.h"
#include "channel/local_slot.h"

namespace vostrel {

bool OneShotApprover::approve(const AccessRequest& request) {
  if (request.kind != "command" || request.target != command_ || request.actor != actor_) return false;
  return token_ != nullptr && token_->exchange(false);
}

bool TerminalConsole::stdin_is_tty() { return ::isatty(0) == 1; }
bool TerminalConsole::stdout_is_tty() { return ::isatty(1) == 1; }

std::optional<std::string> TerminalConsole::read_line(const std::string& prompt) {
  if (std::fwrite(prompt.data(), 1, prompt.size(), stdout) != prompt.size() || std::fflush(stdout) != 0)
    return std::nullopt;
  char* line = nullptr;
  std::size_t capacity = 0;
  const ssize_t n = ::getline(&line, &capacity, stdin);
  std::optional<std::string> answer;
  if (n > 0) answer.emplace(line, static_cast<std::size_t>(n));
  std::free(line);
  if (answer && !text::is_utf8(*answer)) return std::nullopt;
  return answer;
}

namespace {

auto& console_slot() {
  static auto make = [] { return std::shared_ptr<Console>(std::make_shared<TerminalConsole>()); };
  static detail::LocalSlot<Console, decltype(make)> slot(make);
  return slot;
}

}  // namespace

void install_console(std::shared_ptr<Console> console) { console_slot().replace(std::move(console)); }

std::shared_ptr<Console> current_console() { return console_slot().get(); }

bool prompt_on_console(const AccessRequest& request) {
  std::shared_ptr<Console> console = current_console();
  // One exchange at a time: two agents of a batch prompting at once would
  // otherwise interleave their questions and take each other's answers.
  static std::mutex prompt_mutex;
  std::lock_guard<std::mutex> lock(prompt_mutex);
  if (!console->stdin_is_tty()) return false;
  std::string prompt = "Approve request\n";
  if (!request.actor.empty()) prompt += "Agent: " + text::escape_terminal_controls(request.actor) + "\n";
  prompt += "Type: " + text::escape_terminal_controls(request.kind) + " " +
            text::escape_terminal_controls(request.action) +
            "\nTarget: " + text::escape_terminal_controls(request.target) + "\nApprove? [Y/n]: ";
  if (console->stdout_is_tty()) prompt = "\x1b[34m" + prompt + "\x1b[0m";
  std::optional<std::string> answer = console->read_line(prompt);
  if (!answer) return false;
  const std::string word = text::to_lower_unicode(text::trim_unicode(*answer));
  return word.empty() || word == "y" || word == "yes";
}

}  // namespace vostrel
