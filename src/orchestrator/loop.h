// The orchestrator loop: the state machine that decides who speaks in a
// session, when phases and rounds advance and when the session closes. It
// never calls a model: a host asks for the current action, carries it out,
// acknowledges it or hands the reply back, and asks again.
//
// Calling order of a host: `next_loop_action`; for Deliver, Directive, Note or
// Summary carry it out and `acknowledge_loop_action`; for Turn obtain the
// reply and `accept_agent_reply`; for Batch obtain the members' replies and
// `accept_batch_replies` (or `accept_partial_batch_replies`); for Complete
// stop. Queued actions always come first.
//
// A loop holds no locks and is used by one thread at a time. Failures are
// `Session` errors; a failing operation leaves the loop unchanged unless its
// comment says otherwise.
#ifndef VOSTREL_ORCHESTRATOR_LOOP_H_
#define VOSTREL_ORCHESTRATOR_LOOP_H_

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "harness/harness_spec.h"
#include "json/value.h"
#include "orchestrator/loop_types.h"
#include "orchestrator/phase_scheduler.h"
#include "utils/result.h"

namespace vostrel::orchestrator {

// The system note queued when the orchestrator gave no usable reply within
// its retries.
inline constexpr std::string_view kForcedEndNote =
    "Orchestrator output unparseable after retries. Forcing END_SESSION.";

// The loop record of one run. Fields are public so that the engine and the
// snapshot code can read them; change them only through the operations below.
struct OrchestratorLoop {
  harness::LoopSpec spec;
  std::string orchestrator_name;  // empty: the loop never asks for a closing summary
  std::vector<std::string> participant_names;
  std::vector<harness::ResultField> result_fields;
  PhaseScheduler scheduler;
  JsonObject saved;  // the snapshot to resume from; empty for a fresh loop
  LoopState state;
  std::deque<LoopAction> pending;  // only Deliver, Directive, Note and Summary
  std::optional<std::string> raw_closing_result;
  LoopStage stage;
  std::int64_t max_turns = 0;
  std::int64_t retries = 0;
  bool started = false;
};

// A fresh loop for `spec`, the orchestrator's name (empty when there is none)
// and the participant names in roster order. Cannot fail.
OrchestratorLoop new_orchestrator_loop(const harness::LoopSpec& spec,
                                       std::string_view orchestrator_name,
                                       const std::vector<std::string>& participant_names);

// Makes `loop` (fresh) resume from a loop snapshot: the scheduler takes its
// round and phase progress at once, the rest waits in `saved` for the
// one-time start, which validates it. Cannot fail.
void resume_orchestrator_loop(OrchestratorLoop& loop, JsonObject snapshot);

// --- Scheduler ---

// The current action, after the one-time start (whose error is returned).
// Changes nothing else: asking twice gives equal actions.
Result<LoopAction> next_loop_action(OrchestratorLoop& loop);
// Removes the front of the queue of pending actions; fails with "There is no
// pending loop callback to acknowledge" when it is empty.
Status acknowledge_loop_action(OrchestratorLoop& loop);
// Whether a host may run these participants itself. At the turn or phase
// limit the loop moves to Complete and the call fails.
Status host_select_participants(OrchestratorLoop& loop,
                                const std::vector<AgentAssignment>& assignments);
// Whether the assignments are acceptable as a batch at `turn_count`.
Status check_batch(const OrchestratorLoop& loop, const std::vector<AgentAssignment>& assignments,
                   std::int64_t turn_count);
// The phase status shown to the orchestrator; empty without a current phase.
std::string phase_status_text(const OrchestratorLoop& loop);
void push_phase_status(OrchestratorLoop& loop);
// Queues a Deliver of `reply` at the current turn count.
void record_reply(OrchestratorLoop& loop, std::string sender, std::string reply,
                  std::string msg_type);
void begin_closing(OrchestratorLoop& loop);
LoopEndReason exhaustion_reason(const OrchestratorLoop& loop);
void sync_loop_state(OrchestratorLoop& loop);

// --- Replies ---

// Hands back the reply to the current Turn action. Fails with "The loop is not
// waiting for an agent reply" when the current action is not a Turn.
Status accept_agent_reply(OrchestratorLoop& loop, std::string reply);
// Hands back one reply per assignment of the current Batch, in dispatch order.
Status accept_batch_replies(OrchestratorLoop& loop, std::vector<std::string> replies);
// Hands back the replies of some members of the current Batch, named once
// each in dispatch order; the others stay pending in the scheduler.
Status accept_partial_batch_replies(OrchestratorLoop& loop,
                                    std::vector<std::pair<std::string, std::string>> replies);

// The instruction a participant is given for the orchestrator's `words`: the
// words with the current phase's header after them.
std::string participant_instruction(const OrchestratorLoop& loop, std::string words);
// The feedback for an unusable orchestrator reply.
std::string retry_feedback(const OrchestratorLoop& loop);
// The Batch of a batch reply, or the error text to answer it with.
Result<Batch> read_batch(std::string_view reply);

// --- Snapshot ---

// The loop's position as a JSON object: `turn_count`, `phases` and, once
// started, `scheduler`. Between a resume and the first query it is the
// resume snapshot itself. Cannot fail.
JsonObject loop_snapshot_json(const OrchestratorLoop& loop);
// The one-time start: validates and installs a saved position, or starts a
// fresh loop. Does nothing once the loop has started; a failure leaves the
// loop as it was, so the next query fails the same way.
Status restore_loop_scheduler(OrchestratorLoop& loop, bool advance);

}  // namespace vostrel::orchestrator

#endif  // VOSTREL_ORCHESTRATOR_LOOP_H_
