#include "assets/read_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "assets/assets.h"
#include "utils/text.h"

namespace vostrel::assets {
namespace fs = std::filesystem;

namespace {

std::string os_error_text(int err) {
  std::string text = std::strerror(err);
  text += " (os error ";
  text += std::to_string(err);
  text += ')';
  return text;
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
  // utf8_lossy leaves well-formed text byte for byte unchanged.
  for (unsigned char c : text)
    if (c >= 0x80) return utf8_lossy(text) == text;
  return true;
}

Result<std::string> read_utf8_file_reason(const fs::path& path) {
  if (has_nul(path)) return CoreError::io("file name contained an unexpected NUL byte");
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return CoreError::io(os_error_text(errno));
  std::string text;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
    text.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  while (true) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return CoreError::io(os_error_text(err));
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  if (!is_valid_utf8(text)) return CoreError::io("stream did not contain valid UTF-8");
  return text;
}

Result<std::string> read_utf8_file(const fs::path& path, std::string_view source) {
  Result<std::string> text = read_utf8_file_reason(path);
  if (!text.ok()) return CoreError::io(std::string(source) + ": " + text.error().message);
  return text;
}

std::string file_stem_text(const fs::path& path) {
  const std::string name = path.filename().native();
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return utf8_lossy(name);
  return utf8_lossy(std::string_view(name).substr(0, dot));
}

}  // namespace vostrel::assets
