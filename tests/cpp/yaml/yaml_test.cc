#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "json/reader.h"
#include "json/writer.h"
#include "yaml/yaml.h"

namespace vostrel::yaml {
namespace {

// The loaded value as compact JSON, or "error: " and the loader's message.
std::string load(std::string_view text) {
  Result<JsonValue> v = yaml_to_json(text);
  if (!v.ok()) return "error: " + v.error().message;
  return to_json(*v);
}

struct Case {
  const char* name;
  const char* yaml;
  const char* expected;  // compact JSON or "error: ..."
};

void run_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(load(c.yaml), c.expected);
  }
}

// YAML 1.1 typing of plain and tagged scalars, with PyYAML as the oracle (the
// data file is written by tools/gen_yaml_scalar_cases.py).
TEST(YamlToJson, ScalarTypingFollowsPyYaml) {
  std::ifstream in(VOSTREL_TEST_DATA_DIR "/scalar_cases.json");
  ASSERT_TRUE(in) << "missing scalar_cases.json";
  std::stringstream buffer;
  buffer << in.rdbuf();
  Result<JsonValue> cases = parse_json(buffer.str());
  ASSERT_TRUE(cases.ok());
  ASSERT_GT(cases->as_array().size(), 50u);
  for (const JsonValue& c : cases->as_array()) {
    const std::string& text = c.find("yaml")->as_string();
    SCOPED_TRACE("yaml: " + text);
    Result<JsonValue> got = yaml_to_json(text);
    ASSERT_TRUE(got.ok()) << got.error().message;
    const JsonValue& want = *c.find("expected");
    EXPECT_EQ(*got, want) << "got " << to_json(*got) << ", want " << to_json(want);
    // 1 and 1.0 are different values: the kinds must agree too.
    EXPECT_EQ(got->is_double(), want.is_double());
  }
}

TEST(YamlToJson, TagsAndDocuments) {
  run_cases({
      // Where the loader is stricter than PyYAML: the float tag needs a float text.
      {"float tag on an integer text", "!!float 1", "error: could not determine a constructor for float '1'"},
      {"int tag on a word", "!!int x", "error: could not determine a constructor for int 'x'"},
      {"bool tag on maybe", "!!bool maybe", "error: could not determine a constructor for bool 'maybe'"},
      {"local tag", "!shout hi", "error: could not determine a constructor for the tag '!shout'"},
      {"binary tag", "!!binary aGk=", "error: could not determine a constructor for the tag 'tag:yaml.org,2002:binary'"},
      {"timestamp tag", "!!timestamp 2001-12-14", "error: could not determine a constructor for the tag 'tag:yaml.org,2002:timestamp'"},
      {"map tag on a mapping", "!!map {a: 1}", "{\"a\":1}"},
      {"local tag on a sequence", "!things [1]", "[1]"},
      {"str tag on a quoted text", "!!str 'x'", "\"x\""},
      {"two documents", "a: 1\n---\nb: 2\n", "error: expected a single document in the stream"},
      {"one explicit document", "---\na: 1\n...\n", "{\"a\":1}"},
      {"empty text", "", "null"},
      {"comment only", "# nothing here\n", "null"},
      {"empty document", "---\n...\n", "null"},
      {"block scalars keep their text", "a: |\n  yes\nb: >\n  0755\n", "{\"a\":\"yes\\n\",\"b\":\"0755\\n\"}"},
  });
}

TEST(YamlToJson, MappingsAnchorsAndMerges) {
  run_cases({
      {"repeated key keeps its place and its last value", "a: 1\nb: 2\na: 3\n", "{\"a\":3,\"b\":2}"},
      {"keys that are not strings", "1: a\nyes: b\n~: c\n1.5: d\n? [1, x]\n: e\n",
       "{\"1\":\"a\",\"True\":\"b\",\"None\":\"c\",\"1.5\":\"d\",\"[1, 'x']\":\"e\"}"},
      {"own key first and winning, merged key after",
       "base: &b {x: 1, y: 2}\nchild:\n  <<: *b\n  y: 3\n",
       "{\"base\":{\"x\":1,\"y\":2},\"child\":{\"y\":3,\"x\":1}}"},
      {"earlier merge source wins",
       "a: &a {k: 1}\nb: &b {k: 2, j: 3}\nc:\n  <<: [*a, *b]\n",
       "{\"a\":{\"k\":1},\"b\":{\"k\":2,\"j\":3},\"c\":{\"k\":1,\"j\":3}}"},
      {"merge of a number", "a:\n  <<: 5\n",
       "error: expected a mapping or list of mappings for merging, but found number"},
      {"merge of a list holding a number", "a:\n  <<: [5]\n",
       "error: expected a mapping for merging, but found number"},
      {"merge of a string", "a:\n  <<: x\n",
       "error: expected a mapping or list of mappings for merging, but found string"},
      {"quoted merge key is an ordinary key", "\"<<\": 1\n", "{\"<<\":1}"},
      {"alias copies the value", "a: &x [1, {b: 2}]\nc: *x\n", "{\"a\":[1,{\"b\":2}],\"c\":[1,{\"b\":2}]}"},
      {"redefined anchor: the latest wins", "a: &x 1\nb: &x 2\nc: *x\n", "{\"a\":1,\"b\":2,\"c\":2}"},
      {"alias as a key", "k: &k name\n*k : v\n", "{\"k\":\"name\",\"name\":\"v\"}"},
      {"alias to its own enclosing node", "&a [1, *a]\n", "error: found undefined alias for anchor 1"},
      {"alias to a name never defined", "a: 1\nb: *nope\n",
       "error: found undefined alias 'nope' at byte 8 line 2 column 4"},
      {"invalid UTF-8 with its position", "a: \xff\n",
       "error: invalid leading UTF-8 octet at byte 3 line 1 column 4"},
      {"syntax error with its position", "a: b: c\n",
       "error: mapping values are not allowed in this context at byte 4 line 1 column 5"},
  });
}

