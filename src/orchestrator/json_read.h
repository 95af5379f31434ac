// Typed reading of the loop's JSON shapes with the system's shared refusal
// texts. Internal to the orchestrator module.
#ifndef VOSTREL_ORCHESTRATOR_JSON_READ_H_
#define VOSTREL_ORCHESTRATOR_JSON_READ_H_

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "json/value.h"
#include "utils/result.h"

namespace vostrel::orchestrator::json_read {

// How a refusal describes the value it found: "null", "boolean `true`",
// "integer `5`", "floating point `3.0`", "string \"x\"", "sequence", "map".
std::string describe(const JsonValue& value);

// A list of valid names: "`a`", "`a` or `b`", "one of `a`, `b`, `c`".
std::string expected_names(std::initializer_list<std::string_view> names);

CoreError invalid_type(const JsonValue& found, std::string_view expected);
CoreError missing_field(std::string_view key);
CoreError unknown_variant(std::string_view found, std::initializer_list<std::string_view> names);
CoreError unknown_field(std::string_view key, std::initializer_list<std::string_view> names);

// The object, or the wrong-type refusal naming `expected`.
Result<const JsonObject*> object(const JsonValue& value, std::string_view expected);
// The member under `key`, or "missing field `key`".
Result<const JsonValue*> member(const JsonObject& object, std::string_view key);
// Refuses the first key of `object` that is not in `names`.
Status only_fields(const JsonObject& object, std::initializer_list<std::string_view> names);

Result<std::string> text(const JsonValue& value);         // expected "a string"
Result<std::int64_t> count(const JsonValue& value);       // expected "i64"
Result<bool> boolean(const JsonValue& value);             // expected "a boolean"
Result<const JsonArray*> sequence(const JsonValue& value);  // expected "a sequence"

}  // namespace vostrel::orchestrator::json_read

#endif  // VOSTREL_ORCHESTRATOR_JSON_READ_H_
