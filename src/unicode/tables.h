// Character tables behind unicode.h, generated into tables.cc by
// tools/gen_unicode_tables.py. Internal to the unicode module.
#ifndef VOSTREL_UNICODE_TABLES_H_
#define VOSTREL_UNICODE_TABLES_H_

#include <cstdint>
#include <span>
#include <string_view>

namespace vostrel::unicode::tables {

// Inclusive code point ranges, sorted, not overlapping.
struct Range {
  char32_t first;
  char32_t last;
};

// A character that case-maps to two or three characters (0 ends a shorter
// one); sorted by `from`.
struct Expansion {
  char32_t from;
  char32_t to[3];
};

// One direction of the full case mapping as a two-stage table: a code point
// below `limit` maps to itself plus `deltas[index[cp / 128] * 128 + cp % 128]`;
// a delta of INT32_MIN means it maps to several characters, listed in
// `expansions`. Code points from `limit` up map to themselves.
struct CaseMap {
  char32_t limit;
  const std::uint8_t* index;
  const std::int32_t* deltas;
  std::span<const Expansion> expansions;
};

extern const std::string_view kUnicodeVersion;
extern const std::span<const Range> kWhiteSpace;
extern const std::span<const Range> kAlphanumeric;
extern const std::span<const Range> kCased;
extern const std::span<const Range> kCaseIgnorable;
extern const CaseMap kLower;
extern const CaseMap kUpper;

}  // namespace vostrel::unicode::tables

#endif  // VOSTREL_UNICODE_TABLES_H_
