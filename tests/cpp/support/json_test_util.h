// Helpers for tests that read JSON literals and compare reader errors.
#ifndef VOSTREL_TESTS_SUPPORT_JSON_TEST_UTIL_H_
#define VOSTREL_TESTS_SUPPORT_JSON_TEST_UTIL_H_

#include <string>
#include <string_view>

#include "json/value.h"
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

}  // namespace vostrel::test_support

#endif  // VOSTREL_TESTS_SUPPORT_JSON_TEST_UTIL_H_
