// The orchestrator loop's cost per decision over a long scripted session, and
// the reply matchers on a large reply, each beside a reference measured in the
// same run.
#include <benchmark/benchmark.h>

#include <deque>
#include <string>
#include <vector>

#include "orchestrator/closing.h"
#include "orchestrator/loop.h"
#include "orchestrator/matching.h"

namespace vostrel::orchestrator {
namespace {

std::vector<std::string> agent_names(int n) {
  std::vector<std::string> names;
  for (int i = 0; i < n; ++i) names.push_back("Agent" + std::to_string(i));
  return names;
}

harness::LoopSpec long_session_spec(std::int64_t turns) {
  harness::LoopSpec spec;
  spec.max_turns = turns;
  spec.max_rounds = turns;
  spec.phases = {{"opening", "State your position.", 2, false},
                 {"debate", "Answer each other.", turns, true}};
  spec.verdict_rethink = true;
  return spec;
}

// Drives one whole session of `turns` accepted replies: the orchestrator
// mentions the participants in turn, every fifth orchestrator reply is a
// batch of two, and each decision is one loop call (a query, an
// acknowledgement or a reply). Returns the number of decisions.
std::int64_t run_scripted_session(std::int64_t turns, const std::vector<std::string>& names) {
  OrchestratorLoop loop = new_orchestrator_loop(long_session_spec(turns), "Mod", names);
  loop.result_fields = {{"verdict", "str", ""}, {"score", "int", ""}};
  const std::string participant_reply(400, 'x');
  std::int64_t decisions = 0;
  std::size_t next = 0;
  std::int64_t orchestrator_replies = 0;
  while (true) {
    Result<LoopAction> action = next_loop_action(loop);
    ++decisions;
    if (!action.ok() || action->is<LoopAction::Complete>()) break;
    if (const auto* turn = action->get<LoopAction::Turn>()) {
      std::string reply;
      if (turn->kind == TurnKind::kOrchestrator) {
        // Ask whoever is still pending so that rounds keep completing.
        const std::vector<std::string>& pending = loop.scheduler.pending;
        const std::string& a = pending.empty() ? names[next++ % names.size()] : pending.front();
        if (++orchestrator_replies % 5 == 0 && pending.size() >= 2) {
          reply = "```vostrel\n{\"parallel\": [{\"agent\": \"" + pending[0] +
                  "\", \"instruction\": \"go\"}, {\"agent\": \"" + pending[1] +
                  "\", \"instruction\": \"\"}]}\n```";
        } else {
          reply = "Thank you. @" + a + ": please respond to the last point.";
        }
      } else if (turn->kind == TurnKind::kClosing) {
        reply = "Summary.\n\n```json\n{\"verdict\": \"pass\", \"score\": 7}\n```";
      } else {
        reply = participant_reply;
      }
      (void)accept_agent_reply(loop, std::move(reply));
    } else if (const auto* batch = action->get<LoopAction::Batch>()) {
      (void)accept_batch_replies(
          loop, std::vector<std::string>(batch->assignments.size(), participant_reply));
    } else {
      (void)acknowledge_loop_action(loop);
    }
    ++decisions;
  }
  return decisions;
}

void BM_LoopDecision(benchmark::State& state) {
  const std::vector<std::string> names = agent_names(4);
  const std::int64_t turns = state.range(0);
  std::int64_t decisions = 0;
  for (auto _ : state) decisions += run_scripted_session(turns, names);
  state.counters["decisions_per_session"] =
      benchmark::Counter(static_cast<double>(decisions) / static_cast<double>(state.iterations()));
  state.counters["time_per_decision"] = benchmark::Counter(
      static_cast<double>(decisions), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LoopDecision)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

// Reference: the least a host does per reply, handing the same 400-byte reply
// through a queue as a Deliver action.
void BM_ReferenceQueueHandOff(benchmark::State& state) {
  const std::string participant_reply(400, 'x');
  std::deque<LoopAction> queue;
  std::int64_t handed = 0;
  for (auto _ : state) {
    for (int i = 0; i < 10000; ++i) {
      queue.push_back(LoopAction{LoopAction::Deliver{"Agent0", participant_reply, i, "turn"}});
      benchmark::DoNotOptimize(queue.front());
      queue.pop_front();
      ++handed;
    }
  }
  state.counters["time_per_decision"] = benchmark::Counter(
      static_cast<double>(handed), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ReferenceQueueHandOff)->Unit(benchmark::kMillisecond);

// A 1 MB reply full of near-miss mentions ("@Agent12x" is rejected: the name
// runs on), with the one real mention, of the last name in list order, at the
// very end: every name is searched through the whole reply.
std::string near_miss_reply(const std::vector<std::string>& names, std::size_t size) {
  std::string reply;
  reply.reserve(size + 64);
  std::size_t i = 0;
  while (reply.size() < size) {
    reply += "Some discussion of the proposal, with a side note for @";
    reply += names[i++ % names.size()];
    reply += "x about the numbers. ";
  }
  reply += "@" + names.back() + " please summarise.";
  return reply;
}

void BM_FindAddressedAgent(benchmark::State& state) {
  const std::vector<std::string> names = agent_names(50);
  const std::string reply = near_miss_reply(names, 1 << 20);
  for (auto _ : state) {
    auto found = find_addressed_agent(reply, names);
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(BM_FindAddressedAgent)->Unit(benchmark::kMicrosecond);

// Reference: one std::string::find scan of the same reply for one mention.
void BM_ReferenceStringFindOneName(benchmark::State& state) {
  const std::vector<std::string> names = agent_names(50);
  const std::string reply = near_miss_reply(names, 1 << 20);
  const std::string needle = "@" + names.back() + " ";
  for (auto _ : state) {
    std::size_t at = reply.find(needle);
    benchmark::DoNotOptimize(at);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(BM_ReferenceStringFindOneName)->Unit(benchmark::kMicrosecond);

// Reference: 50 std::string::find scans of the same reply, one per name, the
// floor of a search that must look for every name.
void BM_ReferenceStringFindFiftyNames(benchmark::State& state) {
  const std::vector<std::string> names = agent_names(50);
  const std::string reply = near_miss_reply(names, 1 << 20);
  std::vector<std::string> needles;
  for (const std::string& name : names) needles.push_back("@" + name + " ");
  for (auto _ : state) {
    for (const std::string& needle : needles) {
      std::size_t at = reply.find(needle);
      benchmark::DoNotOptimize(at);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(BM_ReferenceStringFindFiftyNames)->Unit(benchmark::kMicrosecond);

// The keyword test on the same reply (no keyword present), beside a
// case-sensitive std::string::find of it.
void BM_ContainsKeyword(benchmark::State& state) {
  const std::string reply = near_miss_reply(agent_names(50), 1 << 20);
  for (auto _ : state) benchmark::DoNotOptimize(contains_keyword(reply, "END_SESSION"));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(BM_ContainsKeyword)->Unit(benchmark::kMicrosecond);

void BM_ReferenceStringFindKeyword(benchmark::State& state) {
  const std::string reply = near_miss_reply(agent_names(50), 1 << 20);
  for (auto _ : state) benchmark::DoNotOptimize(reply.find("END_SESSION"));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(BM_ReferenceStringFindKeyword)->Unit(benchmark::kMicrosecond);

// Reading the result fields and stripping the result block from a 1 MB
// closing reply whose block stands at the end, beside a std::string::find of
// the block's fence in the same reply.
std::string long_closing_reply() {
  std::string reply;
  while (reply.size() < (1 << 20)) {
    reply += "The participants weighed {the costs} against the benefits at length. ";
  }
  reply += "\n\n```json\n{\"verdict\": \"pass\", \"score\": 7}\n```";
  return reply;
}

void BM_ExtractAndStripResult(benchmark::State& state) {
  const std::string reply = long_closing_reply();
  const std::vector<harness::ResultField> fields = {{"verdict", "str", ""}, {"score", "int", ""}};
  for (auto _ : state) {
    benchmark::DoNotOptimize(extract_result_fields(reply, fields));
    benchmark::DoNotOptimize(strip_result_fence(reply));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(BM_ExtractAndStripResult)->Unit(benchmark::kMicrosecond);

void BM_ReferenceStringFindFence(benchmark::State& state) {
  const std::string reply = long_closing_reply();
  for (auto _ : state) benchmark::DoNotOptimize(reply.find("```json"));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * reply.size()));
}
BENCHMARK(BM_ReferenceStringFindFence)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vostrel::orchestrator

BENCHMARK_MAIN();
