#include "jsonschema/strict.h"

#include <gtest/gtest.h>

#include <string>

#include "json/reader.h"
#include "json/writer.h"

namespace vostrel::jsonschema {
namespace {

struct StrictCase {
  const char* name;
  std::string schema;
  std::string expected;  // compact JSON, or "error: <text>"
};

std::string strict_of(const std::string& text) {
  Result<JsonValue> parsed = parse_json(text);
  EXPECT_TRUE(parsed.ok()) << text;
  if (!parsed.ok()) return "";
  JsonValue schema = *parsed;
  Status status = ensure_strict(schema);
  if (!status.ok()) {
    EXPECT_EQ(status.error().kind, ErrorKind::kSession);
    return "error: " + status.error().error_text();
  }
  return to_json(schema);
}

void run_cases(std::initializer_list<StrictCase> cases) {
  for (const StrictCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(strict_of(c.schema), c.expected);
  }
}

TEST(EnsureStrictTest, ObjectsArraysAndCombinators) {
  run_cases({
      {"object gets additionalProperties and required",
       R"({"type": "object", "properties": {"a": {"type": "string"}}})",
       R"({"type":"object","properties":{"a":{"type":"string"}},"additionalProperties":false,"required":["a"]})"},
      {"required replaced in place; explicit additionalProperties kept",
       R"({"type": "object", "required": ["a"], "additionalProperties": true,
           "properties": {"a": {}, "b": {}}})",
       R"({"type":"object","required":["a","b"],"additionalProperties":true,"properties":{"a":{},"b":{}}})"},
      {"empty properties give empty required", R"({"properties": {}})",
       R"({"properties":{},"required":[]})"},
      {"type list adds nothing", R"({"type": ["object", "null"]})", R"({"type":["object","null"]})"},
      {"nested objects",
       R"({"type": "object", "properties": {"inner": {"type": "object",
           "properties": {"deep": {"type": "object", "properties": {"x": {"type": "integer"}}}}}}})",
       R"({"type":"object","properties":{"inner":{"type":"object","properties":{"deep":{"type":"object",)"
       R"("properties":{"x":{"type":"integer"}},"additionalProperties":false,"required":["x"]}},)"
       R"("additionalProperties":false,"required":["deep"]}},"additionalProperties":false,"required":["inner"]})"},
      {"array items object rewritten, tuple items left alone",
       R"({"type": "array", "items": {"type": "object", "properties": {"p": {}}},
           "prefixItems": [{"type": "object"}]})",
       R"({"type":"array","items":{"type":"object","properties":{"p":{}},"additionalProperties":false,)"
       R"("required":["p"]},"prefixItems":[{"type":"object"}]})"},
      {"items array untouched", R"({"items": [{"type": "object"}, 3]})",
       R"({"items":[{"type":"object"},3]})"},
      {"anyOf members rewritten", R"({"anyOf": [{"type": "object"}, {"type": "null"}]})",
       R"({"anyOf":[{"type":"object","additionalProperties":false},{"type":"null"}]})"},
      {"single allOf merged after its rewrite",
       R"({"description": "d", "allOf": [{"type": "object", "properties": {"x": {}}}], "title": "t"})",
       // "required" is the last key when "allOf" goes, so it takes its place.
       R"({"description":"d","required":["x"],"title":"t","type":"object","properties":{"x":{}},)"
       R"("additionalProperties":false})"},
      {"two allOf members stay",
       R"({"allOf": [{"type": "object"}, {"description": "x"}]})",
       R"({"allOf":[{"type":"object","additionalProperties":false},{"description":"x"}]})"},
      {"null default dropped", R"({"type": "string", "default": null, "description": "d"})",
       R"({"type":"string","description":"d"})"},
      {"dropping moves the last key into its place",
       R"({"default": null, "type": "string", "description": "d"})",
       R"({"description":"d","type":"string"})"},
      {"other defaults stay", R"({"default": 0})", R"({"default":0})"},
      {"definitions rewritten", R"({"$defs": {"A": {"type": "object"}}, "definitions": {"B": {"type": "object"}}})",
       R"({"$defs":{"A":{"type":"object","additionalProperties":false}},)"
       R"("definitions":{"B":{"type":"object","additionalProperties":false}}})"},
  });
}

