// Helpers shared by the wire tests of both dialects.
#ifndef VOSTREL_TESTS_PROVIDER_WIRE_UTIL_H_
#define VOSTREL_TESTS_PROVIDER_WIRE_UTIL_H_

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "support/json_test_util.h"
#include "json/writer.h"
#include "provider/shared.h"
#include "pyfmt/pyfmt.h"
#include "support/loopback_server.h"

namespace vostrel::provider::wire_test {

using test_support::parse_or_fail;
inline JsonValue parse(std::string_view text) { return parse_or_fail(text); }

using test_support::calls_json;

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

// One reply played by the server and what `chat` must make of it.
struct ReplyCase {
  std::string name;
  std::string reply;
  std::string error_prefix;  // empty: success; else the Provider error up to the quoted reply
  std::string content = "";
  std::size_t tool_calls = 0;
  std::string stop_reason = "";
  std::string model = "";  // the reply's model; empty: the model asked for
};

// Plays each case through `chat`, a call of the provider that asks for
// `asked_model`, and checks the result.
template <typename Chat>
void check_reply_cases(testing::LoopbackServer& server, std::string_view asked_model,
                       const std::vector<ReplyCase>& cases, Chat chat) {
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(c.name);
    server.push(testing::ScriptedReply::json_text(c.reply));
    Result<ProviderResponse> r = chat();
    JsonValue reply = parse(c.reply);
    if (!c.error_prefix.empty()) {
      ASSERT_FALSE(r.ok());
      EXPECT_EQ(r.error().kind, ErrorKind::kProvider);
      EXPECT_EQ(r.error().message, c.error_prefix + py_str(reply)) << "the whole reply is quoted";
      continue;
    }
    ASSERT_TRUE(r.ok()) << r.error().error_text();
    EXPECT_EQ(r->content, c.content);
    EXPECT_EQ(r->tool_calls.size(), c.tool_calls);
    EXPECT_EQ(r->stop_reason, c.stop_reason);
    EXPECT_EQ(r->model, c.model.empty() ? std::string(asked_model) : c.model);
    EXPECT_EQ(r->raw, reply);
    EXPECT_FALSE(r->structured.has_value());
  }
}

}  // namespace vostrel::provider::wire_test

#endif  // VOSTREL_TESTS_PROVIDER_WIRE_UTIL_H_
