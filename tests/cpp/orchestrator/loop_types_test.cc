#include "orchestrator/loop_types.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/writer.h"
#include "support/json_test_util.h"

namespace vostrel::orchestrator {
namespace {

using test_support::parse_or_fail;

LoopState sample_state() {
  LoopState s;
  s.turn_count = 12;
  s.consensus_reached = true;
  s.final_summary = "done";
  s.fields.insert("verdict", "pass");
  s.fields.insert("score", 7);
  s.rounds_run = 3;
  s.phase_reached = "critique";
  s.end_reason = LoopEndReason::kKeyword;
  return s;
}

TEST(LoopTypes, EveryVariantRoundTrips) {
  const std::vector<LoopAction> actions = {
      LoopAction{LoopAction::Turn{"Mod", "orchestrator turn", std::nullopt, TurnKind::kOrchestrator}},
      LoopAction{LoopAction::Turn{"Ann", "turn from Ann", "", TurnKind::kParticipant}},
      LoopAction{LoopAction::Turn{"Mod", "final summary", "write it", TurnKind::kClosing}},
      LoopAction{LoopAction::Batch{{{"Ann", "a"}, {"Bob", ""}}}},
      LoopAction{LoopAction::Deliver{"Ann", "hello", -1, "turn"}},
      LoopAction{LoopAction::Directive{"status"}},
      LoopAction{LoopAction::Note{"Session ended: END_SESSION"}},
      LoopAction{LoopAction::Summary{"sum", 9}},
      LoopAction{LoopAction::Complete{sample_state()}},
  };
  for (const LoopAction& action : actions) {
    SCOPED_TRACE(to_json(action.to_json()));
    Result<LoopAction> back = LoopAction::from_json(parse_or_fail(to_json(action.to_json())));
    ASSERT_TRUE(back.ok()) << back.error().message;
    EXPECT_EQ(*back, action);
  }
  const std::vector<LoopStage> stages = {
      LoopStage{LoopStage::Orchestrator{2}},
      LoopStage{LoopStage::Participant{"Ann", ""}},
      LoopStage{LoopStage::Batch{{{"Ann", "x"}}}},
      LoopStage{LoopStage::ClosingDraft{}},
      LoopStage{LoopStage::ClosingFinal{"draft"}},
      LoopStage{LoopStage::Complete{}},
  };
  for (const LoopStage& stage : stages) {
    SCOPED_TRACE(to_json(stage.to_json()));
    Result<LoopStage> back = LoopStage::from_json(parse_or_fail(to_json(stage.to_json())));
    ASSERT_TRUE(back.ok()) << back.error().message;
    EXPECT_EQ(*back, stage);
  }
}

TEST(LoopTypes, KeyOrderOfWrittenForms) {
  EXPECT_EQ(to_json(LoopAction{LoopAction::Turn{"Mod", "p", std::nullopt, TurnKind::kOrchestrator}}
                        .to_json()),
            R"({"action":"turn","agent":"Mod","purpose":"p","instruction":null,"kind":"orchestrator"})");
  EXPECT_EQ(to_json(LoopAction{LoopAction::Deliver{"Ann", "t", 1, "turn"}}.to_json()),
            R"({"action":"deliver","sender":"Ann","text":"t","turn":1,"msg_type":"turn"})");
  EXPECT_EQ(to_json(LoopAction{LoopAction::Summary{"s", 4}}.to_json()),
            R"({"action":"summary","text":"s","turn":4})");
  EXPECT_EQ(to_json(LoopStage{LoopStage::Participant{"Ann", "go"}}.to_json()),
            R"({"stage":"participant","name":"Ann","instruction":"go"})");
  EXPECT_EQ(to_json(LoopStage{LoopStage::ClosingDraft{}}.to_json()), R"({"stage":"closing_draft"})");
  EXPECT_EQ(to_json(sample_state().to_json()),
            R"({"turn_count":12,"consensus_reached":true,"final_summary":"done",)"
            R"("fields":{"verdict":"pass","score":7},"rounds_run":3,"phase_reached":"critique",)"
            R"("end_reason":"keyword"})");
}

TEST(LoopTypes, OptionalTurnInstruction) {
  const auto instruction_of = [](std::string_view text) {
    Result<LoopAction> a = LoopAction::from_json(parse_or_fail(text));
    EXPECT_TRUE(a.ok());
    return a.ok() ? a->get<LoopAction::Turn>()->instruction : std::nullopt;
  };
  EXPECT_EQ(instruction_of(R"({"action":"turn","agent":"a","purpose":"p","kind":"closing"})"),
            std::nullopt);
  EXPECT_EQ(instruction_of(
                R"({"action":"turn","agent":"a","purpose":"p","instruction":null,"kind":"closing"})"),
            std::nullopt);
  EXPECT_EQ(instruction_of(
                R"({"action":"turn","agent":"a","purpose":"p","instruction":"","kind":"closing"})"),
            std::optional<std::string>(""));
}

TEST(LoopTypes, ReaderRefusals) {
  struct Case {
    const char* name;
    enum { kAction, kStage, kState, kAssignment, kBatch, kQueue } reader;
    const char* input;
    const char* message;  // empty: accepted
  };
  const std::vector<Case> cases = {
      {"action not an object", Case::kAction, "[]",
       "invalid type: sequence, expected internally tagged enum LoopAction"},
      {"missing tag", Case::kAction, R"({"text":"x"})", "missing field `action`"},
      {"tag not a string", Case::kAction, R"({"action":1})",
       "invalid type: integer `1`, expected variant identifier"},
      {"unknown action", Case::kAction, R"({"action":"wait"})",
       "unknown variant `wait`, expected one of `turn`, `batch`, `deliver`, `directive`, `note`, "
       "`summary`, `complete`"},
      {"tag case matters", Case::kAction, R"({"action":"Turn"})",
       "unknown variant `Turn`, expected one of `turn`, `batch`, `deliver`, `directive`, `note`, "
       "`summary`, `complete`"},
      {"extra key in action passed over", Case::kAction, R"({"action":"note","text":"x","y":1})", ""},
      {"count as float", Case::kAction, R"({"action":"summary","text":"x","turn":3.0})",
       "invalid type: floating point `3.0`, expected i64"},
      {"negative count accepted", Case::kAction, R"({"action":"summary","text":"x","turn":-1})", ""},
      {"count above i64", Case::kAction,
       R"({"action":"summary","text":"x","turn":9223372036854775808})",
       "invalid value: integer `9223372036854775808`, expected i64"},
      {"text field wrong type", Case::kAction, R"({"action":"note","text":null})",
       "invalid type: null, expected a string"},
      {"unknown kind", Case::kAction,
       R"({"action":"turn","agent":"a","purpose":"p","kind":"host"})",
       "unknown variant `host`, expected one of `orchestrator`, `participant`, `closing`"},
      {"kind not a string", Case::kAction,
       R"({"action":"turn","agent":"a","purpose":"p","kind":0})",
       "invalid type: integer `0`, expected string or map"},
      {"batch list wrong type", Case::kAction, R"({"action":"batch","assignments":{}})",
       "invalid type: map, expected a sequence"},
      {"stage not an object", Case::kStage, "\"complete\"",
       "invalid type: string \"complete\", expected internally tagged enum LoopStage"},
      {"participant stage needs instruction", Case::kStage, R"({"stage":"participant","name":"a"})",
       "missing field `instruction`"},
      {"closing draft extra key passed over", Case::kStage, R"({"stage":"closing_draft","x":1})", ""},
      {"unknown stage", Case::kStage, R"({"stage":"idle"})",
       "unknown variant `idle`, expected one of `orchestrator`, `participant`, `batch`, "
       "`closing_draft`, `closing_final`, `complete`"},
      {"state not an object", Case::kState, "1",
       "invalid type: integer `1`, expected struct LoopState"},
      {"state missing field", Case::kState,
       R"({"turn_count":1,"consensus_reached":false,"final_summary":"","fields":{},"rounds_run":0,"phase_reached":""})",
       "missing field `end_reason`"},
      {"state fields not a map", Case::kState,
       R"({"turn_count":1,"consensus_reached":false,"final_summary":"","fields":[],"rounds_run":0,"phase_reached":"","end_reason":"forced"})",
       "invalid type: sequence, expected a map"},
      {"state consensus not a boolean", Case::kState,
       R"({"turn_count":1,"consensus_reached":1,"final_summary":"","fields":{},"rounds_run":0,"phase_reached":"","end_reason":"forced"})",
       "invalid type: integer `1`, expected a boolean"},
      {"state unknown end reason", Case::kState,
       R"({"turn_count":1,"consensus_reached":false,"final_summary":"","fields":{},"rounds_run":0,"phase_reached":"","end_reason":"done"})",
       "unknown variant `done`, expected one of `keyword`, `phases_complete`, `max_rounds`, "
       "`max_turns`, `forced`"},
      {"state extra key passed over", Case::kState,
       R"({"turn_count":1,"consensus_reached":false,"final_summary":"","fields":{},"rounds_run":0,"phase_reached":"","end_reason":"forced","x":0})",
       ""},
      {"assignment extra key refused", Case::kAssignment, R"({"agent":"a","instruction":"","why":1})",
       "unknown field `why`, expected `agent` or `instruction`"},
      {"assignment missing instruction", Case::kAssignment, R"({"agent":"a"})",
       "missing field `instruction`"},
      {"assignment not an object", Case::kAssignment, "null",
       "invalid type: null, expected struct AgentAssignment"},
      {"batch extra key refused", Case::kBatch, R"({"parallel":[],"why":"x"})",
       "unknown field `why`, expected `parallel`"},
      {"batch missing parallel", Case::kBatch, "{}", "missing field `parallel`"},
      {"queue not an array", Case::kQueue, "{}", "invalid type: map, expected a sequence"},
      {"queue stops at first bad member", Case::kQueue,
       R"([{"action":"note","text":"a"},{"action":"note"}])", "missing field `text`"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const JsonValue input = parse_or_fail(c.input);
    Status status = ok_status();
    const auto keep_error = [&status](const auto& result) {
      if (!result.ok()) status = result.error();
    };
    switch (c.reader) {
      case Case::kAction: keep_error(LoopAction::from_json(input)); break;
      case Case::kStage: keep_error(LoopStage::from_json(input)); break;
      case Case::kState: keep_error(LoopState::from_json(input)); break;
      case Case::kAssignment: keep_error(AgentAssignment::from_json(input)); break;
      case Case::kBatch: keep_error(Batch::from_json(input)); break;
      case Case::kQueue: keep_error(loop_actions_from_json(input)); break;
    }
    if (std::string(c.message).empty()) {
      EXPECT_TRUE(status.ok()) << status.error().message;
    } else {
      ASSERT_FALSE(status.ok());
      EXPECT_EQ(status.error().message, c.message);
    }
  }
}

}  // namespace
}  // namespace vostrel::orchestrator
