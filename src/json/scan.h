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
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
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
    const __m128i low =
        non_ascii ? _mm_cmplt_epi8(w, space)
                  : _mm_cmplt_epi8(_mm_xor_si128(w, sign), _mm_xor_si128(space, sign));
    const __m128i hit = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(w, quote), _mm_cmpeq_epi8(w, backslash)), low);
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

inline bool is_plain_ascii(unsigned char b) {
  return b >= 0x20 && b < 0x80 && b != '"' && b != '\\';
}

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

// Where a string scan stopped: at a quote, backslash or control byte, at the
// start of a malformed UTF-8 sequence (`bad_len` > 0: the length of its
// longest well-formed prefix, so an ASCII byte that cut it short is not part
// of it), or at the end of the text.
struct Stop {
  const char* at;
  std::size_t bad_len;
};

// Scans [p, limit) byte by byte from the start of a character, as
// `scan_string` does; a character that starts before `limit` may end after
// it (but not after `end`). Returns null when it reaches `limit` (then `*p`
// is a character boundary) without stopping.
inline const Stop* scan_bytes(const char*& p, const char* limit, const char* end, Stop& stop) {
  while (p < limit) {
    const auto b = static_cast<unsigned char>(*p);
    if (b < 0x80) {
      if (b == '"' || b == '\\' || b < 0x20) return &(stop = {p, 0});
      ++p;
      continue;
    }
    const Decoded d = decode_utf8(p, end);
    if (!d.ok) return &(stop = {p, d.len});
    p += d.len;
  }
  return nullptr;
}

// What one block of `width` bytes at p holds, from masks with one bit per
// byte: the non-ASCII bytes (`high`), the quotes, backslashes and control
// bytes (`special`), the continuation bytes 80..BF (`cont`), and the bytes
// from C2, E0, F0 and F5 up (`lead`, `lead3`, `lead4`, `beyond`).
struct BlockVerdict {
  enum Kind : std::uint8_t { kPass, kStop, kBytewise } kind;
  unsigned n;  // kPass: bytes to go on by; kStop: offset of the special byte
};

// Always inlined, also into the AVX2 scan, where it runs once per block.
[[gnu::always_inline]] inline BlockVerdict judge_block(const char* p, const char* end,
                                                       unsigned width, std::uint64_t high,
                                                       std::uint64_t special, std::uint64_t cont,
                                                       std::uint64_t lead, std::uint64_t lead3,
                                                       std::uint64_t lead4, std::uint64_t beyond) {
  // Each lead byte expects its continuation bytes right after it; the block
  // is well-formed up to the first special byte when exactly the expected
  // bytes are continuation bytes.
  const unsigned limit = special != 0 ? static_cast<unsigned>(__builtin_ctzll(special)) : width;
  const std::uint64_t below = (std::uint64_t{1} << limit) - 1;
  // E0, ED, F0 and F4 narrow the range of the byte after them. They can only
  // be among the three- and four-byte leads, which are few in most blocks,
  // so those are looked at one by one.
  for (std::uint64_t m = lead3 & below; m != 0; m &= m - 1) {
    const unsigned k = static_cast<unsigned>(__builtin_ctzll(m));
    const auto b = static_cast<unsigned char>(p[k]);
    if (b != 0xE0 && b != 0xED && b != 0xF0 && b != 0xF4) continue;
    if (end - p <= static_cast<std::ptrdiff_t>(k) + 1) return {BlockVerdict::kBytewise, 0};
    const auto next = static_cast<unsigned char>(p[k + 1]);
    const bool ok = b == 0xE0   ? next >= 0xA0
                    : b == 0xED ? next <= 0x9F
                    : b == 0xF0 ? next >= 0x90
                                : next <= 0x8F;
    if (!ok) return {BlockVerdict::kBytewise, 0};
  }
  const std::uint64_t other = (high & ~(cont | lead)) | beyond;  // C0, C1, F5..FF
  const std::uint64_t expect = (lead << 1) | (lead3 << 2) | (lead4 << 3);
  if ((other & below) != 0 || (expect & below) != (cont & below)) {
    return {BlockVerdict::kBytewise, 0};
  }
  if (limit < width) {
    // Whole characters up to the special byte, none cut short by it.
    if ((expect >> limit) != 0) return {BlockVerdict::kBytewise, 0};
    return {BlockVerdict::kStop, limit};
  }
  if ((expect >> width) == 0) return {BlockVerdict::kPass, width};
  // The last character runs into the next block: start there at its lead.
  return {BlockVerdict::kPass, static_cast<unsigned>(63 - __builtin_clzll(lead))};
}

