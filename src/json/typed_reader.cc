#include "json/typed_reader.h"

#include <charconv>
#include <optional>
#include <utility>
#include <vector>
#include <limits>

#include "json/reader.h"
#include "json/writer.h"

namespace vostrel::json {

namespace {

// The value the last refusal was about, so that a reader of JSON text can say
// where in the text it stands. Only compared by address, never dereferenced
// unless found in the document being read.
thread_local const JsonValue* t_error_site = nullptr;

CoreError about(const JsonValue& value, CoreError error) {
  t_error_site = &value;
  return error;
}

void append_backticked(std::string& out, std::string_view name) {
  out += '`';
  out += name;
  out += '`';
}

template <typename I>
void append_integer(std::string& out, I value) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, r.ptr);
}

std::string integer_text(const JsonValue& value) {
  std::string out = "integer `";
  if (value.is_u64()) {
    append_integer(out, value.as_u64());
  } else {
    append_integer(out, value.as_i64());
  }
  out += '`';
  return out;
}

void append_hex(std::string& out, std::uint32_t cp) {
  char buf[12];
  auto r = std::to_chars(buf, buf + sizeof buf, cp, 16);
  out += "\\u{";
  out.append(buf, r.ptr);
  out += '}';
}

// The text in double quotes with quotes, backslashes and control characters
// escaped, so a found string with a line break stays on one line of the
// message. Non-ASCII text is kept as it is.
void append_quoted_debug(std::string& out, std::string_view s) {
  out += '"';
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\t': out += "\\t"; continue;
      case '\n': out += "\\n"; continue;
      case '\r': out += "\\r"; continue;
      case '\0': out += "\\0"; continue;
      default: break;
    }
    if (c < 0x20 || c == 0x7F) {
      append_hex(out, c);
    } else if (c == 0xC2 && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(s[i + 1]) <= 0x9F) {
      // C1 control characters (U+0080..U+009F).
      append_hex(out, static_cast<unsigned char>(s[i + 1]));
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

bool is_field_optional(const RecordShape& shape, std::size_t i) {
  return i < 64 && ((shape.optional_fields >> i) & 1U) != 0;
}

std::optional<std::size_t> field_index(Names fields, std::string_view key) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields[i] == key) return i;
  }
  return std::nullopt;
}

std::string record_length_text(const RecordShape& shape) {
  std::string out(shape.expecting);
  out += " with ";
  append_integer(out, shape.fields.size());
  out += shape.fields.size() == 1 ? " element" : " elements";
  return out;
}

// The object form, with `skip_key` (a union's tag) left out.
Status read_record_object(const JsonValue& value, const RecordShape& shape,
                          std::string_view skip_key, bool skipping, FieldReader read_field) {
  const JsonObject& object = value.as_object();
  // Up to 64 fields tracked in a mask; records of the system have far fewer.
  std::uint64_t seen = 0;
  std::vector<bool> seen_wide;
  const bool wide = shape.fields.size() > 64;
  if (wide) seen_wide.assign(shape.fields.size(), false);
  for (const auto& [key, item] : object) {
    if (skipping && key == skip_key) continue;
    const auto field = field_index(shape.fields, key);
    if (!field) {
      if (shape.unknown_keys == UnknownKeys::kRefuse) {
        return about(item, unknown_field(key, shape.fields));
      }
      continue;
    }
    VOSTREL_TRY(read_field(*field, item));
    if (wide) {
      seen_wide[*field] = true;
    } else {
      seen |= std::uint64_t{1} << *field;
    }
  }
  for (std::size_t i = 0; i < shape.fields.size(); ++i) {
    const bool present = wide ? seen_wide[i] : ((seen >> i) & 1U) != 0;
    if (!present && !is_field_optional(shape, i)) {
      return about(value, missing_field(shape.fields[i]));
    }
  }
  return ok_status();
}

// The array form, starting at element `first`.
Status read_record_array(const JsonValue& value, std::size_t first, const RecordShape& shape,
                         FieldReader read_field) {
  const JsonArray& items = value.as_array();
  const std::size_t count = items.size() - first;
  for (std::size_t i = 0; i < shape.fields.size(); ++i) {
    if (i >= count) return about(value, invalid_length(i, record_length_text(shape)));
    VOSTREL_TRY(read_field(i, items[first + i]));
  }
  if (count > shape.fields.size()) {
    return about(value, invalid_length(count, "fewer elements in array"));
  }
  return ok_status();
}

}  // namespace

