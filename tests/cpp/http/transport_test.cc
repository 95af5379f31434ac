#include "http/transport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "http/client_settings.h"
#include "json/writer.h"
#include "support/loopback_server.h"

namespace vostrel::http {
namespace {

using testing::Fault;
using testing::LoopbackServer;
using testing::ScriptedReply;

const JsonValue kPayload = JsonObject{{"model", "m"}, {"n", 1}};

// What a reply is expected to become.
struct Expect {
  ErrorKind kind;          // kValue stands for "success"
  std::uint16_t status = 0;
  std::string text;        // body, cause or message: compared whole unless `prefix`
  bool prefix = false;
};

struct MappingCase {
  std::string name;
  ScriptedReply reply;
  Expect expect;
};

ScriptedReply raw_reply(int status, std::string body, Fault fault = Fault::kNone) {
  ScriptedReply reply;
  reply.status = status;
  reply.body = std::move(body);
  reply.fault = fault;
  return reply;
}

TEST(DefaultTransportTest, MapsEveryReplyToValueOrError) {
  LoopbackServer server;
  const std::string url = server.url("/v1/chat/completions");
  const std::string ten_mib(kMaxErrorBodyBytes, 'e');
  const std::vector<MappingCase> cases = {
      {"object followed by white space", raw_reply(200, "{\"a\": [1, 2]} \n"), {ErrorKind::kValue, 0, "{\"a\":[1,2]}"}},
      {"trailing garbage", raw_reply(200, "{\"a\": 1} x"),
       {ErrorKind::kProvider, 0, "Invalid JSON response from " + url + ": trailing characters at line 1 column 10"}},
      {"empty body", raw_reply(200, ""),
       {ErrorKind::kProvider, 0, "Invalid JSON response from " + url + ": EOF while parsing a value at line 1 column 0"}},
      {"redirect is not followed", [] {
         ScriptedReply r = raw_reply(302, "{\"moved\": true}");
         r.extra_headers = {{"Location", "/elsewhere"}};
         return r;
       }(), {ErrorKind::kValue, 0, "{\"moved\":true}"}},
      {"404 with text", ScriptedReply::text(404, "model not found"), {ErrorKind::kProviderHttp, 404, "model not found"}},
      {"500 with exactly 10 MiB", raw_reply(500, ten_mib), {ErrorKind::kProviderHttp, 500, ten_mib}},
      {"500 with 11 MiB", raw_reply(500, std::string(11u << 20, 'e')),
       {ErrorKind::kProviderHttp, 500,
        "Could not read error response body: response body is longer than 10485760 bytes"}},
      {"error body with invalid UTF-8", raw_reply(400, "bad \xff\xe2\x82 end \xf0\x9f\x98\x80"),
       {ErrorKind::kProviderHttp, 400, "bad \xEF\xBF\xBD\xEF\xBF\xBD end \xf0\x9f\x98\x80"}},
      {"error body cut short", raw_reply(503, "0123456789", Fault::kCloseMidBody),
       {ErrorKind::kProviderHttp, 503, "Could not read error response body: ", true}},
      {"success body cut short", raw_reply(200, "{\"a\": 1234567}", Fault::kCloseMidBody),
       {ErrorKind::kProviderNetwork, 0, "", true}},
      {"closed before a status line", raw_reply(200, "", Fault::kCloseBeforeStatus),
       {ErrorKind::kProviderNetwork, 0, "", true}},
      {"success body over the reply cap", raw_reply(200, std::string(kMaxReplyBytes + 1, ' ')),
       {ErrorKind::kProviderNetwork, 0, "response body is longer than 67108864 bytes"}},
  };
  for (const MappingCase& c : cases) {
    SCOPED_TRACE(c.name);
    server.push(c.reply);
    Result<JsonValue> result = post_json(url, kPayload, {}, 30);
    if (c.expect.kind == ErrorKind::kValue) {
      ASSERT_TRUE(result.ok()) << result.error().error_text();
      EXPECT_EQ(to_json(*result), c.expect.text);
      continue;
    }
    ASSERT_FALSE(result.ok());
    const CoreError& e = result.error();
    ASSERT_EQ(e.kind, c.expect.kind) << e.error_text();
    std::string text = e.kind == ErrorKind::kProviderHttp      ? e.body
                       : e.kind == ErrorKind::kProviderNetwork ? e.cause
                                                               : e.message;
    if (e.kind != ErrorKind::kProvider) {
      EXPECT_EQ(e.url, url);
    }
    if (e.kind == ErrorKind::kProviderHttp) {
      EXPECT_EQ(e.status, c.expect.status);
    }
    if (c.expect.prefix) {
      EXPECT_EQ(text.substr(0, c.expect.text.size()), c.expect.text);
      EXPECT_GT(text.size(), c.expect.text.size()) << "the cause must say what failed";
    } else {
      EXPECT_EQ(text, c.expect.text);
    }
  }
}

TEST(DefaultTransportTest, TimesOutAgainstASilentServer) {
  LoopbackServer server;
  ScriptedReply silent;
  silent.fault = Fault::kSilence;
  server.push(silent);
  const std::string url = server.url("/v1/messages");
  auto start = std::chrono::steady_clock::now();
  Result<JsonValue> result = post_json(url, kPayload, {}, 1);
  auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind, ErrorKind::kProviderNetwork);
  EXPECT_EQ(result.error().url, url);
  EXPECT_GE(elapsed, std::chrono::milliseconds(900));
  EXPECT_LT(elapsed, std::chrono::seconds(10));
}

TEST(DefaultTransportTest, ZeroTimeOutIsNotUnbounded) {
  LoopbackServer server;
  ScriptedReply silent;
  silent.fault = Fault::kSilence;
  server.push(silent);
  Result<JsonValue> result = post_json(server.url("/x"), kPayload, {}, 0);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind, ErrorKind::kProviderNetwork);
  EXPECT_EQ(server.request_count(), 0u);
}

