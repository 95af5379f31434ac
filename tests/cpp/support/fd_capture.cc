#include "support/fd_capture.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace vostrel::testing {

FdCapture::FdCapture(int fd) : fd_(fd) {
  int ends[2];
  if (::pipe(ends) != 0) {
    std::perror("FdCapture: pipe");
    std::abort();
  }
  std::fflush(nullptr);
  saved_ = ::dup(fd_);
  ::dup2(ends[1], fd_);
  ::close(ends[1]);
  read_end_ = ends[0];
  reader_ = std::thread([this] {
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(read_end_, buf, sizeof buf);
      if (n > 0) {
        captured_.append(buf, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        break;
      }
    }
  });
}

FdCapture::~FdCapture() { static_cast<void>(finish()); }

std::string FdCapture::finish() {
  if (saved_ < 0) return captured_;
  std::fflush(nullptr);
  // Putting the original back closes the pipe's last write end: the reader sees EOF.
  ::dup2(saved_, fd_);
  ::close(saved_);
  saved_ = -1;
  reader_.join();
  ::close(read_end_);
  return captured_;
}

}  // namespace vostrel::testing
