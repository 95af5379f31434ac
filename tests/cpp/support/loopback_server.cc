#include "loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "json/writer.h"

namespace vostrel::testing {

namespace {

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  }
  return true;
}

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string_view reason_phrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 413: return "Payload Too Large";
    case 422: return "Unprocessable Entity";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

bool send_all(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Reads one request (head and Content-Length body). False when the peer
// closed or sent something that is not an HTTP request.
bool read_request(int fd, HttpRequest& request) {
  std::string& raw = request.raw;
  char buffer[65536];
  std::size_t head_end = std::string::npos;
  while (head_end == std::string::npos) {
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    raw.append(buffer, static_cast<std::size_t>(n));
    head_end = raw.find("\r\n\r\n");
  }
  std::string_view head(raw.data(), head_end);
  std::size_t line_end = head.find("\r\n");
  std::string_view request_line = head.substr(0, line_end);
  std::size_t sp1 = request_line.find(' ');
  std::size_t sp2 = request_line.rfind(' ');
  if (sp1 == std::string_view::npos || sp2 == sp1) return false;
  request.method = std::string(request_line.substr(0, sp1));
  request.target = std::string(request_line.substr(sp1 + 1, sp2 - sp1 - 1));
  request.version = std::string(request_line.substr(sp2 + 1));
  std::size_t content_length = 0;
  std::size_t pos = line_end == std::string_view::npos ? head.size() : line_end + 2;
  while (pos < head.size()) {
    std::size_t end = head.find("\r\n", pos);
    if (end == std::string_view::npos) end = head.size();
    std::string_view line = head.substr(pos, end - pos);
    std::size_t colon = line.find(':');
    if (colon != std::string_view::npos) {
      std::string_view value = line.substr(colon + 1);
      while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
      request.headers.emplace_back(std::string(line.substr(0, colon)), std::string(value));
      if (iequals(line.substr(0, colon), "Content-Length")) {
        content_length = std::strtoull(std::string(value).c_str(), nullptr, 10);
      }
    }
    pos = end + 2;
  }
  const std::size_t body_start = head_end + 4;
  while (raw.size() < body_start + content_length) {
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    raw.append(buffer, static_cast<std::size_t>(n));
  }
  request.body = raw.substr(body_start, content_length);
  return true;
}

ScriptedReply play_chat_endpoints(const HttpRequest& request) {
  if (ends_with(request.target, "/chat/completions")) return openai_chat_reply("Hello from loopback");
  if (ends_with(request.target, "/messages")) return anthropic_messages_reply("Hello from loopback");
  return ScriptedReply::text(404, "no such endpoint: " + request.target);
}

}  // namespace

std::optional<std::string> HttpRequest::header(std::string_view name) const {
  for (const auto& [n, v] : headers) {
    if (iequals(n, name)) return v;
  }
  return std::nullopt;
}

std::size_t HttpRequest::header_count(std::string_view name) const {
  std::size_t count = 0;
  for (const auto& entry : headers) count += iequals(entry.first, name) ? 1 : 0;
  return count;
}

std::vector<std::string> HttpRequest::header_names() const {
  std::vector<std::string> names;
  for (const auto& entry : headers) names.push_back(entry.first);
  return names;
}

ScriptedReply ScriptedReply::json(const JsonValue& value, int status) {
  ScriptedReply reply;
  reply.status = status;
  reply.body = to_json(value);
  return reply;
}

ScriptedReply ScriptedReply::json_text(std::string body) {
  ScriptedReply reply;
  reply.body = std::move(body);
  return reply;
}

ScriptedReply ScriptedReply::text(int status, std::string body) {
  ScriptedReply reply;
  reply.status = status;
  reply.body = std::move(body);
  reply.content_type = "text/plain; charset=utf-8";
  return reply;
}

ScriptedReply openai_chat_reply(std::string_view content, std::string_view model,
                                std::string_view finish_reason) {
  JsonObject message{{"role", "assistant"}, {"content", content}};
  JsonObject choice{{"index", 0}, {"message", std::move(message)}, {"finish_reason", finish_reason}};
  JsonObject usage{{"prompt_tokens", 12}, {"completion_tokens", 5}, {"total_tokens", 17}};
  JsonObject reply{{"id", "chatcmpl-loopback"},
                   {"object", "chat.completion"},
                   {"model", model},
                   {"choices", JsonArray{JsonValue(std::move(choice))}},
                   {"usage", std::move(usage)}};
  return ScriptedReply::json(JsonValue(std::move(reply)));
}