TEST(DefaultTransportTest, SendsHttp11PostWithCompactBodyAndHeadersInOrder) {
  LoopbackServer server;
  JsonValue payload = JsonObject{{"z", "caf\xc3\xa9"}, {"a", JsonArray{1, 2.5, nullptr}}};
  Headers headers = {{"Authorization", "Bearer k"}, {"X-Empty", ""}, {"X-Title", "t"}};
  std::string big(1u << 20, 'b');
  payload.as_object().insert("big", big);
  ASSERT_TRUE(post_json(server.url("/v1/chat/completions"), payload, headers, 30).ok());
  testing::HttpRequest got = server.last_request();
  EXPECT_EQ(got.method, "POST");
  EXPECT_EQ(got.target, "/v1/chat/completions");
  EXPECT_EQ(got.version, "HTTP/1.1");
  EXPECT_EQ(got.body, to_json(payload));
  EXPECT_NE(got.body.find("caf\xc3\xa9"), std::string::npos) << "non-ASCII travels as UTF-8";
  // Our headers keep their order; the JSON content type is added once.
  std::vector<std::string> ours;
  for (const auto& [name, value] : got.headers) {
    if (name == "Authorization" || name == "X-Empty" || name == "X-Title" || name == "Content-Type") {
      ours.push_back(name + "=" + value);
    }
  }
  EXPECT_EQ(ours, (std::vector<std::string>{"Authorization=Bearer k", "X-Empty=", "X-Title=t",
                                            "Content-Type=application/json"}));
  EXPECT_EQ(got.header_count("Expect"), 0u) << "a large body must not wait for 100-continue";
  EXPECT_EQ(got.header_count("Transfer-Encoding"), 0u);
}

TEST(DefaultTransportTest, KeepsACallerContentTypeWhateverItsCase) {
  LoopbackServer server;
  ASSERT_TRUE(post_json(server.url("/v1/messages"), kPayload, {{"content-type", "text/plain"}}, 30).ok());
  testing::HttpRequest got = server.last_request();
  EXPECT_EQ(got.header_count("Content-Type"), 1u);
  EXPECT_EQ(got.header("content-type"), "text/plain");
}

