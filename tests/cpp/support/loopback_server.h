// A small HTTP/1.1 server on 127.0.0.1 for tests and benchmarks: it plays
// OpenAI- and Anthropic-shaped chat endpoints with scripted replies, delays and
// faults, and keeps every request it received as raw bytes.
#ifndef VOSTREL_TESTS_SUPPORT_LOOPBACK_SERVER_H_
#define VOSTREL_TESTS_SUPPORT_LOOPBACK_SERVER_H_

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "json/value.h"

namespace vostrel::testing {

// One request as the server read it.
struct HttpRequest {
  std::string raw{};  // the head and body exactly as received
  std::string method{};
  std::string target{};
  std::string version{};  // "HTTP/1.1"
  std::vector<std::pair<std::string, std::string>> headers{};  // in wire order
  std::string body{};

  // The value of the first header of that name (ASCII case ignored), if any.
  std::optional<std::string> header(std::string_view name) const;
  // How many headers carry that name (ASCII case ignored).
  std::size_t header_count(std::string_view name) const;
  // The header names in wire order.
  std::vector<std::string> header_names() const;
};

enum class Fault {
  kNone,
  kSilence,            // read the request, then never answer (until the server stops)
  kCloseBeforeStatus,  // read the request, then close without a byte
  kCloseMidBody,       // send the head and half the body, then close
};

struct ScriptedReply {
  int status = 200;
  std::string body{};
  std::string content_type = "application/json";
  std::vector<std::pair<std::string, std::string>> extra_headers{};
  std::chrono::milliseconds delay{0};  // before anything is sent
  Fault fault = Fault::kNone;
  std::optional<std::string> raw{};  // sent verbatim instead of a built reply

  static ScriptedReply json(const JsonValue& value, int status = 200);
  // A 200 reply whose body is `body` as given, labelled as JSON.
  static ScriptedReply json_text(std::string body);
  static ScriptedReply text(int status, std::string body);
};

// An OpenAI chat-completions reply with one choice.
ScriptedReply openai_chat_reply(std::string_view content, std::string_view model = "gpt-test",
                                std::string_view finish_reason = "stop");
// An Anthropic messages reply with one text block.
ScriptedReply anthropic_messages_reply(std::string_view content,
                                       std::string_view model = "claude-test",
                                       std::string_view stop_reason = "end_turn");

// Owns its listening socket, its accept thread and one thread per connection;
// the destructor stops every one of them (silent replies included) and joins
// them. Thread-safe.
class LoopbackServer {
 public:
  LoopbackServer();
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  // How many of the latest requests `requests()` keeps.
  static constexpr std::size_t kKeptRequests = 16;

  std::uint16_t port() const { return port_; }
  // "http://127.0.0.1:{port}{path}".
  std::string url(std::string_view path = "") const;

  // Queues a reply; queued replies answer requests in order.
  void push(ScriptedReply reply);
  // Answers requests once the queue is empty. The default plays the two chat
  // endpoints: ".../chat/completions" and ".../messages", anything else 404.
  void set_fallback(std::function<ScriptedReply(const HttpRequest&)> fallback);

  // The latest requests (at most kKeptRequests), oldest first.
  std::vector<HttpRequest> requests() const;
  // Every request received since the server started.
  std::size_t request_count() const;
  // The last request received; the server must have received one.
  HttpRequest last_request() const;

 private:
  struct Connection {
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void accept_loop();
  void serve(int fd);
  ScriptedReply next_reply(const HttpRequest& request);
  // Waits up to `d`; false when the server is stopping.
  bool wait_for(std::chrono::milliseconds d);
  void reap(bool all);

  int listen_fd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::condition_variable stop_cv_;
  std::deque<ScriptedReply> queue_;
  std::function<ScriptedReply(const HttpRequest&)> fallback_;
  std::deque<HttpRequest> requests_;  // the latest kKeptRequests
  std::size_t request_count_ = 0;
  std::list<std::unique_ptr<Connection>> connections_;  // accept thread only, until stop
  std::thread accept_thread_;
};

}  // namespace vostrel::testing

#endif  // VOSTREL_TESTS_SUPPORT_LOOPBACK_SERVER_H_
