// The error value of every fallible core operation.
#ifndef VOSTREL_UTILS_ERROR_H_
#define VOSTREL_UTILS_ERROR_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace vostrel {

// The ten kinds of core error, in their fixed order (their numbers travel in
// checkpoints and select the Python exception class).
enum class ErrorKind : std::uint8_t {
  kProvider = 0,
  kProviderHttp,
  kProviderNetwork,
  kProviderEmpty,
  kSession,
  kGameplanLoad,
  kAccessDenied,
  kNotFound,
  kValue,
  kIo,
};

inline constexpr int kErrorKindCount = 10;

// "Provider", "ProviderHttp", ... as the kinds are named.
std::string_view error_kind_name(ErrorKind kind);

// A core error. `message` carries the text of every kind but `ProviderHttp`
// (status code, url, body) and `ProviderNetwork` (url, cause), whose texts are
// built from their fields by `error_text`.
struct CoreError {
  ErrorKind kind = ErrorKind::kSession;
  std::string message;
  std::uint16_t status = 0;  // ProviderHttp only
  std::string url;           // ProviderHttp and ProviderNetwork
  std::string body;          // ProviderHttp only
  std::string cause;         // ProviderNetwork only

  static CoreError provider(std::string message);
  static CoreError provider_http(std::uint16_t status, std::string url, std::string body);
  static CoreError provider_network(std::string url, std::string cause);
  static CoreError provider_empty(std::string message);
  static CoreError session(std::string message);
  static CoreError gameplan_load(std::string message);
  static CoreError access_denied(std::string message);
  static CoreError not_found(std::string message);
  static CoreError value(std::string message);
  static CoreError io(std::string message);

  // The text of the error wherever it is quoted: "HTTP {} from {}: {}" for
  // ProviderHttp, "Network error for {}: {}" for ProviderNetwork, else the message.
  std::string error_text() const;

  bool operator==(const CoreError&) const = default;
};

}  // namespace vostrel

#endif  // VOSTREL_UTILS_ERROR_H_
