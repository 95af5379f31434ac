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

// Keeps each benchmark's time per iteration, in milliseconds, for the summary.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration) ms_[r.run_name.function_name] = r.GetAdjustedRealTime();
    }
  }
  const std::map<std::string, double>& ms() const { return ms_; }

 private:
  std::map<std::string, double> ms_;
};

// CPython's best-of-five time in milliseconds for each operation, on the same
// document and text read back from files.
std::map<std::string, double> cpython_ms() {
  char dir[] = "/tmp/vostrel_text_bench_XXXXXX";
  if (::mkdtemp(dir) == nullptr) return {};
  const std::string doc_path = std::string(dir) + "/doc.json";
  const std::string text_path = std::string(dir) + "/text.txt";
  std::ofstream(doc_path, std::ios::binary) << to_json(session_doc());
  std::ofstream(text_path, std::ios::binary) << prose_text();
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
  const std::string script_path = std::string(dir) + "/ref.py";
  std::ofstream(script_path) << script;
  const std::string cmd = "python3 " + script_path + " " + doc_path + " " + text_path;
  std::map<std::string, double> out;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char name[64];
    double ms;
    while (std::fscanf(p, "%63s %lf", name, &ms) == 2) out[name] = ms;
    ::pclose(p);
  }
  std::remove(doc_path.c_str());
  std::remove(text_path.c_str());
  std::remove(script_path.c_str());
  ::rmdir(dir);
  return out;
}

}  // namespace
}  // namespace vostrel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  vostrel::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto reference = vostrel::cpython_ms();
  std::printf("\ninput: %zu bytes of JSON, %zu bytes of prose\n", vostrel::to_json(vostrel::session_doc()).size(),
              vostrel::prose_text().size());
  std::printf("%-20s %12s %12s %10s\n", "operation", "ours (ms)", "CPython (ms)", "CPython/ours");
  for (const auto& [name, ms] : reporter.ms()) {
    const auto ref = reference.find(name);
    if (ref == reference.end()) {
      std::printf("%-20s %12.3f %12s %10s\n", name.c_str(), ms, "-", "-");
    } else {
      std::printf("%-20s %12.3f %12.3f %10.2f\n", name.c_str(), ms, ref->second, ref->second / ms);
    }
  }
  benchmark::Shutdown();
  return 0;
}
