// Loading assets: every built-in asset through its reader, and a 1 MB
// frontmatter through the YAML loader and the gameplan reader. References in
// the same run: a bare libyaml event scan of the same text (the parser alone,
// no values built) and PyYAML's safe_load of the same text (C loader when
// available).
#include <benchmark/benchmark.h>
#include <unistd.h>
#include <yaml.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "assets/assets.h"
#include "assets/role.h"
#include "gameplan/gameplan_reader.h"
#include "persona/persona.h"
#include "skill/loader.h"
#include "yaml/yaml.h"

namespace vostrel {
namespace {

// About 1 MB of frontmatter in the shapes gameplans use: nested mappings,
// block and flow lists, quoted and plain scalars of every type, anchors,
// aliases and merge keys.
const std::string& big_yaml() {
  static const std::string text = [] {
    std::string out = "name: big-plan\ndescription: A large generated harness.\ndefaults: &d {rounds: 2, rethink: no}\n"
                      "sections:\n";
    for (int i = 0; out.size() < (1u << 20); ++i) {
      const std::string n = std::to_string(i);
      out += "  - name: section-" + n + "\n";
      out += "    <<: *d\n";
      out += "    instruction: \"Discuss point " + n + " and its consequences, citing evidence.\"\n";
      out += "    weight: " + std::to_string(i % 97) + "." + std::to_string(i % 10) + "\n";
      out += "    enabled: " + std::string(i % 2 ? "yes" : "off") + "\n";
      out += "    tags: [alpha, beta, '" + n + "', 0x" + std::to_string(10 + i % 80) + ", ~]\n";
      out += "    notes: |\n      First line of notes " + n + ".\n      Second line.\n";
    }
    return out;
  }();
  return text;
}

const std::string& big_gameplan() {
  static const std::string text = "---\n" + big_yaml() + "---\n# Big plan\n\nBody text.\n";
  return text;
}

void BM_LoadBuiltinAssets(benchmark::State& state) {
  assets::set_assets_root(VOSTREL_SOURCE_DIR "/assets");
  const auto gameplans = assets::list_builtin_gameplans();
  const auto roles = assets::list_builtin_roles();
  const auto personas = assets::list_builtin_personas();
  const auto skills = assets::list_builtin_skills();
  const std::string roles_dir = assets::builtin_dir(assets::kRolesDir).string();
  std::size_t loads = 0;
  for (auto _ : state) {
    for (const auto& name : gameplans) benchmark::DoNotOptimize(gameplan::read_gameplan_file(name).ok());
    for (const auto& name : roles) benchmark::DoNotOptimize(assets::read_role_file(roles_dir + "/" + name + ".md", {}).ok());
    for (const auto& name : personas) benchmark::DoNotOptimize(persona::read_persona_file(name + ".md", {}).ok());
    for (const auto& name : skills) benchmark::DoNotOptimize(skill::read_skill_file(name).ok());
    loads = gameplans.size() + roles.size() + personas.size() + skills.size();
  }
  state.counters["assets"] = static_cast<double>(loads);
}
BENCHMARK(BM_LoadBuiltinAssets)->Unit(benchmark::kMicrosecond);

void BM_YamlToJson_1MB(benchmark::State& state) {
  const std::string& text = big_yaml();
  for (auto _ : state) {
    Result<JsonValue> v = yaml::yaml_to_json(text);
    if (!v.ok()) state.SkipWithError(v.error().message.c_str());
    benchmark::DoNotOptimize(v);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_YamlToJson_1MB)->Unit(benchmark::kMillisecond);

void BM_GameplanText_1MB(benchmark::State& state) {
  const std::string& text = big_gameplan();
  for (auto _ : state) {
    Result<gameplan::GameplanConfig> plan = gameplan::parse_gameplan_text(text, "big.md");
    if (!plan.ok()) state.SkipWithError(plan.error().message.c_str());
    benchmark::DoNotOptimize(plan);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_GameplanText_1MB)->Unit(benchmark::kMillisecond);

// Reference: libyaml's parser over the same text, events discarded.
void BM_LibyamlEventScan_1MB(benchmark::State& state) {
  const std::string& text = big_yaml();
  for (auto _ : state) {
    yaml_parser_t parser;
    yaml_parser_initialize(&parser);
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    std::size_t events = 0;
    while (true) {
      yaml_event_t event;
      if (!yaml_parser_parse(&parser, &event)) {
        state.SkipWithError("libyaml failed");
        break;
      }
      const bool done = event.type == YAML_STREAM_END_EVENT;
      yaml_event_delete(&event);
      ++events;
      if (done) break;
    }
    yaml_parser_delete(&parser);
    benchmark::DoNotOptimize(events);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_LibyamlEventScan_1MB)->Unit(benchmark::kMillisecond);

// PyYAML's best-of-five times in milliseconds, on the same inputs: safe_load
// of the 1 MB text ("big"), and reading every built-in asset file and loading
// its frontmatter ("assets"). Empty when python3 or PyYAML is missing.
struct PyYamlTimes {
  double big_ms = -1;
  double assets_ms = -1;
  std::string loader;
};

PyYamlTimes pyyaml_ms() {
  char dir[] = "/tmp/vostrel_assets_bench_XXXXXX";
  if (::mkdtemp(dir) == nullptr) return {};
  const std::string yaml_path = std::string(dir) + "/big.yaml";
  const std::string script_path = std::string(dir) + "/ref.py";
  std::ofstream(yaml_path, std::ios::binary) << big_yaml();
  std::ofstream(script_path)
      << "import glob,os,re,sys,time,yaml\n"
         "L=getattr(yaml,'CSafeLoader',None) or yaml.SafeLoader\n"
         "def best(op):\n"
         "    return min((lambda t0:(op(),time.perf_counter()-t0)[1])(time.perf_counter()) for _ in range(5))\n"
         "text=open(sys.argv[1],encoding='utf-8').read()\n"
         "root=sys.argv[2]\n"
         "files=sorted(glob.glob(root+'/gameplans/*.md')+glob.glob(root+'/roles/*.md')+\n"
         "             glob.glob(root+'/personas/*.md')+glob.glob(root+'/skills/*/SKILL.md'))\n"
         "FM=re.compile(r'(?s)\\A---[ \\t]*\\r?\\n(.*?)\\r?\\n---[ \\t]*(?:\\r?\\n|\\Z)')\n"
         "def load_all():\n"
         "    for f in files:\n"
         "        t=open(f,encoding='utf-8').read()\n"
         "        m=FM.match(t)\n"
         "        if m: yaml.load(m.group(1),Loader=L)\n"
         "print('big',best(lambda:yaml.load(text,Loader=L))*1e3,L.__name__)\n"
         "print('assets',best(load_all)*1e3,len(files))\n";
  PyYamlTimes out;
  const std::string cmd = "python3 " + script_path + " " + yaml_path + " " VOSTREL_SOURCE_DIR "/assets 2>/dev/null";
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char word[64] = {0};
    double ms = -1;
    if (std::fscanf(p, "big %lf %63s\n", &ms, word) == 2) {
      out.big_ms = ms;
      out.loader = word;
    }
    if (std::fscanf(p, "assets %lf %63s", &ms, word) == 2) out.assets_ms = ms;
    ::pclose(p);
  }
  std::remove(yaml_path.c_str());
  std::remove(script_path.c_str());
  ::rmdir(dir);
  return out;
}

}  // namespace
}  // namespace vostrel

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  const vostrel::PyYamlTimes ref = vostrel::pyyaml_ms();
  if (ref.big_ms < 0) {
    std::printf("\nreference: PyYAML not available\n");
  } else {
    std::printf("\nreference, PyYAML (%s), best of 5:\n", ref.loader.c_str());
    std::printf("  yaml.load of the same %zu-byte text: %.3f ms\n", vostrel::big_yaml().size(), ref.big_ms);
    std::printf("  every built-in asset read and its frontmatter loaded: %.3f ms\n", ref.assets_ms);
  }
  benchmark::Shutdown();
  return 0;
}
