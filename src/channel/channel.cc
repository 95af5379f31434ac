#include "channel/channel.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "channel/console_output.h"
#include "channel/timestamp.h"
#include "json/value.h"
#include "json/writer.h"
#include "logging/logger.h"
#include "utils/text.h"

namespace vostrel {

namespace {

CoreError file_error(const std::string& path, int err) {
  return CoreError::io(path + ": " + std::strerror(err));
}

void log_delivery_failure(const Channel& member, const CoreError& error) {
  log_message(LogLevel::kError,
              "Channel " + member.name() + " failed to deliver; continuing: " + error.error_text());
}

}  // namespace

Status append_line_to_file(const std::string& path, std::string_view line) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return file_error(path, errno);
  // Line and line feed in one append: concurrent writers (agents of one batch,
  // several processes) then never split each other's lines.
  std::string buffer;
  buffer.reserve(line.size() + 1);
  buffer.append(line);
  buffer += '\n';
  std::size_t done = 0;
  int err = 0;
  while (done < buffer.size()) {
    const ssize_t n = ::write(fd, buffer.data() + done, buffer.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 && err == 0 && errno != EINTR) err = errno;
  if (err != 0) return file_error(path, err);
  return ok_status();
}

Status ConsoleChannel::send(std::string_view sender, std::string_view message) {
  std::string line = replace_all(prefix_format_, "{sender}", sender);
  line += ' ';
  line.append(message);
  return console_write(line);
}

Status ConsoleChannel::send_system(std::string_view message) {
  return console_write("[System] " + std::string(message));
}

Status FileChannel::send(std::string_view sender, std::string_view message) {
  return append_line_to_file(path_, "[" + std::string(sender) + "] " + std::string(message));
}

Status FileChannel::send_system(std::string_view message) {
  return append_line_to_file(path_, "[System] " + std::string(message));
}

Result<std::shared_ptr<LogChannel>> LogChannel::create(std::string log_dir) {
  std::error_code ec;
  // An empty directory names the current one, which exists.
  if (!log_dir.empty()) std::filesystem::create_directories(std::filesystem::path(log_dir), ec);
  if (ec) return CoreError::io(log_dir + ": " + ec.message());
  std::filesystem::path path = std::filesystem::path(log_dir) / ("session_" + utc_compact_stamp(utc_now()) + ".jsonl");
  return std::shared_ptr<LogChannel>(new LogChannel(path.string()));
}

Status LogChannel::append(std::string_view role, std::string_view sender, std::string_view content) const {
  JsonObject object;
  object.insert("role", JsonValue(std::string(role)));
  object.insert("sender", JsonValue(std::string(sender)));
  object.insert("content", JsonValue(std::string(content)));
  object.insert("ts", JsonValue(utc_iso_timestamp(utc_now())));
  std::string line;
  write_json(line, JsonValue(std::move(object)), kPythonStyle);
  return append_line_to_file(path_, line);
}

Status LogChannel::send(std::string_view sender, std::string_view message) {
  return append("assistant", sender, message);
}

Status LogChannel::send_system(std::string_view message) { return append("system", "system", message); }

Status MultiChannel::send(std::string_view sender, std::string_view message) {
  for (const auto& member : members_) {
    Status status = member->send(sender, message);
    if (!status.ok()) log_delivery_failure(*member, status.error());
  }
  return ok_status();
}

Status MultiChannel::send_system(std::string_view message) {
  for (const auto& member : members_) {
    Status status = member->send_system(message);
    if (!status.ok()) log_delivery_failure(*member, status.error());
  }
  return ok_status();
}

std::vector<std::string> MultiChannel::paths() const {
  std::vector<std::string> out;
  for (const auto& member : members_) {
    std::vector<std::string> p = member->paths();
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

}  // namespace vostrel
