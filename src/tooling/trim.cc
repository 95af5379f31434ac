#include "tooling/trim.h"

#include <cstddef>

namespace vostrel::tooling {

namespace {

// Byte length of the White_Space character that `s` begins with, or 0.
std::size_t leading_space(std::string_view s) {
  if (s.empty()) return 0;
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 == 0x20 || (b0 >= 0x09 && b0 <= 0x0D)) return 1;
  if (b0 == 0xC2) {
    if (s.size() < 2) return 0;
    const auto b1 = static_cast<unsigned char>(s[1]);
    return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;
  }
  if (s.size() < 3 || b0 < 0xE1 || b0 > 0xE3) return 0;
  const auto b1 = static_cast<unsigned char>(s[1]);
  const auto b2 = static_cast<unsigned char>(s[2]);
  switch (b0) {
    case 0xE1:  // U+1680
      return (b1 == 0x9A && b2 == 0x80) ? 3 : 0;
    case 0xE2:
      if (b1 == 0x80) {  // U+2000..U+200A, U+2028, U+2029, U+202F
        return (b2 <= 0x8A || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF) && b2 >= 0x80 ? 3 : 0;
      }
      return (b1 == 0x81 && b2 == 0x9F) ? 3 : 0;  // U+205F
    default:  // 0xE3: U+3000
      return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;
  }
}

// Byte length of the White_Space character that `s` ends with, or 0. Lead
// bytes never occur as continuation bytes, so matching the last one, two or
// three bytes cannot split a character.
std::size_t trailing_space(std::string_view s) {
  if (s.empty()) return 0;
  const auto last = static_cast<unsigned char>(s.back());
  if (last < 0x80) return leading_space(s.substr(s.size() - 1));
  if (s.size() >= 2 && leading_space(s.substr(s.size() - 2)) == 2) return 2;
  if (s.size() >= 3 && leading_space(s.substr(s.size() - 3)) == 3) return 3;
  return 0;
}

}  // namespace

std::string_view trim_white_space(std::string_view text) {
  while (std::size_t n = leading_space(text)) text.remove_prefix(n);
  while (std::size_t n = trailing_space(text)) text.remove_suffix(n);
  return text;
}

}  // namespace vostrel::tooling
