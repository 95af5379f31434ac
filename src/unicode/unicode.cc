#include "unicode/unicode.h"

#include <algorithm>
#include <cstdint>
#include <span>

#include "unicode/tables.h"

namespace vostrel::unicode {

namespace {

using tables::CaseMap;
using tables::Expansion;
using tables::Range;

bool in_ranges(std::span<const Range> ranges, char32_t cp) {
  auto it = std::upper_bound(ranges.begin(), ranges.end(), cp,
                             [](char32_t c, const Range& r) { return c < r.first; });
  return it != ranges.begin() && cp <= std::prev(it)->last;
}

bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Appends the case mapping in `map` of `cp`, whose UTF-8 form is `bytes`.
void append_mapped(std::string& out, char32_t cp, std::string_view bytes, const CaseMap& map) {
  const std::int32_t delta = cp < map.limit ? map.deltas[std::size_t{map.index[cp >> 7]} * 128 + (cp & 127)] : 0;
  if (delta == 0) {
    out.append(bytes);
    return;
  }
  if (delta != INT32_MIN) {
    append_utf8(out, static_cast<char32_t>(static_cast<std::int32_t>(cp) + delta));
    return;
  }
  auto it = std::lower_bound(map.expansions.begin(), map.expansions.end(), cp,
                             [](const Expansion& e, char32_t c) { return e.from < c; });
  for (char32_t c : it->to) {
    if (c != 0) append_utf8(out, c);
  }
}

bool is_cased(char32_t cp) { return in_ranges(tables::kCased, cp); }
bool is_case_ignorable(char32_t cp) { return in_ranges(tables::kCaseIgnorable, cp); }

// A capital sigma at `pos` ends a word when a cased character precedes it and
// none follows it, looking past case-ignorable characters both ways.
bool sigma_is_final(std::string_view text, std::size_t pos, std::size_t length) {
  std::size_t i = pos;
  bool cased_before = false;
  while (i > 0) {
    const DecodedChar d = decode_utf8_before(text, i);
    i -= d.length;
    if (!is_case_ignorable(d.code_point)) {
      cased_before = is_cased(d.code_point);
      break;
    }
  }
  if (!cased_before) return false;
  for (std::size_t j = pos + length; j < text.size();) {
    const DecodedChar d = decode_utf8(text, j);
    j += d.length;
    if (!is_case_ignorable(d.code_point)) return !is_cased(d.code_point);
  }
  return true;
}

// Rewrites `text` one character at a time: ASCII bytes through `ascii`, other
// well-formed characters through `other(out, code_point, pos, length)`;
// malformed bytes are copied as they are.
template <typename Ascii, typename Other>
std::string map_chars(std::string_view text, Ascii ascii, Other other) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      std::size_t end = i + 1;
      while (end < text.size() && static_cast<unsigned char>(text[end]) < 0x80) ++end;
      const std::size_t from = out.size();
      out.append(text, i, end - i);
      for (std::size_t k = from; k < out.size(); ++k) out[k] = ascii(out[k]);
      i = end;
      continue;
    }
    const DecodedChar d = decode_utf8(text, i);
    if (d.code_point == kReplacementChar && d.length == 1) {
      out += text[i];
    } else {
      other(out, d.code_point, i, d.length);
    }
    i += d.length;
  }
  return out;
}

}  // namespace

DecodedChar decode_utf8(std::string_view text, std::size_t pos) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data()) + pos;
  const std::size_t left = text.size() - pos;
  const unsigned char b0 = s[0];
  if (b0 < 0x80) return {b0, 1};
  constexpr DecodedChar kBad{kReplacementChar, 1};
  if (b0 < 0xC2) return kBad;  // continuation byte or overlong lead
  if (b0 < 0xE0) {
    if (left < 2 || !is_continuation(s[1])) return kBad;
    return {static_cast<char32_t>(((b0 & 0x1Fu) << 6) | (s[1] & 0x3Fu)), 2};
  }
  if (b0 < 0xF0) {
    if (left < 3 || !is_continuation(s[1]) || !is_continuation(s[2])) return kBad;
    if ((b0 == 0xE0 && s[1] < 0xA0) || (b0 == 0xED && s[1] >= 0xA0)) return kBad;  // overlong, surrogate
    return {static_cast<char32_t>(((b0 & 0x0Fu) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu)), 3};
  }
  if (b0 < 0xF5) {
    if (left < 4 || !is_continuation(s[1]) || !is_continuation(s[2]) || !is_continuation(s[3])) return kBad;
    if ((b0 == 0xF0 && s[1] < 0x90) || (b0 == 0xF4 && s[1] >= 0x90)) return kBad;  // overlong, above U+10FFFF
    return {static_cast<char32_t>(((b0 & 0x07u) << 18) | ((s[1] & 0x3Fu) << 12) | ((s[2] & 0x3Fu) << 6) |
                                  (s[3] & 0x3Fu)),
            4};
  }
  return kBad;
}

