#include "http/transport.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <variant>
#include <string>

#include "http/client_settings.h"
#include "json/reader.h"
#include "json/writer.h"
#include "unicode/unicode.h"
#include "utils/service_slot.h"

namespace vostrel::http {

namespace detail {

std::array<CurlSetting, kFixedSettingCount> fixed_client_settings(long timeout_ms) {
  static const curl_blob kRoots{const_cast<unsigned char*>(kCaRootsPem), kCaRootsPemSize,
                                CURL_BLOB_NOCOPY};
  return {{
      {CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)},
      // An empty proxy disables the proxy variables of the environment.
      {CURLOPT_PROXY, ""},
      {CURLOPT_FOLLOWLOCATION, 0L},
      {CURLOPT_NOSIGNAL, 1L},
      {CURLOPT_PROTOCOLS_STR, "http,https"},
      // No trust store but the built-in roots: neither the library's default
      // bundle file nor a certificate folder is read.
      {CURLOPT_CAINFO, static_cast<const char*>(nullptr)},
      {CURLOPT_CAPATH, static_cast<const char*>(nullptr)},
      {CURLOPT_CAINFO_BLOB, &kRoots},
      {CURLOPT_SSL_VERIFYPEER, 1L},
      {CURLOPT_SSL_VERIFYHOST, 2L},
      {CURLOPT_TIMEOUT_MS, std::max(timeout_ms, 1L)},
      // The client otherwise gives up connecting after five minutes whatever
      // the overall time-out says.
      {CURLOPT_CONNECTTIMEOUT_MS, std::max(timeout_ms, 1L)},
      {CURLOPT_POST, 1L},
  }};
}

long timeout_ms_for(std::uint64_t timeout_sec) {
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<long>::max());
  if (timeout_sec > kMax / 1000) return std::numeric_limits<long>::max();
  return static_cast<long>(timeout_sec * 1000);
}

}  // namespace detail

namespace {

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

void ensure_curl_initialised() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// A header name for an error text: control characters shown as \xNN, so the
// text itself stays one clean line.
std::string printable_name(std::string_view name) {
  std::string out;
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

bool has_line_break_or_nul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Refuses a header that would corrupt the request head. Only the name is
// quoted: a value may be a credential.
std::optional<std::string> header_fault(const Header& header) {
  const auto& [name, value] = header;
  if (name.empty()) return std::string("refusing to send a header with an empty name");
  if (has_line_break_or_nul(name) || name.find(':') != std::string::npos) {
    return "refusing to send header \"" + printable_name(name) +
           "\": its name contains a colon, a line break or a NUL character";
  }
  if (has_line_break_or_nul(value)) {
    return "refusing to send header \"" + name +
           "\": its value contains a line break or a NUL character";
  }
  return std::nullopt;
}

// Length of the valid UTF-8 sequence at the start of `s`, or 0 with `bad` set
// to the length of its longest invalid prefix that is one maximal subpart.
std::size_t utf8_sequence(std::string_view s, std::size_t& bad) {
  auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) return 1;
  std::size_t need;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) need = 1;
  else if (b0 == 0xE0) { need = 2; lo = 0xA0; }
  else if ((b0 >= 0xE1 && b0 <= 0xEC) || b0 == 0xEE || b0 == 0xEF) need = 2;
  else if (b0 == 0xED) { need = 2; hi = 0x9F; }
  else if (b0 == 0xF0) { need = 3; lo = 0x90; }
  else if (b0 >= 0xF1 && b0 <= 0xF3) need = 3;
  else if (b0 == 0xF4) { need = 3; hi = 0x8F; }
  else { bad = 1; return 0; }
  for (std::size_t k = 1; k <= need; ++k) {
    if (k >= s.size()) { bad = k; return 0; }
    auto b = static_cast<unsigned char>(s[k]);
    if (b < lo || b > hi) { bad = k; return 0; }
    lo = 0x80;
    hi = 0xBF;
  }
  return need + 1;
}

// The body as text, each maximal invalid UTF-8 subpart replaced by U+FFFD.
std::string utf8_lossy(std::string bytes) {
  std::string_view in(bytes);
  std::size_t i = 0, bad = 0;
  while (i < in.size()) {
    std::size_t n = utf8_sequence(in.substr(i), bad);
    if (n == 0) break;
    i += n;
  }
  if (i == in.size()) return bytes;
  std::string out(in.substr(0, i));
  while (i < in.size()) {
    std::size_t n = utf8_sequence(in.substr(i), bad);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      i += bad;
    } else {
      out.append(in.substr(i, n));
      i += n;
    }
  }
  return out;
}

// Collects the reply body up to the limit of its status class.
struct ReplySink {
  CURL* easy = nullptr;
  std::string body;
  std::size_t limit = 0;  // 0 until the first chunk shows the status
  bool over_limit = false;
};

std::size_t write_reply(char* data, std::size_t size, std::size_t count, void* user) {
  auto* sink = static_cast<ReplySink*>(user);
  const std::size_t n = size * count;
  if (sink->limit == 0) {
    long status = 0;
    curl_easy_getinfo(sink->easy, CURLINFO_RESPONSE_CODE, &status);
    sink->limit = status >= 400 ? kMaxErrorBodyBytes : kMaxReplyBytes;
    curl_off_t declared = -1;
    curl_easy_getinfo(sink->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared);
    if (declared > 0) {
      sink->body.reserve(std::min(static_cast<std::size_t>(declared), sink->limit));
    }
  }
  if (n > sink->limit - sink->body.size()) {
    sink->over_limit = true;
    return 0;  // anything but n stops the transfer
  }
  sink->body.append(data, n);
  return n;
}

