// Small UTF-8 text helpers the orchestrator's protocol readers share: trimming
// Unicode white space and telling word characters apart in mentions.
#ifndef VOSTREL_ORCHESTRATOR_TEXT_H_
#define VOSTREL_ORCHESTRATOR_TEXT_H_

#include <cstdint>
#include <string_view>

namespace vostrel::orchestrator {

// The text without Unicode White_Space characters at either end. Bytes that are
// not valid UTF-8 are never white space.
std::string_view trim_white_space(std::string_view text);

// Whether `cp` has the White_Space property.
bool is_white_space(char32_t cp);

// Whether `cp` counts as part of a word in an @mention: letters, digits,
// letter-like numbers and "_".
bool is_mention_word_char(char32_t cp);

// The code point starting at `pos` and its length in bytes; an invalid or
// truncated sequence reads as U+FFFD of length 1.
struct Decoded {
  char32_t cp;
  std::size_t len;
};
Decoded decode_at(std::string_view text, std::size_t pos);
// The code point ending at `end` (exclusive), same rules; `end` must be > 0.
Decoded decode_before(std::string_view text, std::size_t end);

}  // namespace vostrel::orchestrator

#endif  // VOSTREL_ORCHESTRATOR_TEXT_H_
