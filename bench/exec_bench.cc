// Command execution and the access checks, beside CPython's subprocess.run
// doing the same in the same run: the latency of running `true`, and the
// drain rate of a command writing 16 MiB (the output cap) and 100 MB (below
// the cap's check, through the runner itself). The access checks have no
// CPython counterpart; os.path.realpath on the same path is shown for scale.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "access/policy.h"
#include "exec/exec.h"
#include "exec/runner.h"
#include "reference.h"

namespace vostrel {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t k16MiB = std::size_t{16} << 20;
constexpr std::size_t k100MB = 100'000'000;

AccessPolicy allow_all() {
  AccessPolicyConfig config;
  config.workspace = "/";
  config.allowed_command_patterns = {"*"};
  return AccessPolicy::create(std::move(config));
}

// A workspace with a few levels of real directories and one link inside it.
struct Tree {
  std::string root;
  std::string deep;  // root/w/a/b/c/d/file.txt
  std::string via_link;
  Tree() {
    std::string tmpl = "/tmp/vostrel-exec-bench-XXXXXX";
    root = fs::canonical(::mkdtemp(tmpl.data())).string();
    fs::create_directories(root + "/w/a/b/c/d");
    std::ofstream(root + "/w/a/b/c/d/file.txt") << "x";
    fs::create_symlink("a/b", root + "/w/link");
    deep = root + "/w/a/b/c/d/file.txt";
    via_link = root + "/w/link/c/../c/d/file.txt";
  }
  ~Tree() { fs::remove_all(root); }
};

const Tree& tree() {
  static const Tree t;
  return t;
}

void BM_exec_true(benchmark::State& state) {
  const AccessPolicy policy = allow_all();
  for (auto _ : state) {
    Result<std::string> r = exec_command(policy, "true", "/", std::nullopt, "", never_cancelled);
    if (!r.ok()) state.SkipWithError(r.error().message.c_str());
  }
}
BENCHMARK(BM_exec_true)->Unit(benchmark::kMicrosecond)->MinTime(2.0);

void BM_exec_16MiB(benchmark::State& state) {
  const AccessPolicy policy = allow_all();
  for (auto _ : state) {
    Result<std::string> r =
        exec_command(policy, "head -c 16777216 /dev/zero", "/", std::nullopt, "", never_cancelled);
    if (!r.ok() || r->size() != k16MiB) state.SkipWithError("wrong output");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * k16MiB));
}
BENCHMARK(BM_exec_16MiB)->Unit(benchmark::kMillisecond);

void BM_drain_100MB(benchmark::State& state) {
  const std::vector<std::string> words = {"head", "-c", std::to_string(k100MB), "/dev/zero"};
  for (auto _ : state) {
    Result<std::string> r =
        exec_detail::run_words("head -c 100000000 /dev/zero", words, "/", std::nullopt, never_cancelled, k100MB);
    if (!r.ok() || r->size() != k100MB) state.SkipWithError("wrong output");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * k100MB));
}
BENCHMARK(BM_drain_100MB)->Unit(benchmark::kMillisecond);

AccessPolicy checking_policy() {
  AccessPolicyConfig config;
  config.workspace = tree().root + "/w";
  config.allowed_dirs = {tree().root + "/data", "/usr/share"};
  config.allowed_files = {"/etc/hosts"};
  config.auto_approve_prefixes = {"ls", "cat", "git status"};
  config.allowed_commands = {"make *", "cargo test*", "npm run *"};
  config.allowed_command_patterns = {"^git (log|diff)\\b", "^python3? -m pytest\\b"};
  config.allowed_hosts = {"example.com", "*.github.com", "pypi.org"};
  return AccessPolicy::create(std::move(config));
}

void BM_check_path(benchmark::State& state, const std::string& path) {
  const AccessPolicy policy = checking_policy();
  for (auto _ : state) benchmark::DoNotOptimize(policy.check_path("read", path, "alice"));
}
BENCHMARK_CAPTURE(BM_check_path, inside_6_deep, tree().deep)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_check_path, through_link, tree().via_link)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_check_path, outside, std::string("/etc/passwd"))->Unit(benchmark::kMicrosecond);

// A model can name a path of any length; its test must stay linear in it.
std::string long_path() {
  std::string path = tree().root + "/w";
  for (int i = 0; i < 16384; ++i) path += "/x";
  return path;
}
BENCHMARK_CAPTURE(BM_check_path, long_32KiB, long_path())->Unit(benchmark::kMillisecond);

void BM_check_command(benchmark::State& state, const std::string& command) {
  const AccessPolicy policy = checking_policy();
  for (auto _ : state) benchmark::DoNotOptimize(policy.check_command(command, "alice"));
}
BENCHMARK_CAPTURE(BM_check_command, prefix, std::string("ls -la src"))->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_check_command, url_then_pattern,
                  std::string("git log --oneline https://api.github.com/repos/x/y?per_page=5"))
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_check_command, quoted_url,
                  std::string("curl -H 'Accept: application/json' \"https://api.github.com/repos/x/y\""))
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_check_command, needs_approval,
                  std::string("rm -rf build && ./configure --prefix=/opt/x && make -j8"))
    ->Unit(benchmark::kMicrosecond);

// CPython's time per call in microseconds for the same work.
std::map<std::string, double> cpython_us(const std::string& deep, const std::string& via_link) {
  const std::string script =
      "import os,subprocess,sys,time\n"
      "def per_call(op, n):\n"
      "    op()\n"
      "    best = None\n"
      "    for _ in range(3):\n"
      "        t0 = time.perf_counter()\n"
      "        for _ in range(n): op()\n"
      "        t = (time.perf_counter() - t0) / n\n"
      "        best = t if best is None else min(best, t)\n"
      "    return best * 1e6\n"
      "run = lambda args: subprocess.run(args, capture_output=True, stdin=subprocess.DEVNULL, check=True)\n"
      "print('BM_exec_true', per_call(lambda: run(['true']), 300))\n"
      "print('BM_exec_16MiB', per_call(lambda: run(['head', '-c', '16777216', '/dev/zero']), 10))\n"
      "print('BM_drain_100MB', per_call(lambda: run(['head', '-c', '100000000', '/dev/zero']), 3))\n"
      "print('BM_check_path/inside_6_deep', per_call(lambda: os.path.realpath(sys.argv[1]), 20000))\n"
      "print('BM_check_path/through_link', per_call(lambda: os.path.realpath(sys.argv[2]), 20000))\n";
  return bench::run_python_reference(script, {deep, via_link});
}

}  // namespace
}  // namespace vostrel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  vostrel::bench::RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto reference = vostrel::cpython_us(vostrel::tree().deep, vostrel::tree().via_link);
  vostrel::bench::print_beside_reference(reporter.us(), reference, "us", 1.0);
  std::printf("CPython: subprocess.run(capture_output=True) for the commands; os.path.realpath for the paths.\n");
  benchmark::Shutdown();
  return 0;
}
