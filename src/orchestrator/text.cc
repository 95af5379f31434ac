#include "orchestrator/text.h"

namespace vostrel::orchestrator {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool in(char32_t cp, char32_t lo, char32_t hi) { return cp >= lo && cp <= hi; }

}  // namespace

Decoded decode_at(std::string_view text, std::size_t pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char b0 = byte(pos);
  if (b0 < 0x80) return {b0, 1};
  std::size_t len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return {kReplacement, 1};
  }
  if (pos + len > text.size()) return {kReplacement, 1};
  for (std::size_t i = 1; i < len; ++i) {
    const unsigned char b = byte(pos + i);
    if ((b & 0xC0) != 0x80) return {kReplacement, 1};
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || in(cp, 0xD800, 0xDFFF)) return {kReplacement, 1};
  return {cp, len};
}

Decoded decode_before(std::string_view text, std::size_t end) {
  // A code point is at most four bytes: step back over continuation bytes and
  // accept the lead byte only when it decodes to exactly the bytes before `end`.
  std::size_t start = end - 1;
  while (start > 0 && end - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
    --start;
  const Decoded d = decode_at(text, start);
  if (start + d.len == end && d.cp != kReplacement) return d;
  return {static_cast<unsigned char>(text[end - 1]) < 0x80 ? static_cast<char32_t>(text[end - 1])
                                                            : kReplacement,
          1};
}

bool is_white_space(char32_t cp) {
  return in(cp, 0x09, 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
         in(cp, 0x2000, 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
         cp == 0x205F || cp == 0x3000;
}

std::string_view trim_white_space(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end) {
    const Decoded d = decode_at(text, begin);
    if (d.cp == kReplacement || !is_white_space(d.cp)) break;
    begin += d.len;
  }
  while (end > begin) {
    const Decoded d = decode_before(text, end);
    if (d.cp == kReplacement || !is_white_space(d.cp)) break;
    end -= d.len;
  }
  return text.substr(begin, end - begin);
}

bool is_mention_word_char(char32_t cp) {
  if (cp < 0x80) {
    return (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z') || (cp >= '0' && cp <= '9') ||
           cp == '_';
  }
  // Stopgap until the shared Unicode property tables are available: exact for
  // Latin-1, and outside it every code point is a word character except white
  // space, combining marks and the punctuation, symbol and emoji blocks.
  if (cp < 0x100) {
    return cp == 0xAA || cp == 0xB2 || cp == 0xB3 || cp == 0xB5 || cp == 0xB9 || cp == 0xBA ||
           in(cp, 0xBC, 0xBE) || (cp >= 0xC0 && cp != 0xD7 && cp != 0xF7);
  }
  if (is_white_space(cp) || cp == kReplacement) return false;
  if (in(cp, 0x0300, 0x036F)) return cp == 0x0345;
  if (in(cp, 0x2000, 0x206F) || in(cp, 0x20A0, 0x20FF) || in(cp, 0x2190, 0x23FF) ||
      in(cp, 0x2500, 0x2775) || in(cp, 0x2794, 0x2BFF) || in(cp, 0x2E00, 0x2E7F) ||
      in(cp, 0x3000, 0x3004) || in(cp, 0x3008, 0x3020) || cp == 0x3030 ||
      in(cp, 0x303D, 0x303F) || in(cp, 0xFE30, 0xFE4F) || in(cp, 0xFF01, 0xFF0F) ||
      in(cp, 0xFF1A, 0xFF20) || in(cp, 0xFF3B, 0xFF40) || in(cp, 0xFF5B, 0xFF65) ||
      in(cp, 0x1F000, 0x1F0FF) || in(cp, 0x1F10D, 0x1FAFF))
    return false;
  return true;
}

}  // namespace vostrel::orchestrator
