#include "orchestrator/loop.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/writer.h"
#include "loop_driver.h"

namespace vostrel::orchestrator {
namespace {

using testing::describe;
using testing::run_session;
using Lines = std::vector<std::string>;

const std::vector<std::string> kAnnBob = {"Ann", "Bob"};

constexpr const char* kRethinkParagraph =
    "This is a rethink phase. Re-examine the position you took earlier against everything said "
    "since, and state plainly whether it changed and why. Repeating your opening position "
    "unchanged is only acceptable if you say what you considered and why it did not move you.";

harness::LoopSpec two_phase_spec() {
  harness::LoopSpec spec;
  spec.phases = {{"opening", "State your position.", 1, false},
                 {"critique", "Find weaknesses.", 2, true}};
  return spec;
}

// Acknowledges queued actions until the orchestrator's turn.
void to_orchestrator_turn(OrchestratorLoop& loop) {
  for (int i = 0; i < 10; ++i) {
    Result<LoopAction> a = next_loop_action(loop);
    ASSERT_TRUE(a.ok()) << a.error().message;
    if (a->is<LoopAction::Turn>()) return;
    ASSERT_TRUE(acknowledge_loop_action(loop).ok());
  }
  FAIL() << "no orchestrator turn";
}

Lines queued(const OrchestratorLoop& loop) {
  Lines out;
  for (const LoopAction& a : loop.pending) out.push_back(describe(a));
  return out;
}

std::string feedback_for(const std::string& pending_first) {
  return "Your last response didn't contain an @Name mention or one of these keywords: "
         "END_SESSION. Please either call on a participant using @Name or end the session. " +
         pending_first + " has not spoken this round. Reply with \"@" + pending_first +
         ", \" and your instruction, and nothing else \xE2\x80\x94 " + pending_first +
         " answers for itself, and a turn you write on its behalf is not one it took.";
}

TEST(OrchestratorLoop, NewLoopAndFirstQueries) {
  OrchestratorLoop loop = new_orchestrator_loop(two_phase_spec(), "Mod", kAnnBob);
  EXPECT_FALSE(loop.started);
  EXPECT_EQ(loop.state, LoopState{});
  EXPECT_EQ(loop.max_turns, 50);
  EXPECT_EQ(loop.retries, 2);

  const std::string status =
      "Active phase: opening (round 1 of 1).\nInstruction for participants: State your "
      "position.\nYet to speak this round: Ann, Bob.\nWrite NEXT_PHASE to move to the next phase "
      "before its rounds are up.";
  Result<LoopAction> first = next_loop_action(loop);
  ASSERT_TRUE(first.ok());
  EXPECT_EQ(*first, LoopAction{LoopAction::Directive{status}});
  EXPECT_EQ(*next_loop_action(loop), *first);  // asking twice changes nothing
  ASSERT_TRUE(acknowledge_loop_action(loop).ok());
  EXPECT_EQ(*next_loop_action(loop),
            (LoopAction{LoopAction::Turn{"Mod", "orchestrator turn", status,
                                         TurnKind::kOrchestrator}}));
  Status ack = acknowledge_loop_action(loop);
  ASSERT_FALSE(ack.ok());
  EXPECT_EQ(ack.error().message, "There is no pending loop callback to acknowledge");
  EXPECT_FALSE(accept_batch_replies(loop, {}).ok());

  // Without phases there is no status and the turn has no instruction.
  OrchestratorLoop plain = new_orchestrator_loop(harness::LoopSpec{}, "Mod", kAnnBob);
  EXPECT_EQ(*next_loop_action(plain),
            (LoopAction{LoopAction::Turn{"Mod", "orchestrator turn", std::nullopt,
                                         TurnKind::kOrchestrator}}));
}

TEST(OrchestratorLoop, StartAtLimits) {
  struct Case {
    const char* name;
    std::int64_t max_rounds;
    std::int64_t max_turns;
    bool phases;
    std::string orchestrator;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"no rounds, no phases", 0, 50, false, "Mod", "turn Mod [final summary]"},
      {"no rounds, phases", 0, 50, true, "", "complete phases_complete turns=0 rounds=0 phase=opening"},
      {"no turns", 3, 0, false, "Mod", "turn Mod [final summary]"},
      {"no turns, no orchestrator", 3, 0, false, "", "complete max_turns turns=0 rounds=0 phase="},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    harness::LoopSpec spec = c.phases ? two_phase_spec() : harness::LoopSpec{};
    spec.max_rounds = c.max_rounds;
    spec.max_turns = c.max_turns;
    OrchestratorLoop loop = new_orchestrator_loop(spec, c.orchestrator, kAnnBob);
    Result<LoopAction> a = next_loop_action(loop);
    ASSERT_TRUE(a.ok());
    EXPECT_EQ(describe(*a), c.expected);
  }
}

// One orchestrator reply after a fresh start: what it queues, where the loop
// goes, and how it ends. The rules apply in a fixed order: a batch block, the
// terminator keywords in list order, the advance keyword, the turn budget, and
// only then the batch or the mention.
TEST(OrchestratorLoop, ReplyClassificationOrder) {
  struct Case {
    const char* name;
    std::string reply;
    Lines queued;
    std::string stage;  // JSON of the stage after the reply
    LoopEndReason end_reason = LoopEndReason::kMaxTurns;
    bool consensus = false;
    bool phases = false;
    std::int64_t max_turns = 50;
    std::int64_t retries = 2;
    std::vector<std::string> terminate_on = {"END_SESSION"};
  };
  const std::string batch_ok =
      "```vostrel\n{\"parallel\": [{\"agent\": \"Bob\", \"instruction\": \"END_SESSION now\"}]}\n```";
  const std::string ended = "note: Session ended: END_SESSION";
  const std::vector<Case> cases = {
      {"batch wins over a keyword inside it", batch_ok, {"deliver Mod #1 orchestrator: " + batch_ok},
       R"({"stage":"batch","assignments":[{"agent":"Bob","instruction":"END_SESSION now"}]})"},
      {"text after the block", batch_ok + "\nEND_SESSION",
       {"deliver Mod #1 orchestrator: " + batch_ok + "\nEND_SESSION",
        "directive: Invalid batch: A batch reply must be one fenced vostrel JSON block. " +
            feedback_for("Ann")},
       R"({"stage":"orchestrator","retry":1})"},
      {"extra key in the batch",
       "```vostrel\n{\"parallel\": [], \"why\": \"x\"}\n```",
       {"deliver Mod #1 orchestrator: ```vostrel\n{\"parallel\": [], \"why\": \"x\"}\n```",
        "directive: Invalid batch: Invalid batch assignments: unknown field `why`, expected "
        "`parallel` at line 1 column 27. " + feedback_for("Ann")},
       R"({"stage":"orchestrator","retry":1})"},
      {"batch with a JSON syntax error", "```vostrel\n{\"parallel\": [}\n```",
       {"deliver Mod #1 orchestrator: ```vostrel\n{\"parallel\": [}\n```",
        "directive: Invalid batch: Invalid batch assignments: expected value at line 1 column 15. " +
            feedback_for("Ann")},
       R"({"stage":"orchestrator","retry":1})"},
      {"batch naming a stranger",
       "```vostrel\n{\"parallel\": [{\"agent\": \"Zed\", \"instruction\": \"\"}]}\n```",
       {"deliver Mod #1 orchestrator: ```vostrel\n{\"parallel\": [{\"agent\": \"Zed\", "
        "\"instruction\": \"\"}]}\n```",
        "directive: Invalid batch: Unknown participant 'Zed' in batch. " + feedback_for("Ann")},
       R"({"stage":"orchestrator","retry":1})"},
      {"keyword", "I think we're done. END_SESSION",
       {"deliver Mod #1 orchestrator: I think we're done. END_SESSION", ended},
       R"({"stage":"closing_draft"})", LoopEndReason::kKeyword},
      {"keywords in list order", "CONSENSUS_REACHED and END_SESSION",
       {"deliver Mod #1 orchestrator: CONSENSUS_REACHED and END_SESSION", ended},
       R"({"stage":"closing_draft"})", LoopEndReason::kKeyword, false, false, 50, 2,
       {"END_SESSION", "CONSENSUS_REACHED"}},
      {"consensus keyword", "consensus_reached",
       {"deliver Mod #1 orchestrator: consensus_reached", "note: Session ended: CONSENSUS_REACHED"},
       R"({"stage":"closing_draft"})", LoopEndReason::kKeyword, true, false, 50, 2,
       {"END_SESSION", "CONSENSUS_REACHED"}},
      {"keyword beats a mention", "@Ann END_SESSION",
       {"deliver Mod #1 orchestrator: @Ann END_SESSION", ended}, R"({"stage":"closing_draft"})",
       LoopEndReason::kKeyword},
      {"keyword inside a word is no keyword", "@Ann NOT_END_SESSION",
       {"deliver Mod #1 orchestrator: @Ann NOT_END_SESSION"},
       R"({"stage":"participant","name":"Ann","instruction":"NOT_END_SESSION"})"},
      {"advance alone asks again", "NEXT_PHASE",
       {"deliver Mod #1 orchestrator: NEXT_PHASE",
        "directive: Active phase: critique (round 1 of 2).\nInstruction for participants: Find "
        "weaknesses.\nYet to speak this round: Ann, Bob.\nWrite NEXT_PHASE to move to the next "
        "phase before its rounds are up."},
       R"({"stage":"orchestrator","retry":0})", LoopEndReason::kMaxTurns, false, true},
      {"advance then mention uses the new phase", "NEXT_PHASE @Bob go",
       {"deliver Mod #1 orchestrator: NEXT_PHASE @Bob go",
        "directive: Active phase: critique (round 1 of 2).\nInstruction for participants: Find "
        "weaknesses.\nYet to speak this round: Ann, Bob.\nWrite NEXT_PHASE to move to the next "
        "phase before its rounds are up."},
       R"({"stage":"participant","name":"Bob","instruction":"go\n\n[Phase: critique] Find weaknesses. )" +
           std::string(kRethinkParagraph) + R"("})",
       LoopEndReason::kMaxTurns, false, true},
      {"advance without phases is unusable", "NEXT_PHASE",
       {"deliver Mod #1 orchestrator: NEXT_PHASE", "directive: " + feedback_for("Ann")},
       R"({"stage":"orchestrator","retry":1})"},
      {"mention", "@Ann please summarise", {"deliver Mod #1 orchestrator: @Ann please summarise"},
       R"({"stage":"participant","name":"Ann","instruction":"please summarise"})"},
      {"bare mention passes the whole reply", "@Ann",
       {"deliver Mod #1 orchestrator: @Ann"},
       R"({"stage":"participant","name":"Ann","instruction":"@Ann"})"},
      {"unusable", "Hmm.", {"deliver Mod #1 orchestrator: Hmm.", "directive: " + feedback_for("Ann")},
       R"({"stage":"orchestrator","retry":1})"},
      {"unusable without retries ends by force", "Hmm.",
       {"deliver Mod #1 orchestrator: Hmm.",
        "note: Orchestrator output unparseable after retries. Forcing END_SESSION."},
       R"({"stage":"closing_draft"})", LoopEndReason::kForced, false, false, 50, 0},
      {"turn budget before a mention", "@Ann go", {"deliver Mod #1 orchestrator: @Ann go"},
       R"({"stage":"closing_draft"})", LoopEndReason::kMaxTurns, false, false, 1},
      {"turn budget before a batch", batch_ok, {"deliver Mod #1 orchestrator: " + batch_ok},
       R"({"stage":"closing_draft"})", LoopEndReason::kMaxTurns, false, false, 1},
      {"keyword at the turn budget", "END_SESSION",
       {"deliver Mod #1 orchestrator: END_SESSION", ended}, R"({"stage":"closing_draft"})",
       LoopEndReason::kKeyword, false, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    harness::LoopSpec spec = c.phases ? two_phase_spec() : harness::LoopSpec{};
    spec.max_turns = c.max_turns;
    spec.orchestrator_retries = c.retries;
    spec.terminate_on = c.terminate_on;
    OrchestratorLoop loop = new_orchestrator_loop(spec, "Mod", kAnnBob);
    to_orchestrator_turn(loop);
    Status s = accept_agent_reply(loop, c.reply);
    ASSERT_TRUE(s.ok()) << s.error().message;
    EXPECT_EQ(queued(loop), c.queued);
    EXPECT_EQ(to_json(loop.stage.to_json()), c.stage);
    EXPECT_EQ(loop.state.end_reason, c.end_reason);
    EXPECT_EQ(loop.state.consensus_reached, c.consensus);
    EXPECT_EQ(loop.state.turn_count, 1);
  }
}

