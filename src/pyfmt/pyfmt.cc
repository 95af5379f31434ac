#include "pyfmt/pyfmt.h"

#include <charconv>
#include <cstddef>

#include "json/writer.h"

namespace vostrel {

namespace {

// Appends `text` quoted as repr() quotes it. Only the chosen quote, the
// backslash, tab, line feed and carriage return are escaped; every other byte
// (other controls and all non-ASCII text) is copied unchanged.
void append_repr(std::string& out, std::string_view text) {
  const bool has_single = text.find('\'') != std::string_view::npos;
  const bool has_double = has_single && text.find('"') != std::string_view::npos;
  const char quote = has_single && !has_double ? '"' : '\'';

  out.reserve(out.size() + text.size() + 2);
  out += quote;
  std::size_t run = 0;  // start of the pending run of bytes copied as they are
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char* escape = nullptr;
    switch (c) {
      case '\\': escape = "\\\\"; break;
      case '\t': escape = "\\t"; break;
      case '\n': escape = "\\n"; break;
      case '\r': escape = "\\r"; break;
      case '\'': escape = quote == '\'' ? "\\'" : nullptr; break;
      case '"': escape = quote == '"' ? "\\\"" : nullptr; break;
      default: break;
    }
    if (escape == nullptr) continue;
    out.append(text.data() + run, i - run);
    out += escape;
    run = i + 1;
  }
  out.append(text.data() + run, text.size() - run);
  out += quote;
}

template <typename I>
void append_integer(std::string& out, I value) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, r.ptr);
}

void append_py_str(std::string& out, const JsonValue& value) {
  switch (value.type()) {
    case JsonType::kNull: out += "None"; return;
    case JsonType::kBool: out += value.as_bool() ? "True" : "False"; return;
    case JsonType::kUInt: append_integer(out, value.as_u64()); return;
    case JsonType::kInt: append_integer(out, value.as_i64()); return;
    case JsonType::kDouble: append_double(out, value.as_double(), DoubleLayout::kPlain); return;
    case JsonType::kString: append_repr(out, value.as_string()); return;
    case JsonType::kArray: {
      out += '[';
      bool first = true;
      for (const JsonValue& item : value.as_array()) {
        if (!first) out += ", ";
        first = false;
        append_py_str(out, item);
      }
      out += ']';
      return;
    }
    case JsonType::kObject: {
      out += '{';
      bool first = true;
      for (const auto& [key, item] : value.as_object()) {
        if (!first) out += ", ";
        first = false;
        append_repr(out, key);
        out += ": ";
        append_py_str(out, item);
      }
      out += '}';
      return;
    }
  }
}

}  // namespace

std::string py_json_dumps(const JsonValue& value) {
  std::string out;
  out.reserve(64);
  write_json(out, value, kPythonStyle);
  return out;
}

std::string py_str(const JsonValue& value) {
  std::string out;
  append_py_str(out, value);
  return out;
}

std::string py_repr_str(std::string_view text) {
  std::string out;
  append_repr(out, text);
  return out;
}

std::string_view py_type_name(const JsonValue& value) {
  switch (value.type()) {
    case JsonType::kNull: return "NoneType";
    case JsonType::kBool: return "bool";
    case JsonType::kUInt:
    case JsonType::kInt: return "int";
    case JsonType::kDouble: return "float";
    case JsonType::kString: return "str";
    case JsonType::kArray: return "list";
    case JsonType::kObject: return "dict";
  }
  return "NoneType";
}

}  // namespace vostrel
