// Python-compatible formatting and the Unicode helpers, each beside CPython
// doing the same work on the same input in the same run (json.dumps, str,
// repr, str.lower, str.upper). The ratio is CPython's time over ours.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>

#include "json/value.h"
#include "json/writer.h"
#include "pyfmt/pyfmt.h"
#include "unicode/unicode.h"
#include "reference.h"

namespace vostrel {
namespace {

// A session-shaped document: turns of prose, mostly ASCII with some accented,
// Cyrillic, CJK and emoji text, as model conversations carry.
const JsonValue& session_doc() {
  static const JsonValue doc = [] {
    const char* kProse[] = {
        "We should compare the three proposals before deciding; the second one's cost estimate looks low. ",
        "Die Größe des Datensatzes überschreitet das Budget – bitte kürzen. ",
        "Согласен, но нужно проверить результаты ещё раз. ",
        "日本語のテキストも含めて要約してください。 ",
        "Done \xF0\x9F\x98\x80 \"quoted\" and a back\\slash, tab\there.\n",
    };
    JsonArray turns;
    for (int i = 0; i < 3000; ++i) {
      std::string content;
      for (int k = 0; k < 6; ++k) content += kProse[(i + k) % 5];
      JsonObject turn;
      turn.insert("role", i % 2 == 0 ? "assistant" : "user");
      turn.insert("sender", "Agent " + std::to_string(i % 7));
      turn.insert("content", content);
      turn.insert("turn", static_cast<std::uint64_t>(i));
      turn.insert("score", 0.125 * i);
      turn.insert("done", i % 3 == 0);
      turns.emplace_back(std::move(turn));
    }
    return JsonValue(std::move(turns));
  }();
  return doc;
}

const std::string& prose_text() {
  static const std::string text = [] {
    std::string t;
    for (const JsonValue& turn : session_doc().as_array()) t += turn.as_object().find("content")->as_string();
    return t;
  }();
  return text;
}

void BM_py_json_dumps(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(py_json_dumps(session_doc()));
}
BENCHMARK(BM_py_json_dumps)->Unit(benchmark::kMillisecond);

void BM_py_str(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(py_str(session_doc()));
}
BENCHMARK(BM_py_str)->Unit(benchmark::kMillisecond);

void BM_py_repr_str(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(py_repr_str(prose_text()));
}
BENCHMARK(BM_py_repr_str)->Unit(benchmark::kMillisecond);

void BM_to_lowercase(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(unicode::to_lowercase(prose_text()));
}
BENCHMARK(BM_to_lowercase)->Unit(benchmark::kMillisecond);

void BM_to_uppercase(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(unicode::to_uppercase(prose_text()));
}
BENCHMARK(BM_to_uppercase)->Unit(benchmark::kMillisecond);

void BM_count_chars(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(unicode::count_chars(prose_text()));
}
BENCHMARK(BM_count_chars)->Unit(benchmark::kMillisecond);

// CPython's best-of-five time in milliseconds for each operation, on the same
// document and text read back from files.
std::map<std::string, double> cpython_ms() {
  const std::string script =
      "import json,sys,time\n"
      "doc=json.load(open(sys.argv[1],encoding='utf-8'))\n"
      "text=open(sys.argv[2],encoding='utf-8',newline='').read()\n"
      "ops={'BM_py_json_dumps':lambda:json.dumps(doc),'BM_py_str':lambda:str(doc),\n"
      "     'BM_py_repr_str':lambda:repr(text),'BM_to_lowercase':lambda:text.lower(),\n"
      "     'BM_to_uppercase':lambda:text.upper()}\n"
      "for name,op in ops.items():\n"
      "    best=min((lambda t0:(op(),time.perf_counter()-t0)[1])(time.perf_counter()) for _ in range(5))\n"
      "    print(name,best*1e3)\n";
  return bench::run_python_reference(script, {"{dir}/doc.json", "{dir}/text.txt"},
                                     {{"doc.json", to_json(session_doc())}, {"text.txt", prose_text()}});
}

}  // namespace
}  // namespace vostrel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  vostrel::bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto reference = vostrel::cpython_ms();
  std::printf("\ninput: %zu bytes of JSON, %zu bytes of prose\n", vostrel::to_json(vostrel::session_doc()).size(),
              vostrel::prose_text().size());
  vostrel::bench::print_beside_reference(reporter.us(), reference, "ms", 1e-3);
  benchmark::Shutdown();
  return 0;
}
