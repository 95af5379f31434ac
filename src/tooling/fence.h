// Fenced blocks in model replies: the body of the first block opened with a
// given tag.
#ifndef VOSTREL_TOOLING_FENCE_H_
#define VOSTREL_TOOLING_FENCE_H_

#include <string>
#include <string_view>

namespace vostrel::tooling {

// What extract_fence returns for a block that opens and never closes.
inline constexpr std::string_view kUnclosedFence = "__UNCLOSED_FENCE__";

// The body of the first block opened with `tag`.
//
// An opening line is one whose trimmed text ends with three backticks directly
// followed by a tag of ASCII letters, digits, "_" or "-"; the tag is compared
// in ASCII lower case with `tag` byte for byte, so callers pass lower-case
// tags. The block ends at the first later line that is exactly three backticks
// after trimming. Lines end at "\n" (a "\r" before it goes with it). Blocks do
// not nest: a block with another tag is read like any other lines.
//
// Returns the lines between, joined with "\n" and trimmed; kUnclosedFence
// when the opening line has no closing line after it (later opening lines are
// not tried); the empty text when no line opens a block with `tag`. Runs in
// time linear in `text`; pure, safe on any thread.
std::string extract_fence(std::string_view text, std::string_view tag);

}  // namespace vostrel::tooling

#endif  // VOSTREL_TOOLING_FENCE_H_