std::string describe_found(const JsonValue& value) {
  switch (value.type()) {
    case JsonType::kNull: return "null";
    case JsonType::kBool: return value.as_bool() ? "boolean `true`" : "boolean `false`";
    case JsonType::kUInt:
    case JsonType::kInt: return integer_text(value);
    case JsonType::kDouble: {
      std::string out = "floating point `";
      append_double(out, value.as_double(), DoubleLayout::kPlain);
      out += '`';
      return out;
    }
    case JsonType::kString: {
      std::string out = "string ";
      append_quoted_debug(out, value.as_string());
      return out;
    }
    case JsonType::kArray: return "sequence";
    case JsonType::kObject: return "map";
  }
  return "null";
}

std::string name_list(Names names) {
  std::string out;
  if (names.empty()) return out;
  if (names.size() == 1) {
    append_backticked(out, names[0]);
  } else if (names.size() == 2) {
    append_backticked(out, names[0]);
    out += " or ";
    append_backticked(out, names[1]);
  } else {
    out += "one of ";
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (i > 0) out += ", ";
      append_backticked(out, names[i]);
    }
  }
  return out;
}

CoreError read_error(std::string message) {
  t_error_site = nullptr;
  return CoreError::value(std::move(message));
}

CoreError missing_field(std::string_view field) {
  std::string m = "missing field ";
  append_backticked(m, field);
  return read_error(std::move(m));
}

namespace {

// "unknown {what} `{name}`, expected {names}" or "..., there are no {what}s".
CoreError unknown_name(std::string_view what, std::string_view name, Names names) {
  std::string m = "unknown ";
  m += what;
  m += ' ';
  append_backticked(m, name);
  if (names.empty()) {
    m += ", there are no ";
    m += what;
    m += 's';
  } else {
    m += ", expected ";
    m += name_list(names);
  }
  return read_error(std::move(m));
}

// "{prefix}{found}, expected {expected}".
CoreError found_expected(std::string_view prefix, std::string_view found,
                         std::string_view expected) {
  std::string m(prefix);
  m += found;
  m += ", expected ";
  m += expected;
  return read_error(std::move(m));
}

}  // namespace

CoreError unknown_field(std::string_view key, Names fields) {
  return unknown_name("field", key, fields);
}

CoreError unknown_variant(std::string_view name, Names variants) {
  return unknown_name("variant", name, variants);
}

CoreError invalid_type(const JsonValue& found, std::string_view expected) {
  return about(found, invalid_type_described(describe_found(found), expected));
}

CoreError invalid_type_described(std::string_view found, std::string_view expected) {
  return found_expected("invalid type: ", found, expected);
}

CoreError invalid_value(std::string_view found, std::string_view expected) {
  return found_expected("invalid value: ", found, expected);
}

CoreError invalid_length(std::size_t length, std::string_view expected) {
  std::string m = "invalid length ";
  append_integer(m, length);
  m += ", expected ";
  m += expected;
  return read_error(std::move(m));
}

Status read_string(const JsonValue& value, std::string& out) {
  const std::string* s = value.get_string();
  if (s == nullptr) return invalid_type(value, "a string");
  out = *s;
  return ok_status();
}

Status read_bool(const JsonValue& value, bool& out) {
  if (!value.is_bool()) return invalid_type(value, "a boolean");
  out = value.as_bool();
  return ok_status();
}

