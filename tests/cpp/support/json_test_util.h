// Helpers for tests that read JSON literals and compare reader errors.
#ifndef VOSTREL_TESTS_SUPPORT_JSON_TEST_UTIL_H_
#define VOSTREL_TESTS_SUPPORT_JSON_TEST_UTIL_H_

#include <string>
#include <string_view>
#include <vector>

#include "agent_runtime/tool.h"
#include "json/value.h"
#include "json/writer.h"
#include "utils/result.h"

namespace vostrel::test_support {

// The parsed literal; a parse failure fails the current test and gives null.
JsonValue parse_or_fail(std::string_view text);

// The error message of a failed result, or "<ok>".
inline std::string error_of(const Status& s) { return s.ok() ? "<ok>" : s.error().message; }
template <typename T>
std::string error_of(const Result<T>& r) {
  return r.ok() ? "<ok>" : r.error().message;
}

// Tool calls as [[name, arguments, id], ...] in compact JSON.
inline std::string calls_json(const std::vector<agent_runtime::ToolCall>& calls) {
  JsonArray out;
  for (const agent_runtime::ToolCall& call : calls) {
    out.emplace_back(JsonArray{JsonValue(call.name), JsonValue(call.arguments), JsonValue(call.id)});
  }
  return to_json(JsonValue(std::move(out)));
}

}  // namespace vostrel::test_support

#endif  // VOSTREL_TESTS_SUPPORT_JSON_TEST_UTIL_H_
