// The session's closing: the prompts that ask the orchestrator for its final
// summary (and, with a rethink, for a revision of its draft), and the reading
// of declared result fields out of the final reply. None of these fail: an
// unreadable result block gives the fields their zero values.
#ifndef VOSTREL_ORCHESTRATOR_CLOSING_H_
#define VOSTREL_ORCHESTRATOR_CLOSING_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "harness/harness_spec.h"
#include "json/value.h"

namespace vostrel::orchestrator {

// The six result types the ten declared type names select.
enum class ResultType : std::uint8_t { kStr = 0, kInt, kFloat, kBool, kList, kDict };

// "str"/"string", "int"/"integer", "float"/"number", "bool"/"boolean", "list",
// "dict", compared exactly; none for any other name.
std::optional<ResultType> result_type_from_name(std::string_view type_name);

// The instruction of the closing draft turn; with declared fields it asks for
// a fenced JSON block holding them.
std::string closing_summary_prompt(const std::vector<harness::ResultField>& fields);

// The instruction of the final closing turn: the draft and a checklist.
std::string closing_rethink_prompt(std::string_view draft, std::size_t field_count);

// One member per declared field, in declaration order, read from the reply's
// first result block (or its last brace-delimited object) and coerced to the
// field's type. Empty without declared fields.
JsonObject extract_result_fields(std::string_view reply,
                                 const std::vector<harness::ResultField>& fields);

// The reply with every result block removed, trimmed of white space.
std::string strip_result_fence(std::string_view reply);

}  // namespace vostrel::orchestrator

#endif  // VOSTREL_ORCHESTRATOR_CLOSING_H_
