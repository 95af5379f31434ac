#include "channel/console_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "utils/service_slot.h"

namespace vostrel {

Status StdoutConsoleOutput::write(std::string_view text) {
  // The whole line under the stream's lock, so lines of threads never mix.
  ::flockfile(stdout);
  errno = 0;
  bool ok = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fputc('\n', stdout) != EOF &&
            std::fflush(stdout) == 0;
  const int err = errno;
  ::funlockfile(stdout);
  if (ok) return ok_status();
  return CoreError::io(std::string("stdout: ") + std::strerror(err != 0 ? err : EIO));
}

namespace {

ServiceSlot<std::shared_ptr<ConsoleOutput>>& output_slot() {
  static ServiceSlot<std::shared_ptr<ConsoleOutput>> slot(std::make_shared<StdoutConsoleOutput>());
  return slot;
}

}  // namespace

Status console_write(std::string_view text) { return output_slot().get()->write(text); }

void install_console_output(std::shared_ptr<ConsoleOutput> output) { output_slot().replace(std::move(output)); }

}  // namespace vostrel
