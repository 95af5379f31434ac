#include "tooling/dispatch.h"

#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>

#include "pyfmt/pyfmt.h"

namespace vostrel::tooling {

namespace {

// Whether `value` is of the kind a schema "type" names; nothing when the word
// names no kind this check knows (the type is then not checked).
std::optional<bool> has_schema_type(std::string_view type, const JsonValue& value) {
  if (type == "string") return value.is_string();
  if (type == "number") return value.is_number();
  if (type == "integer") return value.is_integer();
  if (type == "boolean") return value.is_bool();
  if (type == "array") return value.is_array();
  if (type == "object") return value.is_object();
  if (type == "null") return value.is_null();
  return std::nullopt;
}

// A number or boolean as Python's numeric tower sees it: booleans are the
// integers 0 and 1. Integers are held as (negative?, magnitude).
struct PyNumber {
  bool is_double = false;
  double d = 0;
  bool negative = false;
  std::uint64_t magnitude = 0;
};

std::optional<PyNumber> as_py_number(const JsonValue& value) {
  switch (value.type()) {
    case JsonType::kBool: return PyNumber{false, 0, false, value.as_bool() ? 1u : 0u};
    case JsonType::kUInt: return PyNumber{false, 0, false, value.as_u64()};
    case JsonType::kInt: {
      const std::int64_t i = value.as_i64();
      // The magnitude of a negative i64, without overflow at INT64_MIN.
      const std::uint64_t m = i < 0 ? 0 - static_cast<std::uint64_t>(i) : static_cast<std::uint64_t>(i);
      return PyNumber{false, 0, i < 0, m};
    }
    case JsonType::kDouble: return PyNumber{true, value.as_double(), false, 0};
    default: return std::nullopt;
  }
}

// Exact comparison of an integer with a double, as Python compares int and float.
bool int_equals_double(const PyNumber& i, double d) {
  if (!std::isfinite(d) || std::trunc(d) != d) return false;
  const double mag = std::fabs(d);
  if (mag >= 18446744073709551616.0) return false;  // 2^64: beyond every magnitude
  if (mag == 0) return i.magnitude == 0;
  return (d < 0) == i.negative && static_cast<std::uint64_t>(mag) == i.magnitude;
}

bool py_numbers_equal(const PyNumber& a, const PyNumber& b) {
  if (a.is_double && b.is_double) return a.d == b.d;
  if (a.is_double) return int_equals_double(b, a.d);
  if (b.is_double) return int_equals_double(a, b.d);
  return a.magnitude == b.magnitude && (a.negative == b.negative || a.magnitude == 0);
}

// JSON values by kind and value; objects are equal when they hold the same
// keys with equal values, whatever the order the keys were written in (as
// Python's dicts compare), arrays item by item.
bool json_values_equal(const JsonValue& a, const JsonValue& b) {
  if (a.type() != b.type()) return false;
  if (const JsonObject* left = a.get_object()) {
    const JsonObject& right = b.as_object();
    if (left->size() != right.size()) return false;
    for (const auto& [key, value] : *left) {
      const JsonValue* other = right.find(key);
      if (other == nullptr || !json_values_equal(value, *other)) return false;
    }
    return true;
  }
  if (const JsonArray* left = a.get_array()) {
    const JsonArray& right = b.as_array();
    if (left->size() != right.size()) return false;
    for (std::size_t i = 0; i < left->size(); ++i) {
      if (!json_values_equal((*left)[i], right[i])) return false;
    }
    return true;
  }
  return a == b;
}

// Python's == between an argument and an enum item: numbers and booleans
// across their kinds, everything else as JSON values.
bool enum_item_equals(const JsonValue& value, const JsonValue& item) {
  std::optional<PyNumber> a = as_py_number(value);
  std::optional<PyNumber> b = as_py_number(item);
  if (a && b) return py_numbers_equal(*a, *b);
  return json_values_equal(value, item);
}

std::string join(const std::vector<std::string>& parts, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out.append(separator);
    out.append(parts[i]);
  }
  return out;
}

ToolResult error_result(const ToolCall& call, std::string content) {
  return ToolResult{call.name, std::move(content), true};
}

}  // namespace

