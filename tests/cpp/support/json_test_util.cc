#include "support/json_test_util.h"

#include <gtest/gtest.h>

#include "json/reader.h"

namespace vostrel::test_support {

JsonValue parse_or_fail(std::string_view text) {
  auto v = parse_json(text);
  EXPECT_TRUE(v.ok()) << "not JSON: " << text;
  return v.ok() ? std::move(v).value() : JsonValue();
}

}  // namespace vostrel::test_support
