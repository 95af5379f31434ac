// Output channels: where a session publishes its messages and system notes.
#ifndef VOSTREL_CHANNEL_CHANNEL_H_
#define VOSTREL_CHANNEL_CHANNEL_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "utils/result.h"

namespace vostrel {

// An output channel. Held through std::shared_ptr; any operation may be called
// from several threads at once.
class Channel {
 public:
  virtual ~Channel() = default;
  // A message spoken by an agent (or the user).
  virtual Status send(std::string_view sender, std::string_view message) = 0;
  // A system note.
  virtual Status send_system(std::string_view message) = 0;
  // The channel's type name, used in log lines.
  virtual std::string name() const = 0;
  // The files the channel writes to (empty for a channel that writes none).
  virtual std::vector<std::string> paths() const = 0;
};

// Lines "{prefix} {message}" (every "{sender}" of `prefix_format` replaced by
// the sender) and "[System] {message}" through the console output service.
class ConsoleChannel : public Channel {
 public:
  explicit ConsoleChannel(std::string prefix_format = "[{sender}]") : prefix_format_(std::move(prefix_format)) {}
  Status send(std::string_view sender, std::string_view message) override;
  Status send_system(std::string_view message) override;
  std::string name() const override { return "ConsoleChannel"; }
  std::vector<std::string> paths() const override { return {}; }

 private:
  std::string prefix_format_;
};

// Appends "[{sender}] {message}" and "[System] {message}" lines to a text
// file, opened and closed for every line; the file is created by the first
// line, its directory never. Each line goes out in one append, so lines of
// parallel agents never interleave.
class FileChannel : public Channel {
 public:
  explicit FileChannel(std::string path) : path_(std::move(path)) {}
  Status send(std::string_view sender, std::string_view message) override;
  Status send_system(std::string_view message) override;
  std::string name() const override { return "FileChannel"; }
  std::vector<std::string> paths() const override { return {path_}; }

 private:
  std::string path_;
};

// Appends one JSON object a line ({"role", "sender", "content", "ts"}) to
// "session_{stamp}.jsonl" in its log directory, the stamp fixed (UTC) when the
// channel is made. Each line goes out in one append.
class LogChannel : public Channel {
 public:
  // Creates `log_dir` with its missing parents. Io "{log_dir}: {reason}" when
  // that fails.
  static Result<std::shared_ptr<LogChannel>> create(std::string log_dir = "logs");

  Status send(std::string_view sender, std::string_view message) override;
  Status send_system(std::string_view message) override;
  std::string name() const override { return "LogChannel"; }
  std::vector<std::string> paths() const override { return {path_}; }

 private:
  explicit LogChannel(std::string path) : path_(std::move(path)) {}
  Status append(std::string_view role, std::string_view sender, std::string_view content) const;

  std::string path_;
};

// Delivers to every member in order. A member's failure is logged as an error
// ("Channel {} failed to deliver; continuing: {}") and the next member is
// tried; the operation itself always succeeds.
class MultiChannel : public Channel {
 public:
  explicit MultiChannel(std::vector<std::shared_ptr<Channel>> members) : members_(std::move(members)) {}
  Status send(std::string_view sender, std::string_view message) override;
  Status send_system(std::string_view message) override;
  std::string name() const override { return "MultiChannel"; }
  std::vector<std::string> paths() const override;

 private:
  std::vector<std::shared_ptr<Channel>> members_;
};

// Appends `line` and a line feed to `path` in one write, creating the file
// (mode 0666 before the umask) but not its directory. Io "{path}: {reason}".
Status append_line_to_file(const std::string& path, std::string_view line);

}  // namespace vostrel

#endif  // VOSTREL_CHANNEL_CHANNEL_H_