// Hostile documents fail with a clear message instead of exhausting the stack
// or memory.
TEST(YamlToJson, NestingAndAliasLimits) {
  const auto nested = [](int levels) {
    return std::string(static_cast<std::size_t>(levels), '[') +
           std::string(static_cast<std::size_t>(levels), ']');
  };
  EXPECT_TRUE(yaml_to_json(nested(kYamlMaxDepth)).ok());
  const std::string too_deep = "error: YAML nests deeper than 128 levels; flatten the document";
  EXPECT_EQ(load(nested(kYamlMaxDepth + 1)), too_deep);
  EXPECT_EQ(load(nested(100000)), too_deep);
  // An alias may not carry a deep value deeper than the limit either.
  const std::string deep_anchor = "a: &d " + nested(100) + "\nb: " + std::string(40, '[') + "*d" +
                                  std::string(40, ']') + "\n";
  EXPECT_EQ(load(deep_anchor), too_deep);

  // The "billion laughs": nine levels of nine aliases would expand to 9^9 values.
  std::string bomb = "a0: &a0 [lol, lol, lol, lol, lol, lol, lol, lol, lol]\n";
  for (int i = 1; i <= 9; ++i) {
    const std::string prev = "*a" + std::to_string(i - 1);
    bomb += "a" + std::to_string(i) + ": &a" + std::to_string(i) + " [";
    for (int k = 0; k < 9; ++k) bomb += (k ? ", " : "") + prev;
    bomb += "]\n";
  }
  EXPECT_EQ(load(bomb), "error: YAML anchors and aliases copy more than " +
                           std::to_string(kYamlAliasBudget + bomb.size()) +
                           " values and bytes; the document repeats itself too much");
  // A long text repeated through an alias counts by its bytes.
  std::string wide = "a: &s " + std::string(200000, 'x') + "\nb: [";
  for (int k = 0; k < 10; ++k) wide += (k ? ", " : "") + std::string("*s");
  wide += "]\n";
  EXPECT_TRUE(load(wide).starts_with("error: YAML anchors and aliases copy more than")) << load(wide);
  // Anchors nested around one large value would each store a copy of it.
  std::string payload;
  for (int k = 0; k < 200000; ++k) payload += k ? ",0" : "0";
  std::string nested_anchors;
  for (int k = 0; k < 100; ++k) nested_anchors += "&n" + std::to_string(k) + " [";
  nested_anchors += payload + std::string(100, ']');
  EXPECT_TRUE(load(nested_anchors).starts_with("error: YAML anchors and aliases copy more than"));
  // Anchoring a large value once is affordable.
  EXPECT_TRUE(yaml_to_json("all: &all [" + payload + "]\n").ok());
  // Ordinary reuse stays well inside the budget.
  EXPECT_TRUE(yaml_to_json(bomb.substr(0, bomb.find("a4:"))).ok());
}

// Every prefix and many single-byte corruptions of a document that uses every
// feature load or fail cleanly (run under the sanitizers in CI).
TEST(YamlToJson, DamagedDocumentsFailCleanly) {
  const std::string doc =
      "%YAML 1.1\n---\nbase: &b {x: 0x1F, y: [1:30, .5, ~, yes]}\nlist: &l\n  - !!str 12\n  - 'quoted'\n"
      "  - \"esc\\u00e9\"\n  - |\n    block\n  - >-\n    folded\nchild:\n  <<: [*b, {z: 1}]\n  ? [k, *l]\n  : v\n"
      "...\n";
  ASSERT_TRUE(yaml_to_json(doc).ok()) << yaml_to_json(doc).error().message;
  for (std::size_t n = 0; n <= doc.size(); ++n) {
    Result<JsonValue> v = yaml_to_json(std::string_view(doc).substr(0, n));
    EXPECT_TRUE(v.ok() || !v.error().message.empty());
  }
  std::uint32_t seed = 12345;
  const char replacements[] = {'[', ']', '{', '}', ':', '*', '&', '!', '-', '\n', ' ', '\'', '"', '\0', '\xff', '<'};
  for (int round = 0; round < 3000; ++round) {
    std::string damaged = doc;
    for (int k = 0; k < 3; ++k) {
      seed = seed * 1664525u + 1013904223u;
      damaged[(seed >> 8) % damaged.size()] = replacements[(seed >> 4) % sizeof replacements];
    }
    Result<JsonValue> v = yaml_to_json(damaged);
    EXPECT_TRUE(v.ok() || !v.error().message.empty());
  }
}

