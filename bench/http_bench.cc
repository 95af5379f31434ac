// Requests per second and per-request cost of the DefaultTransport against a
// loopback server, beside the same requests made by CPython's http.client in
// the same run (a fresh connection per request on both sides, as the
// transport's rule requires; JSON encoded and decoded on both sides).
//
// Each request posts a chat-shaped JSON payload of about 1 KB or 1 MB and gets
// a reply of the same size back.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "http/transport.h"
#include "json/writer.h"
#include "support/loopback_server.h"

namespace {

using vostrel::JsonArray;
using vostrel::JsonObject;
using vostrel::JsonValue;

JsonValue chat_payload(std::size_t bytes) {
  JsonObject message{{"role", "user"}, {"content", std::string(bytes, 'x')}};
  return JsonObject{{"model", "bench-model"}, {"messages", JsonArray{JsonValue(std::move(message))}}};
}

// One server for the whole run; it answers each request with a reply of the
// request's size class.
vostrel::testing::LoopbackServer& server() {
  static auto* s = [] {
    auto* srv = new vostrel::testing::LoopbackServer();
    auto small = std::make_shared<std::string>(vostrel::to_json(chat_payload(1024)));
    auto large = std::make_shared<std::string>(vostrel::to_json(chat_payload(1 << 20)));
    srv->set_fallback([small, large](const vostrel::testing::HttpRequest& request) {
      return vostrel::testing::ScriptedReply::json_text(request.body.size() > 100'000 ? *large : *small);
    });
    return srv;
  }();
  return *s;
}

void BM_DefaultTransport(benchmark::State& state) {
  const auto bytes = static_cast<std::size_t>(state.range(0));
  const JsonValue payload = chat_payload(bytes);
  const std::string url = server().url("/v1/chat/completions");
  for (auto _ : state) {
    auto reply = vostrel::http::post_json(url, payload, {{"Authorization", "Bearer bench"}}, 30);
    if (!reply.ok()) {
      state.SkipWithError(reply.error().error_text().c_str());
      break;
    }
    benchmark::DoNotOptimize(reply);
  }
  state.counters["req_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate);
}

constexpr const char* kPythonClient = R"PY(
import http.client, json, sys, time
port, size, count = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
payload = {"model": "bench-model", "messages": [{"role": "user", "content": "x" * size}]}
headers = {"Authorization": "Bearer bench", "Content-Type": "application/json"}
start, cpu = time.perf_counter(), time.process_time()
for _ in range(count):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    conn.request("POST", "/v1/chat/completions", body=json.dumps(payload, separators=(",", ":")).encode(), headers=headers)
    response = conn.getresponse()
    body = response.read()
    if response.status >= 400:
        raise SystemExit("HTTP %d" % response.status)
    json.loads(body)
    conn.close()
print(time.perf_counter() - start, time.process_time() - cpu)
)PY";

struct PythonTiming {
  double seconds = -1;      // wall time of the requests (start-up excluded)
  double cpu_seconds = -1;  // the client process's CPU time for them
};

// Runs `count` requests in one CPython process; negative times on failure.
PythonTiming python_timing(std::size_t bytes, int count) {
  std::string command = "python3 -c '" + std::string(kPythonClient) + "' " +
                        std::to_string(server().port()) + " " + std::to_string(bytes) + " " +
                        std::to_string(count);
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  PythonTiming timing;
  char line[128] = {0};
  if (!pipe || std::fgets(line, sizeof line, pipe.get()) == nullptr) return timing;
  char* rest = nullptr;
  timing.seconds = std::strtod(line, &rest);
  timing.cpu_seconds = std::strtod(rest, nullptr);
  return timing;
}

void BM_PythonHttpClient(benchmark::State& state) {
  const auto bytes = static_cast<std::size_t>(state.range(0));
  const int per_batch = bytes > 100'000 ? 20 : 200;
  std::int64_t requests = 0;
  double cpu_seconds = 0;
  for (auto _ : state) {
    PythonTiming t = python_timing(bytes, per_batch);
    if (t.seconds <= 0) {
      state.SkipWithError("python3 http.client run failed");
      break;
    }
    state.SetIterationTime(t.seconds / per_batch);
    requests += per_batch;
    cpu_seconds += t.cpu_seconds;
  }
  // The client's own CPU per request, comparable with the CPU column of the
  // DefaultTransport rows (this process only waits for the child here).
  if (requests > 0) state.counters["client_cpu_us"] = cpu_seconds * 1e6 / static_cast<double>(requests);
  // With manual time the rate is per request: each iteration's time is one request's.
  state.counters["req_per_s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate);
  state.counters["requests"] = static_cast<double>(requests);
}

}  // namespace

// Real time: the request waits on the server, which CPU time would not count.
BENCHMARK(BM_DefaultTransport)->Arg(1024)->Arg(1 << 20)->UseRealTime()->Unit(benchmark::kMicrosecond);
// Manual time: each iteration is the mean per-request time of one batch.
BENCHMARK(BM_PythonHttpClient)->Arg(1024)->Arg(1 << 20)->UseManualTime()->Iterations(5)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
