// Small UTF-8 text helpers the access checks, the approval prompt and the
// command runner share: Unicode white space, lower-casing, lossy decoding and
// escaping of terminal control characters.
#ifndef VOSTREL_ACCESS_TEXT_UTIL_H_
#define VOSTREL_ACCESS_TEXT_UTIL_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace vostrel::text {

// Decodes one UTF-8 scalar at `text[pos]`. On success returns the scalar and
// sets `len` to its byte length; on an ill-formed sequence returns -1 and sets
// `len` to the length of its maximal subpart (at least 1), the unit one U+FFFD
// stands for in lossy decoding.
int decode_utf8(std::string_view text, std::size_t pos, std::size_t& len);

// Whether `cp` has the Unicode White_Space property.
bool is_unicode_space(int cp);

// `text` without Unicode white space at either end.
std::string_view trim_unicode(std::string_view text);

// Full Unicode lower-casing of UTF-8 text; ill-formed bytes are kept as they are.
std::string to_lower_unicode(std::string_view text);

// Whether `bytes` is well-formed UTF-8.
bool is_utf8(std::string_view bytes);

// `bytes` as UTF-8 text, each ill-formed sequence replaced by U+FFFD.
std::string utf8_lossy(std::string_view bytes);

// `text` with everything a terminal would act on shown as an escape instead:
// C0 and C1 controls, DEL, bidirectional overrides and ill-formed bytes
// ("\n", "\x1b", "\u202e"). Other text, backslashes included, is unchanged.
std::string escape_terminal_controls(std::string_view text);

}  // namespace vostrel::text

#endif  // VOSTREL_ACCESS_TEXT_UTIL_H_
