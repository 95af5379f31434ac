// Reading tool calls out of long model replies: parse_tool_calls and
// extract_fence on ordinary and adversarial replies of 256 KB to 2 MB, beside
// a plain memchr scan and the JSON reader over the same bytes. Time per byte
// should stay flat as the reply grows (the "BigO" rows fit time against size).
#include <benchmark/benchmark.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "json/reader.h"
#include "tooling/fence.h"
#include "tooling/tool_calls.h"

namespace {

using vostrel::tooling::extract_fence;
using vostrel::tooling::parse_tool_calls;

// Repeats `unit` until `out` holds about `bytes` bytes.
void repeat_to(std::string& out, std::string_view unit, std::size_t bytes) {
  while (out.size() < bytes) out.append(unit);
}

// The kinds of reply, each about `bytes` long.
std::map<std::string, std::function<std::string(std::size_t)>> reply_kinds() {
  return {
      // Prose and a tool_calls block holding many calls: the common heavy case.
      {"calls_block",
       [](std::size_t bytes) {
         std::string s = "Let me look at the files.\n```tool_calls\n{\"tool_calls\": [\n";
         repeat_to(s,
              "  {\"id\": \"c1\", \"type\": \"function\", \"function\": {\"name\": \"read_file\", "
              "\"arguments\": \"{\\\"path\\\": \\\"src/a.txt\\\"}\"}},\n",
              bytes);
         s += "  {\"name\": \"list_dir\", \"arguments\": {\"path\": \".\"}}\n]}\n```\nDone.\n";
         return s;
       }},
      // Prose only, no block: both fences are searched and nothing is read.
      {"prose",
       [](std::size_t bytes) {
         std::string s;
         repeat_to(s, "The quick brown fox jumps over the lazy dog; tool_calls are not needed here.\n",
              bytes);
         return s;
       }},
      // One line of backticks.
      {"backtick_line",
       [](std::size_t bytes) { return std::string(bytes, '`'); }},
      // Lines that look like openings of other tags and closings.
      {"backtick_lines",
       [](std::size_t bytes) {
         std::string s;
         repeat_to(s, "```python\n`````\n``` ```\n```\n", bytes);
         return s;
       }},
      // A tool_calls block that never closes, over very many short lines.
      {"unclosed_many_lines",
       [](std::size_t bytes) {
         std::string s = "```tool_calls\n";
         repeat_to(s, "x\n", bytes);
         return s;
       }},
      // Very many empty lines (CRLF) before a small block.
      {"many_crlf_lines",
       [](std::size_t bytes) {
         std::string s;
         repeat_to(s, "\r\n", bytes);
         s += "```tool_calls\r\n[{\"name\": \"a\"}]\r\n```\r\n";
         return s;
       }},
      // Items nested just under the reader's depth limit.
      {"deep_nesting",
       [](std::size_t bytes) {
         const std::string item = std::string(120, '[') + std::string(120, ']');
         std::string s = "```tool_calls\n[" + item;
         repeat_to(s, "," + item, bytes);
         s += "]\n```\n";
         return s;
       }},
      // A bare reply mentioning the key over and over without a colon.
      {"bare_key_mentions",
       [](std::size_t bytes) {
         std::string s = "{";
         repeat_to(s, "\"tool_calls\"  \t  tool_calls    my_tool_calls: ", bytes);
         return s;
       }},
  };
}

const std::string& reply(const std::string& kind, std::size_t bytes) {
  static std::map<std::pair<std::string, std::size_t>, std::string> cache;
  auto key = std::make_pair(kind, bytes);
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, reply_kinds().at(kind)(bytes)).first;
  return it->second;
}

void finish(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
  state.SetComplexityN(static_cast<std::int64_t>(bytes));
}

void BM_ParseToolCalls(benchmark::State& state, const std::string& kind) {
  const std::string& text = reply(kind, static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(parse_tool_calls(text));
  finish(state, text.size());
}

void BM_ExtractFence(benchmark::State& state, const std::string& kind) {
  const std::string& text = reply(kind, static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(extract_fence(text, "tool_calls"));
  finish(state, text.size());
}

// Reference: count the lines with memchr and look for the tag with find,
// the least any reader of these replies has to do.
void BM_ReferenceScan(benchmark::State& state, const std::string& kind) {
  const std::string& text = reply(kind, static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::size_t lines = 0;
    const char* p = text.data();
    const char* end = p + text.size();
    while ((p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) !=
           nullptr) {
      ++lines;
      ++p;
    }
    benchmark::DoNotOptimize(lines);
    benchmark::DoNotOptimize(text.find("```tool_calls"));
  }
  finish(state, text.size());
}

// Reference: the JSON reader alone over the block's body.
void BM_ReferenceParseJson(benchmark::State& state, const std::string& kind) {
  const std::string& text = reply(kind, static_cast<std::size_t>(state.range(0)));
  const std::string body = extract_fence(text, "tool_calls");
  for (auto _ : state) {
    vostrel::JsonValue value;
    vostrel::JsonParseError error;
    benchmark::DoNotOptimize(vostrel::parse_json(body, value, error));
  }
  finish(state, text.size());
}

void register_all() {
  using Fn = void (*)(benchmark::State&, const std::string&);
  const std::pair<const char*, Fn> ops[] = {{"parse_tool_calls", &BM_ParseToolCalls},
                                            {"extract_fence", &BM_ExtractFence},
                                            {"reference_scan", &BM_ReferenceScan}};
  for (const auto& [kind, make] : reply_kinds()) {
    for (const auto& [op, fn] : ops) {
      benchmark::RegisterBenchmark((std::string(op) + "/" + kind).c_str(), fn, kind)
          ->RangeMultiplier(2)
          ->Range(256 << 10, 2 << 20)
          ->Unit(benchmark::kMicrosecond)
          ->Complexity(benchmark::oN);
    }
  }
  for (const char* kind : {"calls_block", "deep_nesting"}) {
    benchmark::RegisterBenchmark((std::string("reference_parse_json/") + kind).c_str(),
                                 &BM_ReferenceParseJson, std::string(kind))
        ->RangeMultiplier(2)
        ->Range(256 << 10, 2 << 20)
        ->Unit(benchmark::kMicrosecond)
        ->Complexity(benchmark::oN);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  register_all();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