// Sets environment variables for the length of a test.
class ScopedEnv {
 public:
  void set(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) ::setenv(it->first.c_str(), it->second->c_str(), 1);
      else ::unsetenv(it->first.c_str());
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(DefaultTransportTest, TakesNoProxyFromTheEnvironment) {
  LoopbackServer target;
  LoopbackServer proxy;  // answers like an endpoint, so a proxied request would succeed too
  ScopedEnv env;
  for (const char* name : {"HTTP_PROXY", "http_proxy", "HTTPS_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"}) {
    env.set(name, proxy.url());
  }
  env.set("NO_PROXY", "");
  env.set("no_proxy", "");
  Result<JsonValue> result = post_json(target.url("/v1/chat/completions"), kPayload, {}, 30);
  ASSERT_TRUE(result.ok()) << result.error().error_text();
  EXPECT_EQ(target.request_count(), 1u);
  EXPECT_EQ(proxy.request_count(), 0u);
}

TEST(DefaultTransportTest, RefusesHeadersThatWouldCorruptTheRequest) {
  LoopbackServer server;
  const std::string secret = "sk-secret-123";
  const std::vector<std::pair<std::string, Header>> cases = {
      {"key read with a trailing newline", {"Authorization", "Bearer " + secret + "\n"}},
      {"carriage return in a value", {"x-api-key", secret + "\rX-Injected: 1"}},
      {"NUL in a value", {"x-api-key", std::string(secret) + std::string(1, '\0')}},
      {"line break in a name", {"X-A\r\nX-B", "v"}},
      {"colon in a name", {"X-A: b", "v"}},
      {"empty name", {"", "v"}},
  };
  for (const auto& [name, header] : cases) {
    SCOPED_TRACE(name);
    Result<JsonValue> result = post_json(server.url("/v1/messages"), kPayload, {header}, 30);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().kind, ErrorKind::kProviderNetwork);
    EXPECT_EQ(result.error().error_text().find(secret), std::string::npos)
        << "a credential must never reach an error text";
    EXPECT_NE(result.error().cause.find("refusing to send"), std::string::npos) << result.error().cause;
  }
  EXPECT_EQ(server.request_count(), 0u);
}

TEST(DefaultTransportTest, HttpsToAPlainServerFailsAsANetworkError) {
  LoopbackServer server;
  std::string url = "https://127.0.0.1:" + std::to_string(server.port()) + "/v1/messages";
  Result<JsonValue> result = post_json(url, kPayload, {}, 1);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind, ErrorKind::kProviderNetwork);
  EXPECT_EQ(result.error().url, url);
}

TEST(DefaultTransportTest, UnreachableOrMalformedUrlsAreNetworkErrors) {
  // Find a port with nothing behind it by opening and closing a server.
  std::uint16_t dead_port;
  { LoopbackServer s; dead_port = s.port(); }
  for (const std::string& url : {"http://127.0.0.1:" + std::to_string(dead_port) + "/v1", std::string("not a url"),
                                std::string("ftp://127.0.0.1/x")}) {
    SCOPED_TRACE(url);
    Result<JsonValue> result = post_json(url, kPayload, {}, 5);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().kind, ErrorKind::kProviderNetwork);
    EXPECT_EQ(result.error().url, url);
    EXPECT_FALSE(result.error().cause.empty());
  }
}

