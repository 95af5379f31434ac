// One loaded gameplan file: its harness contract, its prose, and where it came
// from. Produced by the gameplan loader; a plain value.
#ifndef VOSTREL_GAMEPLAN_GAMEPLAN_CONFIG_H_
#define VOSTREL_GAMEPLAN_GAMEPLAN_CONFIG_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "harness/harness_spec.h"

namespace vostrel::gameplan {

struct GameplanConfig {
  // The harness's name when it is not empty, else the gameplan file's stem.
  std::string name;
  harness::HarnessSpec harness;
  // The Markdown after the frontmatter, trimmed of white space at both ends.
  std::string body;
  // The whole file as read.
  std::string raw_text;
  // Display form of the file's canonical absolute path, or of the path it was
  // found under when that cannot be canonicalised.
  std::string path;

  // The parent directory of `path`; none when `path` has no parent.
  std::optional<std::filesystem::path> directory() const {
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (parent.empty()) return std::nullopt;
    return parent;
  }
  bool requires_orchestrator() const { return harness.agents.orchestrator.required; }
  std::int64_t max_rounds() const { return harness.loop.max_rounds; }

  bool operator==(const GameplanConfig&) const = default;
};

}  // namespace vostrel::gameplan

#endif  // VOSTREL_GAMEPLAN_GAMEPLAN_CONFIG_H_
