#include "json/reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "json/writer.h"

namespace vostrel {
namespace {

struct ErrorCase {
  const char* name;
  std::string input;
  std::string expected;
};

TEST(JsonReaderTest, ErrorMessagesAndPositions) {
  const ErrorCase cases[] = {
      {"empty", "", "EOF while parsing a value at line 1 column 0"},
      {"trailing", "1 x", "trailing characters at line 1 column 3"},
      {"bad value", "x", "expected value at line 1 column 1"},
      {"ident", "nulx", "expected ident at line 1 column 4"},
      {"eof ident", "tru", "EOF while parsing a value at line 1 column 3"},
      {"leading zero", "01", "invalid number at line 1 column 2"},
      {"minus alone", "-", "EOF while parsing a value at line 1 column 1"},
      {"minus letter", "-a", "invalid number at line 1 column 2"},
      {"dot eof", "1.", "EOF while parsing a value at line 1 column 2"},
      {"dot letter", "1.a", "invalid number at line 1 column 3"},
      {"list eof", "[1", "EOF while parsing a list at line 1 column 2"},
      {"list sep", "[1 2]", "expected `,` or `]` at line 1 column 4"},
      {"list trailing comma", "[1,]", "trailing comma at line 1 column 4"},
      {"object eof", "{", "EOF while parsing an object at line 1 column 1"},
      {"object key", "{1:2}", "key must be a string at line 1 column 2"},
      {"object colon", "{\"a\" 1}", "expected `:` at line 1 column 6"},
      {"object sep", "{\"a\":1 \"b\"}", "expected `,` or `}` at line 1 column 8"},
      {"object trailing comma", "{\"a\":1,}", "trailing comma at line 1 column 8"},
      {"string eof", "\"abc", "EOF while parsing a string at line 1 column 4"},
      {"control", "\"a\tb\"", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {"bad escape", "\"\\q\"", "invalid escape at line 1 column 3"},
      {"lone trailing", "\"\\udc00\"", "lone leading surrogate in hex escape at line 1 column 7"},
      {"unpaired leading", "\"\\ud800x\"", "unexpected end of hex escape at line 1 column 8"},
      {"second line", "[\n  1,\n  ]", "trailing comma at line 3 column 3"},
      {"overflow", "1e400", "number out of range at line 1 column 5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    JsonValue v;
    JsonParseError err;
    ASSERT_FALSE(parse_json(c.input, v, err));
    EXPECT_EQ(err.text(), c.expected);
  }
}

TEST(JsonReaderTest, DepthLimit) {
  std::string ok = std::string(127, '[') + std::string(127, ']');
  EXPECT_TRUE(parse_json(ok).ok());
  std::string deep = std::string(128, '[') + std::string(128, ']');
  auto r = parse_json(deep);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message, "recursion limit exceeded at line 1 column 128");
}

TEST(JsonReaderTest, NumberKinds) {
  EXPECT_TRUE(parse_json("18446744073709551615")->is_u64());
  EXPECT_TRUE(parse_json("-9223372036854775808")->is_i64());
  EXPECT_TRUE(parse_json("18446744073709551616")->is_double());
  EXPECT_TRUE(parse_json("-0")->is_double());
  EXPECT_TRUE(std::signbit(parse_json("-0")->as_double()));
  EXPECT_EQ(parse_json("1e-400")->as_double(), 0.0);
  EXPECT_NE(*parse_json("1"), *parse_json("1.0"));
}

TEST(JsonReaderTest, RepeatedKeyKeepsFirstPositionTakesLastValue) {
  auto v = parse_json(R"({"a":1,"b":2,"a":3})");
  ASSERT_TRUE(v.ok());
  EXPECT_EQ(to_json(*v), R"({"a":3,"b":2})");
}

}  // namespace
}  // namespace vostrel