// The blocks of `scan_string`, sixteen bytes at a time.
inline Stop scan_string_blocks16(const char* p, const char* end) {
  Stop stop{end, 0};
#if defined(__SSE2__)
  while (end - p >= 16) {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // As signed bytes, 80..FF are negative: "below 0x20" holds for them too.
    const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(w));
    const __m128i quote_or_backslash =
        _mm_or_si128(_mm_cmpeq_epi8(w, _mm_set1_epi8('"')), _mm_cmpeq_epi8(w, _mm_set1_epi8('\\')));
    const unsigned special = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
                                 quote_or_backslash, _mm_cmplt_epi8(w, _mm_set1_epi8(0x20))))) &
                             ~high;
    if (high == 0) {
      if (special != 0) return {p + __builtin_ctz(special), 0};
      p += 16;
      continue;
    }
    // As signed bytes: 80..BF are -128..-65, C2..DF -62..-33, E0..EF
    // -32..-17, F0..F4 -16..-12.
    auto at_least = [&w, high](int v) -> std::uint64_t {
      const __m128i ge = _mm_cmpgt_epi8(w, _mm_set1_epi8(static_cast<char>(v - 1)));
      return static_cast<unsigned>(_mm_movemask_epi8(ge)) & high;
    };
    const BlockVerdict verdict = judge_block(
        p, end, 16, high, special,
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(w, _mm_set1_epi8(-64)))),
        at_least(-62), at_least(-32), at_least(-16), at_least(-11));
    if (verdict.kind == BlockVerdict::kStop) return {p + verdict.n, 0};
    if (verdict.kind == BlockVerdict::kPass) {
      p += verdict.n;
      continue;
    }
    if (scan_bytes(p, p + 16, end, stop) != nullptr) return stop;
  }
#endif
  if (scan_bytes(p, end, end, stop) != nullptr) return stop;
  return {end, 0};
}

#if defined(__x86_64__) && defined(__GNUC__)
// The same, thirty-two bytes at a time, for processors with AVX2.
__attribute__((target("avx2"))) inline Stop scan_string_blocks32(const char* p, const char* end) {
  Stop stop{end, 0};
  while (end - p >= 32) {
    const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const std::uint64_t high = static_cast<std::uint32_t>(_mm256_movemask_epi8(w));
    const std::uint64_t special =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(
            _mm256_or_si256(_mm256_cmpeq_epi8(w, _mm256_set1_epi8('"')),
                            _mm256_cmpeq_epi8(w, _mm256_set1_epi8('\\'))),
            _mm256_cmpgt_epi8(_mm256_set1_epi8(0x20), w)))) &
        ~high;
    if (high == 0) {
      if (special != 0) return {p + __builtin_ctzll(special), 0};
      p += 32;
      continue;
    }
    const std::uint64_t cont = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpgt_epi8(_mm256_set1_epi8(-64), w)));
    const std::uint64_t lead = static_cast<std::uint32_t>(_mm256_movemask_epi8(
                                   _mm256_cmpgt_epi8(w, _mm256_set1_epi8(-63)))) & high;
    const std::uint64_t lead3 = static_cast<std::uint32_t>(_mm256_movemask_epi8(
                                    _mm256_cmpgt_epi8(w, _mm256_set1_epi8(-33)))) & high;
    const std::uint64_t lead4 = static_cast<std::uint32_t>(_mm256_movemask_epi8(
                                    _mm256_cmpgt_epi8(w, _mm256_set1_epi8(-17)))) & high;
    const std::uint64_t beyond = static_cast<std::uint32_t>(_mm256_movemask_epi8(
                                     _mm256_cmpgt_epi8(w, _mm256_set1_epi8(-12)))) & high;
    const BlockVerdict verdict =
        judge_block(p, end, 32, high, special, cont, lead, lead3, lead4, beyond);
    if (verdict.kind == BlockVerdict::kStop) return {p + verdict.n, 0};
    if (verdict.kind == BlockVerdict::kPass) {
      p += verdict.n;
      continue;
    }
    if (scan_bytes(p, p + 32, end, stop) != nullptr) return stop;
  }
  return scan_string_blocks16(p, end);
}
#endif

// Scans a string's body from p (the start of a character): plain ASCII and
// well-formed UTF-8 pass, the first byte that needs attention stops the scan.
// Text is taken in blocks of sixteen or thirty-two bytes; a block is checked
// whole, and only one that holds a fault (or a character cut short at the
// end of the text) is gone through byte by byte to find it.
inline Stop scan_string(const char* p, const char* end) {
#if defined(__x86_64__) && defined(__GNUC__)
  static const bool kHasAvx2 = __builtin_cpu_supports("avx2");
  if (kHasAvx2) return scan_string_blocks32(p, end);
#endif
  return scan_string_blocks16(p, end);
}

}  // namespace vostrel::json_scan

#endif  // VOSTREL_JSON_SCAN_H_
