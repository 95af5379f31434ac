// Counter and number conversions of the orchestrator: counters that stop at
// their bound instead of wrapping, saturating float-to-integer conversion and
// the strict decimal integer reader the loop's lenient readers fall back to.
#ifndef VOSTREL_ORCHESTRATOR_NUMBERS_H_
#define VOSTREL_ORCHESTRATOR_NUMBERS_H_

#include <cstdint>
#include <optional>
#include <string_view>

namespace vostrel::orchestrator {

// a + b, held to the signed 64-bit range.
std::int64_t saturating_add(std::int64_t a, std::int64_t b);
// a - b, held to the signed 64-bit range.
std::int64_t saturating_sub(std::int64_t a, std::int64_t b);
// The double truncated toward zero and held to the signed 64-bit range; NaN is 0.
std::int64_t saturating_i64(double value);
// An optional "+" or "-" followed by ASCII digits only, fitting a signed
// 64-bit integer; none otherwise (also for the empty text or a lone sign).
std::optional<std::int64_t> parse_decimal_i64(std::string_view text);

}  // namespace vostrel::orchestrator

#endif  // VOSTREL_ORCHESTRATOR_NUMBERS_H_
