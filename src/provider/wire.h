// Pieces shared by the OpenAI- and Anthropic-shaped wires.
#ifndef VOSTREL_PROVIDER_WIRE_H_
#define VOSTREL_PROVIDER_WIRE_H_

#include <string>
#include <string_view>

#include "json/value.h"
#include "provider/response.h"
#include "utils/error.h"

namespace vostrel::provider {

// `url` without its trailing "/" characters.
std::string strip_trailing_slashes(std::string_view url);

// `config` with the URL member `url` stripped of trailing "/" characters.
template <typename Config>
Config with_stripped_url(Config config, std::string Config::*url) {
  config.*url = strip_trailing_slashes(config.*url);
  return config;
}

// The number, or null when it is not finite.
JsonValue finite_or_null(double value);

// A tool call's name or id: the string itself, or the Python str() text of
// another truthy value; empty when the value is missing or not truthy.
std::string truthy_text(const JsonValue* value);

// A Provider error "{what} from {model}: {py_str(reply)}", as in
// "API error from m: {...}" and "Unexpected response structure from m: {...}".
CoreError reply_error(std::string_view what, std::string_view model, const JsonValue& reply);

// "Provider response from {model} indicates {reason}: {py_str(reply)}".
CoreError indicates_error(std::string_view model, std::string_view reason, const JsonValue& reply);

// Replaces every occurrence of `secret` in the texts of `error`: a credential
// echoed back by an endpoint must not reach logs or error texts.
CoreError redact_secret(CoreError error, std::string_view secret);

// `reply` unchanged, or its error with `secret` redacted.
Result<ProviderResponse> without_secret(Result<ProviderResponse> reply, std::string_view secret);

}  // namespace vostrel::provider

#endif  // VOSTREL_PROVIDER_WIRE_H_
