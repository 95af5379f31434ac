// The console output service: where the console channel's lines are shown.
#ifndef VOSTREL_CHANNEL_CONSOLE_OUTPUT_H_
#define VOSTREL_CHANNEL_CONSOLE_OUTPUT_H_

#include <memory>
#include <string_view>

#include "utils/result.h"

namespace vostrel {

// Shows one line of text. Held through std::shared_ptr; callable from any thread.
class ConsoleOutput {
 public:
  virtual ~ConsoleOutput() = default;
  virtual Status write(std::string_view text) = 0;
};

// Writes "{text}\n" to standard output under its lock and flushes; Io
// "stdout: {reason}" on failure. Stateless.
class StdoutConsoleOutput : public ConsoleOutput {
 public:
  Status write(std::string_view text) override;
};

// Writes through the installed console output (standard output until one is
// installed), with no lock held while it runs.
Status console_write(std::string_view text);

// Replaces the process-wide console output (bootstrap's); a null one is ignored.
void install_console_output(std::shared_ptr<ConsoleOutput> output);

}  // namespace vostrel

#endif  // VOSTREL_CHANNEL_CONSOLE_OUTPUT_H_
