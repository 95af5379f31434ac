#include "tooling/dispatch.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"

namespace vostrel::tooling {
namespace {

JsonValue json(std::string_view text) {
  Result<JsonValue> parsed = parse_json(text);
  EXPECT_TRUE(parsed.ok()) << text;
  return parsed.ok() ? *parsed : JsonValue();
}

JsonObject object_of(std::string_view text) {
  JsonValue value = json(text);
  return value.is_object() ? value.as_object() : JsonObject{};
}

std::string joined(const std::vector<std::string>& issues) {
  std::string out;
  for (const std::string& issue : issues) out += (out.empty() ? "" : " | ") + issue;
  return out;
}

struct ValidateCase {
  const char* name;
  std::string schema;
  std::string arguments;
  std::string expected;  // issues joined with " | "
};

TEST(ValidateArgumentsTest, Issues) {
  const ValidateCase cases[] = {
      // What is not looked at.
      {"schema not an object", R"("object")", R"({"a": 1})", ""},
      {"empty schema", "{}", R"({"a": 1})", ""},
      {"nested schemas ignored",
       R"({"properties": {"o": {"type": "object", "properties": {"x": {"type": "string"}},
           "required": ["x"]}, "l": {"type": "array", "items": {"type": "string"}}}})",
       R"({"o": {"x": 1}, "l": [1]})", ""},
      {"type list not checked", R"({"properties": {"a": {"type": ["string", "null"]}}})",
       R"({"a": 5})", ""},
      {"unknown type word not checked", R"({"properties": {"a": {"type": "float"}}})",
       R"({"a": "x"})", ""},
      {"property not an object", R"({"properties": {"a": "string"}})", R"({"a": 5})", ""},
      // Required.
      {"required present as null", R"({"required": ["path"]})", R"({"path": null})", ""},
      {"required missing, in schema order", R"({"required": ["b", 3, "a"]})", "{}",
       "missing required argument 'b' | missing required argument 'a'"},
      // Additional properties.
      {"false without properties", R"({"additionalProperties": false})", R"({"x": 1, "y": 2})",
       "unexpected argument 'x' | unexpected argument 'y'"},
      {"empty object allows extras", R"({"additionalProperties": {}})", R"({"x": 1})", ""},
      {"0 is not false", R"({"additionalProperties": 0})", R"({"x": 1})", ""},
      // Types.
      {"integer refuses float and bool",
       R"({"properties": {"a": {"type": "integer"}, "b": {"type": "integer"}, "c": {"type": "integer"}}})",
       R"({"a": 2.0, "b": true, "c": -3})",
       "argument 'a' must be integer, got float | argument 'b' must be integer, got bool"},
      {"number takes ints and floats, not bool",
       R"({"properties": {"a": {"type": "number"}, "b": {"type": "number"}, "c": {"type": "number"}}})",
       R"({"a": 2, "b": 2.5, "c": false})", "argument 'c' must be number, got bool"},
      {"python type names",
       R"({"properties": {"s": {"type": "string"}, "n": {"type": "string"}, "l": {"type": "string"},
           "d": {"type": "string"}, "o": {"type": "null"}, "b": {"type": "boolean"}, "a": {"type": "array"}}})",
       R"({"s": 1, "n": null, "l": [], "d": {}, "o": "x", "b": 1, "a": {}})",
       "argument 's' must be string, got int | argument 'n' must be string, got NoneType | "
       "argument 'l' must be string, got list | argument 'd' must be string, got dict | "
       "argument 'o' must be null, got str | argument 'b' must be boolean, got int | "
       "argument 'a' must be array, got dict"},
      // Enums with Python equality.
      {"enum of ints takes 1.0 and true",
       R"({"properties": {"a": {"enum": [1, 2]}, "b": {"enum": [1, 2]}, "c": {"enum": [0]}}})",
       R"({"a": 1.0, "b": true, "c": -0.0})", ""},
      {"enum of bools takes numbers", R"({"properties": {"a": {"enum": [false]}, "b": {"enum": [true]}}})",
       R"({"a": 0, "b": 1.0})", ""},
      {"enum number mismatch", R"({"properties": {"a": {"enum": [1, 2]}}})", R"({"a": 1.5})",
       "argument 'a' must be one of [1, 2], got 1.5"},
      {"enum keeps -1 and 2^64-1 apart", R"({"properties": {"a": {"enum": [18446744073709551615]}}})",
       R"({"a": -1})", "argument 'a' must be one of [18446744073709551615], got -1"},
      {"large float equals the integer it holds",
       R"({"properties": {"a": {"enum": [9007199254740992]}, "b": {"enum": [9007199254740993]}}})",
       R"({"a": 9007199254740992.0, "b": 9007199254740992.0})",
       "argument 'b' must be one of [9007199254740993], got 9007199254740992.0"},
      {"enum of strings", R"({"properties": {"mode": {"enum": ["fast", "slow"]}}})",
       R"({"mode": "medium"})", "argument 'mode' must be one of ['fast', 'slow'], got 'medium'"},
      {"list is not its item", R"({"properties": {"a": {"enum": ["a"]}}})", R"({"a": ["a"]})",
       "argument 'a' must be one of ['a'], got ['a']"},
      {"empty enum not checked", R"({"properties": {"a": {"enum": []}}})", R"({"a": 1})", ""},
      {"objects equal whatever their key order",
       R"({"properties": {"a": {"enum": [{"x": 1, "y": [{"p": 1, "q": 2}]}]}, "b": {"enum": [{"x": 1}]}}})",
       R"({"a": {"y": [{"q": 2, "p": 1}], "x": 1}, "b": {"x": 1, "z": 1}})",
       "argument 'b' must be one of [{'x': 1}], got {'x': 1, 'z': 1}"},
      {"inside containers numbers keep their kind",
       R"({"properties": {"a": {"enum": [[1]]}, "b": {"enum": [{"k": true}]}}})",
       R"({"a": [1.0], "b": {"k": 1}})",
       "argument 'a' must be one of [[1]], got [1.0] | argument 'b' must be one of [{'k': True}], got {'k': 1}"},
      // Order: missing, unexpected, then per argument type before enum.
      {"issue order",
       R"({"required": ["path", "mode"], "additionalProperties": false,
           "properties": {"mode": {"type": "string", "enum": ["r", "w"]}, "path": {"type": "string"}}})",
       R"({"mode": 3, "shell": true, "zz": 1})",
       "missing required argument 'path' | unexpected argument 'shell' | unexpected argument 'zz' | "
       "argument 'mode' must be string, got int | argument 'mode' must be one of ['r', 'w'], got 3"},
  };
  for (const ValidateCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(joined(validate_arguments(json(c.schema), object_of(c.arguments))), c.expected);
  }
}

