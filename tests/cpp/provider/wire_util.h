// Helpers shared by the wire tests of both dialects.
#ifndef VOSTREL_TESTS_PROVIDER_WIRE_UTIL_H_
#define VOSTREL_TESTS_PROVIDER_WIRE_UTIL_H_

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"
#include "provider/shared.h"
#include "support/loopback_server.h"

namespace vostrel::provider::wire_test {

inline JsonValue parse(std::string_view text) {
  Result<JsonValue> v = parse_json(text);
  EXPECT_TRUE(v.ok()) << text;
  return v.ok() ? *v : JsonValue();
}

// Tool calls as [[name, arguments, id], ...] in compact JSON.
inline std::string calls_json(const std::vector<ToolCall>& calls) {
  JsonArray out;
  for (const ToolCall& call : calls) {
    JsonArray entry;
    entry.emplace_back(call.name);
    entry.emplace_back(call.arguments);
    entry.emplace_back(call.id);
    out.emplace_back(std::move(entry));
  }
  return to_json(JsonValue(std::move(out)));
}

// The headers the provider chose, in wire order, as "Name: value", without
// those the HTTP client adds on its own.
inline std::vector<std::string> our_headers(const testing::HttpRequest& request) {
  std::vector<std::string> out;
  for (const auto& [name, value] : request.headers) {
    if (name == "Host" || name == "Accept" || name == "Content-Length") continue;
    out.push_back(name + ": " + value);
  }
  return out;
}

}  // namespace vostrel::provider::wire_test

#endif  // VOSTREL_TESTS_PROVIDER_WIRE_UTIL_H_
