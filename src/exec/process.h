// The operating-system side of the command runner: spawning a child in its own
// process group with captured output, and waiting for its end. Linux here;
// kept behind this small layer so the runner itself stays portable.
#ifndef VOSTREL_EXEC_PROCESS_H_
#define VOSTREL_EXEC_PROCESS_H_

#include <sys/types.h>

#include <string>
#include <variant>
#include <vector>

namespace vostrel::exec_detail {

// A started child: its pid (also its process group id), the parent's read ends
// of its standard output and error pipes, and a descriptor that becomes
// readable when it ends (-1 where the system has none). Owns the descriptors
// and the obligation to reap: the destructor kills the group and reaps the
// child when nobody did. Move-only.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(pid_t pid, int out_fd, int err_fd, int exit_fd)
      : pid_(pid), out_fd_(out_fd), err_fd_(err_fd), exit_fd_(exit_fd) {}
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ChildProcess(const ChildProcess&) = delete;
  ~ChildProcess();

  pid_t pid() const { return pid_; }
  int out_fd() const { return out_fd_; }
  int err_fd() const { return err_fd_; }
  void close_out();
  void close_err();

  // Asks without waiting whether the child has ended: 1 with `status` set
  // (the child is reaped), 0 while it runs, -1 with errno on failure.
  int try_wait(int& status);

  // Kills the whole group, then the child itself, and reaps it. Returns 0, or
  // the errno of a failed group kill (other than ESRCH) or of a failed wait.
  int kill_and_reap();

  // Sleeps up to `millis`, waking early when an open pipe has data or hangs
  // up, or, once both are closed, when the child ends.
  void idle_wait(int millis) const;

 private:
  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  int exit_fd_ = -1;
  bool reaped_ = false;
};

// Starts `words` (a program looked up in PATH unless it holds "/", and its
// arguments) in `cwd`, with standard input from the null device, output and
// error into new pipes (non-blocking on the parent's side), the inherited
// environment, a new process group led by the child, the default action for
// SIGPIPE, and no descriptor beyond the three standard ones. On failure
// returns the system's error text ("nul byte found in provided data" for a NUL
// in a word or in `cwd`). `nonblock_error` is set
// (to errno) when the pipes could not be made non-blocking; the child is
// running then and must be stopped.
std::variant<ChildProcess, std::string> spawn_child(const std::vector<std::string>& words, const std::string& cwd,
                                                    int& nonblock_error);

}  // namespace vostrel::exec_detail

#endif  // VOSTREL_EXEC_PROCESS_H_
