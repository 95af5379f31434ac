// The one road from the core to a chat endpoint: an HTTP POST of a JSON body
// that must come back as a JSON reply, made through a replaceable, process-wide
// `Transport`.
#ifndef VOSTREL_HTTP_TRANSPORT_H_
#define VOSTREL_HTTP_TRANSPORT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/value.h"
#include "utils/result.h"

namespace vostrel::http {

// Request headers in the order they are sent.
using Header = std::pair<std::string, std::string>;
using Headers = std::vector<Header>;

// A successful reply larger than this is refused with a ProviderNetwork error
// instead of being held in memory whole.
inline constexpr std::size_t kMaxReplyBytes = std::size_t{64} << 20;
// The longest error-reply body kept as text; a longer one is reported as unreadable.
inline constexpr std::size_t kMaxErrorBodyBytes = std::size_t{10} << 20;

// Posts JSON. Implementations are called from any thread, also from several at once.
class Transport {
 public:
  virtual ~Transport() = default;
  // One POST of `payload` to `url` with `headers`; `timeout_sec` bounds the whole
  // exchange. The parsed reply, or ProviderHttp (status >= 400), ProviderNetwork
  // (no usable reply) or Provider (a reply that is not one JSON value).
  virtual Result<JsonValue> post(std::string_view url, const JsonValue& payload,
                                 const Headers& headers, std::uint64_t timeout_sec) = 0;
};

// The built-in transport over the core's own HTTP/1.1 client. Stateless: every
// POST builds a fresh client, verifies TLS against the CA roots built into the
// module only, takes no proxy from the environment and follows no redirect.
class DefaultTransport final : public Transport {
 public:
  Result<JsonValue> post(std::string_view url, const JsonValue& payload, const Headers& headers,
                         std::uint64_t timeout_sec) override;
};

// The DefaultTransport's POST, callable without going through the slot.
Result<JsonValue> post_json(std::string_view url, const JsonValue& payload,
                            const Headers& headers, std::uint64_t timeout_sec);

// Posts through whatever transport the process-wide slot holds (a
// DefaultTransport until one is installed). No lock is held during the POST, so
// a transport replaced meanwhile finishes the calls already running on it.
Result<JsonValue> transport_post(std::string_view url, const JsonValue& payload,
                                 const Headers& headers, std::uint64_t timeout_sec);

// Replaces the slot's transport; a null handle is ignored (the slot is never empty).
void install_transport(std::shared_ptr<Transport> transport);

// The transport the slot holds now (filling the slot first when it is empty).
std::shared_ptr<Transport> current_transport();

}  // namespace vostrel::http

#endif  // VOSTREL_HTTP_TRANSPORT_H_
