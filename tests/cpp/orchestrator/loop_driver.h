// A scripted host for the orchestrator loop: answers every turn with the next
// scripted reply and logs each action as one line, so whole sessions can be
// compared at a glance.
#ifndef VOSTREL_TESTS_ORCHESTRATOR_LOOP_DRIVER_H_
#define VOSTREL_TESTS_ORCHESTRATOR_LOOP_DRIVER_H_

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "orchestrator/loop.h"

namespace vostrel::orchestrator::testing {

inline std::string describe(const LoopAction& action) {
  if (const auto* t = action.get<LoopAction::Turn>()) {
    return "turn " + t->agent + " [" + t->purpose + "]" + (t->instruction ? "" : " (no instruction)");
  }
  if (const auto* b = action.get<LoopAction::Batch>()) {
    std::string out = "batch";
    for (const AgentAssignment& a : b->assignments) out += " " + a.agent;
    return out;
  }
  if (const auto* d = action.get<LoopAction::Deliver>()) {
    return "deliver " + d->sender + " #" + std::to_string(d->turn) + " " + d->msg_type + ": " +
           d->text;
  }
  if (const auto* d = action.get<LoopAction::Directive>()) return "directive: " + d->text;
  if (const auto* n = action.get<LoopAction::Note>()) return "note: " + n->text;
  if (const auto* s = action.get<LoopAction::Summary>()) {
    return "summary #" + std::to_string(s->turn) + ": " + s->text;
  }
  const LoopState& st = action.get<LoopAction::Complete>()->state;
  return "complete " + std::string(loop_end_reason_name(st.end_reason)) +
         " turns=" + std::to_string(st.turn_count) + " rounds=" + std::to_string(st.rounds_run) +
         " phase=" + st.phase_reached + (st.consensus_reached ? " consensus" : "");
}

// Carries out one action: acknowledges queued ones, answers a turn or batch
// from `script` (front first). Returns the action's line; "" once complete or
// when the script ran out.
inline std::string step(OrchestratorLoop& loop, std::deque<std::string>& script) {
  Result<LoopAction> action = next_loop_action(loop);
  EXPECT_TRUE(action.ok()) << action.error().message;
  if (!action.ok()) return "";
  std::string line = describe(*action);
  if (action->is<LoopAction::Turn>()) {
    if (script.empty()) return "";
    Status s = accept_agent_reply(loop, script.front());
    script.pop_front();
    EXPECT_TRUE(s.ok()) << s.error().message;
  } else if (const auto* batch = action->get<LoopAction::Batch>()) {
    std::vector<std::string> replies;
    for (std::size_t i = 0; i < batch->assignments.size() && !script.empty(); ++i) {
      replies.push_back(script.front());
      script.pop_front();
    }
    Status s = accept_batch_replies(loop, std::move(replies));
    EXPECT_TRUE(s.ok()) << s.error().message;
  } else if (!action->is<LoopAction::Complete>()) {
    Status s = acknowledge_loop_action(loop);
    EXPECT_TRUE(s.ok()) << s.error().message;
  }
  return line;
}

// Runs until Complete (included in the log) or until the script runs out.
inline std::vector<std::string> run_session(OrchestratorLoop& loop, std::deque<std::string> script) {
  std::vector<std::string> log;
  for (int guard = 0; guard < 10000; ++guard) {
    std::string line = step(loop, script);
    if (line.empty()) break;
    log.push_back(line);
    if (line.starts_with("complete")) break;
  }
  return log;
}

}  // namespace vostrel::orchestrator::testing

#endif  // VOSTREL_TESTS_ORCHESTRATOR_LOOP_DRIVER_H_
