#include "json/writer.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "json/reader.h"
#include "support/json_test_util.h"

namespace vostrel {
namespace {

using test_support::parse_or_fail;

TEST(JsonWriterTest, DoubleLayout) {
  struct Case {
    double value;
    const char* json;   // the JSON layout
    const char* plain;  // always plain
  } cases[] = {
      {0.0, "0.0", "0.0"},
      {-0.0, "-0.0", "-0.0"},
      {1.0, "1.0", "1.0"},
      {100.0, "100.0", "100.0"},
      {0.1, "0.1", "0.1"},
      {2.5, "2.5", "2.5"},
      {-2.5, "-2.5", "-2.5"},
      // Plain from decimal exponent -5 to 15, exponent form outside.
      {1e-5, "0.00001", "0.00001"},
      {1.25e-5, "0.0000125", "0.0000125"},
      {1e-6, "1e-6", "0.000001"},
      {1.5e-7, "1.5e-7", "0.00000015"},
      {1e15, "1000000000000000.0", "1000000000000000.0"},
      {1.5e15, "1500000000000000.0", "1500000000000000.0"},
      {1e16, "1e+16", "10000000000000000.0"},
      {-1e16, "-1e+16", "-10000000000000000.0"},
      {123456789012345680.0, "1.2345678901234568e+17", "123456789012345680.0"},
      {1e21, "1e+21", "1000000000000000000000.0"},
      {5e-324, "5e-324", nullptr},
      {std::numeric_limits<double>::max(), "1.7976931348623157e+308", nullptr},
      {std::numeric_limits<double>::infinity(), "null", "null"},
      {std::nan(""), "null", "null"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    std::string json, plain;
    append_double(json, c.value, DoubleLayout::kJson);
    append_double(plain, c.value, DoubleLayout::kPlain);
    EXPECT_EQ(json, c.json);
    if (c.plain != nullptr) {
      EXPECT_EQ(plain, c.plain);
    }
  }
  std::string tiny;
  append_double(tiny, 5e-324, DoubleLayout::kPlain);
  EXPECT_EQ(tiny, "0." + std::string(323, '0') + "5");
}

// Every finite double written in either layout reads back to the same bits.
TEST(JsonWriterTest, DoublesRoundTrip) {
  std::mt19937_64 rng(20261210);
  for (int i = 0; i < 200000; ++i) {
    const double d = std::bit_cast<double>(rng());
    if (!std::isfinite(d)) continue;
    for (DoubleLayout layout : {DoubleLayout::kJson, DoubleLayout::kPlain}) {
      std::string text;
      append_double(text, d, layout);
      auto back = parse_json(text);
      ASSERT_TRUE(back.ok()) << text;
      ASSERT_TRUE(back->is_double()) << text;
      ASSERT_EQ(std::bit_cast<std::uint64_t>(back->as_double()), std::bit_cast<std::uint64_t>(d)) << text;
    }
  }
}

TEST(JsonWriterTest, Strings) {
  struct Case {
    const char* name;
    std::string text;
    const char* utf8;   // compact and pretty
    const char* ascii;  // Python style
  } cases[] = {
      {"plain", "abc", R"("abc")", R"("abc")"},
      {"quote and backslash", "a\"b\\c/", R"("a\"b\\c/")", R"("a\"b\\c/")"},
      {"named controls", "\b\t\n\f\r", R"("\b\t\n\f\r")", R"("\b\t\n\f\r")"},
      {"other controls", std::string("\0\x01\x1b\x1f", 4), R"("\u0000\u0001\u001b\u001f")",
       R"("\u0000\u0001\u001b\u001f")"},
      {"DEL kept", "\x7f", "\"\x7f\"", "\"\x7f\""},
      {"tab DEL e-acute", "\t\x7f\u00e9", "\"\\t\x7f\u00e9\"", R"("\t)" "\x7f" R"(\u00e9")"},
      {"astral", "\U0001F600", "\"\U0001F600\"", R"("\ud83d\ude00")"},
      {"line separator", "\u2028", "\"\u2028\"", R"("\u2028")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string utf8, ascii;
    write_json_string(utf8, c.text, false);
    write_json_string(ascii, c.text, true);
    EXPECT_EQ(utf8, c.utf8);
    EXPECT_EQ(ascii, c.ascii);
    EXPECT_EQ(parse_or_fail(utf8).as_string(), c.text);
    EXPECT_EQ(parse_or_fail(ascii).as_string(), c.text);
  }
}

TEST(JsonWriterTest, Layouts) {
  const JsonValue v = parse_or_fail(
      R"({"b":[1,-2,2.5,true,null,{"x":[]},{}],"a":"\u00e9","empty":{"k":[[]]}})");
  EXPECT_EQ(to_json(v), R"({"b":[1,-2,2.5,true,null,{"x":[]},{}],"a":"é","empty":{"k":[[]]}})");
  EXPECT_EQ(to_json_pretty(v),
            "{\n"
            "  \"b\": [\n"
            "    1,\n"
            "    -2,\n"
            "    2.5,\n"
            "    true,\n"
            "    null,\n"
            "    {\n"
            "      \"x\": []\n"
            "    },\n"
            "    {}\n"
            "  ],\n"
            "  \"a\": \"é\",\n"
            "  \"empty\": {\n"
            "    \"k\": [\n"
            "      []\n"
            "    ]\n"
            "  }\n"
            "}");
  std::string python;
  write_json(python, v, kPythonStyle);
  EXPECT_EQ(python, R"({"b": [1, -2, 2.5, true, null, {"x": []}, {}], "a": "\u00e9", "empty": {"k": [[]]}})");
  EXPECT_EQ(to_json(JsonValue::array()), "[]");
  EXPECT_EQ(to_json_pretty(JsonValue::object()), "{}");
  EXPECT_EQ(to_json(JsonValue(std::numeric_limits<std::uint64_t>::max())), "18446744073709551615");
  EXPECT_EQ(to_json(JsonValue(std::numeric_limits<std::int64_t>::min())), "-9223372036854775808");
}

TEST(JsonWriterTest, DocumentsRoundTrip) {
  const char* docs[] = {
      R"({"identity":{"topic":"Tee \u00e9 \ud83d\ude00","n":[0,18446744073709551615,-9223372036854775808]},)"
      R"("turns":[{"role":"assistant","speaker":"Ann","content":"line\nnext\t\"q\"","round_idx":3,)"
      R"("msg_type":"turn"}],"x":[1.0,0.1,1e-7,1e300,-0.0,5e-324,[[[{}]]]]})",
      "[]",
      R"("\u0000")",
      "-1.5",
  };
  for (const char* doc : docs) {
    SCOPED_TRACE(doc);
    const JsonValue v = parse_or_fail(doc);
    EXPECT_EQ(parse_or_fail(to_json(v)), v);
    EXPECT_EQ(parse_or_fail(to_json_pretty(v)), v);
    std::string python;
    write_json(python, v, kPythonStyle);
    EXPECT_EQ(parse_or_fail(python), v);
    EXPECT_EQ(to_json(parse_or_fail(to_json(v))), to_json(v));
  }
}

}  // namespace
}  // namespace vostrel
