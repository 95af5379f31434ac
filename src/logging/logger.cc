#include "logging/logger.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <utility>

#include "utils/service_slot.h"

namespace vostrel {

namespace {

using LogSinkSlot = ServiceSlot<std::shared_ptr<LogSink>>;

// Never destroyed, so threads still logging while the process exits find it.
LogSinkSlot& log_sink_slot() {
  static LogSinkSlot* const slot = new LogSinkSlot(std::make_shared<StderrLogSink>());
  return *slot;
}

// Constant-initialised, so it is usable at any time of the process's life.
std::mutex stderr_mutex;

// Writes all of `bytes` to `fd`; false when the descriptor refuses them.
bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A non-blocking standard error: wait until it drains, as a blocking one would.
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, -1) >= 0 || errno == EINTR) continue;
    }
    return false;
  }
  return true;
}

}  // namespace

void StderrLogSink::log(LogLevel level, std::string_view message) {
  std::string_view prefix;
  switch (level) {
    case LogLevel::kDebug: return;
    case LogLevel::kWarning: prefix = "WARNING: "; break;
    case LogLevel::kError: prefix = "ERROR: "; break;
  }
  std::string line;
  line.reserve(prefix.size() + message.size() + 1);
  line.append(prefix).append(message) += '\n';
  // A pipe takes a long line in several pieces; the lock keeps another
  // thread's line from landing between them. It guards only this write.
  std::lock_guard lock(stderr_mutex);
  static_cast<void>(write_all(STDERR_FILENO, line));
}

void log_message(LogLevel level, std::string_view message) {
  const std::shared_ptr<LogSink> sink = log_sink_slot().get();
  sink->log(level, message);
}

void install_log_sink(std::shared_ptr<LogSink> sink) {
  if (sink == nullptr) return;
  log_sink_slot().replace(std::move(sink));
}

}  // namespace vostrel