TEST(OrchestratorLoop, AdvancingPastTheLastPhaseCloses) {
  harness::LoopSpec spec = two_phase_spec();
  OrchestratorLoop loop = new_orchestrator_loop(spec, "Mod", kAnnBob);
  const Lines log = run_session(loop, {"NEXT_PHASE", "NEXT_PHASE @Ann go", "Draft.", "Final."});
  const Lines tail(log.end() - 5, log.end());
  EXPECT_EQ(tail, (Lines{"deliver Mod #2 orchestrator: NEXT_PHASE @Ann go",
                         "turn Mod [final summary]", "turn Mod [final summary]",
                         "summary #2: Final.",
                         "complete phases_complete turns=2 rounds=0 phase=critique"}));
}

TEST(OrchestratorLoop, RetriesThenForcedEnd) {
  harness::LoopSpec spec;
  spec.orchestrator_retries = 2;
  spec.verdict_rethink = false;
  OrchestratorLoop loop = new_orchestrator_loop(spec, "Mod", kAnnBob);
  // A usable reply in between resets the count: two unusable, a mention, then
  // three unusable in a row end the session.
  const Lines log = run_session(loop, {"?", "?", "@Ann go", "A", "?", "?", "?", "Summary."});
  const Lines expected = {
      "turn Mod [orchestrator turn] (no instruction)",
      "deliver Mod #1 orchestrator: ?",
      "directive: " + feedback_for("Ann"),
      "turn Mod [orchestrator retry] (no instruction)",
      "deliver Mod #2 orchestrator: ?",
      "directive: " + feedback_for("Ann"),
      "turn Mod [orchestrator retry] (no instruction)",
      "deliver Mod #3 orchestrator: @Ann go",
      "turn Ann [turn from Ann]",
      "deliver Ann #4 turn: A",
      "turn Mod [orchestrator turn] (no instruction)",
      "deliver Mod #5 orchestrator: ?",
      "directive: " + feedback_for("Bob"),
      "turn Mod [orchestrator retry] (no instruction)",
      "deliver Mod #6 orchestrator: ?",
      "directive: " + feedback_for("Bob"),
      "turn Mod [orchestrator retry] (no instruction)",
      "deliver Mod #7 orchestrator: ?",
      "note: Orchestrator output unparseable after retries. Forcing END_SESSION.",
      "turn Mod [final summary]",
      "summary #7: Summary.",
      "complete forced turns=7 rounds=0 phase=",
  };
  EXPECT_EQ(log, expected);
}

