#include "tooling/tool_calls.h"

#include <cstddef>
#include <optional>
#include <utility>

#include "json/reader.h"
#include "pyfmt/pyfmt.h"
#include "tooling/fence.h"
#include "unicode/unicode.h"

namespace vostrel::tooling {

namespace {

constexpr std::string_view kKey = "tool_calls";

bool is_ascii_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// A name or id that is not a string is shown the way Python prints it.
std::string text_of(const JsonValue& value) {
  if (const std::string* s = value.get_string()) return *s;
  return py_str(value);
}

// The value under `key` of `object` when it is present and not empty.
const JsonValue* non_empty(const JsonObject* object, std::string_view key) {
  if (object == nullptr) return nullptr;
  const JsonValue* value = object->find(key);
  return (value != nullptr && !json_is_empty(*value)) ? value : nullptr;
}

// Tool-call arguments as an object: a JSON text inside a string is read with
// the same reader as the block; everything else that is not an object is
// wrapped as {"raw": value}.
JsonObject arguments_object(JsonValue value) {
  if (value.is_object()) return std::move(value.as_object());
  if (value.is_string()) {
    JsonValue parsed;
    JsonParseError error;
    if (parse_json(value.as_string(), parsed, error)) {
      if (parsed.is_object()) return std::move(parsed.as_object());
      value = std::move(parsed);
    }
  }
  return std::move(wrap_raw_value(std::move(value)).as_object());
}

// One item of the list: a call, or nothing when it has no usable name.
std::optional<ToolCall> read_item(JsonValue& item) {
  JsonObject* fields = item.get_object();
  if (fields == nullptr) return std::nullopt;
  JsonValue* function_value = fields->find("function");
  JsonObject* function = function_value != nullptr ? function_value->get_object() : nullptr;

  const JsonValue* name = non_empty(function, "name");
  if (name == nullptr) name = fields->find("name");
  if (name == nullptr || json_is_empty(*name)) return std::nullopt;

  ToolCall call;
  call.name = text_of(*name);
  if (JsonValue* args = function != nullptr ? function->find("arguments") : nullptr;
      args != nullptr && !json_is_empty(*args)) {
    call.arguments = arguments_object(std::move(*args));
  } else if (JsonValue* own = fields->find("arguments")) {
    call.arguments = arguments_object(std::move(*own));
  }
  if (const JsonValue* id = non_empty(fields, "id")) call.id = text_of(*id);
  return call;
}

// Reads a chosen body: the calls, or one placeholder saying what is wrong.
std::vector<ToolCall> read_body(std::string_view body) {
  JsonValue root;
  JsonParseError error;
  if (!parse_json(body, root, error)) return {invalid_tool_call(error.text())};

  JsonArray* list = root.get_array() ? &root.as_array() : nullptr;
  if (list == nullptr) {
    JsonValue* calls = root.is_object() ? root.as_object().find(kKey) : nullptr;
    if (calls == nullptr) return {invalid_tool_call("missing tool_calls")};
    if (json_is_empty(*calls)) return {invalid_tool_call("empty tool_calls")};
    if (!calls->is_array()) return {invalid_tool_call("tool_calls contains no valid calls")};
    list = &calls->as_array();
  }

  std::vector<ToolCall> out;
  out.reserve(list->size());
  for (JsonValue& item : *list) {
    if (std::optional<ToolCall> call = read_item(item)) out.push_back(std::move(*call));
  }
  if (out.empty()) return {invalid_tool_call("tool_calls contains no valid calls")};
  return out;
}

}  // namespace

bool has_tool_calls_key(std::string_view text) {
  for (std::size_t at = text.find(kKey); at != std::string_view::npos;
       at = text.find(kKey, at + 1)) {
    std::size_t before = at;  // one past the character that must not be a word character
    std::size_t after = at + kKey.size();
    if (at > 0 && text[at - 1] == '"' && after < text.size() && text[after] == '"') {
      --before;
      ++after;
    }
    if (before > 0 && unicode::is_ascii_word_byte(text[before - 1])) continue;
    while (after < text.size() && is_ascii_space(text[after])) ++after;
    if (after < text.size() && text[after] == ':') return true;
  }
  return false;
}

ToolCall invalid_tool_call(std::string message) {
  ToolCall call;
  call.name = std::string(agent_runtime::kInvalidCall);
  call.arguments.insert("error", std::move(message));
  return call;
}

JsonValue wrap_raw_value(JsonValue value) {
  JsonObject wrapped;
  wrapped.insert("raw", std::move(value));
  return wrapped;
}

std::vector<ToolCall> parse_tool_calls(std::string_view text) {
  std::string body = extract_fence(text, "tool_calls");
  if (body.empty()) {
    body = extract_fence(text, "json");
    if (!has_tool_calls_key(body)) {
      const std::string_view bare = unicode::trim(text);
      if (bare.empty() || bare.front() != '{' || !has_tool_calls_key(bare)) return {};
      return read_body(bare);
    }
  }
  if (body == kUnclosedFence) return {invalid_tool_call("unclosed tool_calls fence")};
  return read_body(body);
}

}  // namespace vostrel::tooling