// Records what it was called with; answers with a fixed text or error.
class RecordingHandler : public agent_runtime::ToolHandler {
 public:
  explicit RecordingHandler(Result<std::string> answer) : answer_(std::move(answer)) {}
  Result<std::string> call(const JsonObject& arguments, std::string_view actor) override {
    ++calls;
    last_actor = std::string(actor);
    last_arguments = arguments;
    return answer_;
  }
  int calls = 0;
  std::string last_actor;
  JsonObject last_arguments;

 private:
  Result<std::string> answer_;
};

class ExecuteToolCallTest : public ::testing::Test {
 protected:
  ExecuteToolCallTest() {
    ToolSpec read = ToolSpec::make(
        "read_file", "Read a file.",
        json(R"({"type": "object", "properties": {"path": {"type": "string"}}, "required": ["path"],
                 "additionalProperties": false})"),
        reader);
    read.takes_actor = true;
    tools = {read, ToolSpec::make("fail", "Fails.", json("{}"), failing),
             ToolSpec::make("echo", "Echo.", json("{}"), echo)};
    tools_for = [this](std::string_view actor) {
      ++lookups;
      lookup_actor = std::string(actor);
      return tools;
    };
  }

  ToolResult run(const ToolCall& call) { return execute_tool_call(tools_for, call, "alice"); }

  std::shared_ptr<RecordingHandler> reader = std::make_shared<RecordingHandler>(std::string("text"));
  std::shared_ptr<RecordingHandler> failing = std::make_shared<RecordingHandler>(
      CoreError::provider_http(500, "https://x", "down"));
  std::shared_ptr<RecordingHandler> echo = std::make_shared<RecordingHandler>(std::string("ok"));
  std::vector<ToolSpec> tools;
  ToolsFor tools_for;
  int lookups = 0;
  std::string lookup_actor;
};

