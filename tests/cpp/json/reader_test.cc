#include "json/reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "json/scan.h"
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
      {"negative overflow", "-1e400", "number out of range at line 1 column 6"},
      // An exponent beyond 32 bits stops the read at the digit that took it
      // there, when the value is not zero and the exponent not negative.
      {"huge exponent", "1e99999999999999999999", "number out of range at line 1 column 12"},
      {"huge exponent with sign", "[2.5E+21474836480]", "number out of range at line 1 column 16"},
      {"huge exponent after zeros", "0.0001e99999999999", "number out of range at line 1 column 17"},
      {"huge exponent of a long integer", "100000000000000000000e9999999999999",
       "number out of range at line 1 column 32"},
      {"largest 32-bit exponent", "1e2147483647", "number out of range at line 1 column 12"},
      {"just past the largest double", "1.7976931348623159e308", "number out of range at line 1 column 22"},
      {"400-digit integer", "1" + std::string(400, '0'), "number out of range at line 1 column 401"},
      // Strings are UTF-8; a bad byte is reported after the closing quote.
      {"invalid byte", "\"a\xff\"", "invalid unicode code point at line 1 column 4"},
      {"encoded surrogate", "\"\xed\xa0\x80\"", "invalid unicode code point at line 1 column 5"},
      {"overlong", "\"\xc0\xaf\"", "invalid unicode code point at line 1 column 4"},
      {"truncated sequence", "[\"\xe2\x82\"]", "invalid unicode code point at line 1 column 5"},
      {"lead cut short by the closing quote", "\"" + std::string(20, 'a') + "\xd0\"",
       "invalid unicode code point at line 1 column 23"},
      {"three-byte character cut short", "\"" + std::string(20, 'a') + "\xe6\x97\"x\"",
       "invalid unicode code point at line 1 column 24"},
      {"bad key bytes", "{\"\xff\":1}", "invalid unicode code point at line 1 column 4"},
      {"short hex escape", "\"\\u12\"", "EOF while parsing a string at line 1 column 6"},
      {"bad hex digit", "\"\\u12g4\"", "invalid escape at line 1 column 7"},
      {"leading surrogate then non-trailing", "\"\\ud800\\u0041\"",
       "lone leading surrogate in hex escape at line 1 column 13"},
      {"raw line feed in string", "\"a\nb\"", "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      // Only space, tab, line feed and carriage return count as white space.
      {"form feed after", "1\f", "trailing characters at line 1 column 2"},
      {"form feed before", "\f1", "expected value at line 1 column 1"},
      {"no-break space after", "1\xc2\xa0", "trailing characters at line 1 column 2"},
      {"second value", "{} {}", "trailing characters at line 1 column 4"},
      {"minus in list", "[-]", "invalid number at line 1 column 3"},
      {"exponent without digits", "1e", "EOF while parsing a value at line 1 column 2"},
      {"exponent sign only", "1e+x", "invalid number at line 1 column 4"},
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
  // Each input read back through the compact writer, which shows the kind:
  // integers bare, doubles with ".0" or an exponent.
  struct Case {
    const char* input;
    JsonType type;
    const char* written;
  } cases[] = {
      {"0", JsonType::kUInt, "0"},
      {"18446744073709551615", JsonType::kUInt, "18446744073709551615"},
      {"18446744073709551616", JsonType::kDouble, "1.8446744073709552e+19"},
      {"-1", JsonType::kInt, "-1"},
      {"-9223372036854775808", JsonType::kInt, "-9223372036854775808"},
      {"-9223372036854775809", JsonType::kDouble, "-9.223372036854776e+18"},
      {"-0", JsonType::kDouble, "-0.0"},
      {"-0.0", JsonType::kDouble, "-0.0"},
      {"1.0", JsonType::kDouble, "1.0"},
      {"1E2", JsonType::kDouble, "100.0"},
      {"1e+2", JsonType::kDouble, "100.0"},
      {"25e-1", JsonType::kDouble, "2.5"},
      {"1e-400", JsonType::kDouble, "0.0"},
      {"-1e-400", JsonType::kDouble, "-0.0"},
      {"1e-99999999999999999999", JsonType::kDouble, "0.0"},
      {"0e999999", JsonType::kDouble, "0.0"},
      {"0.000e99999999999999999999", JsonType::kDouble, "0.0"},
      {"-0e+99999999999999999999", JsonType::kDouble, "-0.0"},
      {"-1.5e-99999999999999999999", JsonType::kDouble, "-0.0"},
      {"2.5e-324", JsonType::kDouble, "5e-324"},
      {"1.7976931348623157e308", JsonType::kDouble, "1.7976931348623157e+308"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    auto v = parse_json(c.input);
    ASSERT_TRUE(v.ok()) << v.error().message;
    EXPECT_EQ(v->type(), c.type);
    EXPECT_EQ(to_json(*v), c.written);
  }
  EXPECT_TRUE(std::signbit(parse_json("-1e-400")->as_double()));
  EXPECT_NE(*parse_json("1"), *parse_json("1.0"));
}

TEST(JsonReaderTest, StringsAndWhiteSpace) {
  struct Case {
    const char* name;
    std::string input;
    std::string value;
  } cases[] = {
      {"simple escapes", R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
      {"bmp escapes", R"("\u00e9\u00E9\u20ac")", "\u00e9\u00e9\u20ac"},
      {"nul escape", R"("a\u0000b")", std::string("a\0b", 3)},
      {"escaped backslash before the closing quote", R"("a\\")", "a\\"},
      {"escaped quotes in a long string", R"("start \"quoted\" \\\" and \\ then more text to cross blocks")",
       "start \"quoted\" \\\" and \\ then more text to cross blocks"},
      {"surrogate pair", R"("\ud83d\ude00")", "\U0001F600"},
      {"upper-case surrogate pair", R"("\uD83D\uDE00")", "\U0001F600"},
      {"raw UTF-8 kept", "\"h\xc3\xa9 \xf0\x9f\x98\x80 \xe2\x80\xa8\"", "h\u00e9 \U0001F600 \u2028"},
      {"DEL is not a control character", "\"\x7f\"", "\x7f"},
      {"surrounding white space", " \t\r\n\"x\" \n\t\r ", "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto v = parse_json(c.input);
    ASSERT_TRUE(v.ok()) << v.error().message;
    ASSERT_TRUE(v->is_string());
    EXPECT_EQ(v->as_string(), c.value);
  }
}

TEST(JsonReaderTest, RepeatedKeyKeepsFirstPositionTakesLastValue) {
  auto v = parse_json(R"({"a":1,"b":2,"a":3})");
  ASSERT_TRUE(v.ok());
  EXPECT_EQ(to_json(*v), R"({"a":3,"b":2})");
}

}  // namespace
}  // namespace vostrel