TEST(EnsureStrictTest, References) {
  const std::string defs =
      R"("$defs": {"A": {"type": "object", "description": "from A", "properties": {"v": {}}}})";
  run_cases({
      {"lone $ref stays", "{" + defs + R"(, "properties": {"a": {"$ref": "#/$defs/A"}}})",
       R"({"$defs":{"A":{"type":"object","description":"from A","properties":{"v":{}},)"
       R"("additionalProperties":false,"required":["v"]}},"properties":{"a":{"$ref":"#/$defs/A"}},"required":["a"]})"},
      {"$ref with a sibling is inlined, siblings win",
       "{" + defs + R"(, "properties": {"a": {"$ref": "#/$defs/A", "description": "mine"}}})",
       R"({"$defs":{"A":{"type":"object","description":"from A","properties":{"v":{}},)"
       R"("additionalProperties":false,"required":["v"]}},"properties":{"a":{"properties":{"v":{}},)"
       R"("description":"mine","type":"object","additionalProperties":false,"required":["v"]}},"required":["a"]})"},
      {"empty or non-string $ref left alone", R"({"$ref": "", "a": 1, "b": {"$ref": 5, "c": 1}})",
       R"({"$ref":"","a":1,"b":{"$ref":5,"c":1}})"},
      // A definition that refers back to itself through a lone $ref terminates.
      {"lone self-reference inside the inlined copy",
       R"({"$defs": {"L": {"type": "object", "properties": {"next": {"$ref": "#/$defs/L"}}}},
           "$ref": "#/$defs/L", "description": "list"})",
       R"({"$defs":{"L":{"type":"object","properties":{"next":{"$ref":"#/$defs/L"}},)"
       R"("additionalProperties":false,"required":["next"]}},"properties":{"next":{"$ref":"#/$defs/L"}},)"
       R"("description":"list","type":"object","additionalProperties":false,"required":["next"]})"},
      // The node keeps its own "$ref" while the definition's keys are copied,
      // so the definition's reference to itself never comes along.
      {"definition referring to itself directly",
       R"({"$defs": {"A": {"$ref": "#/$defs/A", "type": "string"}},
           "properties": {"p": {"$ref": "#/$defs/A", "description": "d"}}})",
       R"({"$defs":{"A":{"type":"string"}},"properties":{"p":{"type":"string","description":"d"}},)"
       R"("required":["p"]})"},
      // The nested node's own "properties" keep the definition's from coming
      // along again, so this self-reference ends after one level.
      {"self-reference blocked by the node's own keys",
       R"({"$defs": {"A": {"properties": {"c": {"$ref": "#/$defs/A", "properties": {}}}}},
           "$ref": "#/$defs/A", "title": "t"})",
       R"({"$defs":{"A":{"properties":{"c":{"required":[],"properties":{}}},"required":["c"]}},)"
       R"("properties":{"c":{"required":[],"properties":{}}},"title":"t","required":["c"]})"},
  });
}

TEST(EnsureStrictTest, Errors) {
  run_cases({
      {"string schema", R"("x")", "error: Expected 'x' to be a dictionary; path=()"},
      {"boolean property", R"({"properties": {"flag": true}})",
       "error: Expected True to be a dictionary; path=('properties', 'flag')"},
      {"path through items and anyOf", R"({"items": {"anyOf": [{}, 3]}})",
       "error: Expected 3 to be a dictionary; path=('items', 'anyOf', '1')"},
      {"bad $ref format", R"({"$ref": "Foo", "description": "d"})",
       "error: Unexpected $ref format 'Foo'; Does not start with #/"},
      {"missing definition", R"({"$ref": "#/definitions/Missing", "description": "d"})",
       "error: unresolvable $ref #/definitions/Missing: no key 'definitions'"},
      {"missing last segment", R"({"definitions": {}, "$ref": "#/definitions/Missing", "description": "d"})",
       "error: unresolvable $ref #/definitions/Missing: no key 'Missing'"},
      {"non-dictionary entry on the way",
       R"({"x": {"y": [1]}, "properties": {"p": {"$ref": "#/x/y/z", "description": "d"}}})",
       R"(error: encountered non-dictionary entry while resolving #/x/y/z - {"y":[1]})"},
      // A definition that holds itself with sibling keys would be inlined
      // without end.
      {"self-containing definition",
       R"({"$defs": {"Node": {"type": "object", "properties": {
             "child": {"$ref": "#/$defs/Node", "description": "a child"}}}},
           "$ref": "#/$defs/Node", "description": "root"})",
       "error: $ref #/$defs/Node refers to a definition that contains itself and cannot be "
       "inlined; path=('$defs', 'Node', 'properties', 'child', 'properties', 'child')"},
      {"two definitions in a cycle",
       R"({"$defs": {"A": {"properties": {"b": {"$ref": "#/$defs/B", "title": "b"}}},
                     "B": {"properties": {"a": {"$ref": "#/$defs/A", "title": "a"}}}},
           "properties": {"root": {"$ref": "#/$defs/A", "title": "r"}}})",
       "error: $ref #/$defs/B refers to a definition that contains itself and cannot be "
       "inlined; path=('$defs', 'A', 'properties', 'b', 'properties', 'a', 'properties', 'b')"},
      // The merged "allOf" brings the reference back into the same node.
      {"cycle within one node, one-segment path",
       R"({"$defs": {"A": {"allOf": [{"$ref": "#/$defs/A"}]}},
           "items": {"allOf": [{"$ref": "#/$defs/A"}], "title": "t"}})",
       "error: $ref #/$defs/A refers to a definition that contains itself and cannot be "
       "inlined; path=('items',)"},
  });
}

