#include "provider/wire.h"

#include <cmath>
#include <utility>

#include "pyfmt/pyfmt.h"

namespace vostrel::provider {

std::string strip_trailing_slashes(std::string_view url) {
  while (!url.empty() && url.back() == '/') url.remove_suffix(1);
  return std::string(url);
}

JsonValue finite_or_null(double value) {
  return std::isfinite(value) ? JsonValue(value) : JsonValue(nullptr);
}

std::string truthy_text(const JsonValue* value) {
  if (value == nullptr || json_is_empty(*value)) return {};
  if (const std::string* text = value->get_string()) return *text;
  return py_str(*value);
}

CoreError reply_error(std::string_view what, std::string_view model, const JsonValue& reply) {
  return CoreError::provider(std::string(what) + " from " + std::string(model) + ": " + py_str(reply));
}

CoreError indicates_error(std::string_view model, std::string_view reason, const JsonValue& reply) {
  return CoreError::provider("Provider response from " + std::string(model) + " indicates " +
                             std::string(reason) + ": " + py_str(reply));
}

namespace {
void redact(std::string& text, std::string_view secret) {
  for (std::size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at)) {
    text.replace(at, secret.size(), "[redacted]");
    at += 10;
  }
}
}  // namespace

CoreError redact_secret(CoreError error, std::string_view secret) {
  // Very short keys would redact ordinary words; real credentials are long.
  if (secret.size() < 8) return error;
  for (std::string* text : {&error.message, &error.url, &error.body, &error.cause}) redact(*text, secret);
  return error;
}

Result<ProviderResponse> without_secret(Result<ProviderResponse> reply, std::string_view secret) {
  if (reply.ok()) return reply;
  return redact_secret(std::move(reply).error(), secret);
}

}  // namespace vostrel::provider
