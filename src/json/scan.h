// Byte-scanning helpers shared by the JSON reader and writer (internal to
// src/json). Strings are searched sixteen bytes at a time for the few bytes
// that need attention, and runs of non-ASCII text are validated by a small
// table-driven automaton, so long prose costs little more than a copy.
#ifndef VOSTREL_JSON_SCAN_H_
#define VOSTREL_JSON_SCAN_H_

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vostrel::json_scan {

// The first byte in [p, end) that is a quote, a backslash, a control
// character (below 0x20) or, with `non_ascii`, a byte from 0x80 up; `end`
// when there is none.
inline const char* find_string_special(const char* p, const char* end, bool non_ascii) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i space = _mm_set1_epi8(0x20);
  const __m128i sign = _mm_set1_epi8(static_cast<char>(0x80));
  while (end - p >= 16) {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Signed compare: bytes from 0x80 up are negative, so "below 0x20" also
    // catches them; without `non_ascii` they are compared as unsigned.
    const __m128i low = non_ascii ? _mm_cmplt_epi8(w, space)
                                  : _mm_cmplt_epi8(_mm_xor_si128(w, sign), _mm_xor_si128(space, sign));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(w, quote), _mm_cmpeq_epi8(w, backslash)), low);
    const int mask = _mm_movemask_epi8(hit);
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  for (; p < end; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\' || c < 0x20 || (non_ascii && c >= 0x80)) return p;
  }
  return end;
}

// A UTF-8 validating automaton over byte classes: well-formed sequences only
// (no overlong forms, no surrogates, nothing above U+10FFFF).
namespace utf8 {

inline constexpr std::uint8_t kAccept = 0;
inline constexpr std::uint8_t kReject = 8;

// Byte classes: 0 ASCII, 1 80..8F, 2 90..9F, 3 A0..BF, 4 never valid,
// 5 C2..DF, 6 E0, 7 E1..EC and EE..EF, 8 ED, 9 F0, 10 F1..F3, 11 F4.
inline constexpr std::array<std::uint8_t, 256> kClass = [] {
  std::array<std::uint8_t, 256> t{};
  for (int b = 0; b < 256; ++b) {
    std::uint8_t c = 4;
    if (b < 0x80) c = 0;
    else if (b <= 0x8F) c = 1;
    else if (b <= 0x9F) c = 2;
    else if (b <= 0xBF) c = 3;
    else if (b >= 0xC2 && b <= 0xDF) c = 5;
    else if (b == 0xE0) c = 6;
    else if (b == 0xED) c = 8;
    else if (b >= 0xE1 && b <= 0xEF) c = 7;
    else if (b == 0xF0) c = 9;
    else if (b >= 0xF1 && b <= 0xF3) c = 10;
    else if (b == 0xF4) c = 11;
    t[static_cast<std::size_t>(b)] = c;
  }
  return t;
}();

// States: 0 accept, 1..3 that many continuation bytes due, 4 after E0
// (A0..BF next), 5 after ED (80..9F next), 6 after F0 (90..BF next), 7 after
// F4 (80..8F next), 8 reject. Indexed [state * 12 + class].
inline constexpr std::array<std::uint8_t, 9 * 12> kNext = [] {
  std::array<std::uint8_t, 9 * 12> t{};
  for (auto& s : t) s = kReject;
  auto set = [&t](int state, int cls, std::uint8_t next) {
    t[static_cast<std::size_t>(state * 12 + cls)] = next;
  };
  set(0, 0, 0);
  set(0, 5, 1);
  set(0, 6, 4);
  set(0, 7, 2);
  set(0, 8, 5);
  set(0, 9, 6);
  set(0, 10, 3);
  set(0, 11, 7);
  for (int cls = 1; cls <= 3; ++cls) {
    set(1, cls, 0);
    set(2, cls, 1);
    set(3, cls, 2);
  }
  set(4, 3, 1);
  set(5, 1, 1);
  set(5, 2, 1);
  set(6, 2, 2);
  set(6, 3, 2);
  set(7, 1, 2);
  return t;
}();

// The same automaton in shift form: row b holds, at bit 6 * s, six times the
// state that byte b leads to from state s. A step is a load that depends only
// on the byte, a shift and a mask, so consecutive steps overlap well.
inline constexpr std::array<std::uint64_t, 256> kRow = [] {
  std::array<std::uint64_t, 256> t{};
  for (std::size_t b = 0; b < 256; ++b) {
    std::uint64_t row = 0;
    for (std::uint64_t state = 0; state < 9; ++state) {
      const std::uint64_t next = kNext[state * 12 + kClass[b]];
      row |= (next * 6) << (state * 6);
    }
    t[b] = row;
  }
  return t;
}();

}  // namespace utf8

// How many plain ASCII bytes in a row the byte-at-a-time loops below take
// in their stride before handing back to the sixteen-byte search: prose in
// Cyrillic or Greek is non-ASCII words between single spaces.
inline constexpr int kAsciiStride = 8;

inline bool is_plain_ascii(unsigned char b) { return b >= 0x20 && b < 0x80 && b != '"' && b != '\\'; }

struct Decoded {
  char32_t cp;      // U+FFFD when malformed
  std::size_t len;  // bytes taken
  bool ok;
};