DecodedChar decode_utf8_before(std::string_view text, std::size_t end) {
  // A well-formed character is at most four bytes: try the lead byte of each
  // candidate start and accept the one whose sequence ends exactly at `end`.
  const std::size_t lowest = end >= 4 ? end - 4 : 0;
  std::size_t start = end - 1;
  while (start > lowest && is_continuation(static_cast<unsigned char>(text[start]))) --start;
  const DecodedChar d = decode_utf8(text, start);
  if (start + d.length == end) return d;
  return {kReplacementChar, 1};
}

void append_utf8(std::string& out, char32_t cp) {
  char buf[4];
  std::size_t n;
  if (cp < 0x80) {
    buf[0] = static_cast<char>(cp);
    n = 1;
  } else if (cp < 0x800) {
    buf[0] = static_cast<char>(0xC0 | (cp >> 6));
    buf[1] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 2;
  } else if (cp < 0x10000) {
    buf[0] = static_cast<char>(0xE0 | (cp >> 12));
    buf[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    buf[2] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 3;
  } else {
    buf[0] = static_cast<char>(0xF0 | (cp >> 18));
    buf[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    buf[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    buf[3] = static_cast<char>(0x80 | (cp & 0x3F));
    n = 4;
  }
  out.append(buf, n);
}

bool is_white_space(char32_t cp) {
  if (cp < 0x80) return cp == ' ' || (cp >= 0x09 && cp <= 0x0D);
  return in_ranges(tables::kWhiteSpace, cp);
}

std::string_view trim_start(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const DecodedChar d = decode_utf8(text, i);
    if (!is_white_space(d.code_point)) break;
    i += d.length;
  }
  return text.substr(i);
}

std::string_view trim_end(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0) {
    const DecodedChar d = decode_utf8_before(text, end);
    if (!is_white_space(d.code_point)) break;
    end -= d.length;
  }
  return text.substr(0, end);
}

std::string_view trim(std::string_view text) { return trim_end(trim_start(text)); }

std::size_t count_chars(std::string_view text) {
  std::size_t n = 0;
  for (char c : text) n += is_continuation(static_cast<unsigned char>(c)) ? 0 : 1;
  return n;
}

bool is_alphanumeric(char32_t cp) {
  if (cp < 0x80) return (cp >= 'a' && cp <= 'z') || (cp >= 'A' && cp <= 'Z') || (cp >= '0' && cp <= '9');
  return in_ranges(tables::kAlphanumeric, cp);
}

std::string ascii_lowercase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = ascii_lower(c);
  return out;
}

bool ascii_iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

std::string to_lowercase(std::string_view text) {
  return map_chars(text, ascii_lower, [text](std::string& out, char32_t cp, std::size_t pos, std::size_t length) {
    if (cp == U'\u03A3') {
      append_utf8(out, sigma_is_final(text, pos, length) ? U'\u03C2' : U'\u03C3');
    } else {
      append_mapped(out, cp, text.substr(pos, length), tables::kLower);
    }
  });
}

std::string to_uppercase(std::string_view text) {
  return map_chars(
      text, [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; },
      [text](std::string& out, char32_t cp, std::size_t pos, std::size_t length) {
        append_mapped(out, cp, text.substr(pos, length), tables::kUpper);
      });
}

std::string_view unicode_version() { return tables::kUnicodeVersion; }

}  // namespace vostrel::unicode
