// Finding and reading gameplan files: the harness contract in the frontmatter,
// the prose for the orchestrator in the body.
#ifndef VOSTREL_GAMEPLAN_GAMEPLAN_READER_H_
#define VOSTREL_GAMEPLAN_GAMEPLAN_READER_H_

#include <string_view>

#include "gameplan/gameplan_config.h"
#include "utils/result.h"

namespace vostrel::gameplan {

// Reads a built-in gameplan by name (the `gameplans` folder's NAME.md) or a
// gameplan file by path (an argument with a slash or backslash, or ending in
// ".md"; a relative path missing from the current directory is looked for in
// the `gameplans` folder). Every failure is a GameplanLoad error.
Result<GameplanConfig> read_gameplan_file(std::string_view argument);

// Reads gameplan text already in memory; `found_at` is the path the file was
// found under (it names the messages and the name of a nameless gameplan).
Result<GameplanConfig> parse_gameplan_text(std::string text, const std::filesystem::path& found_at);

}  // namespace vostrel::gameplan

#endif  // VOSTREL_GAMEPLAN_GAMEPLAN_READER_H_
