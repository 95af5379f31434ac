// Approvals: the one-shot approver of a host-approved command, the console a
// person answers on, and the console approval prompt.
#ifndef VOSTREL_ACCESS_APPROVAL_H_
#define VOSTREL_ACCESS_APPROVAL_H_

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "access/request.h"

namespace vostrel {

// Approves exactly one request: the command the host approved beforehand, for
// its actor, while the shared token is unspent. The token is spent by an atomic
// exchange, so of two concurrent matching requests exactly one is approved.
class OneShotApprover : public Approver {
 public:
  OneShotApprover(std::string command, std::string actor, std::shared_ptr<std::atomic<bool>> token)
      : command_(std::move(command)), actor_(std::move(actor)), token_(std::move(token)) {}

  bool approve(const AccessRequest& request) override;

 private:
  std::string command_;  // trimmed
  std::string actor_;
  std::shared_ptr<std::atomic<bool>> token_;  // true until spent
};

// The console a person answers approval prompts on. Held through
// std::shared_ptr; called from the thread that needs the approval.
class Console {
 public:
  virtual ~Console() = default;
  virtual bool stdin_is_tty() = 0;
  virtual bool stdout_is_tty() = 0;
  // Shows `prompt` and reads one answer line (with its line break, if any);
  // nothing at end of input or on any failure.
  virtual std::optional<std::string> read_line(const std::string& prompt) = 0;
};

// The process's own standard input and output. Stateless.
class TerminalConsole : public Console {
 public:
  bool stdin_is_tty() override;
  bool stdout_is_tty() override;
  // Writes the prompt unchanged and flushes; answers nothing when that fails,
  // at end of input, on a read error or when the line is not UTF-8.
  std::optional<std::string> read_line(const std::string& prompt) override;
};

// Replaces the process-wide console (bootstrap's). Prompts already running
// keep the console they started with. A null console is ignored.
void install_console(std::shared_ptr<Console> console);

// The current process-wide console (a TerminalConsole until one is installed).
std::shared_ptr<Console> current_console();

// Asks a person at the console; true approves. Never fails: no terminal, end
// of input or a failed read all refuse. Prompts are serialised process-wide,
// so two agents never share a terminal exchange; the caller must not hold the
// interpreter lock of a host whose console needs it. Control characters in the
// request are shown escaped, so a model-written command cannot act on the
// terminal.
bool prompt_on_console(const AccessRequest& request);

}  // namespace vostrel

#endif  // VOSTREL_ACCESS_APPROVAL_H_