// A TLS server on loopback with a self-signed certificate (the openssl
// command-line tool), stopped by the destructor. Skips when openssl is absent.
class SelfSignedTlsServer {
 public:
  SelfSignedTlsServer() {
    char dir_template[] = "/tmp/vostrel-tls-XXXXXX";
    if (::mkdtemp(dir_template) == nullptr) return;
    dir_ = dir_template;
    const std::string make_cert =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 -subj /CN=127.0.0.1 "
        "-addext subjectAltName=IP:127.0.0.1 -keyout " + dir_ + "/key.pem -out " + cert() + " >/dev/null 2>&1";
    if (std::system(make_cert.c_str()) != 0) return;
    { LoopbackServer probe; port_ = probe.port(); }  // a port nothing listens on now
    pid_ = ::fork();
    if (pid_ == 0) {
      const std::string accept = "127.0.0.1:" + std::to_string(port_);
      const std::string key = dir_ + "/key.pem";
      int null_fd = ::open("/dev/null", O_WRONLY);
      ::dup2(null_fd, 1);
      ::dup2(null_fd, 2);
      ::execlp("openssl", "openssl", "s_server", "-quiet", "-www", "-accept", accept.c_str(), "-cert",
               cert().c_str(), "-key", key.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Wait (bounded) until it accepts connections.
    for (int i = 0; i < 100 && !ready_; ++i) {
      int fd = ::socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_port = htons(port_);
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      ready_ = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
      ::close(fd);
      if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  ~SelfSignedTlsServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  bool ready() const { return ready_; }
  std::string cert() const { return dir_ + "/cert.pem"; }
  std::string url() const { return "https://127.0.0.1:" + std::to_string(port_) + "/v1/messages"; }

 private:
  std::string dir_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
  bool ready_ = false;
};

TEST(DefaultTransportTest, TrustsOnlyTheBuiltInRoots) {
  SelfSignedTlsServer tls;
  if (!tls.ready()) GTEST_SKIP() << "openssl could not start a TLS server";
  // Control: a client told to trust the certificate completes the handshake.
  const std::string control = "curl -s -o /dev/null --max-time 5 --cacert " + tls.cert() + " " + tls.url();
  if (std::system(control.c_str()) != 0) GTEST_SKIP() << "the TLS server does not answer a trusting client";
  // Were the system store or the environment consulted, these would make the
  // self-signed certificate trusted.
  ScopedEnv env;
  env.set("SSL_CERT_FILE", tls.cert());
  env.set("CURL_CA_BUNDLE", tls.cert());
  Result<JsonValue> result = post_json(tls.url(), kPayload, {}, 5);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().kind, ErrorKind::kProviderNetwork);
  EXPECT_NE(result.error().cause.find("certificate"), std::string::npos) << result.error().cause;
}

// The fixed client settings are what pins TLS to the built-in roots; a TLS
// exchange cannot be tested without a network, so the settings are checked here.
TEST(ClientSettingsTest, PinTlsToBuiltInRootsAndDisableProxyAndRedirects) {
  auto settings = detail::fixed_client_settings(detail::timeout_ms_for(60));
  auto find = [&](CURLoption option) -> const detail::CurlSetting* {
    for (const auto& s : settings) {
      if (s.option == option) return &s;
    }
    return nullptr;
  };
  auto long_of = [&](CURLoption o) { return std::get<long>(find(o)->value); };
  auto text_of = [&](CURLoption o) { return std::get<const char*>(find(o)->value); };
  EXPECT_EQ(long_of(CURLOPT_HTTP_VERSION), static_cast<long>(CURL_HTTP_VERSION_1_1));
  EXPECT_STREQ(text_of(CURLOPT_PROXY), "");
  EXPECT_EQ(long_of(CURLOPT_FOLLOWLOCATION), 0L);
  EXPECT_EQ(text_of(CURLOPT_CAINFO), nullptr);
  EXPECT_EQ(text_of(CURLOPT_CAPATH), nullptr);
  EXPECT_EQ(long_of(CURLOPT_SSL_VERIFYPEER), 1L);
  EXPECT_EQ(long_of(CURLOPT_SSL_VERIFYHOST), 2L);
  EXPECT_EQ(long_of(CURLOPT_TIMEOUT_MS), 60000L);
  // The client's own connect limit (five minutes) must not cut a longer time-out short.
  auto long_settings = detail::fixed_client_settings(detail::timeout_ms_for(600));
  const detail::CurlSetting* connect = nullptr;
  for (const auto& s : long_settings) {
    if (s.option == CURLOPT_CONNECTTIMEOUT_MS) connect = &s;
  }
  ASSERT_NE(connect, nullptr);
  EXPECT_EQ(std::get<long>(connect->value), 600000L);
  const curl_blob* roots = std::get<const curl_blob*>(find(CURLOPT_CAINFO_BLOB)->value);
  EXPECT_EQ(roots->data, static_cast<const void*>(kCaRootsPem));
  EXPECT_EQ(roots->len, kCaRootsPemSize);
  ASSERT_GT(kCaRootsPemSize, 1000u);
  EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(kCaRootsPem), 27), "-----BEGIN CERTIFICATE-----");
  EXPECT_EQ(detail::timeout_ms_for(~std::uint64_t{0}), std::numeric_limits<long>::max());
}

// A transport that records calls and can hold one in flight.
class GateTransport : public Transport {
 public:
  explicit GateTransport(std::string tag) : tag_(std::move(tag)) {}
  Result<JsonValue> post(std::string_view, const JsonValue&, const Headers&, std::uint64_t) override {
    std::unique_lock lock(mutex_);
    entered_ = true;
    cv_.notify_all();
    cv_.wait(lock, [&] { return open_; });
    return JsonValue(tag_);
  }
  // False when no call arrived within a few seconds.
  bool wait_entered() {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return entered_; });
  }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    cv_.notify_all();
  }

 private:
  std::string tag_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool entered_ = false;
  bool open_ = false;
};