std::vector<std::string> validate_arguments(const JsonValue& schema, const JsonObject& arguments) {
  std::vector<std::string> issues;
  const JsonObject* root = schema.get_object();
  if (root == nullptr) return issues;

  static const JsonObject kNoProperties;
  const JsonValue* properties_value = root->find("properties");
  const JsonObject& properties = properties_value != nullptr && properties_value->is_object()
                                     ? properties_value->as_object()
                                     : kNoProperties;

  if (const JsonValue* required = root->find("required"); required != nullptr && required->is_array()) {
    for (const JsonValue& name : required->as_array()) {
      const std::string* key = name.get_string();
      if (key != nullptr && !arguments.contains(*key)) {
        issues.push_back("missing required argument '" + *key + "'");
      }
    }
  }

  if (const JsonValue* extra = root->find("additionalProperties");
      extra != nullptr && extra->is_bool() && !extra->as_bool()) {
    for (const auto& [name, value] : arguments) {
      if (!properties.contains(name)) issues.push_back("unexpected argument '" + name + "'");
    }
  }

  for (const auto& [name, value] : arguments) {
    const JsonValue* property_value = properties.find(name);
    const JsonObject* property = property_value != nullptr ? property_value->get_object() : nullptr;
    if (property == nullptr) continue;
    if (const JsonValue* type = property->find("type"); type != nullptr && type->is_string()) {
      const std::optional<bool> matches = has_schema_type(type->as_string(), value);
      if (matches.has_value() && !*matches) {
        issues.push_back("argument '" + name + "' must be " + type->as_string() + ", got " +
                         std::string(py_type_name(value)));
      }
    }
    if (const JsonValue* allowed = property->find("enum");
        allowed != nullptr && allowed->is_array() && !allowed->as_array().empty()) {
      bool found = false;
      for (const JsonValue& item : allowed->as_array()) {
        if (enum_item_equals(value, item)) {
          found = true;
          break;
        }
      }
      if (!found) {
        issues.push_back("argument '" + name + "' must be one of " + py_str(*allowed) + ", got " +
                         py_str(value));
      }
    }
  }
  return issues;
}

ToolResult execute_tool_call(const ToolsFor& tools_for, const ToolCall& call,
                             std::string_view actor) {
  if (call.name == agent_runtime::kInvalidCall) {
    std::string error = "invalid tool_calls";
    if (const JsonValue* given = call.arguments.find("error")) {
      error = given->is_string() ? given->as_string() : py_str(*given);
    }
    return error_result(call,
                        "Your tool_calls JSON is invalid. Respond with ONLY a valid ```tool_calls``` "
                        "fenced block. Error: " + error);
  }

  const std::vector<ToolSpec> tools = tools_for ? tools_for(actor) : std::vector<ToolSpec>{};
  const ToolSpec* tool = nullptr;
  for (const ToolSpec& spec : tools) {
    if (spec.name == call.name) {
      tool = &spec;
      break;
    }
  }
  if (tool == nullptr) return error_result(call, "Unknown tool: " + call.name);

  if (std::vector<std::string> issues = validate_arguments(tool->parameters, call.arguments);
      !issues.empty()) {
    return error_result(call, call.name + ": " + join(issues, "; "));
  }

  // A spec built without a handler cannot run; say so rather than crash.
  if (tool->handler == nullptr) return error_result(call, call.name + ": this tool has no handler");
  Result<std::string> output =
      tool->handler->call(call.arguments, tool->takes_actor ? actor : std::string_view());
  if (!output.ok()) return error_result(call, call.name + ": " + output.error().error_text());
  return ToolResult{call.name, std::move(output).value(), false};
}

}  // namespace vostrel::tooling
