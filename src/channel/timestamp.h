// UTC time stamps of the log channel.
#ifndef VOSTREL_CHANNEL_TIMESTAMP_H_
#define VOSTREL_CHANNEL_TIMESTAMP_H_

#include <cstdint>
#include <string>

namespace vostrel {

// A wall-clock instant: seconds since 1970-01-01 UTC and nanoseconds.
struct UtcInstant {
  std::int64_t seconds = 0;
  std::uint32_t nanos = 0;
};

// The current UTC wall-clock time. A clock before 1970 stops the process with
// "system clock is before 1970".
UtcInstant utc_now();

// "20250314T090507Z" (proleptic Gregorian calendar).
std::string utc_compact_stamp(UtcInstant t);

// "2025-03-14T09:05:07+00:00", or "2025-03-14T09:05:07.000250+00:00" when the
// instant has whole microseconds.
std::string utc_iso_timestamp(UtcInstant t);

}  // namespace vostrel

#endif  // VOSTREL_CHANNEL_TIMESTAMP_H_
