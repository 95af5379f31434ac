#include "utils/error.h"

#include <array>
#include <utility>

namespace vostrel {

std::string_view error_kind_name(ErrorKind kind) {
  static constexpr std::array<std::string_view, kErrorKindCount> kNames = {
      "Provider", "ProviderHttp", "ProviderNetwork", "ProviderEmpty", "Session",
      "GameplanLoad", "AccessDenied", "NotFound", "Value", "Io"};
  return kNames[static_cast<std::size_t>(kind)];
}

namespace {
CoreError with_message(ErrorKind kind, std::string message) {
  CoreError e;
  e.kind = kind;
  e.message = std::move(message);
  return e;
}
}  // namespace

CoreError CoreError::provider(std::string m) { return with_message(ErrorKind::kProvider, std::move(m)); }
CoreError CoreError::provider_empty(std::string m) { return with_message(ErrorKind::kProviderEmpty, std::move(m)); }
CoreError CoreError::session(std::string m) { return with_message(ErrorKind::kSession, std::move(m)); }
CoreError CoreError::gameplan_load(std::string m) { return with_message(ErrorKind::kGameplanLoad, std::move(m)); }
CoreError CoreError::access_denied(std::string m) { return with_message(ErrorKind::kAccessDenied, std::move(m)); }
CoreError CoreError::not_found(std::string m) { return with_message(ErrorKind::kNotFound, std::move(m)); }
CoreError CoreError::value(std::string m) { return with_message(ErrorKind::kValue, std::move(m)); }
CoreError CoreError::io(std::string m) { return with_message(ErrorKind::kIo, std::move(m)); }

CoreError CoreError::provider_http(std::uint16_t status, std::string url, std::string body) {
  CoreError e;
  e.kind = ErrorKind::kProviderHttp;
  e.status = status;
  e.url = std::move(url);
  e.body = std::move(body);
  return e;
}

CoreError CoreError::provider_network(std::string url, std::string cause) {
  CoreError e;
  e.kind = ErrorKind::kProviderNetwork;
  e.url = std::move(url);
  e.cause = std::move(cause);
  return e;
}

std::string CoreError::error_text() const {
  switch (kind) {
    case ErrorKind::kProviderHttp:
      return "HTTP " + std::to_string(status) + " from " + url + ": " + body;
    case ErrorKind::kProviderNetwork:
      return "Network error for " + url + ": " + cause;
    default:
      return message;
  }
}

}  // namespace vostrel
