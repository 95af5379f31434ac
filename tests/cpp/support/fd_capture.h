// Captures what the process writes to one file descriptor (standard output or
// standard error) through a pipe drained by a thread of its own, so writers
// never block however much they write.
#ifndef VOSTREL_TESTS_SUPPORT_FD_CAPTURE_H_
#define VOSTREL_TESTS_SUPPORT_FD_CAPTURE_H_

#include <string>
#include <thread>

namespace vostrel::testing {

class FdCapture {
 public:
  // Starts capturing `fd`; aborts the test program when no pipe can be made.
  explicit FdCapture(int fd);
  FdCapture(const FdCapture&) = delete;
  FdCapture& operator=(const FdCapture&) = delete;
  // Restores the descriptor if `finish` was not called.
  ~FdCapture();

  // Restores the descriptor and returns everything written since construction.
  std::string finish();

 private:
  int fd_;
  int saved_ = -1;
  int read_end_ = -1;
  std::string captured_;
  std::thread reader_;
};

}  // namespace vostrel::testing

#endif  // VOSTREL_TESTS_SUPPORT_FD_CAPTURE_H_