// A whole session through two phases: mentions, a batch, a retry, the end of
// the last phase's rounds, a closing draft and its revision with a result
// block.
TEST(OrchestratorLoop, WholeSessionThroughPhasesAndRounds) {
  OrchestratorLoop loop = new_orchestrator_loop(two_phase_spec(), "Mod", kAnnBob);
  loop.result_fields = {{"verdict", "str", "pass or fail"}};
  const std::string batch =
      "```vostrel\n{\"parallel\": [{\"agent\": \"Ann\", \"instruction\": \"critique\"}, "
      "{\"agent\": \"Bob\", \"instruction\": \"\"}]}\n```";
  const auto status = [](int round, const char* phase, const char* instruction) {
    return std::string("directive: Active phase: ") + phase + " (round " + std::to_string(round) +
           " of " + (std::string(phase) == "opening" ? "1" : "2") +
           ").\nInstruction for participants: " + instruction +
           "\nYet to speak this round: Ann, Bob.\nWrite NEXT_PHASE to move to the next phase "
           "before its rounds are up.";
  };
  const Lines log = run_session(
      loop, {"@Ann open please", "A1", "@Bob your turn", "B1", batch, "A2", "B2", "hmm",
             "@Bob go", "B3", "@Ann go", "A3", "Draft.",
             "Final.\n\n```json\n{\"verdict\": \"pass\"}\n```"});
  const Lines expected = {
      status(1, "opening", "State your position."),
      "turn Mod [orchestrator turn]",
      "deliver Mod #1 orchestrator: @Ann open please",
      "turn Ann [turn from Ann]",
      "deliver Ann #2 turn: A1",
      "turn Mod [orchestrator turn]",
      "deliver Mod #3 orchestrator: @Bob your turn",
      "turn Bob [turn from Bob]",
      "deliver Bob #4 turn: B1",
      status(1, "critique", "Find weaknesses."),
      "turn Mod [orchestrator turn]",
      "deliver Mod #5 orchestrator: " + batch,
      "batch Ann Bob",
      "deliver Ann #6 turn: A2",
      "deliver Bob #7 turn: B2",
      status(2, "critique", "Find weaknesses."),
      "turn Mod [orchestrator turn]",
      "deliver Mod #8 orchestrator: hmm",
      "directive: " + feedback_for("Ann"),
      "turn Mod [orchestrator retry]",
      "deliver Mod #9 orchestrator: @Bob go",
      "turn Bob [turn from Bob]",
      "deliver Bob #10 turn: B3",
      "turn Mod [orchestrator turn]",
      "deliver Mod #11 orchestrator: @Ann go",
      "turn Ann [turn from Ann]",
      "deliver Ann #12 turn: A3",
      "turn Mod [final summary]",
      "turn Mod [final summary]",
      "summary #12: Final.",
      "complete phases_complete turns=12 rounds=3 phase=critique",
  };
  EXPECT_EQ(log, expected);
  EXPECT_EQ(loop.state.fields, (JsonObject{{"verdict", "pass"}}));
  EXPECT_EQ(loop.raw_closing_result, "Final.\n\n```json\n{\"verdict\": \"pass\"}\n```");
  // Complete is final and keeps answering with the state.
  EXPECT_EQ(describe(*next_loop_action(loop)), log.back());
  EXPECT_FALSE(accept_agent_reply(loop, "late").ok());
}

