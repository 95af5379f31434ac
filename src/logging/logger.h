// The process-wide logger. Parts of the core that recover from a failure hand
// a finished message and a level to `log_message`; the installed `LogSink`
// decides where it goes. Until the host installs its own sink, warnings and
// errors go to standard error and debug messages are dropped.
#ifndef VOSTREL_LOGGING_LOGGER_H_
#define VOSTREL_LOGGING_LOGGER_H_

#include <cstdint>
#include <memory>
#include <string_view>

namespace vostrel {

enum class LogLevel : std::uint8_t { kDebug = 0, kWarning = 1, kError = 2 };

// Where log messages go. `log` may be called from any thread at any time,
// also concurrently and re-entrantly (a sink may itself log or install a sink).
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void log(LogLevel level, std::string_view message) = 0;
};

// The default sink: "WARNING: {message}\n" and "ERROR: {message}\n" on
// standard error, nothing for debug. Each line is written whole with one
// write, and lines of concurrent callers never mix. A line that standard
// error cannot take is dropped. Stateless.
class StderrLogSink final : public LogSink {
 public:
  void log(LogLevel level, std::string_view message) override;
};

// Writes `message` at `level` through the installed sink, called with no lock
// held. Never fails. Any thread.
void log_message(LogLevel level, std::string_view message);

// Replaces the installed sink; the previous one is released once no call is
// using it. A null `sink` is ignored (the logger always has a sink). Any thread.
void install_log_sink(std::shared_ptr<LogSink> sink);

}  // namespace vostrel

#endif  // VOSTREL_LOGGING_LOGGER_H_
