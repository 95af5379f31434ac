#include "access/approval.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "unicode/unicode.h"
#include "utils/service_slot.h"

namespace vostrel {

bool OneShotApprover::approve(const AccessRequest& request) {
  if (request.kind != "command" || request.target != command_ || request.actor != actor_) return false;
  return token_ != nullptr && token_->exchange(false);
}

namespace {

bool is_utf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const unicode::DecodedChar c = unicode::decode_utf8(bytes, i);
    if (c.code_point == unicode::kReplacementChar && c.length == 1) return false;
    i += c.length;
  }
  return true;
}

// `text` with everything a terminal would act on shown as an escape instead:
// C0 and C1 controls, DEL, bidirectional controls and ill-formed bytes
// ("\n", "\x1b", "\u202e"). A command comes from a model; shown raw, it could
// clear the screen, move the cursor or reorder what the person reads.
std::string escape_terminal_controls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  char buf[16];
  for (std::size_t i = 0; i < text.size();) {
    const unicode::DecodedChar c = unicode::decode_utf8(text, i);
    const char32_t cp = c.code_point;
    if (cp == unicode::kReplacementChar && c.length == 1) {
      std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(text[i]));
      out += buf;
    } else if (cp == '\n') {
      out += "\\n";
    } else if (cp == '\r') {
      out += "\\r";
    } else if (cp == '\t') {
      out += "\\t";
    } else if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
      std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(cp));
      out += buf;
    } else if ((cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200E ||
               cp == 0x200F || cp == 0x061C) {
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
      out += buf;
    } else {
      out.append(text.substr(i, c.length));
    }
    i += c.length;
  }
  return out;
}

}  // namespace

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
  if (answer && !is_utf8(*answer)) return std::nullopt;
  return answer;
}

namespace {

// Never destroyed, so a host-backed console is not released during static
// destruction.
ServiceSlot<std::shared_ptr<Console>>& console_slot() {
  static auto* const slot = new ServiceSlot<std::shared_ptr<Console>>(std::make_shared<TerminalConsole>());
  return *slot;
}

}  // namespace

void install_console(std::shared_ptr<Console> console) {
  if (!console) return;  // the slot is never empty
  console_slot().replace(std::move(console));
}

std::shared_ptr<Console> current_console() { return console_slot().get(); }

bool prompt_on_console(const AccessRequest& request) {
  std::shared_ptr<Console> console = current_console();
  // One exchange at a time: two agents of a batch prompting at once would
  // otherwise interleave their questions and take each other's answers.
  static std::mutex prompt_mutex;
  std::lock_guard<std::mutex> lock(prompt_mutex);
  if (!console->stdin_is_tty()) return false;
  std::string prompt = "Approve request\n";
  if (!request.actor.empty()) prompt += "Agent: " + escape_terminal_controls(request.actor) + "\n";
  prompt += "Type: " + escape_terminal_controls(request.kind) + " " +
            escape_terminal_controls(request.action) +
            "\nTarget: " + escape_terminal_controls(request.target) + "\nApprove? [Y/n]: ";
  if (console->stdout_is_tty()) prompt = "\x1b[34m" + prompt + "\x1b[0m";
  std::optional<std::string> answer = console->read_line(prompt);
  if (!answer) return false;
  const std::string word = unicode::to_lowercase(unicode::trim(*answer));
  return word.empty() || word == "y" || word == "yes";
}

}  // namespace vostrel