TEST(Frontmatter, LineForm) {
  struct LineCase {
    const char* name;
    const char* text;
    const char* mapping;  // compact JSON
    const char* body;
  };
  const std::vector<LineCase> cases = {
      {"mapping and body", "---\nname: x\n---\n\nHello\n", "{\"name\":\"x\"}", "Hello\n"},
      {"opening line may go on", "--- role\nname: x\n---\nbody", "{\"name\":\"x\"}", "body"},
      {"empty block", "---\n---\nbody", "{}", "body"},
      {"closing line at the very end", "---\na: 1\n---", "{\"a\":1}", ""},
      {"CRLF never closes", "---\r\nname: x\r\n---\r\nbody\r\n", "{}", "---\r\nname: x\r\n---\r\nbody\r\n"},
      {"closing marker with a blank", "---\na: 1\n--- \nbody", "{}", "---\na: 1\n--- \nbody"},
      {"no closing line", "---\na: 1\n", "{}", "---\na: 1\n"},
      {"not at the start", "text\n---\na: 1\n---\n", "{}", "text\n---\na: 1\n---\n"},
      {"short text", "--", "{}", "--"},
      {"null block", "---\n~\n---\nb", "{}", "b"},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    Result<Frontmatter> fm = parse_frontmatter(c.text, "Role", "r.md");
    ASSERT_TRUE(fm.ok()) << fm.error().message;
    EXPECT_EQ(to_json(JsonValue(fm->mapping)), c.mapping);
    EXPECT_EQ(fm->body, c.body);
  }

  Result<Frontmatter> bad = parse_frontmatter("---\na: [1\n---\n", "Skill", "s/SKILL.md");
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().kind, ErrorKind::kValue);
  EXPECT_TRUE(bad.error().message.starts_with("Invalid YAML in Skill frontmatter: s/SKILL.md: "))
      << bad.error().message;
  Result<Frontmatter> list = parse_frontmatter("---\n- a\n---\n", "Role", "r.md");
  ASSERT_FALSE(list.ok());
  EXPECT_EQ(list.error().message, "Role frontmatter must be a mapping: r.md");
}

TEST(Frontmatter, PatternForm) {
  struct PatternCase {
    const char* name;
    const char* text;
    const char* yaml;  // nullptr: no block
    const char* body;
  };
  const std::vector<PatternCase> cases = {
      {"LF", "---\na: 1\n---\nbody", "a: 1", "body"},
      {"CRLF", "---\r\na: 1\r\nb: 2\r\n---\r\nbody\r\n", "a: 1\r\nb: 2", "body\r\n"},
      {"blanks and tabs after the markers", "--- \t\na: 1\n---  \nbody", "a: 1", "body"},
      {"markers with nothing between", "---\n---\nbody", nullptr, "---\n---\nbody"},
      {"one empty line between", "---\n\n---\nbody", "", "body"},
      {"one empty CRLF line between", "---\r\n\r\n---\r\nbody", "", "body"},
      {"a marker inside a line does not close", "---\na: x---\n---\n", "a: x---", ""},
      {"closing marker at the very end", "---\na: 1\n---", "a: 1", ""},
      {"first block only, shortest", "---\na: 1\n---\nx\n---\ny", "a: 1", "x\n---\ny"},
      {"not at the start", "\n---\na: 1\n---\n", nullptr, "\n---\na: 1\n---\n"},
  };
  for (const PatternCase& c : cases) {
    SCOPED_TRACE(c.name);
    const FrontmatterBlock block = split_frontmatter_block(c.text);
    if (c.yaml == nullptr) {
      EXPECT_FALSE(block.yaml.has_value());
    } else {
      ASSERT_TRUE(block.yaml.has_value());
      EXPECT_EQ(*block.yaml, c.yaml);
    }
    EXPECT_EQ(block.body, c.body);
  }
}

TEST(Frontmatter, TextField) {
  Result<JsonValue> v = yaml_to_json(
      "none: null\nquoted: '  x  '\nflag: yes\nnum: 3\nlist: [a, 1]\nempty:\nwide: \"\\u3000y\\u2003\"\n");
  ASSERT_TRUE(v.ok());
  const JsonObject& m = v->as_object();
  EXPECT_EQ(frontmatter_text(m, "missing"), "");
  EXPECT_EQ(frontmatter_text(m, "none"), "None");
  EXPECT_EQ(frontmatter_text(m, "quoted"), "x");
  EXPECT_EQ(frontmatter_text(m, "flag"), "True");
  EXPECT_EQ(frontmatter_text(m, "num"), "3");
  EXPECT_EQ(frontmatter_text(m, "list"), "['a', 1]");
  EXPECT_EQ(frontmatter_text(m, "empty"), "None");
  EXPECT_EQ(frontmatter_text(m, "wide"), "y");
}

}  // namespace
}  // namespace vostrel::yaml
