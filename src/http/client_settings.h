// The settings every DefaultTransport client starts from. Internal to the http
// module (and its tests): other modules include transport.h only.
#ifndef VOSTREL_HTTP_CLIENT_SETTINGS_H_
#define VOSTREL_HTTP_CLIENT_SETTINGS_H_

#include <curl/curl.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <variant>

namespace vostrel::http {

// The web CA roots built into the module (PEM; the array has a trailing NUL
// that the size does not count). Generated at build time.
extern const unsigned char kCaRootsPem[];
extern const std::size_t kCaRootsPemSize;

}  // namespace vostrel::http

namespace vostrel::http::detail {

// One curl_easy_setopt call. `nullptr` clears a string option.
struct CurlSetting {
  CURLoption option;
  std::variant<long, const char*, const curl_blob*> value;
};

inline constexpr std::size_t kFixedSettingCount = 13;

// The fixed part of a client's configuration: HTTP/1.1 only, TLS verified
// against the built-in roots and nothing else, no proxy from the environment,
// no redirects, no signals (the client runs on any thread), plain HTTP or HTTPS
// only, and one overall time-out of `timeout_ms` milliseconds (at least 1).
std::array<CurlSetting, kFixedSettingCount> fixed_client_settings(long timeout_ms);

// `timeout_sec` as the client's millisecond time-out, saturated at the largest
// value the client takes. Zero stays zero: the caller refuses it, since the
// client would read it as "no time-out".
long timeout_ms_for(std::uint64_t timeout_sec);

}  // namespace vostrel::http::detail

#endif  // VOSTREL_HTTP_CLIENT_SETTINGS_H_