TEST(OrchestratorLoop, InstructionsCarryThePhaseHeader) {
  OrchestratorLoop loop = new_orchestrator_loop(two_phase_spec(), "Mod", kAnnBob);
  ASSERT_TRUE(restore_loop_scheduler(loop, true).ok());
  EXPECT_EQ(participant_instruction(loop, "look"),
            "look\n\n[Phase: opening] State your position.");
  EXPECT_EQ(participant_instruction(loop, ""), "[Phase: opening] State your position.");
  loop.scheduler.advance_phase();
  EXPECT_EQ(participant_instruction(loop, "look at the plan"),
            "look at the plan\n\n[Phase: critique] Find weaknesses. " +
                std::string(kRethinkParagraph));
  OrchestratorLoop plain = new_orchestrator_loop(harness::LoopSpec{}, "Mod", kAnnBob);
  EXPECT_EQ(participant_instruction(plain, "look"), "look");
}

TEST(OrchestratorLoop, ParticipantReplyAtTheTurnBudgetCloses) {
  harness::LoopSpec spec;
  spec.max_turns = 2;
  OrchestratorLoop loop = new_orchestrator_loop(spec, "Mod", kAnnBob);
  const Lines log = run_session(loop, {"@Ann go", "A", "Draft.", "Final."});
  EXPECT_EQ(log.back(), "complete max_turns turns=2 rounds=0 phase=");
}