CoreError network_error(std::string_view url, std::string cause) {
  return CoreError::provider_network(std::string(url), std::move(cause));
}

std::string too_long(std::size_t limit) {
  return "response body is longer than " + std::to_string(limit) + " bytes";
}

}  // namespace

Result<JsonValue> post_json(std::string_view url, const JsonValue& payload,
                            const Headers& headers, std::uint64_t timeout_sec) {
  // The client reads a time-out of 0 as "none"; here it is the tightest bound.
  if (timeout_sec == 0) {
    return network_error(url, "operation timed out: the time-out of 0 seconds leaves no time");
  }
  if (url.find('\0') != std::string_view::npos) {
    return network_error(url, "the URL contains a NUL character");
  }
  bool has_content_type = false;
  bool has_expect = false;
  for (const Header& header : headers) {
    if (auto fault = header_fault(header)) return network_error(url, std::move(*fault));
    has_content_type = has_content_type || unicode::ascii_iequals(header.first, "Content-Type");
    has_expect = has_expect || unicode::ascii_iequals(header.first, "Expect");
  }

  ensure_curl_initialised();
  EasyHandle easy(curl_easy_init());
  if (!easy) return network_error(url, "could not create an HTTP client");

  HeaderList list;
  std::string line;
  auto add_header = [&](std::string_view name, std::string_view value) {
    line.assign(name);
    // "Name:" alone would tell the client to drop the header; "Name;" sends it empty.
    if (value.empty()) {
      line += ';';
    } else {
      line += ": ";
      line += value;
    }
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr) return false;
    (void)list.release();
    list.reset(grown);
    return true;
  };
  bool headers_built = true;
  for (const auto& [name, value] : headers) headers_built = headers_built && add_header(name, value);
  if (!has_content_type) headers_built = headers_built && add_header("Content-Type", "application/json");
  // Without this the client holds large bodies back for a "100 Continue" that
  // servers rarely send, adding a second to the exchange.
  if (!has_expect) {
    curl_slist* grown = curl_slist_append(list.get(), "Expect:");
    if (grown == nullptr) {
      headers_built = false;
    } else {
      (void)list.release();
      list.reset(grown);
    }
  }
  if (!headers_built) return network_error(url, "could not build the request headers");

  const std::string body = to_json(payload);
  std::string url_text(url);
  ReplySink sink;
  sink.easy = easy.get();
  char error_buffer[CURL_ERROR_SIZE] = {0};

  CURL* h = easy.get();
  for (const detail::CurlSetting& setting :
       detail::fixed_client_settings(detail::timeout_ms_for(timeout_sec))) {
    CURLcode rc = std::visit(
        [&](auto value) { return curl_easy_setopt(h, setting.option, value); }, setting.value);
    if (rc != CURLE_OK) {
      return network_error(url, std::string("could not configure the HTTP client: ") +
                                    curl_easy_strerror(rc));
    }
  }
  const bool configured =
      curl_easy_setopt(h, CURLOPT_URL, url_text.c_str()) == CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_HTTPHEADER, list.get()) == CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.data()) == CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())) ==
          CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &write_reply) == CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink) == CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error_buffer) == CURLE_OK;
  if (!configured) return network_error(url, "could not configure the HTTP client");

  const CURLcode rc = curl_easy_perform(h);
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  auto cause = [&]() -> std::string {
    if (error_buffer[0] != '\0') return error_buffer;
    return curl_easy_strerror(rc);
  };

  if (status == 0) return network_error(url, cause());
  if (status >= 400) {
    std::string text;
    if (rc != CURLE_OK) {
      text = "Could not read error response body: " +
             (sink.over_limit ? too_long(kMaxErrorBodyBytes) : cause());
    } else {
      text = utf8_lossy(std::move(sink.body));
    }
    const auto code = static_cast<std::uint16_t>(std::min(status, 65535L));
    return CoreError::provider_http(code, std::move(url_text), std::move(text));
  }
  if (rc != CURLE_OK) return network_error(url, sink.over_limit ? too_long(kMaxReplyBytes) : cause());

  JsonValue reply;
  JsonParseError parse_error;
  if (!parse_json(sink.body, reply, parse_error)) {
    return CoreError::provider("Invalid JSON response from " + url_text + ": " + parse_error.text());
  }
  return reply;
}

Result<JsonValue> DefaultTransport::post(std::string_view url, const JsonValue& payload,
                                         const Headers& headers, std::uint64_t timeout_sec) {
  return post_json(url, payload, headers, timeout_sec);
}

namespace {

// The process-wide slot; the first use fills it, once, whatever the thread.
// Never destroyed, so a host-backed transport is not released during static
// destruction.
ServiceSlot<std::shared_ptr<Transport>>& transport_slot() {
  static auto* const slot = new ServiceSlot<std::shared_ptr<Transport>>(std::make_shared<DefaultTransport>());
  return *slot;
}

}  // namespace

std::shared_ptr<Transport> current_transport() { return transport_slot().get(); }

void install_transport(std::shared_ptr<Transport> transport) {
  if (!transport) return;  // the slot is never empty
  // The previous transport is released outside the slot's lock.
  transport_slot().replace(std::move(transport));
}

Result<JsonValue> transport_post(std::string_view url, const JsonValue& payload,
                                 const Headers& headers, std::uint64_t timeout_sec) {
  return current_transport()->post(url, payload, headers, timeout_sec);
}

}  // namespace vostrel::http
