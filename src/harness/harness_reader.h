// Reading a harness contract out of a frontmatter mapping, with every key's
// type, default, bound and refusal message.
#ifndef VOSTREL_HARNESS_HARNESS_READER_H_
#define VOSTREL_HARNESS_HARNESS_READER_H_

#include <string_view>

#include "harness/harness_spec.h"
#include "json/value.h"
#include "utils/result.h"

namespace vostrel::harness {

// The tool names a harness may not list: the runtime supplies them itself.
inline constexpr std::string_view kReservedToolNames[] = {"Skill"};

// Reads `data` (normally a gameplan's frontmatter) into a HarnessSpec; keys are
// read in a fixed order and the first failure, a GameplanLoad error naming
// `source`, ends the reading. Unknown keys are ignored.
Result<HarnessSpec> parse_harness_spec(const JsonValue& data, std::string_view source);

}  // namespace vostrel::harness

#endif  // VOSTREL_HARNESS_HARNESS_READER_H_