TEST(OrchestratorLoop, BatchRepliesAndChecks) {
  harness::LoopSpec spec;
  spec.max_turns = 10;
  OrchestratorLoop loop = new_orchestrator_loop(spec, "Mod", {"Ann", "Bob", "Cy"});
  ASSERT_TRUE(restore_loop_scheduler(loop, true).ok());

  struct Case {
    const char* name;
    std::vector<AgentAssignment> assignments;
    std::int64_t turn_count;
    const char* message;  // empty: accepted
  };
  const std::vector<Case> cases = {
      {"empty", {}, 0, "A batch must select at least one participant"},
      {"over budget", {{"Ann", ""}, {"Bob", ""}}, 9, "The batch exceeds the remaining turn budget"},
      {"budget already overdrawn", {{"Ann", ""}}, 11, "The batch exceeds the remaining turn budget"},
      {"unknown before duplicate", {{"Zed", ""}, {"Ann", ""}, {"Ann", ""}}, 0,
       "Unknown participant 'Zed' in batch"},
      {"duplicate", {{"Ann", ""}, {"Ann", ""}}, 0, "Duplicate participant 'Ann' in batch"},
      {"exactly the budget", {{"Ann", ""}, {"Bob", ""}}, 8, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Status s = check_batch(loop, c.assignments, c.turn_count);
    if (std::string(c.message).empty()) {
      EXPECT_TRUE(s.ok());
    } else {
      ASSERT_FALSE(s.ok());
      EXPECT_EQ(s.error().message, c.message);
    }
  }

  // Partial replies: named once each, in dispatch order.
  loop.stage = LoopStage{LoopStage::Batch{{{"Ann", "a"}, {"Bob", "b"}}}};
  const auto refused = [&](std::vector<std::pair<std::string, std::string>> pairs) {
    Status s = accept_partial_batch_replies(loop, std::move(pairs));
    return !s.ok() && s.error().message ==
                          "Partial batch replies must name assigned participants once, in "
                          "dispatch order";
  };
  EXPECT_TRUE(refused({{"Bob", "1"}, {"Ann", "2"}}));
  EXPECT_TRUE(refused({{"Ann", "1"}, {"Ann", "2"}}));
  EXPECT_TRUE(refused({{"Cy", "1"}}));
  Status count = accept_batch_replies(loop, {"only one"});
  ASSERT_FALSE(count.ok());
  EXPECT_EQ(count.error().message, "The batch reply count does not match its assignments");
  EXPECT_TRUE(loop.pending.empty());

  ASSERT_TRUE(accept_partial_batch_replies(loop, {{"Bob", "B"}}).ok());
  EXPECT_EQ(queued(loop), (Lines{"deliver Bob #1 turn: B"}));
  EXPECT_EQ(loop.scheduler.pending, (std::vector<std::string>{"Ann", "Cy"}));
  EXPECT_TRUE(loop.stage.is<LoopStage::Orchestrator>());
  Status busy = accept_agent_reply(loop, "x");
  ASSERT_FALSE(busy.ok());
  EXPECT_EQ(busy.error().message, "The loop is not waiting for an agent reply");
}

TEST(OrchestratorLoop, HostSelection) {
  harness::LoopSpec spec;
  spec.max_turns = 1;
  OrchestratorLoop loop = new_orchestrator_loop(spec, "Mod", kAnnBob);
  ASSERT_TRUE(host_select_participants(loop, {{"Ann", ""}}).ok());
  EXPECT_TRUE(loop.pending.empty());  // no phase status without advance
  loop.state.turn_count = 1;
  Status limit = host_select_participants(loop, {{"Ann", ""}});
  ASSERT_FALSE(limit.ok());
  EXPECT_EQ(limit.error().message, "The host-driven run has reached its turn or phase limit");
  EXPECT_TRUE(loop.stage.is<LoopStage::Complete>());
  EXPECT_EQ(loop.state.end_reason, LoopEndReason::kMaxTurns);

  harness::LoopSpec no_rounds;
  no_rounds.max_rounds = 0;
  OrchestratorLoop exhausted = new_orchestrator_loop(no_rounds, "Mod", kAnnBob);
  EXPECT_FALSE(host_select_participants(exhausted, {{"Ann", ""}}).ok());
  EXPECT_TRUE(exhausted.stage.is<LoopStage::Complete>());
  EXPECT_EQ(exhausted.state.end_reason, LoopEndReason::kMaxRounds);
}

}  // namespace
}  // namespace vostrel::orchestrator
