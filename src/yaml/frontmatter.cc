// Splitting a Markdown document into its frontmatter and its body.
#include <string>

#include "pyfmt/pyfmt.h"
#include "re2/re2.h"
#include "unicode/unicode.h"
#include "utils/text.h"
#include "yaml/yaml.h"

namespace vostrel::yaml {

Result<Frontmatter> parse_frontmatter(std::string_view text, std::string_view kind,
                                      std::string_view source) {
  Frontmatter none{JsonObject{}, std::string(text)};
  if (text.size() < 3 || !text.starts_with("---")) return none;
  // The first line only has to start with "---"; the closing line must be
  // exactly "---" (a "\r" stays part of its line, so CRLF files never close).
  const std::size_t first_end = text.find('\n');
  if (first_end == std::string_view::npos) return none;
  std::size_t line_start = first_end + 1;
  std::size_t close_start = std::string_view::npos, close_end = 0;
  while (line_start <= text.size()) {
    std::size_t line_end = text.find('\n', line_start);
    if (line_end == std::string_view::npos) line_end = text.size();
    if (text.substr(line_start, line_end - line_start) == "---") {
      close_start = line_start;
      close_end = line_end;
      break;
    }
    if (line_end == text.size()) break;
    line_start = line_end + 1;
  }
  if (close_start == std::string_view::npos) return none;

  // The lines between the markers, joined with "\n": the slice without the
  // line break that ends the last of them.
  const std::size_t yaml_start = first_end + 1;
  const std::string_view yaml_text =
      close_start > yaml_start ? text.substr(yaml_start, close_start - 1 - yaml_start)
                               : std::string_view();
  std::string_view body = close_end < text.size() ? text.substr(close_end + 1) : std::string_view();
  while (body.starts_with('\n')) body.remove_prefix(1);

  Result<JsonValue> loaded = yaml_to_json(yaml_text);
  if (!loaded.ok()) {
    std::string message = "Invalid YAML in ";
    message += kind;
    message += " frontmatter: ";
    message += source;
    message += ": ";
    message += loaded.error().message;
    return CoreError::value(std::move(message));
  }
  JsonValue& value = *loaded;
  Frontmatter out{JsonObject{}, std::string(body)};
  if (value.is_object()) {
    out.mapping = std::move(value.as_object());
  } else if (!value.is_null()) {
    std::string message(kind);
    message += " frontmatter must be a mapping: ";
    message += source;
    return CoreError::value(std::move(message));
  }
  return out;
}

FrontmatterBlock split_frontmatter_block(std::string_view text) {
  static const RE2* pattern =
      new RE2("(?s)\\A---[ \\t]*\\r?\\n(.*?)\\r?\\n---[ \\t]*(?:\\r?\\n|\\z)");
  re2::StringPiece groups[2];
  if (!pattern->Match(re2::StringPiece(text.data(), text.size()), 0, text.size(), RE2::UNANCHORED,
                      groups, 2)) {
    return FrontmatterBlock{std::nullopt, text};
  }
  const std::size_t end = static_cast<std::size_t>(groups[0].data() - text.data()) + groups[0].size();
  return FrontmatterBlock{std::string_view(groups[1].data(), groups[1].size()), text.substr(end)};
}

std::string frontmatter_text(const JsonObject& mapping, std::string_view key) {
  const JsonValue* value = mapping.find(key);
  if (value == nullptr) return std::string();
  if (const std::string* s = value->get_string()) return std::string(unicode::trim(*s));
  return std::string(unicode::trim(py_str(*value)));
}

}  // namespace vostrel::yaml
