#include "orchestrator/numbers.h"

#include <cmath>
#include <limits>

namespace vostrel::orchestrator {

namespace {
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
}  // namespace

std::int64_t saturating_add(std::int64_t a, std::int64_t b) {
  std::int64_t out = 0;
  if (__builtin_add_overflow(a, b, &out)) return b > 0 ? kMax : kMin;
  return out;
}

std::int64_t saturating_sub(std::int64_t a, std::int64_t b) {
  std::int64_t out = 0;
  if (__builtin_sub_overflow(a, b, &out)) return b < 0 ? kMax : kMin;
  return out;
}

std::int64_t saturating_i64(double value) {
  if (std::isnan(value)) return 0;
  // 2^63 is exactly representable; every double below it converts safely.
  if (value >= 9223372036854775808.0) return kMax;
  if (value <= -9223372036854775808.0) return kMin;
  return static_cast<std::int64_t>(value);
}

std::optional<std::int64_t> parse_decimal_i64(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  // Accumulate as a negative number so that the minimum fits.
  std::int64_t acc = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    if (__builtin_mul_overflow(acc, 10, &acc) || __builtin_sub_overflow(acc, c - '0', &acc))
      return std::nullopt;
  }
  if (negative) return acc;
  if (acc == kMin) return std::nullopt;
  return -acc;
}

}  // namespace vostrel::orchestrator