TEST(TransportSlotTest, ReplacementLetsAPostInFlightFinishOnTheOldTransport) {
  std::shared_ptr<Transport> before = current_transport();
  auto old_transport = std::make_shared<GateTransport>("old");
  auto new_transport = std::make_shared<GateTransport>("new");
  new_transport->open();
  install_transport(old_transport);
  auto in_flight = std::async(std::launch::async, [] { return transport_post("u", kPayload, {}, 1); });
  const bool entered = old_transport->wait_entered();
  install_transport(new_transport);
  std::weak_ptr<GateTransport> old_weak = old_transport;
  old_transport.reset();
  const bool kept_alive = !old_weak.expired();
  Result<JsonValue> after = transport_post("u", kPayload, {}, 1);
  // Let the held call finish before anything can end the test: the future's
  // thread must be joined on every path.
  if (auto old_gate = old_weak.lock()) old_gate->open();
  Result<JsonValue> first = in_flight.get();
  install_transport(before);
  ASSERT_TRUE(entered);
  EXPECT_TRUE(kept_alive) << "the call in flight keeps its transport alive";
  ASSERT_TRUE(after.ok());
  EXPECT_EQ(after->as_string(), "new");
  ASSERT_TRUE(first.ok());
  EXPECT_EQ(first->as_string(), "old");
  EXPECT_TRUE(old_weak.expired());
}

TEST(TransportSlotTest, DefaultTransportServesConcurrentPosts) {
  LoopbackServer server;
  // Each reply waits until both requests have arrived: posts that queued
  // behind one another would see "alone".
  std::mutex mutex;
  std::condition_variable cv;
  int arrived = 0;
  server.set_fallback([&](const testing::HttpRequest&) {
    std::unique_lock lock(mutex);
    ++arrived;
    cv.notify_all();
    bool both = cv.wait_for(lock, std::chrono::seconds(5), [&] { return arrived == 2; });
    return testing::openai_chat_reply(both ? "together" : "alone");
  });
  auto post = [&] { return transport_post(server.url("/v1/chat/completions"), kPayload, {}, 30); };
  auto a = std::async(std::launch::async, post);
  auto b = std::async(std::launch::async, post);
  for (Result<JsonValue> r : {a.get(), b.get()}) {
    ASSERT_TRUE(r.ok()) << r.error().error_text();
    EXPECT_EQ(to_json(*r->find("choices")->as_array()[0].find("message")->find("content")), "\"together\"");
  }
}

}  // namespace
}  // namespace vostrel::http

namespace vostrel::http {
namespace {

// A long run of requests (a benchmark) must not pile every body up in the
// test server: it keeps the recent ones and counts them all.
TEST(LoopbackServerTest, KeepsRecentRequestsAndCountsAll) {
  LoopbackServer server;
  constexpr std::size_t kPosts = LoopbackServer::kKeptRequests + 4;
  for (std::size_t i = 0; i < kPosts; ++i) {
    JsonValue payload = JsonObject{{"n", i}};
    ASSERT_TRUE(post_json(server.url("/v1/chat/completions"), payload, {}, 30).ok());
  }
  EXPECT_EQ(server.request_count(), kPosts);
  std::vector<testing::HttpRequest> kept = server.requests();
  ASSERT_EQ(kept.size(), LoopbackServer::kKeptRequests);
  EXPECT_EQ(kept.front().body, to_json(JsonObject{{"n", kPosts - LoopbackServer::kKeptRequests}}));
  EXPECT_EQ(server.last_request().body, to_json(JsonObject{{"n", kPosts - 1}}));
}

}  // namespace
}  // namespace vostrel::http
