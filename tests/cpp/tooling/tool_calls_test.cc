#include "tooling/tool_calls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/writer.h"
#include "support/json_test_util.h"
#include "tooling/fence.h"

namespace vostrel::tooling {
namespace {

// "error: <text>" for the placeholder, else the calls as compact JSON
// [[name, arguments, id], ...].
std::string describe(const std::vector<ToolCall>& calls) {
  if (calls.size() == 1 && calls[0].name == agent_runtime::kInvalidCall) {
    const JsonValue* error = calls[0].arguments.find("error");
    EXPECT_EQ(calls[0].arguments.size(), 1u);
    EXPECT_TRUE(calls[0].id.empty());
    return "error: " + (error != nullptr && error->is_string() ? error->as_string() : "?");
  }
  return test_support::calls_json(calls);
}

std::string nested_arrays(int depth) {
  return std::string(static_cast<std::size_t>(depth), '[') +
         std::string(static_cast<std::size_t>(depth), ']');
}

struct ParseCase {
  const char* name;
  std::string text;
  std::string expected;
};

TEST(ParseToolCallsTest, ChoosingTheBody) {
  const std::string call = R"({"name": "read_file", "arguments": {"path": "a"}})";
  const std::string one = R"([["read_file",{"path":"a"},""]])";
  const ParseCase cases[] = {
      {"empty reply", "", "[]"},
      {"prose only", "I will think about it.", "[]"},
      {"block with object", "Sure.\n```tool_calls\n{\"tool_calls\": [" + call + "]}\n```\nDone.",
       one},
      {"block with bare array", "```tool_calls\n[" + call + "]\n```", one},
      {"CRLF line ends", "Sure.\r\n```tool_calls\r\n[" + call + "]\r\n```\r\n", one},
      {"closing line with trailing spaces", "```tool_calls\n[" + call + "]\n```   \n", one},
      {"Unicode white space around fences",
       "\u3000```tool_calls\u00a0\n\u2003[" + call + "]\u2028\n  ```\u205f", one},
      {"opening after other text", "Here it is: ```tool_calls\n[" + call + "]\n```", one},
      {"tag case is ignored", "```TOOL_Calls\n[" + call + "]\n```", one},
      {"hyphenated tag is another tag", "```tool-calls\n[" + call + "]\n```", "[]"},
      {"tag followed by text opens nothing", "```tool_calls now\n[" + call + "]\n```", "[]"},
      // Only the first block counts; blocks do not nest.
      {"several blocks", "```tool_calls\n[" + call + "]\n```\n```tool_calls\n[{\"name\": \"b\"}]\n```",
       one},
      {"python block holding an opening line",
       "```python\nx = 1\n```tool_calls\n[" + call + "]\n```\n```", one},
      // Unclosed blocks.
      {"unclosed fence", "```tool_calls\n[" + call + "]\n", "error: unclosed tool_calls fence"},
      {"a later json block's closing line closes the block",
       "```tool_calls\n[" + call + "]\n```json\n{\"tool_calls\": [" + call + "]}\n```",
       // The json block's closing line closes the tool_calls block instead.
       "error: trailing characters at line 2 column 1"},
      {"unclosed before a well-formed json block",
       "```tool_calls\n[" + call + "]\n````\n```json\n{\"tool_calls\": [" + call + "]}\n",
       "error: unclosed tool_calls fence"},
      {"four backticks do not close", "```tool_calls\n[" + call + "]\n````\n",
       "error: unclosed tool_calls fence"},
      {"lone carriage return stays in its line", "```tool_calls\n[" + call + "]\r```",
       "error: unclosed tool_calls fence"},
      {"body spelling the unclosed marker", "```tool_calls\n__UNCLOSED_FENCE__\n```",
       "error: unclosed tool_calls fence"},
      // An empty tool_calls block is no block.
      {"empty block, then json block",
       "```tool_calls\n\n```\n```json\n{\"tool_calls\": [" + call + "]}\n```", one},
      {"empty block, nothing else", "```tool_calls\n  \n```", "[]"},
      {"json block without the key is ignored", "```json\n{\"calls\": [" + call + "]}\n```", "[]"},
      {"json block without the key, bare reply with it",
       "{\"tool_calls\": [" + call + "]}\n```json\n{\"a\": 1}\n```",
       "error: trailing characters at line 2 column 1"},
      // Bare replies.
      {"bare object", "  {\"tool_calls\": [" + call + "]}\n", one},
      {"bare object without the key", "{\"name\": \"read_file\"}", "[]"},
      {"bare array is not read", "[" + call + "]", "[]"},
      {"bare key not at the start", "Calling: {\"tool_calls\": [" + call + "]}", "[]"},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(describe(parse_tool_calls(c.text)), c.expected);
  }
}

TEST(ParseToolCallsTest, ReadingTheBody) {
  auto block = [](const std::string& body) { return "```tool_calls\n" + body + "\n```"; };
  const ParseCase cases[] = {
      // The list.
      {"empty array", block("[]"), "error: tool_calls contains no valid calls"},
      {"empty tool_calls", block(R"({"tool_calls": []})"), "error: empty tool_calls"},
      {"null tool_calls", block(R"({"tool_calls": null})"), "error: empty tool_calls"},
      {"object tool_calls", block(R"({"tool_calls": {"name": "x"}})"),
       "error: tool_calls contains no valid calls"},
      {"no key", block(R"({"calls": []})"), "error: missing tool_calls"},
      {"a string", block(R"("tool_calls")"), "error: missing tool_calls"},
      {"only unusable items", block(R"([1, "x", {"arguments": {}}, {"name": ""}])"),
       "error: tool_calls contains no valid calls"},
      {"unusable items are dropped", block(R"([1, {"name": "a"}, null, {"name": "b", "id": "2"}])"),
       R"([["a",{},""],["b",{},"2"]])"},
      // Items.
      {"openai item with string arguments",
       block(R"([{"function": {"name": "read_file", "arguments": "{\"path\": \"a.txt\"}"}, "id": "c1"}])"),
       R"([["read_file",{"path":"a.txt"},"c1"]])"},
      {"function name wins, empty one falls back",
       block(R"([{"name": "outer", "function": {"name": "inner"}}, {"name": "outer", "function": {"name": ""}}])"),
       R"([["inner",{},""],["outer",{},""]])"},
      {"function arguments win unless empty",
       block(R"([{"name": "a", "arguments": {"x": 1}, "function": {"arguments": {"y": 2}}},)"
             R"( {"name": "b", "arguments": {"x": 1}, "function": {"arguments": ""}}])"),
       R"([["a",{"y":2},""],["b",{"x":1},""]])"},
      {"id only from the item", block(R"([{"function": {"name": "a", "id": "inner"}}])"),
       R"([["a",{},""]])"},
      {"names and ids that are not strings",
       block(R"([{"name": 7, "id": 12}, {"name": true, "id": 1.5}, {"name": ["x"], "id": 0}])"),
       R"([["7",{},"12"],["True",{},"1.5"],["['x']",{},""]])"},
      {"arguments that are not objects",
       block(R"([{"name": "a", "arguments": null}, {"name": "b", "arguments": "[1]"},)"
             R"( {"name": "c", "arguments": "oops"}, {"name": "d", "arguments": 5},)"
             R"( {"name": "e", "arguments": ""}, {"name": "f", "arguments": [true]}])"),
       R"([["a",{"raw":null},""],["b",{"raw":[1]},""],["c",{"raw":"oops"},""],)"
       R"(["d",{"raw":5},""],["e",{"raw":""},""],["f",{"raw":[true]},""]])"},
      {"argument key order is kept", block(R"([{"name": "a", "arguments": "{\"b\": 1, \"a\": 2}"}])"),
       R"([["a",{"b":1,"a":2},""]])"},
      // The JSON reader's messages reach the model with their positions,
      // counted within the trimmed body.
      {"reader message on line 3",
       block("{\n  \"tool_calls\": [\n    {\"name\": \"x\",}\n  ]\n}"),
       "error: trailing comma at line 3 column 18"},
      {"first line's indentation is trimmed away", block("    {\"tool_calls\": [}"),
       "error: expected value at line 1 column 17"},
      {"end of text", block("[{\"name\": \"x\""),
       "error: EOF while parsing an object at line 1 column 13"},
      {"127 nested arrays are read", block(nested_arrays(127)),
       "error: tool_calls contains no valid calls"},
      {"128 nested arrays", block(nested_arrays(128)),
       "error: recursion limit exceeded at line 1 column 128"},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(describe(parse_tool_calls(c.text)), c.expected);
  }
}

