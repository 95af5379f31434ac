// The expected texts come from CPython itself (tools/gen_pyfmt_cases.py writes
// them into data/cases.json); regenerate after changing the table there.
#include "pyfmt/pyfmt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

#include "json/reader.h"

namespace vostrel {
namespace {

JsonValue load_cases() {
  std::ifstream in(VOSTREL_TEST_DATA_DIR "/cases.json", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  auto doc = parse_json(text.str());
  EXPECT_TRUE(doc.ok()) << "cannot read cases.json";
  return doc.ok() ? std::move(doc).value() : JsonValue::object();
}

class PyfmtOracleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { cases_ = new JsonValue(load_cases()); }
  static void TearDownTestSuite() {
    delete cases_;
    cases_ = nullptr;
  }
  static const JsonArray& table(std::string_view name) {
    const JsonValue* t = cases_->as_object().find(name);
    static const JsonArray kEmpty;
    return t != nullptr ? t->as_array() : kEmpty;
  }
  static JsonValue* cases_;
};
JsonValue* PyfmtOracleTest::cases_ = nullptr;

TEST_F(PyfmtOracleTest, JsonDumpsMatchesCPython) {
  const JsonArray& values = table("values");
  ASSERT_GT(values.size(), 50u);
  for (const JsonValue& c : values) {
    const JsonObject& o = c.as_object();
    const std::string& expected = o.find("dumps")->as_string();
    SCOPED_TRACE(expected);
    EXPECT_EQ(py_json_dumps(*o.find("value")), expected);
  }
}

TEST_F(PyfmtOracleTest, StrMatchesCPython) {
  for (const JsonValue& c : table("values")) {
    const JsonObject& o = c.as_object();
    SCOPED_TRACE(o.find("dumps")->as_string());
    EXPECT_EQ(py_str(*o.find("value")), o.find("str")->as_string());
  }
}

TEST_F(PyfmtOracleTest, ReprMatchesCPython) {
  const JsonArray& texts = table("texts");
  ASSERT_GT(texts.size(), 20u);
  for (const JsonValue& c : texts) {
    const JsonObject& o = c.as_object();
    const std::string& text = o.find("text")->as_string();
    SCOPED_TRACE(py_json_dumps(JsonValue(text)));
    EXPECT_EQ(py_repr_str(text), o.find("repr")->as_string());
  }
}

// The number kinds stay apart: the same magnitude as an integer and as a double.
TEST(PyfmtTest, IntegersAndDoublesStayApart) {
  EXPECT_EQ(py_json_dumps(JsonValue(JsonArray{JsonValue(std::uint64_t{1}), JsonValue(1.0)})), "[1, 1.0]");
  EXPECT_EQ(py_str(JsonValue(JsonArray{JsonValue(std::int64_t{-1}), JsonValue(-1.0)})), "[-1, -1.0]");
}

// A JsonValue should never hold a non-finite double; if one slips through, the
// JSON text stays valid.
TEST(PyfmtTest, NonFiniteDoubleWritesNull) {
  const double kCases[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity()};
  for (double d : kCases) {
    EXPECT_EQ(py_json_dumps(JsonValue(JsonArray{JsonValue(d)})), "[null]");
  }
}

}  // namespace
}  // namespace vostrel