ScriptedReply anthropic_messages_reply(std::string_view content, std::string_view model,
                                       std::string_view stop_reason) {
  JsonObject block{{"type", "text"}, {"text", content}};
  JsonObject usage{{"input_tokens", 12}, {"output_tokens", 5}};
  JsonObject reply{{"id", "msg_loopback"},
                   {"type", "message"},
                   {"role", "assistant"},
                   {"model", model},
                   {"content", JsonArray{JsonValue(std::move(block))}},
                   {"stop_reason", stop_reason},
                   {"usage", std::move(usage)}};
  return ScriptedReply::json(JsonValue(std::move(reply)));
}

LoopbackServer::LoopbackServer() : fallback_(&play_chat_endpoints) {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) throw std::runtime_error("loopback server: socket failed");
  int one = 1;
  ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_fd_, 128) != 0 ||
      ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(listen_fd_);
    throw std::runtime_error("loopback server: bind/listen failed");
  }
  port_ = ntohs(addr.sin_port);
  accept_thread_ = std::thread([this] { accept_loop(); });
}

LoopbackServer::~LoopbackServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stop_cv_.notify_all();
  // Wake the accept loop at once instead of at its next poll time-out.
  int wake = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (wake >= 0) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port_);
    ::connect(wake, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  }
  accept_thread_.join();
  if (wake >= 0) ::close(wake);
  reap(true);
  ::close(listen_fd_);
}

std::string LoopbackServer::url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void LoopbackServer::push(ScriptedReply reply) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(reply));
}

void LoopbackServer::set_fallback(std::function<ScriptedReply(const HttpRequest&)> fallback) {
  std::lock_guard lock(mutex_);
  fallback_ = std::move(fallback);
}

std::vector<HttpRequest> LoopbackServer::requests() const {
  std::lock_guard lock(mutex_);
  return std::vector<HttpRequest>(requests_.begin(), requests_.end());
}

std::size_t LoopbackServer::request_count() const {
  std::lock_guard lock(mutex_);
  return request_count_;
}

HttpRequest LoopbackServer::last_request() const {
  std::lock_guard lock(mutex_);
  if (requests_.empty()) throw std::logic_error("loopback server: no request received");
  return requests_.back();
}

ScriptedReply LoopbackServer::next_reply(const HttpRequest& request) {
  std::function<ScriptedReply(const HttpRequest&)> fallback;
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
    if (requests_.size() > kKeptRequests) requests_.pop_front();
    ++request_count_;
    if (!queue_.empty()) {
      ScriptedReply reply = std::move(queue_.front());
      queue_.pop_front();
      return reply;
    }
    fallback = fallback_;
  }
  return fallback(request);
}

bool LoopbackServer::wait_for(std::chrono::milliseconds d) {
  std::unique_lock lock(mutex_);
  return !stop_cv_.wait_for(lock, d, [this] { return stopping_.load(); });
}

void LoopbackServer::reap(bool all) {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (all || (*it)->done) {
      (*it)->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void LoopbackServer::accept_loop() {
  while (!stopping_) {
    pollfd pfd{listen_fd_, POLLIN, 0};
    int ready = ::poll(&pfd, 1, 50);
    reap(false);
    if (ready <= 0) continue;
    int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    if (stopping_) {
      ::close(fd);
      break;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // A peer that connects and then stalls must not hold the server's
    // destructor: reads give up after a while.
    timeval read_limit{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &read_limit, sizeof read_limit);
    auto connection = std::make_unique<Connection>();
    Connection* raw = connection.get();
    raw->thread = std::thread([this, fd, raw] {
      serve(fd);
      ::close(fd);
      raw->done = true;
    });
    connections_.push_back(std::move(connection));
  }
}

void LoopbackServer::serve(int fd) {
  HttpRequest request;
  if (!read_request(fd, request)) return;
  ScriptedReply reply = next_reply(request);
  if (reply.delay.count() > 0 && !wait_for(reply.delay)) return;
  switch (reply.fault) {
    case Fault::kSilence:
      // Bounded: a test never waits this long, and stopping the server ends it.
      wait_for(std::chrono::minutes(2));
      return;
    case Fault::kCloseBeforeStatus:
      return;
    default:
      break;
  }
  if (reply.raw) {
    send_all(fd, *reply.raw);
    return;
  }
  std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " +
                     std::string(reason_phrase(reply.status)) + "\r\n";
  head += "Content-Type: " + reply.content_type + "\r\n";
  head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
  for (const auto& [name, value] : reply.extra_headers) head += name + ": " + value + "\r\n";
  head += "Connection: close\r\n\r\n";
  if (reply.fault == Fault::kCloseMidBody) {
    send_all(fd, head);
    send_all(fd, std::string_view(reply.body).substr(0, reply.body.size() / 2));
    return;
  }
  if (reply.body.size() < 65536) {
    send_all(fd, head + reply.body);
  } else {
    send_all(fd, head) && send_all(fd, reply.body);
  }
}

}  // namespace vostrel::testing