// Definitions D1 .. Dn, each holding "items" that refers to the next one with
// a sibling key: every inlining nests the walk one level deeper, without a
// cycle. Rewriting D1 reaches the path ('$defs', 'D1') and n - 1 "items".
std::string reference_chain(int n) {
  std::string defs;
  for (int i = 1; i < n; ++i) {
    defs += "\"D" + std::to_string(i) + R"(": {"items": {"$ref": "#/$defs/D)" +
            std::to_string(i + 1) + R"(", "title": "t"}}, )";
  }
  defs += "\"D" + std::to_string(n) + "\": {}";
  return R"({"$defs": {)" + defs + "}}";
}

TEST(EnsureStrictTest, NestingIsBoundedLikeTheJsonReader) {
  // The deepest node sits 127 levels deep: accepted, and the JSON reader reads
  // the result back.
  const std::string deepest = strict_of(reference_chain(125));
  EXPECT_EQ(deepest.rfind("error", 0), std::string::npos);
  EXPECT_TRUE(parse_json(deepest).ok());

  // One level more is refused, naming where, instead of walking on without bound.
  std::string path = "('$defs', 'D1'";
  for (int i = 0; i < 125; ++i) path += ", 'items'";
  path += ")";
  EXPECT_EQ(strict_of(reference_chain(126)),
            "error: Schema nests deeper than 127 levels; path=" + path);

  // A long chain is refused just as quickly, without exhausting the stack.
  EXPECT_EQ(strict_of(reference_chain(20000)).rfind("error: Schema nests deeper", 0), 0u);
}

// Definitions D1 .. Dn, each using the next one twice with sibling keys and
// carrying a list of 1000 values: inlined in full, D1 would hold 2^(n-1)
// copies of that list.
std::string doubling_chain(int n) {
  std::string values = "0";
  for (int i = 1; i < 1000; ++i) values += "," + std::to_string(i);
  std::string defs;
  for (int i = 1; i < n; ++i) {
    const std::string next = R"({"$ref": "#/$defs/D)" + std::to_string(i + 1) + R"(", "title": "t"})";
    defs += "\"D" + std::to_string(i) + R"(": {"enum": [)" + values + R"(], "properties": {"a": )" +
            next + R"(, "b": )" + next + "}}, ";
  }
  defs += "\"D" + std::to_string(n) + "\": {}";
  return R"({"$defs": {)" + defs + "}}";
}

TEST(EnsureStrictTest, InliningIsBoundedInSize) {
  // Eight levels inline 2^7 - 1 lists: well within bounds.
  EXPECT_EQ(strict_of(doubling_chain(8)).rfind("error", 0), std::string::npos);
  // Forty levels would never finish; the rewrite stops once the inlined copies
  // pass a million values.
  EXPECT_EQ(strict_of(doubling_chain(40)).rfind(
                "error: Schema grows past 1000000 values when its references are inlined; "
                "path=('$defs', 'D1', 'properties', 'a', ",
                0),
            0u);
}

}  // namespace
}  // namespace vostrel::jsonschema