// Decodes the character at p (a byte from 0x80 up, p < end). A well-formed
// sequence gives its code point and length; a malformed one gives U+FFFD and
// the length of its longest well-formed prefix (at least 1), so the text
// after it is never swallowed.
inline Decoded decode_utf8(const char* p, const char* end) {
  const auto b0 = static_cast<unsigned char>(p[0]);
  std::uint64_t state = utf8::kRow[b0] & 63;
  if (state == utf8::kReject * 6) return {0xFFFD, 1, false};
  // The payload bits of a lead byte: 110xxxxx, 1110xxxx, 11110xxx.
  char32_t cp = b0 & (0x7Fu >> std::countl_one(b0));
  std::size_t k = 1;
  while (state != 0) {
    if (p + k >= end) break;
    const auto b = static_cast<unsigned char>(p[k]);
    const std::uint64_t next = (utf8::kRow[b] >> state) & 63;
    if (next == utf8::kReject * 6) break;
    cp = (cp << 6) | (b & 0x3Fu);
    state = next;
    ++k;
  }
  if (state != 0) return {0xFFFD, k, false};
  return {cp, k, true};
}

#if defined(__SSE2__)
// Validates whole sixteen-byte blocks from p (the first byte of a character)
// while they hold only well-formed characters (ASCII, or two- to four-byte
// forms other than those led by E0, ED, F0 and F4, whose second byte has a
// narrower range) and no quote, backslash or control byte. Returns where the
// validated text ends, always at a character boundary; p itself when the
// first block does not qualify. A character may straddle two blocks: the
// continuation bytes it still expects carry over into the next block.
inline const char* skip_utf8_blocks(const char* p, const char* end) {
  auto bytes = [](int v) { return _mm_set1_epi8(static_cast<char>(v)); };
  auto mask = [](__m128i m) { return static_cast<unsigned>(_mm_movemask_epi8(m)); };
  auto in_range = [](__m128i w, int lo, int hi) {  // signed lo <= w <= hi
    return _mm_and_si128(_mm_cmpgt_epi8(w, _mm_set1_epi8(static_cast<char>(lo - 1))),
                         _mm_cmplt_epi8(w, _mm_set1_epi8(static_cast<char>(hi + 1))));
  };
  const char* q = p;
  unsigned carry = 0;
  while (end - q >= 16) {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    // As signed bytes: 80..BF are -128..-65, C2..DF -62..-33, E0..EF
    // -32..-17, F0..F4 -16..-12.
    const unsigned ascii = ~mask(w) & 0xFFFF;
    const unsigned cont = mask(_mm_cmplt_epi8(w, bytes(-64)));
    const unsigned lead2 = mask(in_range(w, -62, -33));
    const unsigned lead3 = mask(in_range(w, -32, -17));
    const unsigned lead4 = mask(in_range(w, -16, -12));
    const unsigned narrow = mask(_mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(w, bytes(0xE0)), _mm_cmpeq_epi8(w, bytes(0xED))),
        _mm_or_si128(_mm_cmpeq_epi8(w, bytes(0xF0)), _mm_cmpeq_epi8(w, bytes(0xF4)))));
    const unsigned stop = mask(_mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(w, bytes('"')), _mm_cmpeq_epi8(w, bytes('\\'))), in_range(w, 0, 0x1F)));
    const unsigned other = ~(ascii | cont | lead2 | lead3 | lead4) & 0xFFFF;
    const unsigned expect = carry | (lead2 << 1) | (lead3 << 1) | (lead3 << 2) | (lead4 << 1) |
                            (lead4 << 2) | (lead4 << 3);
    if ((narrow | stop | other) != 0 || (expect & 0xFFFF) != cont) break;
    carry = expect >> 16;
    q += 16;
    if (ascii == 0xFFFF) break;  // back to the search for the end of the string
  }
  if (carry != 0) {
    // Back to the first byte of the character that the last block left open.
    do {
      --q;
    } while ((static_cast<unsigned char>(*q) & 0xC0) == 0x80);
  }
  return q;
}
#endif

// Passes over a stretch of mostly non-ASCII text starting at p (a byte from
// 0x80 up): well-formed characters and the plain ASCII bytes between them.
// Returns the first byte not taken: a quote, backslash or control character,
// the start of a longer ASCII run, `end`, or a malformed sequence, whose
// length (that of its longest well-formed prefix, so an ASCII byte that cut
// it short is not part of it) goes to `bad_len`; otherwise `bad_len` is 0.
inline const char* skip_utf8_run(const char* p, const char* end, std::size_t& bad_len) {
  bad_len = 0;
  int ascii = 0;
#if defined(__SSE2__)
  const char* retry_blocks = p;
#endif
  while (p < end) {
    const auto b = static_cast<unsigned char>(*p);
    if (b < 0x80) {
      if (!is_plain_ascii(b) || ++ascii > kAsciiStride) return p;
      ++p;
      continue;
    }
    ascii = 0;
#if defined(__SSE2__)
    if (p >= retry_blocks && end - p >= 16) {
      const char* q = skip_utf8_blocks(p, end);
      if (q != p) {
        p = q;
        continue;
      }
      retry_blocks = p + 16;  // a block that failed: go byte by byte for a while
    }
#endif
    // Two- and three-byte characters whose continuation bytes may take any
    // value; the rest (E0, ED, four-byte forms, malformed bytes) go through
    // the automaton.
    if (b >= 0xC2 && b <= 0xDF) {
      if (end - p >= 2 && (static_cast<unsigned char>(p[1]) & 0xC0) == 0x80) {
        p += 2;
        continue;
      }
    } else if (b >= 0xE1 && b <= 0xEF && b != 0xED) {
      if (end - p >= 3 && (static_cast<unsigned char>(p[1]) & 0xC0) == 0x80 &&
          (static_cast<unsigned char>(p[2]) & 0xC0) == 0x80) {
        p += 3;
        continue;
      }
    }
    const Decoded d = decode_utf8(p, end);
    if (!d.ok) {
      bad_len = d.len;
      return p;
    }
    p += d.len;
  }
  return p;
}

}  // namespace vostrel::json_scan

#endif  // VOSTREL_JSON_SCAN_H_
