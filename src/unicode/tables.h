// Character tables behind unicode.h, generated into tables.cc by
// tools/gen_unicode_tables.py. Internal to the unicode module.
#ifndef VOSTREL_UNICODE_TABLES_H_
#define VOSTREL_UNICODE_TABLES_H_

#include <span>
#include <string_view>

namespace vostrel::unicode::tables {

// Inclusive code point ranges, sorted, not overlapping.
struct Range {
  char32_t first;
  char32_t last;
};

// A character that case-maps to one other character; sorted by `from`.
struct Mapping {
  char32_t from;
  char32_t to;
};

// A character that case-maps to two or three characters (0 ends a shorter
// one); sorted by `from`.
struct Expansion {
  char32_t from;
  char32_t to[3];
};

extern const std::string_view kUnicodeVersion;
extern const std::span<const Range> kWhiteSpace;
extern const std::span<const Range> kAlphanumeric;
extern const std::span<const Range> kCased;
extern const std::span<const Range> kCaseIgnorable;
extern const std::span<const Mapping> kLowerSingle;
extern const std::span<const Mapping> kUpperSingle;
extern const std::span<const Expansion> kLowerMulti;
extern const std::span<const Expansion> kUpperMulti;

}  // namespace vostrel::unicode::tables

#endif  // VOSTREL_UNICODE_TABLES_H_
