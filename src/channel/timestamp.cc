#include "channel/timestamp.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>

namespace vostrel {

namespace {

struct Civil {
  std::int64_t year;
  unsigned month, day, hour, minute, second;
};

// Days since 1970-01-01 to a proleptic Gregorian date (era-based, exact for
// every representable day).
Civil civil_from_seconds(std::int64_t seconds) {
  std::int64_t days = seconds / 86400;
  std::int64_t rem = seconds % 86400;
  if (rem < 0) {
    rem += 86400;
    --days;
  }
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t doe = days - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  return Civil{year, static_cast<unsigned>(month), static_cast<unsigned>(day),
               static_cast<unsigned>(rem / 3600), static_cast<unsigned>(rem % 3600 / 60),
               static_cast<unsigned>(rem % 60)};
}

}  // namespace

UtcInstant utc_now() {
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME, &ts);
  if (ts.tv_sec < 0) {
    std::fputs("system clock is before 1970\n", stderr);
    std::abort();
  }
  return UtcInstant{static_cast<std::int64_t>(ts.tv_sec), static_cast<std::uint32_t>(ts.tv_nsec)};
}

std::string utc_compact_stamp(UtcInstant t) {
  const Civil c = civil_from_seconds(t.seconds);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04lld%02u%02uT%02u%02u%02uZ", static_cast<long long>(c.year), c.month, c.day,
                c.hour, c.minute, c.second);
  return buf;
}

std::string utc_iso_timestamp(UtcInstant t) {
  const Civil c = civil_from_seconds(t.seconds);
  char buf[64];
  const unsigned micros = t.nanos / 1000;
  if (micros == 0) {
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02u:%02u:%02u+00:00", static_cast<long long>(c.year),
                  c.month, c.day, c.hour, c.minute, c.second);
  } else {
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT%02u:%02u:%02u.%06u+00:00", static_cast<long long>(c.year),
                  c.month, c.day, c.hour, c.minute, c.second, micros);
  }
  return buf;
}

}  // namespace vostrel
