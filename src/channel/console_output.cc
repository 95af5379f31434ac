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

// Never destroyed: an installed output may be backed by the host, which must
// not be released during static destruction, and threads still writing at exit
// find it.
ServiceSlot<std::shared_ptr<ConsoleOutput>>& output_slot() {
  static auto* const slot = new ServiceSlot<std::shared_ptr<ConsoleOutput>>(std::make_shared<StdoutConsoleOutput>());
  return *slot;
}

}  // namespace

Status console_write(std::string_view text) { return output_slot().get()->write(text); }

void install_console_output(std::shared_ptr<ConsoleOutput> output) {
  if (!output) return;  // the slot is never empty
  output_slot().replace(std::move(output));
}

}  // namespace vostrel
