// The watching half of the command runner, below the policy decision: start
// the words of a command and watch them to their end. Internal to exec (and
// its benchmark, which measures the drain rate past the output cap).
#ifndef VOSTREL_EXEC_RUNNER_H_
#define VOSTREL_EXEC_RUNNER_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "exec/exec.h"

namespace vostrel::exec_detail {

// `exec_command` from step "start the process" on: `command` is the text
// errors name, `words` its split form (at least one), `max_output_bytes` the
// cap on each stream.
Result<std::string> run_words(std::string_view command, const std::vector<std::string>& words,
                              const std::string& cwd, CommandTimeout timeout, const CancelCheck& cancelled,
                              std::size_t max_output_bytes);

}  // namespace vostrel::exec_detail

#endif  // VOSTREL_EXEC_RUNNER_H_