Status read_i64(const JsonValue& value, std::int64_t& out) {
  if (value.is_i64()) {
    out = value.as_i64();
    return ok_status();
  }
  if (value.is_u64()) {
    if (value.as_u64() > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
      return about(value, invalid_value(integer_text(value), "i64"));
    out = static_cast<std::int64_t>(value.as_u64());
    return ok_status();
  }
  return invalid_type(value, "i64");
}

namespace {

template <typename U>
Status read_unsigned(const JsonValue& value, U& out, std::string_view expected) {
  if (value.is_u64()) {
    if (value.as_u64() > std::numeric_limits<U>::max())
      return about(value, invalid_value(integer_text(value), expected));
    out = static_cast<U>(value.as_u64());
    return ok_status();
  }
  if (value.is_i64()) return about(value, invalid_value(integer_text(value), expected));
  return invalid_type(value, expected);
}

}  // namespace

Status read_u64(const JsonValue& value, std::uint64_t& out) {
  return read_unsigned(value, out, "u64");
}
Status read_u32(const JsonValue& value, std::uint32_t& out) {
  return read_unsigned(value, out, "u32");
}
Status read_u16(const JsonValue& value, std::uint16_t& out) {
  return read_unsigned(value, out, "u16");
}

Status read_f64(const JsonValue& value, double& out) {
  auto d = value.to_double();
  if (!d) return invalid_type(value, "f64");
  out = *d;
  return ok_status();
}

Status read_map(const JsonValue& value, JsonObject& out) {
  const JsonObject* o = value.get_object();
  if (o == nullptr) return invalid_type(value, "a map");
  out = *o;
  return ok_status();
}

Status read_optional_string(const JsonValue& value, std::optional<std::string>& out) {
  return read_optional(value, out, read_string);
}

Result<const JsonArray*> expect_array(const JsonValue& value) {
  const JsonArray* a = value.get_array();
  if (a == nullptr) return invalid_type(value, "a sequence");
  return a;
}

Result<const JsonObject*> expect_object(const JsonValue& value, std::string_view expected) {
  const JsonObject* o = value.get_object();
  if (o == nullptr) return invalid_type(value, expected);
  return o;
}

Result<std::size_t> read_variant_name(const JsonValue& value, Names variants,
                                      std::string_view expected) {
  const std::string* s = value.get_string();
  if (s == nullptr) return invalid_type(value, expected);
  if (auto i = field_index(variants, *s)) return *i;
  return about(value, unknown_variant(*s, variants));
}

Result<KeyedVariant> read_keyed_variant(const JsonValue& value, Names variants) {
  if (const std::string* s = value.get_string()) {
    if (auto i = field_index(variants, *s)) return KeyedVariant{*i, nullptr};
    return about(value, unknown_variant(*s, variants));
  }
  if (const JsonObject* o = value.get_object()) {
    if (o->size() != 1) return about(value, invalid_value("map", "map with a single key"));
    const auto& [key, content] = o->at_index(0);
    if (auto i = field_index(variants, key)) return KeyedVariant{*i, &content};
    return about(value, unknown_variant(key, variants));
  }
  return invalid_type(value, "string or map");
}

Result<std::size_t> read_unit_variant(const JsonValue& value, Names variants,
                                      bool empty_map_content) {
  VOSTREL_ASSIGN_OR_RETURN(KeyedVariant v, read_keyed_variant(value, variants));
  if (v.content != nullptr && !v.content->is_null()) {
    const JsonObject* o = v.content->get_object();
    if (!(empty_map_content && o != nullptr && o->empty()))
      return invalid_type(*v.content, "unit variant");
  }
  return v.index;
}

Status read_record(const JsonValue& value, const RecordShape& shape, FieldReader read_field) {
  if (value.is_object()) return read_record_object(value, shape, {}, false, read_field);
  if (value.is_array() && shape.array_form) return read_record_array(value, 0, shape, read_field);
  return invalid_type(value, shape.expecting);
}

Result<TaggedValue> read_tag(const JsonValue& value, const TaggedShape& shape) {
  if (const JsonObject* o = value.get_object()) {
    const JsonValue* tag = o->find(shape.tag);
    if (tag == nullptr) return about(value, missing_field(shape.tag));
    VOSTREL_ASSIGN_OR_RETURN(std::size_t variant, read_variant_name(*tag, shape.variants));
    return TaggedValue{variant, &value, shape.tag};
  }
  if (const JsonArray* a = value.get_array(); a != nullptr && shape.array_form) {
    if (a->empty()) return about(value, missing_field(shape.tag));
    VOSTREL_ASSIGN_OR_RETURN(std::size_t variant, read_variant_name(a->front(), shape.variants));
    return TaggedValue{variant, &value, shape.tag};
  }
  return invalid_type(value, shape.expecting);
}

Status read_variant_fields(const TaggedValue& tagged, const RecordShape& shape,
                           FieldReader read_field) {
  if (tagged.value->is_object()) {
    return read_record_object(*tagged.value, shape, tagged.tag, true, read_field);
  }
  return read_record_array(*tagged.value, 1, shape, read_field);
}

namespace {

// Line (from 1) and column (bytes up to and including the byte at `end - 1`)
// of the position just before byte `end`.
std::pair<std::size_t, std::size_t> line_column(std::string_view text, std::size_t end) {
  std::size_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t k = 0; k < end; ++k) {
    if (text[k] == '\n') {
      ++line;
      line_start = k + 1;
    }
  }
  return {line, end - line_start};
}

// One step from a value to a child: an array index, or an object key.
struct PathStep {
  bool in_object;
  std::size_t index;
  const std::string* key;
};

// The steps from `node` to `target`, found by address.
bool find_path(const JsonValue& node, const JsonValue* target, std::vector<PathStep>& path) {
  if (&node == target) return true;
  if (const JsonArray* a = node.get_array()) {
    for (std::size_t i = 0; i < a->size(); ++i) {
      path.push_back({false, i, nullptr});
      if (find_path((*a)[i], target, path)) return true;
      path.pop_back();
    }
  } else if (const JsonObject* o = node.get_object()) {
    for (const auto& [key, item] : *o) {
      path.push_back({true, 0, &key});
      if (find_path(item, target, path)) return true;
      path.pop_back();
    }
  }
  return false;
}

// Walks text that the JSON reader has accepted, to find where a value stands.
class TextWalker {
 public:
  explicit TextWalker(std::string_view text) : t_(text) {}

  void skip_ws(std::size_t& i) const {
    while (i < t_.size() && (t_[i] == ' ' || t_[i] == '\t' || t_[i] == '\n' || t_[i] == '\r')) ++i;
  }

  void skip_string(std::size_t& i) const {
    for (++i; t_[i] != '"'; ++i) {
      if (t_[i] == '\\') ++i;
    }
    ++i;
  }

  void skip_value(std::size_t& i) const {
    const char c = t_[i];
    if (c == '"') {
      skip_string(i);
    } else if (c == '[' || c == '{') {
      int depth = 0;
      do {
        const char d = t_[i];
        if (d == '"') {
          skip_string(i);
          continue;
        }
        if (d == '[' || d == '{') ++depth;
        if (d == ']' || d == '}') --depth;
        ++i;
      } while (depth > 0);
    } else {
      while (i < t_.size() && t_[i] != ',' && t_[i] != ']' && t_[i] != '}' && t_[i] != ' ' &&
             t_[i] != '\t' && t_[i] != '\n' && t_[i] != '\r') {
        ++i;
      }
    }
  }

  // The offset where the child named by `step` of the container at `i`
  // starts; for a repeated key, its last occurrence (the value that counts).
  std::optional<std::size_t> child(std::size_t i, const PathStep& step) const {
    ++i;  // '[' or '{'
    if (!step.in_object) {
      for (std::size_t k = 0; k < step.index; ++k) {
        skip_ws(i);
        skip_value(i);
        skip_ws(i);
        ++i;  // ','
      }
      skip_ws(i);
      return i;
    }
    std::optional<std::size_t> found;
    for (;;) {
      skip_ws(i);
      if (t_[i] == '}') return found;
      const std::size_t key_start = i;
      skip_string(i);
      JsonValue key;
      JsonParseError ignored;
      const bool same = parse_json(t_.substr(key_start, i - key_start), key, ignored) &&
                        key.as_string() == *step.key;
      skip_ws(i);
      ++i;  // ':'
      skip_ws(i);
      if (same) found = i;
      skip_value(i);
      skip_ws(i);
      if (t_[i] == ',') ++i;
    }
  }

 private:
  std::string_view t_;
};

// Where the value `site` of the document `root`, read from `text`, ends (the
// offset after its last byte); the end of the document when it is not found.
std::size_t end_of_site(std::string_view text, const JsonValue& root, const JsonValue* site) {
  const TextWalker walker(text);
  std::size_t i = 0;
  walker.skip_ws(i);
  std::vector<PathStep> path;
  if (site != nullptr && find_path(root, site, path)) {
    bool found = true;
    for (const PathStep& step : path) {
      auto child = walker.child(i, step);
      if (!child) {
        found = false;
        break;
      }
      i = *child;
    }
    if (found) {
      walker.skip_value(i);
      return i;
    }
  }
  // The document parsed, so everything after the value is white space.
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\n' ||
                     text[end - 1] == '\r')) {
    --end;
  }
  return end;
}

}  // namespace

Status read_json_text(std::string_view text, FunctionRef<Status(const JsonValue&)> read) {
  JsonValue value;
  JsonParseError parse_error;
  if (!parse_json(text, value, parse_error)) return read_error(parse_error.text());
  t_error_site = nullptr;
  Status status = read(value);
  if (status.ok()) return status;
  const auto [line, column] = line_column(text, end_of_site(text, value, t_error_site));
  std::string message = std::move(status).error().message;
  message += " at line ";
  append_integer(message, line);
  message += " column ";
  append_integer(message, column);
  return read_error(std::move(message));
}

}  // namespace vostrel::json
