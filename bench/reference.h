// Shared pieces of the benchmarks that print their figures beside CPython doing
// the same work in the same run.
#ifndef VOSTREL_BENCH_REFERENCE_H_
#define VOSTREL_BENCH_REFERENCE_H_

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace vostrel::bench {

// Keeps each benchmark's real time per iteration, in microseconds, under its
// name (without the "/min_time:" suffix).
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      std::string name = run.benchmark_name();
      name = name.substr(0, name.find("/min_time:"));
      us_[name] = run.GetAdjustedRealTime() * unit_to_us(run.time_unit);
    }
  }
  const std::map<std::string, double>& us() const { return us_; }

 private:
  static double unit_to_us(benchmark::TimeUnit unit) {
    switch (unit) {
      case benchmark::kNanosecond: return 1e-3;
      case benchmark::kMicrosecond: return 1.0;
      case benchmark::kMillisecond: return 1e3;
      default: return 1e6;
    }
  }
  std::map<std::string, double> us_;
};

// Runs `script` with python3 and the given arguments (each a file path or a
// plain word) in a scratch folder, and reads back its "name value" lines.
// Empty when python3 is missing or fails. `files` are written into the folder
// first, under their names; "{dir}" in an argument stands for the folder.
inline std::map<std::string, double> run_python_reference(
    const std::string& script, const std::vector<std::string>& args,
    const std::map<std::string, std::string>& files = {}) {
  namespace fs = std::filesystem;
  std::string dir = (fs::temp_directory_path() / "vostrel-bench-XXXXXX").string();
  if (::mkdtemp(dir.data()) == nullptr) return {};
  std::ofstream(dir + "/ref.py") << script;
  for (const auto& [name, content] : files) std::ofstream(dir + "/" + name, std::ios::binary) << content;
  std::string cmd = "python3 " + dir + "/ref.py";
  for (std::string arg : args) {
    if (auto at = arg.find("{dir}"); at != std::string::npos) arg.replace(at, 5, dir);
    cmd += " '" + arg + "'";
  }
  std::map<std::string, double> out;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char name[128];
    double value;
    while (std::fscanf(p, "%127s %lf", name, &value) == 2) out[name] = value;
    ::pclose(p);
  }
  fs::remove_all(dir);
  return out;
}

// Prints one row per benchmark: our time, the reference's and their ratio.
// `scale` converts microseconds into the unit both columns use.
inline void print_beside_reference(const std::map<std::string, double>& ours_us,
                                   const std::map<std::string, double>& reference, const char* unit,
                                   double scale) {
  std::printf("\n%-44s %11s (%s) %11s (%s) %12s\n", "operation", "ours", unit, "CPython", unit,
              "CPython/ours");
  for (const auto& [name, us] : ours_us) {
    const double ours = us * scale;
    const auto ref = reference.find(name);
    if (ref == reference.end()) {
      std::printf("%-44s %16.3f %16s %12s\n", name.c_str(), ours, "-", "-");
    } else {
      std::printf("%-44s %16.3f %16.3f %12.2f\n", name.c_str(), ours, ref->second, ref->second / ours);
    }
  }
}

}  // namespace vostrel::bench

#endif  // VOSTREL_BENCH_REFERENCE_H_
