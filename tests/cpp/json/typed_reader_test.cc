#include "json/typed_reader.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/json_test_util.h"

namespace vostrel::json {
namespace {

using test_support::error_of;
using test_support::parse_or_fail;

TEST(TypedReaderTest, DescribesFoundValues) {
  struct Case {
    const char* json;
    const char* expected;
  } cases[] = {
      {"null", "null"},
      {"true", "boolean `true`"},
      {"false", "boolean `false`"},
      {"5", "integer `5`"},
      {"-5", "integer `-5`"},
      {"18446744073709551615", "integer `18446744073709551615`"},
      {"3.0", "floating point `3.0`"},
      {"-0.0", "floating point `-0.0`"},
      {"1e16", "floating point `10000000000000000.0`"},
      {"1.5e-7", "floating point `0.00000015`"},
      {"\"abc\"", "string \"abc\""},
      {R"("a\"b\\c\nd\te\u0001\u007f\u0085é")", R"(string "a\"b\\c\nd\te\u{1}\u{7f}\u{85}é")"},
      {"[]", "sequence"},
      {"{}", "map"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(describe_found(parse_or_fail(c.json)), c.expected);
  }
}

TEST(TypedReaderTest, NameLists) {
  constexpr std::string_view one[] = {"a"};
  constexpr std::string_view two[] = {"a", "b"};
  constexpr std::string_view three[] = {"a", "b", "c"};
  EXPECT_EQ(name_list(one), "`a`");
  EXPECT_EQ(name_list(two), "`a` or `b`");
  EXPECT_EQ(name_list(three), "one of `a`, `b`, `c`");
  EXPECT_EQ(unknown_field("x", {}).message, "unknown field `x`, there are no fields");
  EXPECT_EQ(unknown_variant("x", {}).message, "unknown variant `x`, there are no variants");
  EXPECT_EQ(unknown_variant("X", three).message, "unknown variant `X`, expected one of `a`, `b`, `c`");
  EXPECT_EQ(unknown_field("x", two).message, "unknown field `x`, expected `a` or `b`");
}

TEST(TypedReaderTest, Scalars) {
  struct Case {
    const char* name;
    const char* json;
    std::string (*read)(const JsonValue&);
    const char* expected;
  };
  auto str = [](const JsonValue& v) {
    std::string s;
    auto st = read_string(v, s);
    return st.ok() ? s : st.error().message;
  };
  auto boolean = [](const JsonValue& v) {
    bool b = false;
    auto st = read_bool(v, b);
    return st.ok() ? std::string(b ? "true" : "false") : st.error().message;
  };
  auto i64 = [](const JsonValue& v) {
    std::int64_t i = 0;
    auto st = read_i64(v, i);
    return st.ok() ? std::to_string(i) : st.error().message;
  };
  auto u16 = [](const JsonValue& v) {
    std::uint16_t i = 0;
    auto st = read_u16(v, i);
    return st.ok() ? std::to_string(i) : st.error().message;
  };
  auto u64 = [](const JsonValue& v) {
    std::uint64_t i = 0;
    auto st = read_u64(v, i);
    return st.ok() ? std::to_string(i) : st.error().message;
  };
  auto map = [](const JsonValue& v) {
    JsonObject o;
    auto st = read_map(v, o);
    return st.ok() ? std::to_string(o.size()) : st.error().message;
  };
  const Case cases[] = {
      {"string", "\"x\"", str, "x"},
      {"string from int", "1", str, "invalid type: integer `1`, expected a string"},
      {"bool", "true", boolean, "true"},
      {"bool from int", "0", boolean, "invalid type: integer `0`, expected a boolean"},
      {"i64 max", "9223372036854775807", i64, "9223372036854775807"},
      {"i64 min", "-9223372036854775808", i64, "-9223372036854775808"},
      {"i64 above max", "9223372036854775808", i64,
       "invalid value: integer `9223372036854775808`, expected i64"},
      {"i64 from whole double", "3.0", i64, "invalid type: floating point `3.0`, expected i64"},
      {"i64 negative", "-1", i64, "-1"},
      {"i64 from string", "\"3\"", i64, "invalid type: string \"3\", expected i64"},
      {"u16 max", "65535", u16, "65535"},
      {"u16 above", "70000", u16, "invalid value: integer `70000`, expected u16"},
      {"u16 negative", "-1", u16, "invalid value: integer `-1`, expected u16"},
      {"u64 max", "18446744073709551615", u64, "18446744073709551615"},
      {"u64 beyond is a double", "18446744073709551616", u64,
       "invalid type: floating point `18446744073709552000.0`, expected u64"},
      {"map", "{\"a\":1}", map, "1"},
      {"map from array", "[]", map, "invalid type: sequence, expected a map"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.read(parse_or_fail(c.json)), c.expected);
  }
}

TEST(TypedReaderTest, OptionalStringAndLists) {
  std::optional<std::string> o = "keep";
  ASSERT_TRUE(read_optional_string(JsonValue(), o).ok());
  EXPECT_FALSE(o.has_value());
  ASSERT_TRUE(read_optional_string(JsonValue(""), o).ok());
  EXPECT_EQ(o, std::optional<std::string>(""));

  std::optional<std::uint32_t> limit = 3;
  ASSERT_TRUE(read_optional(JsonValue(7), limit, read_u32).ok());
  EXPECT_EQ(limit, std::optional<std::uint32_t>(7));
  EXPECT_EQ(error_of(read_optional(JsonValue(-1), limit, read_u32)),
            "invalid value: integer `-1`, expected u32");

  std::vector<std::string> items;
  ASSERT_TRUE(read_list(parse_or_fail(R"(["a","b"])"), items, read_string).ok());
  EXPECT_EQ(items, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(error_of(read_list(parse_or_fail(R"({"a":1})"), items, read_string)),
            "invalid type: map, expected a sequence");
  EXPECT_EQ(error_of(read_list(parse_or_fail(R"(["a",2,null])"), items, read_string)),
            "invalid type: integer `2`, expected a string");
}

TEST(TypedReaderTest, Variants) {
  constexpr std::string_view kNames[] = {"text", "openai", "anthropic"};
  struct Case {
    const char* json;
    bool empty_map;
    const char* expected;  // variant index or message
  } cases[] = {
      {"\"openai\"", false, "1"},
      {"\"OpenAI\"", false, "unknown variant `OpenAI`, expected one of `text`, `openai`, `anthropic`"},
      {R"({"anthropic":null})", false, "2"},
      {R"({"anthropic":{}})", false, "invalid type: map, expected unit variant"},
      {R"({"anthropic":{}})", true, "2"},
      {R"({"anthropic":1})", true, "invalid type: integer `1`, expected unit variant"},
      {R"({"nope":null})", false, "unknown variant `nope`, expected one of `text`, `openai`, `anthropic`"},
      {"{}", false, "invalid value: map, expected map with a single key"},
      {R"({"text":null,"openai":null})", false, "invalid value: map, expected map with a single key"},
      {"3", false, "invalid type: integer `3`, expected string or map"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    auto r = read_unit_variant(parse_or_fail(c.json), kNames, c.empty_map);
    EXPECT_EQ(r.ok() ? std::to_string(*r) : r.error().message, c.expected);
  }
  EXPECT_EQ(error_of(read_variant_name(JsonValue(1), kNames)),
            "invalid type: integer `1`, expected variant identifier");
}

// A record with a required text, a required count and an optional text.
struct Sample {
  std::string name;
  std::int64_t count = 0;
  std::optional<std::string> note;
};

constexpr std::string_view kSampleFields[] = {"name", "count", "note"};

Result<Sample> read_sample(const JsonValue& v, UnknownKeys unknown) {
  const RecordShape shape{"struct Sample", kSampleFields, unknown, /*optional_fields=*/0b100};
  Sample out;
  VOSTREL_TRY(read_record(v, shape, [&](std::size_t field, const JsonValue& x) -> Status {
    switch (field) {
      case 0: return read_string(x, out.name);
      case 1: return read_i64(x, out.count);
      default: return read_optional_string(x, out.note);
    }
  }));
  return out;
}

TEST(TypedReaderTest, Records) {
  struct Case {
    const char* name;
    const char* json;
    UnknownKeys unknown;
    const char* expected;
  } cases[] = {
      {"object", R"({"count":2,"name":"a"})", UnknownKeys::kIgnore, "a/2/-"},
      {"optional present", R"({"name":"a","count":2,"note":"n"})", UnknownKeys::kIgnore, "a/2/n"},
      {"optional null", R"({"name":"a","count":2,"note":null})", UnknownKeys::kIgnore, "a/2/-"},
      {"unknown ignored whatever its value", R"({"name":"a","x":[{}],"count":2})", UnknownKeys::kIgnore,
       "a/2/-"},
      {"unknown refused", R"({"name":"a","x":1,"count":2})", UnknownKeys::kRefuse,
       "unknown field `x`, expected one of `name`, `count`, `note`"},
      {"first absent required field", R"({"note":"n"})", UnknownKeys::kIgnore, "missing field `name`"},
      {"second absent", R"({"name":"a"})", UnknownKeys::kIgnore, "missing field `count`"},
      {"type error before missing", R"({"count":"2"})", UnknownKeys::kIgnore,
       "invalid type: string \"2\", expected i64"},
      {"unknown key before type error", R"({"x":1,"count":"2"})", UnknownKeys::kRefuse,
       "unknown field `x`, expected one of `name`, `count`, `note`"},
      {"array", R"(["a",2,null])", UnknownKeys::kIgnore, "a/2/-"},
      {"array short", R"(["a",2])", UnknownKeys::kIgnore,
       "invalid length 2, expected struct Sample with 3 elements"},
      {"array empty", "[]", UnknownKeys::kIgnore, "invalid length 0, expected struct Sample with 3 elements"},
      {"array long", R"(["a",2,null,4])", UnknownKeys::kIgnore,
       "invalid length 4, expected fewer elements in array"},
      {"array type error first", R"([1])", UnknownKeys::kIgnore,
       "invalid type: integer `1`, expected a string"},
      {"other kind", "\"a\"", UnknownKeys::kIgnore, "invalid type: string \"a\", expected struct Sample"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = read_sample(parse_or_fail(c.json), c.unknown);
    std::string got = r.ok() ? r->name + "/" + std::to_string(r->count) + "/" + r->note.value_or("-")
                             : r.error().message;
    EXPECT_EQ(got, c.expected);
  }
}

TEST(TypedReaderTest, ArrayFormCanBeRefused) {
  constexpr std::string_view kFields[] = {"a"};
  const RecordShape shape{"struct One", kFields, UnknownKeys::kIgnore, 0, /*array_form=*/false};
  auto st = read_record(parse_or_fail(R"(["x"])"), shape, [](std::size_t, const JsonValue&) { return ok_status(); });
  EXPECT_EQ(error_of(st), "invalid type: sequence, expected struct One");
}

// A small tagged union: {"kind": "stop"} or {"kind": "wait", "ms": 5}.
constexpr std::string_view kKinds[] = {"stop", "wait"};
constexpr std::string_view kWaitFields[] = {"ms"};
constexpr TaggedShape kTagged{"internally tagged enum Action", "kind", kKinds};

std::string read_action(const JsonValue& v) {
  auto tagged = read_tag(v, kTagged);
  if (!tagged.ok()) return tagged.error().message;
  std::int64_t ms = -1;
  const RecordShape shape = tagged->variant == 0
                                ? RecordShape{"struct variant Action::stop", {}}
                                : RecordShape{"struct variant Action::wait", kWaitFields};
  auto st = read_variant_fields(*tagged, shape, [&](std::size_t, const JsonValue& x) {
    return read_i64(x, ms);
  });
  if (!st.ok()) return st.error().message;
  return std::string(kKinds[tagged->variant]) + "/" + std::to_string(ms);
}

TEST(TypedReaderTest, TaggedUnions) {
  struct Case {
    const char* json;
    const char* expected;
  } cases[] = {
      {R"({"kind":"stop"})", "stop/-1"},
      {R"({"kind":"stop","note":1})", "stop/-1"},
      {R"({"ms":5,"kind":"wait"})", "wait/5"},
      {R"({"kind":"wait"})", "missing field `ms`"},
      {R"({"ms":5})", "missing field `kind`"},
      {R"({"kind":"Stop"})", "unknown variant `Stop`, expected `stop` or `wait`"},
      {R"({"kind":1})", "invalid type: integer `1`, expected variant identifier"},
      {R"(["wait",7])", "wait/7"},
      {R"(["stop"])", "stop/-1"},
      {R"(["stop",1])", "invalid length 1, expected fewer elements in array"},
      {R"(["wait"])", "invalid length 0, expected struct variant Action::wait with 1 element"},
      {"[]", "missing field `kind`"},
      {"null", "invalid type: null, expected internally tagged enum Action"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    EXPECT_EQ(read_action(parse_or_fail(c.json)), c.expected);
  }
}

// A list of samples read from text, to show where refusals are placed.
Result<std::vector<Sample>> read_samples(const JsonValue& v) {
  std::vector<Sample> out;
  VOSTREL_TRY(read_list(v, out, [](const JsonValue& x, Sample& sample) -> Status {
    VOSTREL_ASSIGN_OR_RETURN(sample, read_sample(x, UnknownKeys::kRefuse));
    return ok_status();
  }));
  return out;
}

TEST(TypedReaderTest, JsonTextErrorsCarryPositions) {
  auto ok = read_json_text_as<std::vector<Sample>>(R"([{"name":"a","count":1}])", read_samples);
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(ok->at(0).name, "a");
  struct Case {
    const char* name;
    const char* text;
    const char* expected;
  } cases[] = {
      {"unknown field: at its value",
       "[{\"name\":\"a\",\n \"x\":[1,\n2]}]\n\n",
       "unknown field `x`, expected one of `name`, `count`, `note` at line 3 column 2"},
      {"missing field: at the end of its record",
       "[{\"name\":\"a\",\"count\":1},\n {\"name\":\"b\"} ]",
       "missing field `count` at line 2 column 13"},
      {"wrong type: at the value",
       "[ {\"count\": 1, \"name\": \"a\"}, {\"name\": \"b\", \"count\": \"2\"}]",
       "invalid type: string \"2\", expected i64 at line 1 column 55"},
      {"a repeated key: at the value that counts",
       "[{\"count\":\"x\",\"name\":\"a\",\"count\":true}]",
       "invalid type: boolean `true`, expected i64 at line 1 column 37"},
      {"escaped key",
       "[{\"n\\u0061me\":5,\"count\":1}]",
       "invalid type: integer `5`, expected a string at line 1 column 15"},
      {"not a list: the whole document",
       " {\"name\":\"a\"} ",
       "invalid type: map, expected a sequence at line 1 column 13"},
      {"JSON error", "[{\"name\":", "EOF while parsing a value at line 1 column 9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(error_of(read_json_text_as<std::vector<Sample>>(c.text, read_samples)), c.expected);
  }
  // A refusal the toolkit did not make is placed at the end of the document.
  auto own = read_json_text(" [1, 2]\n", [](const JsonValue&) -> Status { return read_error("no"); });
  EXPECT_EQ(error_of(own), "no at line 1 column 7");
}

}  // namespace
}  // namespace vostrel::json
