#include "exec/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace vostrel::exec_detail {

namespace {

void close_fd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// A descriptor that polls readable once `pid` (our unreaped child) ends, so
// the runner learns of the exit at once instead of on its next sleep; -1 when
// the kernel has no process descriptors.
int open_exit_fd(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) {
    ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
  }
#endif
  (void)pid;
  return -1;
}

struct FileActions {
  posix_spawn_file_actions_t actions;
  FileActions() { posix_spawn_file_actions_init(&actions); }
  ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
};

struct SpawnAttr {
  posix_spawnattr_t attr;
  SpawnAttr() { posix_spawnattr_init(&attr); }
  ~SpawnAttr() { posix_spawnattr_destroy(&attr); }
};

struct PipePair {
  int fds[2] = {-1, -1};
  ~PipePair() {
    close_fd(fds[0]);
    close_fd(fds[1]);
  }
};

}  // namespace

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), out_fd_(other.out_fd_), err_fd_(other.err_fd_), exit_fd_(other.exit_fd_),
      reaped_(other.reaped_) {
  other.pid_ = -1;
  other.out_fd_ = other.err_fd_ = other.exit_fd_ = -1;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) kill_and_reap();
  close_fd(out_fd_);
  close_fd(err_fd_);
  close_fd(exit_fd_);
}

void ChildProcess::close_out() { close_fd(out_fd_); }
void ChildProcess::close_err() { close_fd(err_fd_); }

int ChildProcess::try_wait(int& status) {
  const pid_t r = ::waitpid(pid_, &status, WNOHANG);
  if (r < 0) return errno == EINTR ? 0 : -1;
  if (r == 0) return 0;
  reaped_ = true;
  return 1;
}

int ChildProcess::kill_and_reap() {
  int failure = 0;
  if (::kill(-pid_, SIGKILL) != 0 && errno != ESRCH) failure = errno;
  if (!reaped_) {
    ::kill(pid_, SIGKILL);
    int status;
    for (;;) {
      if (::waitpid(pid_, &status, 0) >= 0) break;
      if (errno == EINTR) continue;
      if (failure == 0) failure = errno;
      break;
    }
    reaped_ = true;
  }
  return failure;
}

void ChildProcess::idle_wait(int millis) const {
  struct pollfd fds[2];
  nfds_t n = 0;
  if (out_fd_ >= 0) fds[n++] = {out_fd_, POLLIN, 0};
  if (err_fd_ >= 0) fds[n++] = {err_fd_, POLLIN, 0};
  if (n == 0 && exit_fd_ >= 0) fds[n++] = {exit_fd_, POLLIN, 0};
  if (n > 0) {
    // Early wake-ups are harmless: the caller simply makes its next pass.
    ::poll(fds, n, millis);
    return;
  }
  struct timespec left = {0, static_cast<long>(millis) * 1'000'000L};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

std::variant<ChildProcess, std::string> spawn_child(const std::vector<std::string>& words, const std::string& cwd,
                                                    int& nonblock_error) {
  nonblock_error = 0;
  for (const std::string& word : words)
    if (word.find('\0') != std::string::npos) return std::string("nul byte found in provided data");
  if (cwd.find('\0') != std::string::npos) return std::string("nul byte found in provided data");

  // Close-on-exec from birth, so a command spawned at the same moment on
  // another thread cannot inherit these pipes and hold them open.
  PipePair out, err;
  if (::pipe2(out.fds, O_CLOEXEC) != 0 || ::pipe2(err.fds, O_CLOEXEC) != 0) return std::string(std::strerror(errno));

  FileActions fa;
  int rc = posix_spawn_file_actions_addopen(&fa.actions, 0, "/dev/null", O_RDONLY, 0);
  if (rc == 0) rc = posix_spawn_file_actions_adddup2(&fa.actions, out.fds[1], 1);
  if (rc == 0) rc = posix_spawn_file_actions_adddup2(&fa.actions, err.fds[1], 2);
  if (rc == 0) rc = posix_spawn_file_actions_addchdir_np(&fa.actions, cwd.c_str());
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // The child gets the three standard descriptors and nothing else: one the
  // host left inheritable (a file opened without close-on-exec, a socket)
  // would hand the command what its policy never allowed.
  if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&fa.actions, 3);
#endif
  if (rc != 0) return std::string(std::strerror(rc));

  SpawnAttr sa;
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  rc = posix_spawnattr_setflags(&sa.attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
  if (rc == 0) rc = posix_spawnattr_setpgroup(&sa.attr, 0);
  if (rc == 0) rc = posix_spawnattr_setsigdefault(&sa.attr, &defaults);
  if (rc != 0) return std::string(std::strerror(rc));

  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);

  pid_t pid = -1;
  rc = ::posix_spawnp(&pid, argv[0], &fa.actions, &sa.attr, argv.data(), environ);
  if (rc != 0) return std::string(std::strerror(rc));

  close_fd(out.fds[1]);
  close_fd(err.fds[1]);
  ChildProcess child(pid, out.fds[0], err.fds[0], open_exit_fd(pid));
  out.fds[0] = err.fds[0] = -1;
  for (int fd : {child.out_fd(), child.err_fd()}) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
      nonblock_error = errno;
      break;
    }
  }
  return child;
}

}  // namespace vostrel::exec_detail
