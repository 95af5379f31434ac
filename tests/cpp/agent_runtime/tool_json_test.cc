#include "agent_runtime/tool_json.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/writer.h"
#include "support/json_test_util.h"

namespace vostrel::agent_runtime {
namespace {

using test_support::error_of;
using test_support::parse_or_fail;

TEST(ToolJsonTest, WritesKeysInOrder) {
  ToolCall call{"read_file", JsonObject{{"path", "a.txt"}, {"limit", 5}}, "c1"};
  EXPECT_EQ(to_json(tool_call_to_json(call)),
            R"({"name":"read_file","arguments":{"path":"a.txt","limit":5},"id":"c1"})");
  EXPECT_EQ(to_json(tool_calls_to_json({call, ToolCall{"x", {}, ""}})),
            R"([{"name":"read_file","arguments":{"path":"a.txt","limit":5},"id":"c1"},)"
            R"({"name":"x","arguments":{},"id":""}])");
  std::vector<ToolResult> results = {{"read_file", "text", false}, {"cmd", "boom", true}};
  EXPECT_EQ(to_json(tool_results_to_json(results)),
            R"([{"name":"read_file","content":"text","is_error":false},)"
            R"({"name":"cmd","content":"boom","is_error":true}])");
  EXPECT_EQ(to_json(tool_dialect_to_json(ToolDialect::kAnthropic)), R"("anthropic")");
}

TEST(ToolJsonTest, RoundTrips) {
  // Argument order and number kinds survive: 1 and 1.0 stay apart.
  ToolCall call{"x", JsonObject{{"b", 1}, {"a", 1.0}, {"n", JsonObject{{"z", nullptr}, {"y", "é"}}}}, "id"};
  auto back = read_tool_call(parse_or_fail(to_json(tool_call_to_json(call))));
  ASSERT_TRUE(back.ok()) << back.error().message;
  EXPECT_EQ(*back, call);
  EXPECT_EQ(back->arguments.at_index(0).first, "b");

  std::vector<ToolCall> calls = {call, ToolCall{"y", {}, ""}};
  auto calls_back = read_tool_calls(parse_or_fail(to_json(tool_calls_to_json(calls))));
  ASSERT_TRUE(calls_back.ok());
  EXPECT_EQ(*calls_back, calls);

  std::vector<ToolResult> results = {{"a", "line\n\"q\"", true}, {"b", "", false}};
  auto results_back = read_tool_results(parse_or_fail(to_json(tool_results_to_json(results))));
  ASSERT_TRUE(results_back.ok());
  EXPECT_EQ(*results_back, results);

  for (ToolDialect d : {ToolDialect::kText, ToolDialect::kOpenai, ToolDialect::kAnthropic}) {
    auto r = read_tool_dialect(tool_dialect_to_json(d));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r, d);
  }
}

TEST(ToolJsonTest, ReadsToolCalls) {
  struct Case {
    const char* name;
    const char* json;
    const char* expected;  // the call as compact JSON, or the error
  } cases[] = {
      {"extra key ignored", R"({"name":"x","arguments":{},"id":"","extra":[1,{"a":2}]})",
       R"({"name":"x","arguments":{},"id":""})"},
      {"keys in any order", R"({"id":"c","arguments":{"k":1},"name":"x"})",
       R"({"name":"x","arguments":{"k":1},"id":"c"})"},
      {"no id", R"({"name":"x","arguments":{}})", "missing field `id`"},
      {"only arguments", R"({"arguments":{}})", "missing field `name`"},
      {"arguments as text", R"({"name":"x","arguments":"{}","id":""})",
       "invalid type: string \"{}\", expected a map"},
      {"arguments as number", R"({"name":"x","arguments":5,"id":""})",
       "invalid type: integer `5`, expected a map"},
      {"name not a string", R"({"name":7,"arguments":{},"id":""})",
       "invalid type: integer `7`, expected a string"},
      {"id null", R"({"name":"x","arguments":{},"id":null})", "invalid type: null, expected a string"},
      {"array form keeps argument order", R"(["x",{"b":1,"a":2},"c9"])",
       R"({"name":"x","arguments":{"b":1,"a":2},"id":"c9"})"},
      {"array too short", R"(["x",{}])", "invalid length 2, expected struct ToolCall with 3 elements"},
      {"array too long", R"(["x",{},"",4])", "invalid length 4, expected fewer elements in array"},
      {"string", R"("x")", "invalid type: string \"x\", expected struct ToolCall"},
      {"null", "null", "invalid type: null, expected struct ToolCall"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = read_tool_call(parse_or_fail(c.json));
    EXPECT_EQ(r.ok() ? to_json(tool_call_to_json(*r)) : r.error().message, c.expected);
  }
}

TEST(ToolJsonTest, ReadsLists) {
  EXPECT_EQ(error_of(read_tool_calls(parse_or_fail(R"({"name":"x"})"))), "invalid type: map, expected a sequence");
  EXPECT_EQ(error_of(read_tool_calls(parse_or_fail(R"([["x",{},""],{"name":"y"}])"))), "missing field `arguments`");
  auto empty = read_tool_calls(parse_or_fail("[]"));
  ASSERT_TRUE(empty.ok());
  EXPECT_TRUE(empty->empty());

  struct Case {
    const char* name;
    const char* json;
    const char* expected;
  } cases[] = {
      {"array form", R"([["a","b",true]])", "<ok>"},
      {"no is_error", R"([{"name":"a","content":"b"}])", "missing field `is_error`"},
      {"missing in order", R"([{"is_error":true}])", "missing field `name`"},
      {"is_error zero", R"([{"name":"a","content":"b","is_error":0}])",
       "invalid type: integer `0`, expected a boolean"},
      {"array short", R"([["a","b"]])", "invalid length 2, expected struct ToolResult with 3 elements"},
      {"element not a record", R"([1])", "invalid type: integer `1`, expected struct ToolResult"},
      {"not an array", R"("a")", "invalid type: string \"a\", expected a sequence"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(error_of(read_tool_results(parse_or_fail(c.json))), c.expected);
  }
}

TEST(ToolJsonTest, ReadsDialects) {
  struct Case {
    const char* json;
    const char* expected;
  } cases[] = {
      {R"("text")", "text"},
      {R"({"anthropic":null})", "anthropic"},
      {R"("OpenAI")", "unknown variant `OpenAI`, expected one of `text`, `openai`, `anthropic`"},
      {R"({"openai":1})", "invalid type: integer `1`, expected unit variant"},
      {R"({"openai":null,"text":null})", "invalid value: map, expected map with a single key"},
      {"{}", "invalid value: map, expected map with a single key"},
      {"0", "invalid type: integer `0`, expected string or map"},
      {"[\"text\"]", "invalid type: sequence, expected string or map"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    auto r = read_tool_dialect(parse_or_fail(c.json));
    EXPECT_EQ(r.ok() ? std::string(tool_dialect_name(*r)) : r.error().message, c.expected);
  }
}

}  // namespace
}  // namespace vostrel::agent_runtime
