// Byte-scanning helpers shared by the JSON reader and writer (internal to
// src/json). Strings are searched sixteen bytes at a time for the few bytes
// that need attention, and runs of non-ASCII text are validated by a small
// table-driven automaton, so long prose costs little more than a copy.
#ifndef VOSTREL_JSON_SCAN_H_
#define VOSTREL_JSON_SCAN_H_

#include <array>
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

// Validates the UTF-8 text from p (a byte from 0x80 up) through the end of
// the run of non-ASCII characters. Returns the first byte after the run (an
// ASCII byte or `end`). At a malformed sequence it sets `bad` and returns
// early, never past an ASCII byte that cut the sequence short; the caller
// goes on scanning from there.
inline const char* skip_utf8_run(const char* p, const char* end, bool& bad) {
  std::uint64_t state = 0;  // six times the automaton's state
  for (; p < end; ++p) {
    const auto b = static_cast<unsigned char>(*p);
    if (state == 0 && b < 0x80) return p;
    const std::uint64_t next = (utf8::kRow[b] >> state) & 63;
    if (next == utf8::kReject * 6) {
      bad = true;
      return state == 0 ? p + 1 : p;
    }
    state = next;
  }
  if (state != 0) bad = true;
  return p;
}

}  // namespace vostrel::json_scan

#endif  // VOSTREL_JSON_SCAN_H_
