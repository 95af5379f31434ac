#include "orchestrator/json_read.h"

#include <limits>

#include "json/writer.h"

namespace vostrel::orchestrator::json_read {

std::string describe(const JsonValue& value) {
  std::string out;
  switch (value.type()) {
    case JsonType::kNull: return "null";
    case JsonType::kBool: return value.as_bool() ? "boolean `true`" : "boolean `false`";
    case JsonType::kUInt: return "integer `" + std::to_string(value.as_u64()) + "`";
    case JsonType::kInt: return "integer `" + std::to_string(value.as_i64()) + "`";
    case JsonType::kDouble: {
      out = "floating point `";
      const std::size_t digits = out.size();
      append_double(out, value.as_double(), DoubleLayout::kPlain);
      if (out.find_first_of(".en", digits) == std::string::npos) out += ".0";
      out += "`";
      return out;
    }
    case JsonType::kString:
      out = "string ";
      write_json_string(out, value.as_string(), false);
      return out;
    case JsonType::kArray: return "sequence";
    case JsonType::kObject: return "map";
  }
  return out;
}

std::string expected_names(std::initializer_list<std::string_view> names) {
  std::string out;
  const auto quoted = [](std::string_view name) { return "`" + std::string(name) + "`"; };
  if (names.size() == 1) return quoted(*names.begin());
  if (names.size() == 2) return quoted(*names.begin()) + " or " + quoted(*(names.begin() + 1));
  out = "one of ";
  bool first = true;
  for (std::string_view name : names) {
    if (!first) out += ", ";
    first = false;
    out += quoted(name);
  }
  return out;
}

CoreError invalid_type(const JsonValue& found, std::string_view expected) {
  return CoreError::value("invalid type: " + describe(found) + ", expected " +
                          std::string(expected));
}

CoreError missing_field(std::string_view key) {
  return CoreError::value("missing field `" + std::string(key) + "`");
}

CoreError unknown_variant(std::string_view found, std::initializer_list<std::string_view> names) {
  return CoreError::value("unknown variant `" + std::string(found) + "`, expected " +
                          expected_names(names));
}

CoreError unknown_field(std::string_view key, std::initializer_list<std::string_view> names) {
  return CoreError::value("unknown field `" + std::string(key) + "`, expected " +
                          expected_names(names));
}

Result<const JsonObject*> object(const JsonValue& value, std::string_view expected) {
  const JsonObject* obj = value.get_object();
  if (obj == nullptr) return invalid_type(value, expected);
  return obj;
}

Result<const JsonValue*> member(const JsonObject& object, std::string_view key) {
  const JsonValue* found = object.find(key);
  if (found == nullptr) return missing_field(key);
  return found;
}

Status only_fields(const JsonObject& object, std::initializer_list<std::string_view> names) {
  for (const auto& [key, unused] : object) {
    bool known = false;
    for (std::string_view name : names) known = known || key == name;
    if (!known) return unknown_field(key, names);
  }
  return ok_status();
}

Result<std::string> text(const JsonValue& value) {
  if (const std::string* s = value.get_string()) return *s;
  return invalid_type(value, "a string");
}

Result<std::int64_t> count(const JsonValue& value) {
  if (value.is_i64()) return value.as_i64();
  if (value.is_u64()) {
    if (value.as_u64() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
      return CoreError::value("invalid value: " + describe(value) + ", expected i64");
    return static_cast<std::int64_t>(value.as_u64());
  }
  return invalid_type(value, "i64");
}

Result<bool> boolean(const JsonValue& value) {
  if (value.is_bool()) return value.as_bool();
  return invalid_type(value, "a boolean");
}

Result<const JsonArray*> sequence(const JsonValue& value) {
  if (const JsonArray* array = value.get_array()) return array;
  return invalid_type(value, "a sequence");
}

}  // namespace vostrel::orchestrator::json_read