namespace vostrel {
namespace {

// Well-formed UTF-8 by the definition: each code point in its shortest form,
// no surrogates, nothing above U+10FFFF.
bool reference_valid_utf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t len;
    char32_t cp, min;
    if (b0 < 0x80) { ++i; continue; }
    if ((b0 & 0xE0) == 0xC0) { len = 2; cp = b0 & 0x1F; min = 0x80; }
    else if ((b0 & 0xF0) == 0xE0) { len = 3; cp = b0 & 0x0F; min = 0x800; }
    else if ((b0 & 0xF8) == 0xF0) { len = 4; cp = b0 & 0x07; min = 0x10000; }
    else return false;
    if (i + len > s.size()) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const auto b = static_cast<unsigned char>(s[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

// The reader's UTF-8 check against the definition, on random strings built
// from the bytes that matter (ASCII, every kind of lead and continuation
// byte, the bounds of the special ranges), long enough to cross the
// scanner's sixteen-byte blocks; the writers' output of each accepted string
// must read back to it.
TEST(JsonReaderTest, Utf8AgreesWithDefinition) {
  const unsigned char pool[] = {'a', ' ', '.', 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0,
                                0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1,
                                0xF3, 0xF4, 0xF5, 0xFF};
  const char* const characters[] = {"\xd0\xb4", "\xe6\x97\xa5", "\xf0\x9f\x98\x80", "\xe2\x80\x94", "\xc3\xa9",
                                    "\xf3\xa0\x80\x81", "a", " ", "\xe0\xa4\x95", "\xed\x9f\xbf", "\xf4\x8f\xbf\xbf"};
  // Sequences of the right shape that are still malformed: overlong forms,
  // surrogates, beyond U+10FFFF.
  const char* const near_misses[] = {"\xe0\x80\x80", "\xe0\x9f\xbf", "\xed\xa0\x80", "\xed\xbf\xbf",
                                     "\xf0\x80\x80\x80", "\xf0\x8f\xbf\xbf", "\xf4\x90\x80\x80",
                                     "\xf4\x9f\xbf\xbf", "\xc1\xbf"};
  std::mt19937 rng(7);
  int valid = 0;
  for (int round = 0; round < 30000; ++round) {
    std::string text;
    // Short and long strings; in long ones a stray byte is rare, so that
    // whole blocks of valid text are common and a fault deep inside counts.
    const int len = static_cast<int>(round % 2 == 0 ? rng() % 40 : rng() % 200);
    const unsigned stray = round % 2 == 0 ? 3 : 60;
    for (int k = 0; k < len; ++k) {
      if (rng() % stray == 0) {
        text += static_cast<char>(pool[rng() % sizeof pool]);
      } else if (rng() % stray == 0) {
        text += near_misses[rng() % (sizeof near_misses / sizeof near_misses[0])];
      } else {
        text += characters[rng() % (sizeof characters / sizeof characters[0])];
      }
    }
    // Sometimes a stray byte right before the closing quote.
    if (rng() % 8 == 0) text += static_cast<char>(pool[rng() % sizeof pool]);
    const bool expected = reference_valid_utf8(text);
    valid += expected;
    {
      // The sixteen-byte scan, which machines without AVX2 use throughout,
      // agrees with the one in use here.
      const std::string quoted = text + "\"";
      const char* b = quoted.data();
      const char* e = b + quoted.size();
      const json_scan::Stop narrow_scan = json_scan::scan_string_blocks16(b, e);
      const json_scan::Stop used_scan = json_scan::scan_string(b, e);
      ASSERT_EQ(narrow_scan.at, used_scan.at) << ::testing::PrintToString(text);
      ASSERT_EQ(narrow_scan.bad_len, used_scan.bad_len) << ::testing::PrintToString(text);
    }
    auto v = parse_json("\"" + text + "\"");
    ASSERT_EQ(v.ok(), expected) << ::testing::PrintToString(text);
    if (!expected) {
      EXPECT_TRUE(v.error().message.starts_with("invalid unicode code point")) << v.error().message;
      // Escaped output never carries the bad bytes: it reads back, with U+FFFD.
      std::string ascii;
      write_json_string(ascii, text, true);
      auto back = parse_json(ascii);
      ASSERT_TRUE(back.ok()) << ascii;
      EXPECT_NE(back->as_string().find("\xef\xbf\xbd"), std::string::npos);
      continue;
    }
    EXPECT_EQ(v->as_string(), text);
    std::string ascii;
    write_json_string(ascii, text, true);
    EXPECT_EQ(parse_json(ascii)->as_string(), text);
  }
  EXPECT_GT(valid, 1000);
}

}  // namespace
}  // namespace vostrel
