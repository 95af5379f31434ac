#include "orchestrator/closing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"

namespace vostrel::orchestrator {
namespace {

using Fields = std::vector<harness::ResultField>;

TEST(ClosingPrompts, SummaryAndRethink) {
  const std::string base =
      "The session has ended. Provide a final, neutral summary of the discussion and any "
      "conclusions reached, in 3-5 sentences.";
  EXPECT_EQ(base.size(), 120u);
  EXPECT_EQ(closing_summary_prompt({}), base);
  EXPECT_EQ(closing_summary_prompt({{"verdict", "str", "pass or fail"}, {"score", "integer", ""}}),
            base +
                "\n\nThen, after the summary, append a fenced JSON block with exactly these "
                "fields:\n\n```json\n{\n  \"verdict\": <str>   // pass or fail\n  \"score\": "
                "<integer>\n}\n```");

  const std::string no_fields = closing_rethink_prompt("My draft.", 0);
  EXPECT_TRUE(no_fields.starts_with("Your draft summary:\n\nMy draft.\n\nThat was a draft."));
  EXPECT_TRUE(no_fields.ends_with("If the draft was already right, say so by repeating it."));
  EXPECT_EQ(no_fields.size(), std::string("Your draft summary:\n\nMy draft.\n\n").size() + 483);
  const std::string with_fields = closing_rethink_prompt("My draft.", 1);
  EXPECT_EQ(with_fields,
            no_fields + " Re-check the JSON block against your revised summary and include it, "
                        "in the same format, below the summary.");
}

TEST(ResultTypes, NamesAreExact) {
  EXPECT_EQ(result_type_from_name("string"), ResultType::kStr);
  EXPECT_EQ(result_type_from_name("integer"), ResultType::kInt);
  EXPECT_EQ(result_type_from_name("number"), ResultType::kFloat);
  EXPECT_EQ(result_type_from_name("boolean"), ResultType::kBool);
  EXPECT_EQ(result_type_from_name("list"), ResultType::kList);
  EXPECT_EQ(result_type_from_name("dict"), ResultType::kDict);
  EXPECT_EQ(result_type_from_name("Int"), std::nullopt);
  EXPECT_EQ(result_type_from_name("text"), std::nullopt);
}

// One field, one value in a result block: what the value becomes.
TEST(ExtractResultFields, Coercion) {
  struct Case {
    const char* type;
    const char* value;     // JSON text in the block
    const char* expected;  // compact JSON of the coerced value
  };
  const std::vector<Case> cases = {
      {"str", R"("pass")", R"("pass")"},
      {"str", "3", R"("3")"},
      {"str", "3.0", R"("3.0")"},
      {"str", "true", R"("true")"},
      {"str", R"({"a":1})", R"("{\"a\": 1}")"},
      {"str", R"([1,"x"])", R"("[1, \"x\"]")"},
      {"int", R"(" 7 ")", "7"},
      {"int", R"("+4")", "4"},
      {"int", R"("3.5")", "0"},
      {"int", R"("9223372036854775808")", "0"},
      {"int", "3.5", "3"},
      {"int", "3.0", "3"},
      {"int", "-2.9", "-2"},
      {"int", "1e300", "9223372036854775807"},
      {"int", "18446744073709551615", "9223372036854775807"},
      {"int", "-5", "-5"},
      {"int", "true", "0"},
      {"int", "[1]", "0"},
      {"float", "7", "7.0"},
      {"float", R"("1e3")", "1000.0"},
      {"float", R"(" -.5 ")", "-0.5"},
      {"float", R"("inf")", "null"},
      {"float", R"("NaN")", "null"},
      {"float", R"("abc")", "0.0"},
      {"float", R"("1e")", "0.0"},
      {"float", "false", "0.0"},
      {"bool", R"("Yes")", "true"},
      {"bool", R"("  TRUE ")", "true"},
      {"bool", R"("1")", "true"},
      {"bool", R"("y")", "false"},
      {"bool", "1", "true"},
      {"bool", "1.0", "false"},
      {"bool", "2", "false"},
      {"bool", "false", "false"},
      {"bool", "{}", "false"},
      {"list", R"("a")", R"(["a"])"},
      {"list", "[1,2]", "[1,2]"},
      {"list", R"({"a":1})", R"([{"a":1}])"},
      {"dict", "[1]", "{}"},
      {"dict", R"({"a":[1]})", R"({"a":[1]})"},
      {"str", "null", R"("")"},
      {"int", "null", "0"},
      {"dict", "null", "{}"},
      {"mystery", "5", R"("5")"},  // an unknown type name reads as str
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " <- " + c.value);
    const std::string reply = std::string("Summary.\n\n```json\n{\"f\": ") + c.value + "}\n```";
    const JsonObject fields = extract_result_fields(reply, {{"f", c.type, ""}});
    ASSERT_EQ(fields.size(), 1u);
    EXPECT_EQ(to_json(*fields.find("f")), c.expected);
  }
}

TEST(ExtractResultFields, FindingTheBlock) {
  const Fields fields = {{"verdict", "str", ""}, {"score", "int", ""}};
  struct Case {
    const char* name;
    std::string reply;
    std::string expected;
    std::string summary;
  };
  const std::vector<Case> cases = {
      {"fenced block", "One sentence.\n\n```json\n{\"verdict\": \"pass\", \"score\": \"7\"}\n```",
       R"({"verdict":"pass","score":7})", "One sentence."},
      {"untagged fence", "S.\n```\n{\"score\": 2}\n```\nAfter.", R"({"verdict":"","score":2})",
       "S.\n\nAfter."},
      {"brace fallback", "S. {\"verdict\": \"fail\", \"score\": 1}", R"({"verdict":"fail","score":1})",
       "S. {\"verdict\": \"fail\", \"score\": 1}"},
      {"nested object defeats the fallback", "S. {\"verdict\": {\"x\": 1}, \"score\": 1}",
       R"({"verdict":"","score":0})", "S. {\"verdict\": {\"x\": 1}, \"score\": 1}"},
      {"two blocks: the first wins, both removed",
       "A\n```json\n{\"score\": 1}\n```\nB\n```json\n{\"score\": 2}\n```",
       R"({"verdict":"","score":1})", "A\n\nB"},
      {"unreadable block falls back to the last braces",
       "```json\n{not json}\n```\n{\"score\": 5}", R"({"verdict":"","score":5})",
       "{\"score\": 5}"},
      {"no object", "Just words.", R"({"verdict":"","score":0})", "Just words."},
      {"lazy capture stops at the first closing fence",
       "```json\n{\"score\": 3}\n```\ntext }\n```", R"({"verdict":"","score":3})", "text }\n```"},
      {"a fence that opens no block is kept",
       "```\nnot a block\n```\nS.\n```json\n{\"score\": 6}\n```\n", R"({"verdict":"","score":6})",
       "```\nnot a block\n```\nS."},
      {"unicode white space before the line feed",
       "S.\n```json\xC2\xA0\n{\"score\": 4}\xE3\x80\x80\n```", R"({"verdict":"","score":4})", "S."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(to_json(extract_result_fields(c.reply, fields)), c.expected);
    EXPECT_EQ(strip_result_fence(c.reply), c.summary);
  }
  // No declared fields: nothing is read.
  EXPECT_TRUE(extract_result_fields("```json\n{\"a\": 1}\n```", {}).empty());
  // A name declared twice keeps its first position and its later type.
  EXPECT_EQ(to_json(extract_result_fields("{\"a\": \"2\", \"b\": 1}",
                                          {{"a", "str", ""}, {"b", "int", ""}, {"a", "int", ""}})),
            R"({"a":2,"b":1})");
  // Zero values of every type.
  EXPECT_EQ(to_json(extract_result_fields("nothing", {{"s", "string", ""},
                                                      {"i", "integer", ""},
                                                      {"f", "number", ""},
                                                      {"b", "boolean", ""},
                                                      {"l", "list", ""},
                                                      {"d", "dict", ""}})),
            R"({"s":"","i":0,"f":0.0,"b":false,"l":[],"d":{}})");
}

}  // namespace
}  // namespace vostrel::orchestrator