TEST_F(ExecuteToolCallTest, SuccessPassesArgumentsAndActor) {
  const ToolCall call{"read_file", object_of(R"({"path": "a.txt"})"), "c1"};
  EXPECT_EQ(run(call), (ToolResult{"read_file", "text", false}));
  EXPECT_EQ(lookups, 1);
  EXPECT_EQ(lookup_actor, "alice");
  EXPECT_EQ(reader->last_actor, "alice");
  EXPECT_EQ(reader->last_arguments, call.arguments);

  // A tool that does not take the actor gets the empty text.
  EXPECT_EQ(run(ToolCall{"echo", {}, ""}), (ToolResult{"echo", "ok", false}));
  EXPECT_EQ(echo->last_actor, "");
}

TEST_F(ExecuteToolCallTest, FailuresBecomeErrorResults) {
  const std::string feedback =
      "Your tool_calls JSON is invalid. Respond with ONLY a valid ```tool_calls``` fenced block. "
      "Error: ";
  struct Case {
    const char* name;
    ToolCall call;
    std::string content;
  };
  const Case cases[] = {
      {"placeholder with a reader message",
       ToolCall{"__invalid_tool_calls__", object_of(R"({"error": "expected value at line 1 column 1"})"), ""},
       feedback + "expected value at line 1 column 1"},
      {"placeholder without error", ToolCall{"__invalid_tool_calls__", {}, ""},
       feedback + "invalid tool_calls"},
      {"placeholder with a non-string error",
       ToolCall{"__invalid_tool_calls__", object_of(R"({"error": [1, null]})"), ""},
       feedback + "[1, None]"},
      {"unknown tool", ToolCall{"search", {}, ""}, "Unknown tool: search"},
      {"names are case-sensitive", ToolCall{"Read_File", {}, ""}, "Unknown tool: Read_File"},
      {"argument issues joined",
       ToolCall{"read_file", object_of(R"({"path": 1, "shell": true})"), ""},
       "read_file: unexpected argument 'shell'; argument 'path' must be string, got int"},
      {"handler error by its display text", ToolCall{"fail", {}, ""},
       "fail: HTTP 500 from https://x: down"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(run(c.call), (ToolResult{c.call.name, c.content, true}));
  }
  // The placeholder never consults the tools; invalid arguments never reach the handler.
  EXPECT_EQ(lookups, 4);
  EXPECT_EQ(reader->calls, 0);
  EXPECT_EQ(failing->calls, 1);
}

TEST_F(ExecuteToolCallTest, ToolNotOfferedToThisActorIsUnknown) {
  tools_for = [this](std::string_view actor) {
    return actor == "alice" ? tools : std::vector<ToolSpec>{};
  };
  const ToolCall call{"read_file", object_of(R"({"path": "a"})"), ""};
  EXPECT_EQ(execute_tool_call(tools_for, call, "bob"),
            (ToolResult{"read_file", "Unknown tool: read_file", true}));
  EXPECT_EQ(execute_tool_call(tools_for, call, "alice"), (ToolResult{"read_file", "text", false}));

  // A spec without a handler answers with an error instead of crashing.
  tools_for = [](std::string_view) {
    return std::vector<ToolSpec>{ToolSpec::make("bare", "", JsonValue(), nullptr)};
  };
  EXPECT_EQ(execute_tool_call(tools_for, ToolCall{"bare", {}, ""}, ""),
            (ToolResult{"bare", "bare: this tool has no handler", true}));
}

}  // namespace
}  // namespace vostrel::tooling