TEST(ParseToolCallsTest, PlaceholderAndRawWrapper) {
  const ToolCall placeholder = invalid_tool_call("missing tool_calls");
  EXPECT_EQ(placeholder.name, "__invalid_tool_calls__");
  EXPECT_EQ(to_json(JsonValue(placeholder.arguments)), R"({"error":"missing tool_calls"})");
  EXPECT_EQ(placeholder.id, "");
  EXPECT_EQ(to_json(wrap_raw_value(JsonArray{JsonValue(1)})), R"({"raw":[1]})");
}

struct KeyCase {
  const char* text;
  bool expected;
};

TEST(HasToolCallsKeyTest, WhatCountsAsTheKey) {
  const KeyCase cases[] = {
      {R"("tool_calls": [)", true},
      {"tool_calls :", true},
      {"{\"tool_calls\"\n  : []}", true},
      {"\"tool_calls\n:", true},  // one quote only: read as a bare key
      {"my_tool_calls: 1, tool_calls: 2", true},
      {"my_tool_calls:", false},
      {"'tool_calls':", false},
      {"tool_calls=", false},
      {R"("tool_calls" [)", false},
      {R"(x"tool_calls":)", false},
      {"tool_calls", false},
      {"tool_calls \v:", false},  // vertical tab is not skipped
      {"", false},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(has_tool_calls_key(c.text), c.expected);
  }
}

struct FenceCase {
  const char* name;
  std::string text;
  std::string tag;
  std::string expected;
};

TEST(ExtractFenceTest, Bodies) {
  const FenceCase cases[] = {
      {"no block", "plain text", "json", ""},
      {"empty body", "```json\n\n```", "json", ""},
      {"inner indentation is kept", "```json\n\n  {\n    \"a\": 1\n  }\n\n```", "json",
       "{\n    \"a\": 1\n  }"},
      {"four backticks open", "````json\n1\n```", "json", "1"},
      {"space before the tag opens nothing", "``` json\n1\n```", "json", ""},
      {"upper-case tag argument never matches", "```JSON\n1\n```", "JSON", ""},
      {"other tag skipped", "```python\nx\n```\n```json\n2\n```", "json", "2"},
      {"unclosed", "```json\n1\n", "json", std::string(kUnclosedFence)},
      {"first unclosed wins over later blocks", "```json\n1\n```json\n2\n", "json",
       std::string(kUnclosedFence)},
      {"text ending without a line feed", "```json\n1\n```", "json", "1"},
  };
  for (const FenceCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(extract_fence(c.text, c.tag), c.expected);
  }
}

}  // namespace
}  // namespace vostrel::tooling
