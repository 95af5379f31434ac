// Splitting a Markdown document into its frontmatter and its body.
#include <string>

#include "pyfmt/pyfmt.h"
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

// Matches (?s)\A---[ \t]*\r?\n(.*?)\r?\n---[ \t]*(?:\r?\n|\z) by hand: a
// regular-expression engine needs its slow submatch path for the lazy group
// over a whole document.
FrontmatterBlock split_frontmatter_block(std::string_view text) {
  const FrontmatterBlock none{std::nullopt, text};
  // "[ \t]*" then a line break ("\r\n" or "\n") or the end of the text;
  // returns where it stops, or npos.
  const auto blanks_then_break = [text](std::size_t i, bool end_ok) -> std::size_t {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i == text.size()) return end_ok ? i : std::string_view::npos;
    if (text[i] == '\n') return i + 1;
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') return i + 2;
    return std::string_view::npos;
  };
  if (!text.starts_with("---")) return none;
  const std::size_t group_start = blanks_then_break(3, false);
  if (group_start == std::string_view::npos) return none;
  // The shortest group: the first line break followed by a closing marker.
  for (std::size_t p = text.find('\n', group_start); p != std::string_view::npos; p = text.find('\n', p + 1)) {
    if (text.compare(p + 1, 3, "---") != 0) continue;
    const std::size_t end = blanks_then_break(p + 4, true);
    if (end == std::string_view::npos) continue;
    std::size_t group_end = p;
    if (group_end > group_start && text[group_end - 1] == '\r') --group_end;
    return FrontmatterBlock{text.substr(group_start, group_end - group_start), text.substr(end)};
  }
  return none;
}

std::string frontmatter_text(const JsonObject& mapping, std::string_view key) {
  const JsonValue* value = mapping.find(key);
  if (value == nullptr) return std::string();
  if (const std::string* s = value->get_string()) return std::string(unicode::trim(*s));
  return std::string(unicode::trim(py_str(*value)));
}

}  // namespace vostrel::yaml
