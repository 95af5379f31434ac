// The command splitter, against Python's shlex.split where both follow the
// POSIX shell rules (tools/gen_split_cases.py writes the expected words), and
// by hand where the shell rules and shlex part ways.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "exec/split.h"
#include "json/reader.h"
#include "json/value.h"

namespace vostrel {
namespace {

TEST(SplitCommandWords, MatchesShlex) {
  std::ifstream in(std::string(VOSTREL_TEST_DATA_DIR) + "/split_cases.json");
  ASSERT_TRUE(in) << "missing split_cases.json";
  std::stringstream text;
  text << in.rdbuf();
  Result<JsonValue> cases = parse_json(text.str());
  ASSERT_TRUE(cases.ok()) << cases.error().message;
  ASSERT_TRUE(cases->is_array());
  ASSERT_GT(cases->as_array().size(), 30u);
  for (const JsonValue& c : cases->as_array()) {
    const std::string& input = c.as_object().find("input")->as_string();
    SCOPED_TRACE(input);
    SplitResult r = split_command_words(input);
    if (const JsonValue* error = c.as_object().find("error")) {
      EXPECT_EQ(r.error, error->as_string());
      continue;
    }
    ASSERT_TRUE(r.ok()) << r.error;
    std::vector<std::string> expected;
    for (const JsonValue& w : c.as_object().find("words")->as_array()) expected.push_back(w.as_string());
    EXPECT_EQ(r.words, expected);
  }
}

TEST(SplitCommandWords, ShellRulesWhereShlexDiffers) {
  struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> words;
  };
  const std::vector<Case> cases = {
      {"backslash-newline vanishes outside quotes", "ab\\\ncd ef", {"abcd", "ef"}},
      {"backslash-newline between words", "ab \\\n cd", {"ab", "cd"}},
      {"backslash-newline vanishes in double quotes", "\"ab\\\ncd\"", {"abcd"}},
      {"dollar and backtick escaped in double quotes", "\"\\$HOME \\`x\\`\"", {"$HOME `x`"}},
      {"no expansion at all", "echo $HOME ~ *.txt", {"echo", "$HOME", "~", "*.txt"}},
      {"trailing lone backslash kept", "echo a\\", {"echo", "a\\"}},
      {"lone backslash word", "\\", {"\\"}},
      {"hash inside a word is literal", "a#b c", {"a#b", "c"}},
      {"hash after a quote is literal", "''#x", {"#x"}},
      {"carriage return is not a separator", "a\rb c", {"a\rb", "c"}},
      {"form feed is not a separator", "a\fb", {"a\fb"}},
      {"non-breaking space is not a separator", "a\u00a0b", {"a\u00a0b"}},
      {"NUL bytes are kept", std::string("a\0b c", 5), {std::string("a\0b", 3), "c"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SplitResult r = split_command_words(c.input);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.words, c.words);
  }
  EXPECT_EQ(split_command_words("echo \"a\\\"").error, "missing closing quote");
}

}  // namespace
}  // namespace vostrel
