#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/writer.h"
#include "support/json_test_util.h"
#include "loop_driver.h"
#include "orchestrator/loop.h"

namespace vostrel::orchestrator {
namespace {

using testing::describe;
using testing::step;

const std::vector<std::string> kAnnBob = {"Ann", "Bob"};

harness::LoopSpec phased_spec() {
  harness::LoopSpec spec;
  spec.phases = {{"opening", "", 1, false}, {"critique", "Find weaknesses.", 2, true}};
  return spec;
}

OrchestratorLoop resumed(const harness::LoopSpec& spec, const JsonObject& snapshot,
                         std::string orchestrator = "Mod") {
  OrchestratorLoop loop = new_orchestrator_loop(spec, orchestrator, kAnnBob);
  resume_orchestrator_loop(loop, snapshot);
  return loop;
}

JsonObject object(std::string_view text) {
  JsonValue v = test_support::parse_or_fail(text);
  return v.is_object() ? std::move(v.as_object()) : JsonObject();
}

// After every action of a whole session, a loop resumed from the snapshot
// gives the same next action and then runs to the same end.
TEST(LoopSnapshot, RoundTripsAtEveryStep) {
  const harness::LoopSpec spec = phased_spec();
  const std::deque<std::string> script = {
      "@Ann open", "A1", "NEXT_PHASE",
      "```vostrel\n{\"parallel\": [{\"agent\": \"Ann\", \"instruction\": \"\"}, "
      "{\"agent\": \"Bob\", \"instruction\": \"x\"}]}\n```",
      "A2", "B2", "?", "@Bob", "B3", "@Ann", "A3", "Draft.", "Final."};
  OrchestratorLoop live = new_orchestrator_loop(spec, "Mod", kAnnBob);
  live.result_fields = {{"v", "str", ""}};
  std::deque<std::string> remaining = script;
  int checked = 0;
  while (true) {
    const JsonObject snapshot = loop_snapshot_json(live);
    OrchestratorLoop copy = resumed(spec, object(to_json(JsonValue(snapshot))));
    copy.result_fields = live.result_fields;
    // Before the first query the resumed loop gives back its snapshot unchanged.
    EXPECT_EQ(loop_snapshot_json(copy), snapshot);
    Result<LoopAction> expected = next_loop_action(live);
    Result<LoopAction> got = next_loop_action(copy);
    ASSERT_TRUE(got.ok()) << got.error().message << "\n" << to_json(JsonValue(snapshot));
    ASSERT_EQ(*got, *expected) << to_json(JsonValue(snapshot));
    ++checked;
    std::deque<std::string> rest_copy = remaining;
    const std::string line = step(live, remaining);
    step(copy, rest_copy);
    EXPECT_EQ(loop_snapshot_json(copy), loop_snapshot_json(live));
    if (line.empty() || line.starts_with("complete")) break;
  }
  EXPECT_GT(checked, 25);
  EXPECT_TRUE(live.stage.is<LoopStage::Complete>());
}

TEST(LoopSnapshot, ShapeOfAFreshAndAStartedLoop) {
  OrchestratorLoop loop = new_orchestrator_loop(phased_spec(), "Mod", kAnnBob);
  EXPECT_EQ(to_json(JsonValue(loop_snapshot_json(loop))),
            R"({"turn_count":0,"phases":{"index":0,"round_in_phase":0,"pending":["Ann","Bob"],)"
            R"("rounds_run":0,"exhausted":false}})");
  ASSERT_TRUE(next_loop_action(loop).ok());
  const JsonObject started = loop_snapshot_json(loop);
  ASSERT_TRUE(started.contains("scheduler"));
  EXPECT_EQ(to_json(*started.find("scheduler")->find("stage")), R"({"stage":"orchestrator","retry":0})");
  EXPECT_TRUE(started.find("scheduler")->find("raw_closing_result")->is_null());
}

TEST(LoopSnapshot, ResumeWithoutSchedulerStartsFresh) {
  const JsonObject snapshot = object(R"({"turn_count":4,"phases":{"index":1,"rounds_run":1},"x":1})");
  OrchestratorLoop loop = resumed(phased_spec(), snapshot);
  EXPECT_EQ(loop_snapshot_json(loop), snapshot);
  Result<LoopAction> a = next_loop_action(loop);
  ASSERT_TRUE(a.ok());
  EXPECT_TRUE(describe(*a).starts_with("directive: Active phase: critique (round 1 of 2)."));
  EXPECT_EQ(loop.state.turn_count, 4);
  EXPECT_EQ(loop.state.phase_reached, "critique");
  EXPECT_EQ(loop.state.rounds_run, 1);
  EXPECT_TRUE(loop.saved.empty());

  // With advance = false no phase status is queued.
  OrchestratorLoop host = resumed(phased_spec(), snapshot);
  ASSERT_TRUE(restore_loop_scheduler(host, false).ok());
  EXPECT_TRUE(host.pending.empty());
}

TEST(LoopSnapshot, RestoreRefusals) {
  // A consistent saved position to break one way at a time: turn 2, Ann and
  // Bob have spoken once (round 1 done), the orchestrator's turn is next.
  const std::string good_state =
      R"({"turn_count":2,"consensus_reached":false,"final_summary":"","fields":{},"rounds_run":1,"phase_reached":"critique","end_reason":"max_turns"})";
  const auto snapshot = [&](std::string turn_count, std::string phases, std::string scheduler) {
    return R"({"turn_count":)" + turn_count + R"(,"phases":)" + phases +
           (scheduler.empty() ? "" : R"(,"scheduler":)" + scheduler) + "}";
  };
  const std::string phases = R"({"index":1,"round_in_phase":0,"pending":["Ann","Bob"],"rounds_run":1,"exhausted":false})";
  const auto sched = [&](std::string stage, std::string pending = "[]",
                         std::string state = "") {
    return R"({"stage":)" + stage + R"(,"pending":)" + pending + R"(,"state":)" +
           (state.empty() ? good_state : state) + "}";
  };
  struct Case {
    const char* name;
    std::string snapshot;
    const char* message;  // empty: accepted
    std::size_t max_concurrent_agents = 1;
    std::int64_t max_turns = 50;
  };
  const std::vector<Case> cases = {
      {"accepted", snapshot("2", phases, sched(R"({"stage":"orchestrator","retry":2})")), ""},
      {"zero concurrency before anything else", snapshot("-1", phases, "null"),
       "max_concurrent_agents must be at least 1", 0},
      {"negative turn count", snapshot("-1", phases, ""),
       "Invalid loop scheduler snapshot: negative progress"},
      {"negative rounds", snapshot("2", R"({"rounds_run":-2})", ""),
       "Invalid loop scheduler snapshot: negative progress"},
      {"null scheduler", snapshot("2", phases, "null"),
       "Invalid loop scheduler snapshot: invalid type: null, expected struct SavedScheduler"},
      {"extra scheduler member",
       snapshot("2", phases,
                R"({"stage":{"stage":"complete"},"pending":[],"state":)" + good_state + R"(,"x":1})"),
       "Invalid loop scheduler snapshot: unknown field `x`, expected one of `stage`, `pending`, "
       "`state`, `raw_closing_result`"},
      {"missing state", snapshot("2", phases, R"({"stage":{"stage":"complete"},"pending":[]})"),
       "Invalid loop scheduler snapshot: missing field `state`"},
      {"turn counts disagree", snapshot("5", phases, sched(R"({"stage":"orchestrator","retry":0})")),
       "Invalid loop scheduler snapshot: inconsistent pending actions or turn count"},
      {"queued turn",
       snapshot("2", phases,
                sched(R"({"stage":"orchestrator","retry":0})",
                      R"([{"action":"turn","agent":"Mod","purpose":"p","kind":"orchestrator"}])")),
       "Invalid loop scheduler snapshot: inconsistent pending actions or turn count"},
      {"retry above retries", snapshot("2", phases, sched(R"({"stage":"orchestrator","retry":3})")),
       "Invalid loop scheduler snapshot: inconsistent pending actions or turn count"},
      {"participant at the turn budget",
       snapshot("2", phases, sched(R"({"stage":"participant","name":"Ann","instruction":""})")),
       "Invalid loop scheduler snapshot: inconsistent pending actions or turn count", 1, 2},
      {"closing draft at the turn budget",
       snapshot("2", phases, sched(R"({"stage":"closing_draft"})")), "", 1, 2},
      {"rounds ahead of turns",
       snapshot("0", phases,
                sched(R"({"stage":"orchestrator","retry":0})", "[]",
                      R"({"turn_count":0,"consensus_reached":false,"final_summary":"","fields":{},"rounds_run":1,"phase_reached":"","end_reason":"max_turns"})")),
       "Invalid loop scheduler snapshot: inconsistent pending actions or turn count"},
      {"unknown participant",
       snapshot("2", phases, sched(R"({"stage":"participant","name":"Zed","instruction":""})")),
       "Cannot resume pending turn for unknown participant 'Zed'"},
      {"batch member already spoke",
       snapshot("2", R"({"index":1,"pending":["Bob"],"rounds_run":1})",
                sched(R"({"stage":"batch","assignments":[{"agent":"Ann","instruction":""}]})")),
       "Participant 'Ann' already spoke this round"},
      {"missing raw closing result is absent",
       snapshot("2", phases, sched(R"({"stage":"complete"})")), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    harness::LoopSpec spec = phased_spec();
    spec.max_concurrent_agents = c.max_concurrent_agents;
    spec.max_turns = c.max_turns;
    const JsonObject snap = object(c.snapshot);
    OrchestratorLoop loop = resumed(spec, snap);
    Result<LoopAction> first = next_loop_action(loop);
    if (std::string(c.message).empty()) {
      EXPECT_TRUE(first.ok()) << first.error().message;
      continue;
    }
    ASSERT_FALSE(first.ok());
    EXPECT_EQ(first.error().message, c.message);
    EXPECT_EQ(first.error().kind, ErrorKind::kSession);
    // A failed start changes nothing and fails again the same way.
    EXPECT_FALSE(loop.started);
    EXPECT_EQ(loop_snapshot_json(loop), snap);
    EXPECT_EQ(next_loop_action(loop).error().message, c.message);
  }
}

TEST(LoopSnapshot, UnacknowledgedDeliverSurvives) {
  OrchestratorLoop loop = new_orchestrator_loop(harness::LoopSpec{}, "Mod", kAnnBob);
  ASSERT_TRUE(next_loop_action(loop).ok());
  ASSERT_TRUE(accept_agent_reply(loop, "@Ann go").ok());
  OrchestratorLoop copy = resumed(harness::LoopSpec{}, loop_snapshot_json(loop));
  Result<LoopAction> a = next_loop_action(copy);
  ASSERT_TRUE(a.ok());
  EXPECT_EQ(describe(*a), "deliver Mod #1 orchestrator: @Ann go");
}

}  // namespace
}  // namespace vostrel::orchestrator
