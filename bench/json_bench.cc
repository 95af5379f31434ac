// Reading and writing a session-file-sized JSON document.
//
// The document comes from the file named by VOSTREL_JSON_BENCH_DOC (written by
// bench/json_bench.py, which also times CPython's json module on the same
// document and prints the ratios); without it a built-in document of the same
// shape is used.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "json/reader.h"
#include "json/value.h"
#include "json/writer.h"

namespace vostrel {
namespace {

// A stand-in session file: identity fields and turns of prose with non-ASCII
// text, about 10 MB.
std::string built_in_document() {
  static const char* const kWords[] = {
      "the", "orchestrator", "asks", "Zoë", "about", "naïve", "façades", "and", "über-cautious",
      "plans;", "\"quoted\"", "café", "señor", "Дмитрий", "говорит", "東京", "の", "会議",
      "😀", "résumé", "—", "tab\there", "line\nbreak", "ﬁn", "Ελληνικά", "mañana"};
  constexpr std::size_t kWordCount = sizeof kWords / sizeof kWords[0];
  JsonArray turns;
  JsonArray transcript;
  std::uint64_t seed = 12345;
  std::size_t total = 0;
  for (std::int64_t i = 0; total < 9'000'000; ++i) {
    std::string prose;
    const int words = 150 + static_cast<int>(i % 400);
    for (int w = 0; w < words; ++w) {
      seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
      if (w > 0) prose += ' ';
      prose += kWords[(seed >> 33) % kWordCount];
    }
    total += 2 * prose.size();
    const std::string speaker = i % 3 == 0 ? "Orchestrator" : (i % 3 == 1 ? "Ann" : "Bjørn");
    turns.push_back(JsonObject{{"role", "assistant"},
                               {"speaker", speaker},
                               {"content", prose},
                               {"round_idx", i / 4},
                               {"msg_type", i % 3 == 0 ? "orchestrator" : "turn"}});
    transcript.push_back(JsonObject{
        {"sender", speaker}, {"content", prose}, {"round_idx", i / 4}, {"msg_type", "turn"}});
  }
  JsonObject identity{{"gameplan", "debate"},
                      {"topic", "Should cities ban cars? — a débat"},
                      {"orchestrator", "Orchestrator"},
                      {"participants", JsonArray{"Ann", "Bjørn"}}};
  JsonObject doc{{"version", 2},           {"identity", identity},
                 {"turns", turns},         {"transcript", transcript},
                 {"loop", JsonObject{{"turn_count", turns.size()}, {"cost", 0.125}}},
                 {"compactions", 0}};
  return to_json_pretty(JsonValue(std::move(doc)));
}

const std::string& document_text() {
  static const std::string text = [] {
    if (const char* path = std::getenv("VOSTREL_JSON_BENCH_DOC")) {
      std::ifstream in(path, std::ios::binary);
      if (!in) {
        std::cerr << "cannot read " << path << "\n";
        std::exit(2);
      }
      std::stringstream buffer;
      buffer << in.rdbuf();
      return buffer.str();
    }
    return built_in_document();
  }();
  return text;
}

const JsonValue& document_value() {
  static const JsonValue value = [] {
    auto v = parse_json(document_text());
    if (!v.ok()) {
      std::cerr << "document does not parse: " << v.error().message << "\n";
      std::exit(2);
    }
    return std::move(v).value();
  }();
  return value;
}

void BM_Read(benchmark::State& state) {
  const std::string& text = document_text();
  for (auto _ : state) {
    auto v = parse_json(text);
    benchmark::DoNotOptimize(v);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

template <typename Write>
void write_bench(benchmark::State& state, Write write) {
  const JsonValue& value = document_value();
  std::size_t size = 0;
  for (auto _ : state) {
    std::string out = write(value);
    size = out.size();
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// Compact, UTF-8 kept.
void BM_WriteCompact(benchmark::State& state) { write_bench(state, to_json); }
// Two-space pretty, UTF-8 kept: the session file's layout.
void BM_WritePretty(benchmark::State& state) { write_bench(state, to_json_pretty); }
// ", " and ": " with ASCII-only escapes: json.dumps with its defaults.
void BM_WritePython(benchmark::State& state) {
  write_bench(state, [](const JsonValue& v) {
    std::string out;
    write_json(out, v, kPythonStyle);
    return out;
  });
}

BENCHMARK(BM_Read)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteCompact)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePretty)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WritePython)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vostrel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // Build the document before timing starts.
  std::cerr << "document: " << vostrel::document_text().size() << " bytes\n";
  (void)vostrel::document_value();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
