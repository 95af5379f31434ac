// YAML text as JSON values, and the frontmatter block of Markdown assets.
//
// Plain scalars are typed by YAML 1.1 rules (yes/no/on/off are booleans, a
// leading zero means octal, colon-separated numbers are base 60); anchors,
// aliases and merge keys are honoured; the standard str, null, bool, int and
// float tags are understood and every other tag is refused. Object keys keep
// their order; a repeated key keeps its first place and its last value.
//
// Hostile input is bounded: collections nest at most `kYamlMaxDepth` deep, and
// the values that anchors store and aliases copy may add up to at most
// `kYamlAliasBudget` units plus one unit a byte of the text (a unit is a node
// or a byte of text), so an alias bomb fails quickly instead of exhausting
// memory.
//
// Every function here is safe to call from any thread.
#ifndef VOSTREL_YAML_YAML_H_
#define VOSTREL_YAML_YAML_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/value.h"
#include "utils/result.h"

namespace vostrel::yaml {

inline constexpr int kYamlMaxDepth = 128;
inline constexpr std::uint64_t kYamlAliasBudget = std::uint64_t{1} << 20;

// Loads one YAML text. An empty text, comments only, or an empty document give
// null. On failure the error is a Value error whose message is the loader's
// text, e.g. "found undefined alias for anchor 1" or
// "{parser message} at byte {} line {} column {}".
Result<JsonValue> yaml_to_json(std::string_view text);

// A Markdown document split into its frontmatter mapping and its body.
struct Frontmatter {
  JsonObject mapping;
  std::string body;
};

// The line form of the split (role and skill files): a first line starting with
// "---" and a later line that is exactly "---" enclose the YAML; without both
// the whole text is the body. `kind` ("Role", "Skill") and `source` (the file)
// name the failures, Value errors "Invalid YAML in {} frontmatter: {}: {}" and
// "{} frontmatter must be a mapping: {}".
Result<Frontmatter> parse_frontmatter(std::string_view text, std::string_view kind,
                                      std::string_view source);

// The pattern form of the split (gameplans), which accepts "\r\n" line breaks
// and blanks after the markers: `yaml` is the block's text when the document
// opens with one, and `body` what follows it (the whole text otherwise). Both
// view into `text`.
struct FrontmatterBlock {
  std::optional<std::string_view> yaml;
  std::string_view body;
};
FrontmatterBlock split_frontmatter_block(std::string_view text);

// One text field of a frontmatter mapping: "" when missing, a string's text, any
// other value (null included) in Python str() form; trimmed of white space.
std::string frontmatter_text(const JsonObject& mapping, std::string_view key);

}  // namespace vostrel::yaml

#endif  // VOSTREL_YAML_YAML_H_
