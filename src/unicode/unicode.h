// Unicode helpers for UTF-8 text: trimming by the White_Space property,
// counting characters, case mappings, and the character classes the text
// protocols use. All are pure functions, safe on any thread; those that
// return a std::string_view return a piece of their argument.
//
// Malformed UTF-8 never fails: a byte that does not begin a well-formed
// sequence is taken as one U+FFFD character of length 1 where characters are
// classified, and is copied unchanged where text is rewritten.
#ifndef VOSTREL_UNICODE_UNICODE_H_
#define VOSTREL_UNICODE_UNICODE_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace vostrel::unicode {

inline constexpr char32_t kReplacementChar = 0xFFFD;

// One character of UTF-8 text: its code point and its length in bytes.
struct DecodedChar {
  char32_t code_point;
  std::size_t length;
};

// The character that starts at byte `pos` (< text.size()).
DecodedChar decode_utf8(std::string_view text, std::size_t pos);
// The character that ends just before byte `end` (0 < end <= text.size()),
// the same character that decoding forwards finds there.
DecodedChar decode_utf8_before(std::string_view text, std::size_t end);
// Appends the UTF-8 form of `code_point` (a scalar value).
void append_utf8(std::string& out, char32_t code_point);

// --- White space and counting ---

// The White_Space property: U+0009..U+000D, U+0020, U+0085, U+00A0, U+1680,
// U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000. (U+200B and U+FEFF
// are not white space.)
bool is_white_space(char32_t code_point);

// `text` without White_Space characters at both ends / the start / the end.
std::string_view trim(std::string_view text);
std::string_view trim_start(std::string_view text);
std::string_view trim_end(std::string_view text);

// Characters (code points) in `text`: the bytes that are not UTF-8
// continuation bytes, which for well-formed text is the number of code points.
std::size_t count_chars(std::string_view text);

// --- Character classes ---

// Letters and digits in the Unicode sense: the Alphabetic property (which
// takes in letters, letter numbers and the combining marks of many scripts)
// or the general category Nd, Nl or No.
bool is_alphanumeric(char32_t code_point);

// A word character where a mention of a name ends: alphanumeric or "_".
inline bool is_word_char(char32_t code_point) { return code_point == U'_' || is_alphanumeric(code_point); }

// A word byte next to a keyword: an ASCII letter, an ASCII digit or "_". Every
// byte of a non-ASCII character is a non-word byte.
constexpr bool is_ascii_word_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// --- Case ---

// "A".."Z" to "a".."z"; every other byte unchanged.
constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }
std::string ascii_lowercase(std::string_view text);
// Equal when the texts differ only in the case of ASCII letters.
bool ascii_iequals(std::string_view a, std::string_view b);

// The full Unicode lower-case mapping, as Python's str.lower(): one character
// may become several ("İ" gives "i̇"), and a capital sigma at the end of a word
// becomes "ς".
std::string to_lowercase(std::string_view text);
// The full Unicode upper-case mapping, as Python's str.upper(): "ß" gives
// "SS", "ﬀ" gives "FF", "ſ" gives "S".
std::string to_uppercase(std::string_view text);

// The Unicode version the tables were generated from, e.g. "14.0.0".
std::string_view unicode_version();

}  // namespace vostrel::unicode

#endif  // VOSTREL_UNICODE_UNICODE_H_
