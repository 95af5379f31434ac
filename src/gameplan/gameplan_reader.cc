#include "gameplan/gameplan_reader.h"

#include <system_error>

#include "assets/assets.h"
#include "assets/read_text.h"
#include "harness/harness_reader.h"
#include "pyfmt/pyfmt.h"
#include "unicode/unicode.h"
#include "utils/text.h"
#include "yaml/yaml.h"

namespace vostrel::gameplan {
namespace fs = std::filesystem;

namespace {

CoreError not_found(std::string_view what) {
  return CoreError::gameplan_load("Gameplan file not found: " + std::string(what));
}

}  // namespace

Result<GameplanConfig> parse_gameplan_text(std::string text, const fs::path& found_at) {
  const std::string source = assets::path_display(found_at);
  JsonValue mapping = JsonValue::object();
  const yaml::FrontmatterBlock block = yaml::split_frontmatter_block(text);
  if (block.yaml) {
    Result<JsonValue> loaded = yaml::yaml_to_json(*block.yaml);
    if (!loaded.ok()) {
      return CoreError::gameplan_load("Invalid YAML frontmatter in " + source + ": " +
                                      loaded.error().message);
    }
    if (loaded->is_object()) {
      mapping = std::move(*loaded);
    } else if (!loaded->is_null()) {
      return CoreError::gameplan_load("Frontmatter in " + source + " must be a mapping, got " +
                                      std::string(py_type_name(*loaded)) + ".");
    }
  }
  VOSTREL_ASSIGN_OR_RETURN(harness::HarnessSpec spec, harness::parse_harness_spec(mapping, source));

  GameplanConfig config;
  config.name = spec.name.empty() ? assets::file_stem_text(found_at) : spec.name;
  config.body = std::string(unicode::trim(block.body));
  config.harness = std::move(spec);
  std::error_code ec;
  const fs::path canonical = fs::canonical(found_at, ec);
  config.path = assets::path_display(ec ? found_at : canonical);
  config.raw_text = std::move(text);
  return config;
}

Result<GameplanConfig> read_gameplan_file(std::string_view argument) {
  const fs::path dir = assets::builtin_dir(assets::kGameplansDir);
  fs::path file;
  if (!assets::is_path_argument(argument)) {
    file = dir / (std::string(argument) + ".md");
    if (!assets::path_exists(file)) return not_found(assets::path_display(file));
  } else if (assets::path_exists(fs::path(argument))) {
    file = fs::path(argument);
  } else if (assets::path_exists(dir / argument)) {
    file = dir / argument;
  } else {
    return not_found(argument);
  }
  Result<std::string> text = assets::read_utf8_file_reason(file);
  if (!text.ok()) {
    return CoreError::gameplan_load("Cannot read gameplan file " + assets::path_display(file) +
                                    ": " + text.error().message);
  }
  return parse_gameplan_text(std::move(*text), file);
}

}  // namespace vostrel::gameplan
