#include <gtest/gtest.h>

#include "json/reader.h"
#include "json/writer.h"
#include "provider/claude.h"
#include "pyfmt/pyfmt.h"
#include "support/loopback_server.h"
#include "wire_util.h"

namespace vostrel::provider {
namespace {

using testing::LoopbackServer;
using testing::ScriptedReply;
using wire_test::calls_json;
using wire_test::parse;

Messages messages_of(std::string_view json_list) { return parse(json_list).as_array(); }

TEST(ClaudeMessagesTest, TakesSystemMessagesOutAndKeepsTheRest) {
  struct Case {
    std::string name;
    std::string messages;
    std::string system;
    std::string rest;
  };
  const std::vector<Case> cases = {
      {"two system messages around a user message",
       R"([{"role":"system","content":"A"},{"role":"user","content":"hi"},{"role":"system","content":"B"}])", "A\nB",
       R"([{"role":"user","content":"hi"}])"},
      {"system content that is not a string adds an empty part",
       R"([{"role":"system","content":[{"type":"text","text":"x"}]},{"role":"system","content":"B"}])", "\nB", "[]"},
      {"no system message", R"([{"role":"user","content":"hi"}])", "", R"([{"role":"user","content":"hi"}])"},
      {"role compared exactly, odd messages kept",
       R"([{"role":"System","content":"A"},{"content":"no role"},{"role":5},"text"])", "",
       R"([{"role":"System","content":"A"},{"content":"no role"},{"role":5},"text"])"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClaudeMessages converted = claude_messages(messages_of(c.messages));
    EXPECT_EQ(converted.system, c.system);
    EXPECT_EQ(to_json(JsonValue(JsonArray(converted.messages))), c.rest);
  }
}

class ClaudeWireTest : public ::testing::Test {
 protected:
  ClaudeConfig config(bool oauth = false) {
    ClaudeConfig c;
    c.auth = {oauth, oauth ? "oauth-token" : "sk-ant-key"};
    c.base_url = server_.url("/v1/");
    return c;
  }

  LoopbackServer server_;
  std::vector<ToolSpec> tools_ = {
      ToolSpec::make("read_file", "Reads a file", JsonObject{{"type", "object"}}, nullptr)};
};

TEST_F(ClaudeWireTest, BuildsHeadersAndBodyInTheirOrder) {
  const Messages messages = messages_of(R"([{"role":"system","content":"Be brief."},{"role":"user","content":"hi"}])");
  struct Case {
    std::string name;
    bool oauth;
    bool tools_latch;
    bool effort_latch;
    bool with_tools;
    std::vector<std::string> headers;
    std::string body;
  };
  const std::string user = R"("messages":[{"role":"user","content":"hi"}])";
  const std::string tools =
      R"("tools":[{"name":"read_file","description":"Reads a file","input_schema":{"type":"object"}}])";
  const std::vector<Case> cases = {
      {"api key with tools", false, false, false, true,
       {"x-api-key: sk-ant-key", "anthropic-version: 2023-06-01", "Content-Type: application/json"},
       R"({"model":"c",)" + user + R"(,"max_tokens":4096,"temperature":1.0,"system":"Be brief.","output_config":{"effort":"medium"},)" +
           tools + "}"},
      {"oauth with both latches", true, true, true, true,
       {"Authorization: Bearer oauth-token", "anthropic-version: 2023-06-01", "Content-Type: application/json"},
       R"({"model":"c",)" + user + R"(,"max_tokens":4096,"temperature":1.0,"system":"Be brief."})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClaudeProvider p(RetrySettings{}, config(c.oauth));
    p.state().native_tools_rejected = c.tools_latch;
    p.state().reasoning_effort_rejected = c.effort_latch;
    Result<ProviderResponse> r =
        p.chat("c", messages, c.with_tools ? ToolList(tools_) : std::nullopt, ReasoningEffort::kMedium);
    ASSERT_TRUE(r.ok()) << r.error().error_text();
    testing::HttpRequest got = server_.last_request();
    EXPECT_EQ(got.target, "/v1/messages");
    EXPECT_EQ(wire_test::our_headers(got), c.headers);
    EXPECT_EQ(got.body, c.body);
  }
  // No system message: no "system" key; a temperature that is not finite is null.
  ClaudeConfig c = config();
  c.temperature = 1.0 / 0.0;
  c.max_tokens = 100;
  ClaudeProvider p(RetrySettings{}, c);
  ASSERT_TRUE(p.chat("c", messages_of(R"([{"role":"user","content":"hi"}])"), std::nullopt, ReasoningEffort::kMax).ok());
  EXPECT_EQ(server_.last_request().body,
            R"({"model":"c",)" + user + R"(,"max_tokens":100,"temperature":null,"output_config":{"effort":"max"}})");
}

TEST_F(ClaudeWireTest, ChecksEveryReplyShape) {
  const std::vector<wire_test::ReplyCase> cases = {
      {"two text blocks, one without a type",
       R"({"model":"c-1","stop_reason":"end_turn","content":[{"type":"text","text":" A"},{"type":"thinking","text":"no"},{"text":"B \n"}]})",
       "", "A\nB", 0, "end_turn", "c-1"},
      {"only a tool_use block", R"({"content":[{"type":"tool_use","id":"t1","name":"f","input":{}}],"stop_reason":"tool_use"})",
       "", "", 1, "tool_use"},
      {"error", R"({"type":"error","error":{"type":"overloaded_error"}})", "API error from c: "},
      {"null error is fine", R"({"error":null,"content":[{"type":"text","text":"ok"}]})", "", "ok"},
      {"refusal with text", R"({"stop_reason":"refusal","content":[{"type":"text","text":"I won't"}]})",
       "Provider response from c indicates refusal: "},
      {"content not a list", R"({"content":"hi"})", "Unexpected response structure from c: "},
      {"empty content", R"({"content":[]})", "Unexpected response structure from c: "},
      {"blocks without usable text", R"({"content":[{"type":"text","text":5},"x",{"type":"image"}]})",
       "Unexpected response structure from c: "},
      {"stop reason and model of other kinds", R"({"content":[{"type":"text","text":"x"}],"stop_reason":1,"model":null})",
       "", "x", 0, "", "c"},
  };
  ClaudeProvider p(RetrySettings{}, config());
  wire_test::check_reply_cases(server_, "c", cases, [&] { return p.chat("c", {}, std::nullopt, ReasoningEffort::kLow); });
}

TEST_F(ClaudeWireTest, KeepsTheKeyOutOfErrors) {
  ClaudeConfig c = config();
  c.auth.secret = "sk-ant-api03-secretsecret";
  ClaudeProvider p(RetrySettings{}, c);
  server_.push(ScriptedReply::text(401, "invalid x-api-key sk-ant-api03-secretsecret"));
  Result<ProviderResponse> r = p.chat("c", {}, std::nullopt, ReasoningEffort::kLow);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, ErrorKind::kProviderHttp);
  EXPECT_EQ(r.error().body, "invalid x-api-key [redacted]");
  // A reply that quotes the key back in its "error" is quoted without it.
  server_.push(ScriptedReply::json_text(R"({"error":{"message":"key sk-ant-api03-secretsecret revoked"}})"));
  Result<ProviderResponse> quoted = p.chat("c", {}, std::nullopt, ReasoningEffort::kLow);
  ASSERT_FALSE(quoted.ok());
  EXPECT_EQ(quoted.error().message, "API error from c: {'error': {'message': 'key [redacted] revoked'}}");
}

TEST(ParseAnthropicToolCallsTest, ReadsToolUseBlocks) {
  struct Case {
    std::string name;
    std::string reply;
    std::string calls;
  };
  const std::vector<Case> cases = {
      {"no content list", R"({"content":{}})", "[]"},
      {"input object", R"({"content":[{"type":"tool_use","id":"t1","name":"f","input":{"a":1}}]})", R"([["f",{"a":1},"t1"]])"},
      {"missing input", R"({"content":[{"type":"tool_use","name":"f"}]})", R"([["f",{"raw":null},""]])"},
      {"input of other kinds", R"({"content":[{"type":"tool_use","name":"f","input":"x"},{"type":"tool_use","name":"g","input":null}]})",
       R"([["f",{"raw":"x"},""],["g",{"raw":null},""]])"},
      {"other blocks and falsy names skipped",
       R"({"content":[{"type":"text","name":"f"},{"type":"tool_use","name":""},{"type":"tool_use","name":false},{"name":"f"},{"type":"tool_use","name":1.5,"id":2}]})",
       R"([["1.5",{"raw":null},"2"]])"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(calls_json(parse_anthropic_tool_calls(parse(c.reply))), c.calls);
  }
}

}  // namespace
}  // namespace vostrel::provider
