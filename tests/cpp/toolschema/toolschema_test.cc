#include "toolschema/toolschema.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"

namespace vostrel::toolschema {
namespace {

constexpr ToolDialect kText = ToolDialect::kText;
constexpr ToolDialect kOpenai = ToolDialect::kOpenai;
constexpr ToolDialect kAnthropic = ToolDialect::kAnthropic;

JsonObject object_of(std::string_view json) {
  Result<JsonValue> parsed = parse_json(json);
  EXPECT_TRUE(parsed.ok() && parsed->is_object()) << json;
  return parsed.ok() && parsed->is_object() ? parsed->as_object() : JsonObject{};
}

// Two calls whose arguments carry key order, a non-ASCII character and a
// double, so the openai "arguments" text shows json.dumps layout.
std::vector<ToolCall> two_calls() {
  return {ToolCall{"read_file", object_of(R"({"path": "é.txt", "n": 1.0})"), "c1"},
          ToolCall{"list_dir", object_of(R"({"b": 1, "a": [true, null]})"), "c2"}};
}

struct AssistantCase {
  const char* name;
  ToolDialect dialect;
  std::string content;
  std::vector<ToolCall> calls;
  std::string expected;  // compact JSON
};

TEST(RenderAssistantTurnTest, ShapePerDialect) {
  const AssistantCase cases[] = {
      // The text dialect keeps the reply as written, fence and all.
      {"text keeps the block", kText, "ok\n```tool_calls\n[]\n```", two_calls(),
       R"({"role":"assistant","content":"ok\n```tool_calls\n[]\n```"})"},
      {"text empty content", kText, "", {}, R"({"role":"assistant","content":""})"},
      {"openai empty content, two calls", kOpenai, "", two_calls(),
       R"({"role":"assistant","content":null,"tool_calls":[)"
       R"({"id":"c1","type":"function","function":{"name":"read_file",)"
       R"("arguments":"{\"path\": \"\\u00e9.txt\", \"n\": 1.0}"}},)"
       R"({"id":"c2","type":"function","function":{"name":"list_dir",)"
       R"("arguments":"{\"b\": 1, \"a\": [true, null]}"}}]})"},
      {"openai without calls keeps an empty list", kOpenai, "hello", {},
       R"({"role":"assistant","content":"hello","tool_calls":[]})"},
      {"openai empty id stays empty", kOpenai, "x", {ToolCall{"t", {}, ""}},
       R"({"role":"assistant","content":"x","tool_calls":[)"
       R"({"id":"","type":"function","function":{"name":"t","arguments":"{}"}}]})"},
      {"anthropic text first, then tool_use", kAnthropic, "ok",
       {ToolCall{"read_file", object_of(R"({"path": "a"})"), "toolu_1"}},
       R"({"role":"assistant","content":[{"type":"text","text":"ok"},)"
       R"({"type":"tool_use","id":"toolu_1","name":"read_file","input":{"path":"a"}}]})"},
      {"anthropic empty content, no calls", kAnthropic, "", {},
       R"({"role":"assistant","content":[]})"},
      {"anthropic calls only", kAnthropic, "", two_calls(),
       R"({"role":"assistant","content":[)"
       R"({"type":"tool_use","id":"c1","name":"read_file","input":{"path":"é.txt","n":1.0}},)"
       R"({"type":"tool_use","id":"c2","name":"list_dir","input":{"b":1,"a":[true,null]}}]})"},
  };
  for (const AssistantCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(to_json(render_assistant_turn(c.dialect, c.content, c.calls)), c.expected);
  }
}

struct ResultCase {
  const char* name;
  ToolDialect dialect;
  ToolResult result;
  std::string expected;
};

TEST(RenderToolResultTest, ShapePerDialect) {
  const ToolResult boom{"cmd", "boom", true};
  const ToolResult fine{"read_file", "contents", false};
  const ResultCase cases[] = {
      {"text error", kText, boom, R"({"role":"assistant","content":"[Tool:cmd] [ToolError] boom"})"},
      {"text success", kText, fine,
       R"({"role":"assistant","content":"[Tool:read_file] contents"})"},
      {"openai error", kOpenai, boom,
       R"({"role":"tool","tool_call_id":"call-9","content":"[ToolError] boom"})"},
      {"openai success", kOpenai, fine,
       R"({"role":"tool","tool_call_id":"call-9","content":"contents"})"},
      // Anthropic marks an error only through "is_error".
      {"anthropic error", kAnthropic, boom,
       R"({"role":"user","content":[{"type":"tool_result","tool_use_id":"call-9",)"
       R"("content":"boom","is_error":true}]})"},
      {"anthropic success", kAnthropic, fine,
       R"({"role":"user","content":[{"type":"tool_result","tool_use_id":"call-9",)"
       R"("content":"contents","is_error":false}]})"},
  };
  for (const ResultCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(to_json(render_tool_result(c.dialect, "call-9", c.result)), c.expected);
  }
}

TEST(ToolSchemasTest, DefinitionsPerDialect) {
  const std::string schema_text =
      R"({"type":"object","properties":{"path":{"type":"string"}},"required":["path"]})";
  Result<JsonValue> schema = parse_json(schema_text);
  ASSERT_TRUE(schema.ok());
  const std::vector<ToolSpec> tools = {
      ToolSpec::make("read_file", "Read a file.", *schema, nullptr),
      ToolSpec::make("noop", "Nothing.", JsonValue::object(), nullptr)};

  // Neither shape adds a strict flag or rewrites the schema.
  EXPECT_EQ(to_json(to_openai_tool(tools[0])),
            R"({"type":"function","function":{"name":"read_file","description":"Read a file.",)"
            R"("parameters":)" + schema_text + "}}");
  EXPECT_EQ(to_json(to_anthropic_tool(tools[0])),
            R"({"name":"read_file","description":"Read a file.","input_schema":)" + schema_text +
                "}");

  // Absent, not empty, for the text dialect and for no tools.
  EXPECT_FALSE(tool_schemas(kText, tools).has_value());
  EXPECT_FALSE(tool_schemas(kOpenai, {}).has_value());
  EXPECT_FALSE(tool_schemas(kAnthropic, {}).has_value());

  struct Case {
    const char* name;
    ToolDialect dialect;
    JsonValue (*make)(const ToolSpec&);
  };
  const Case cases[] = {{"openai", kOpenai, &to_openai_tool},
                        {"anthropic", kAnthropic, &to_anthropic_tool}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<std::vector<JsonValue>> defs = tool_schemas(c.dialect, tools);
    ASSERT_TRUE(defs.has_value());
    ASSERT_EQ(defs->size(), 2u);
    EXPECT_EQ((*defs)[0], c.make(tools[0]));
    EXPECT_EQ((*defs)[1], c.make(tools[1]));
  }
}

}  // namespace
}  // namespace vostrel::toolschema
