#include "orchestrator/loop.h"

#include <algorithm>

#include "json/typed_reader.h"
#include "orchestrator/closing.h"
#include "orchestrator/matching.h"
#include "orchestrator/numbers.h"
#include "unicode/unicode.h"

namespace vostrel::orchestrator {

namespace {

constexpr std::string_view kRethinkPhaseNote =
    "This is a rethink phase. Re-examine the position you took earlier against everything said "
    "since, and state plainly whether it changed and why. Repeating your opening position "
    "unchanged is only acceptable if you say what you considered and why it did not move you.";

constexpr std::string_view kBatchFence = "```vostrel";
constexpr std::string_view kNotOneBlock = "A batch reply must be one fenced vostrel JSON block";

bool has_phases(const OrchestratorLoop& loop) { return !loop.scheduler.phases.empty(); }

void set_stage_orchestrator(OrchestratorLoop& loop, std::int64_t retry) {
  loop.stage = LoopStage{LoopStage::Orchestrator{retry}};
}

// The stage after participant replies were taken: close when the scheduler is
// exhausted or the turns are used up, else ask the orchestrator again.
void after_participant_replies(OrchestratorLoop& loop, bool completed_round) {
  if (completed_round && !loop.scheduler.exhausted) push_phase_status(loop);
  if (loop.scheduler.exhausted) {
    loop.state.end_reason = exhaustion_reason(loop);
    begin_closing(loop);
  } else if (loop.state.turn_count < loop.max_turns) {
    set_stage_orchestrator(loop, 0);
  } else {
    begin_closing(loop);
  }
}

void force_or_retry(OrchestratorLoop& loop, std::int64_t retry,
                    const std::optional<std::string>& error) {
  if (retry < loop.retries) {
    std::string feedback = retry_feedback(loop);
    if (error) feedback = "Invalid batch: " + *error + ". " + feedback;
    loop.pending.push_back(LoopAction{LoopAction::Directive{std::move(feedback)}});
    set_stage_orchestrator(loop, retry + 1);
    return;
  }
  loop.state.end_reason = LoopEndReason::kForced;
  loop.pending.push_back(LoopAction{LoopAction::Note{std::string(kForcedEndNote)}});
  begin_closing(loop);
}

std::vector<AgentAssignment> batch_instructions(const OrchestratorLoop& loop,
                                                std::vector<AgentAssignment> assignments) {
  for (AgentAssignment& a : assignments) {
    a.instruction = participant_instruction(loop, std::move(a.instruction));
  }
  return assignments;
}

void accept_orchestrator_reply(OrchestratorLoop& loop, std::int64_t retry, std::string reply) {
  loop.state.turn_count = saturating_add(loop.state.turn_count, 1);

  // Classify: a batch block first, then terminator keywords in list order,
  // then the advance keyword.
  const bool is_batch = reply.find(kBatchFence) != std::string::npos;
  std::optional<Result<Batch>> batch;
  const std::string* keyword = nullptr;
  bool advanced = false;
  if (is_batch) {
    batch = read_batch(reply);
  } else {
    for (const std::string& candidate : loop.spec.terminate_on) {
      if (contains_keyword(reply, candidate)) {
        keyword = &candidate;
        break;
      }
    }
    if (keyword == nullptr && !loop.scheduler.advance_on.empty() && has_phases(loop) &&
        contains_keyword(reply, loop.scheduler.advance_on)) {
      loop.scheduler.advance_phase();
      advanced = true;
    }
  }

  // The mention is looked for before the reply moves into the queue.
  std::optional<AddressedAgent> addressed;
  const bool may_address = keyword == nullptr && !loop.scheduler.exhausted &&
                           loop.state.turn_count < loop.max_turns && !is_batch;
  if (may_address) addressed = find_addressed_agent(reply, loop.participant_names);
  std::string words;
  if (addressed) words = addressed->instruction.empty() ? reply : std::move(addressed->instruction);

  record_reply(loop, loop.orchestrator_name, std::move(reply), "orchestrator");

  if (keyword != nullptr) {
    const std::optional<std::string> consensus = consensus_keyword(loop.spec.terminate_on);
    loop.state.consensus_reached = consensus.has_value() && *consensus == *keyword;
    loop.state.end_reason = LoopEndReason::kKeyword;
    loop.pending.push_back(LoopAction{LoopAction::Note{"Session ended: " + *keyword}});
    begin_closing(loop);
    return;
  }
  if (loop.scheduler.exhausted) {
    loop.state.end_reason = exhaustion_reason(loop);
    begin_closing(loop);
    return;
  }
  if (advanced) push_phase_status(loop);
  if (loop.state.turn_count >= loop.max_turns) {
    begin_closing(loop);
    return;
  }
  if (is_batch) {
    if (!batch->ok()) {
      force_or_retry(loop, retry, batch->error().message);
      return;
    }
    std::vector<AgentAssignment> assignments = std::move(**batch).parallel;
    if (Status checked = check_batch(loop, assignments, loop.state.turn_count); !checked.ok()) {
      force_or_retry(loop, retry, checked.error().message);
      return;
    }
    loop.stage = LoopStage{LoopStage::Batch{batch_instructions(loop, std::move(assignments))}};
    return;
  }
  if (addressed) {
    std::string instruction = participant_instruction(loop, std::move(words));
    loop.stage =
        LoopStage{LoopStage::Participant{std::move(addressed->name), std::move(instruction)}};
    return;
  }
  if (advanced) {
    set_stage_orchestrator(loop, 0);
    return;
  }
  force_or_retry(loop, retry, std::nullopt);
}

void accept_closing_reply(OrchestratorLoop& loop, std::string reply) {
  if (loop.stage.is<LoopStage::ClosingDraft>() && loop.spec.verdict_rethink) {
    loop.stage = LoopStage{LoopStage::ClosingFinal{std::move(reply)}};
    return;
  }
  loop.state.fields = extract_result_fields(reply, loop.result_fields);
  loop.state.final_summary = strip_result_fence(reply);
  loop.raw_closing_result = std::move(reply);
  loop.pending.push_back(
      LoopAction{LoopAction::Summary{loop.state.final_summary, loop.state.turn_count}});
  loop.stage = LoopStage{LoopStage::Complete{}};
}

// Which action `next_loop_action` would give, without building it: the start
// runs, then queued actions come first.
enum class Waiting { kQueued, kTurn, kBatch, kComplete };

Result<Waiting> current_waiting(OrchestratorLoop& loop) {
  VOSTREL_TRY(restore_loop_scheduler(loop, true));
  if (!loop.pending.empty()) return Waiting::kQueued;
  if (loop.stage.is<LoopStage::Batch>()) return Waiting::kBatch;
  if (loop.stage.is<LoopStage::Complete>()) return Waiting::kComplete;
  return Waiting::kTurn;
}

}  // namespace

OrchestratorLoop new_orchestrator_loop(const harness::LoopSpec& spec,
                                       std::string_view orchestrator_name,
                                       const std::vector<std::string>& participant_names) {
  OrchestratorLoop loop;
  loop.spec = spec;
  loop.orchestrator_name = std::string(orchestrator_name);
  loop.participant_names = participant_names;
  loop.scheduler = build_loop_settings(spec, participant_names);
  loop.max_turns = spec.max_turns;
  loop.retries = spec.orchestrator_retries;
  loop.stage = LoopStage{LoopStage::Orchestrator{0}};
  return loop;
}

void resume_orchestrator_loop(OrchestratorLoop& loop, JsonObject snapshot) {
  loop.scheduler.restore(snapshot);
  loop.saved = std::move(snapshot);
}

// --- Scheduler ---

Result<LoopAction> next_loop_action(OrchestratorLoop& loop) {
  VOSTREL_TRY(restore_loop_scheduler(loop, true));
  if (!loop.pending.empty()) return loop.pending.front();
  return std::visit(
      [&loop](const auto& stage) -> LoopAction {
        using T = std::decay_t<decltype(stage)>;
        if constexpr (std::is_same_v<T, LoopStage::Orchestrator>) {
          std::string status = phase_status_text(loop);
          std::optional<std::string> instruction;
          if (!status.empty()) instruction = std::move(status);
          return LoopAction{LoopAction::Turn{
              loop.orchestrator_name,
              stage.retry == 0 ? "orchestrator turn" : "orchestrator retry",
              std::move(instruction), TurnKind::kOrchestrator}};
        } else if constexpr (std::is_same_v<T, LoopStage::Participant>) {
          return LoopAction{LoopAction::Turn{stage.name, "turn from " + stage.name,
                                             stage.instruction, TurnKind::kParticipant}};
        } else if constexpr (std::is_same_v<T, LoopStage::Batch>) {
          return LoopAction{LoopAction::Batch{stage.assignments}};
        } else if constexpr (std::is_same_v<T, LoopStage::ClosingDraft>) {
          return LoopAction{LoopAction::Turn{loop.orchestrator_name, "final summary",
                                             closing_summary_prompt(loop.result_fields),
                                             TurnKind::kClosing}};
        } else if constexpr (std::is_same_v<T, LoopStage::ClosingFinal>) {
          return LoopAction{LoopAction::Turn{
              loop.orchestrator_name, "final summary",
              closing_rethink_prompt(stage.draft, loop.result_fields.size()),
              TurnKind::kClosing}};
        } else {
          return LoopAction{LoopAction::Complete{loop.state}};
        }
      },
      loop.stage.value);
}

Status acknowledge_loop_action(OrchestratorLoop& loop) {
  VOSTREL_TRY(restore_loop_scheduler(loop, true));
  if (loop.pending.empty()) {
    return CoreError::session("There is no pending loop callback to acknowledge");
  }
  loop.pending.pop_front();
  return ok_status();
}

Status host_select_participants(OrchestratorLoop& loop,
                                const std::vector<AgentAssignment>& assignments) {
  VOSTREL_TRY(restore_loop_scheduler(loop, false));
  static constexpr std::string_view kLimit =
      "The host-driven run has reached its turn or phase limit";
  if (loop.scheduler.exhausted) {
    loop.state.end_reason = exhaustion_reason(loop);
    loop.stage = LoopStage{LoopStage::Complete{}};
    return CoreError::session(std::string(kLimit));
  }
  if (loop.state.turn_count < loop.max_turns) {
    return check_batch(loop, assignments, loop.state.turn_count);
  }
  loop.stage = LoopStage{LoopStage::Complete{}};
  return CoreError::session(std::string(kLimit));
}

Status check_batch(const OrchestratorLoop& loop, const std::vector<AgentAssignment>& assignments,
                   std::int64_t turn_count) {
  if (assignments.empty()) {
    return CoreError::session("A batch must select at least one participant");
  }
  const std::int64_t remaining = saturating_sub(loop.max_turns, turn_count);
  if (assignments.size() > static_cast<std::uint64_t>(std::max<std::int64_t>(remaining, 0)) ||
      remaining < 0) {
    return CoreError::session("The batch exceeds the remaining turn budget");
  }
  const auto contains = [](const auto& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
  };
  for (std::size_t i = 0; i < assignments.size(); ++i) {
    const std::string& agent = assignments[i].agent;
    if (!contains(loop.participant_names, agent)) {
      return CoreError::session("Unknown participant '" + agent + "' in batch");
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (assignments[j].agent == agent) {
        return CoreError::session("Duplicate participant '" + agent + "' in batch");
      }
    }
    if (!contains(loop.scheduler.pending, agent)) {
      return CoreError::session("Participant '" + agent + "' already spoke this round");
    }
  }
  return ok_status();
}

std::string phase_status_text(const OrchestratorLoop& loop) {
  const PhaseScheduler& s = loop.scheduler;
  const harness::PhaseSpec* phase = s.current_phase();
  if (phase == nullptr || s.exhausted) return std::string();
  std::string out = "Active phase: " + phase->name + " (round " +
                    std::to_string(std::min(phase->rounds, saturating_add(s.round_in_phase, 1))) +
                    " of " + std::to_string(phase->rounds) + ").";
  if (!phase->instruction.empty()) out += "\nInstruction for participants: " + phase->instruction;
  out += "\nYet to speak this round: ";
  if (s.pending.empty()) {
    out += "nobody";
  } else {
    for (std::size_t i = 0; i < s.pending.size(); ++i) {
      if (i > 0) out += ", ";
      out += s.pending[i];
    }
  }
  out += ".";
  if (!s.advance_on.empty()) {
    out += "\nWrite " + s.advance_on + " to move to the next phase before its rounds are up.";
  }
  return out;
}

void push_phase_status(OrchestratorLoop& loop) {
  std::string status = phase_status_text(loop);
  if (!status.empty()) loop.pending.push_back(LoopAction{LoopAction::Directive{std::move(status)}});
}

void record_reply(OrchestratorLoop& loop, std::string sender, std::string reply,
                  std::string msg_type) {
  loop.pending.push_back(LoopAction{LoopAction::Deliver{
      std::move(sender), std::move(reply), loop.state.turn_count, std::move(msg_type)}});
}

void begin_closing(OrchestratorLoop& loop) {
  if (loop.orchestrator_name.empty()) {
    loop.stage = LoopStage{LoopStage::Complete{}};
  } else {
    loop.stage = LoopStage{LoopStage::ClosingDraft{}};
  }
}

LoopEndReason exhaustion_reason(const OrchestratorLoop& loop) {
  return has_phases(loop) ? LoopEndReason::kPhasesComplete : LoopEndReason::kMaxRounds;
}

void sync_loop_state(OrchestratorLoop& loop) {
  loop.state.rounds_run = loop.scheduler.rounds_run;
  const harness::PhaseSpec* phase = loop.scheduler.current_phase();
  loop.state.phase_reached = phase != nullptr ? phase->name : std::string();
}

// --- Replies ---

Status accept_agent_reply(OrchestratorLoop& loop, std::string reply) {
  VOSTREL_ASSIGN_OR_RETURN(Waiting waiting, current_waiting(loop));
  if (waiting != Waiting::kTurn) {
    return CoreError::session("The loop is not waiting for an agent reply");
  }
  if (const auto* orchestrator = loop.stage.get<LoopStage::Orchestrator>()) {
    accept_orchestrator_reply(loop, orchestrator->retry, std::move(reply));
  } else if (const auto* participant = loop.stage.get<LoopStage::Participant>()) {
    loop.state.turn_count = saturating_add(loop.state.turn_count, 1);
    const bool completed = loop.scheduler.mark_spoken(participant->name);
    record_reply(loop, participant->name, std::move(reply), "turn");
    after_participant_replies(loop, completed);
  } else {
    accept_closing_reply(loop, std::move(reply));
  }
  sync_loop_state(loop);
  return ok_status();
}

Status accept_batch_replies(OrchestratorLoop& loop, std::vector<std::string> replies) {
  VOSTREL_ASSIGN_OR_RETURN(Waiting waiting, current_waiting(loop));
  if (waiting != Waiting::kBatch) {
    return CoreError::session("The loop is not waiting for batch replies");
  }
  const auto& assignments = loop.stage.get<LoopStage::Batch>()->assignments;
  if (replies.size() != assignments.size()) {
    return CoreError::session("The batch reply count does not match its assignments");
  }
  std::vector<std::pair<std::string, std::string>> pairs;
  pairs.reserve(replies.size());
  for (std::size_t i = 0; i < replies.size(); ++i) {
    pairs.emplace_back(assignments[i].agent, std::move(replies[i]));
  }
  return accept_partial_batch_replies(loop, std::move(pairs));
}

Status accept_partial_batch_replies(OrchestratorLoop& loop,
                                    std::vector<std::pair<std::string, std::string>> replies) {
  VOSTREL_ASSIGN_OR_RETURN(Waiting waiting, current_waiting(loop));
  if (waiting != Waiting::kBatch) {
    return CoreError::session("The loop is not waiting for batch replies");
  }
  const auto& assignments = loop.stage.get<LoopStage::Batch>()->assignments;
  std::size_t next = 0;
  for (const auto& [name, unused] : replies) {
    while (next < assignments.size() && assignments[next].agent != name) ++next;
    if (next == assignments.size()) {
      return CoreError::session(
          "Partial batch replies must name assigned participants once, in dispatch order");
    }
    ++next;
  }
  bool completed = false;
  for (auto& [name, reply] : replies) {
    loop.state.turn_count = saturating_add(loop.state.turn_count, 1);
    completed = loop.scheduler.mark_spoken(name) || completed;
    record_reply(loop, std::move(name), std::move(reply), "turn");
  }
  after_participant_replies(loop, completed);
  sync_loop_state(loop);
  return ok_status();
}

std::string participant_instruction(const OrchestratorLoop& loop, std::string words) {
  const harness::PhaseSpec* phase = loop.scheduler.current_phase();
  if (phase == nullptr) return words;
  std::string header = "[Phase: " + phase->name + "]";
  if (!phase->instruction.empty()) header += " " + phase->instruction;
  if (phase->rethink) {
    header += " ";
    header += kRethinkPhaseNote;
  }
  if (words.empty()) return header;
  words += "\n\n";
  words += header;
  return words;
}

std::string retry_feedback(const OrchestratorLoop& loop) {
  std::string out = "Your last response didn't contain an @Name mention or one of these keywords: ";
  for (std::size_t i = 0; i < loop.spec.terminate_on.size(); ++i) {
    if (i > 0) out += ", ";
    out += loop.spec.terminate_on[i];
  }
  out += ". Please either call on a participant using @Name or end the session.";
  if (!loop.scheduler.pending.empty()) {
    const std::string& name = loop.scheduler.pending.front();
    out += " " + name + " has not spoken this round. Reply with \"@" + name +
           ", \" and your instruction, and nothing else \xE2\x80\x94 " + name +
           " answers for itself, and a turn you write on its behalf is not one it took.";
  }
  return out;
}

Result<Batch> read_batch(std::string_view reply) {
  const auto not_one_block = [] { return CoreError::value(std::string(kNotOneBlock)); };
  const std::string_view text = unicode::trim(reply);
  if (!text.starts_with(kBatchFence)) return not_one_block();
  std::string_view rest = text.substr(kBatchFence.size());
  if (rest.starts_with("\r\n")) {
    rest.remove_prefix(2);
  } else if (rest.starts_with("\n")) {
    rest.remove_prefix(1);
  } else {
    return not_one_block();
  }
  if (rest.size() < 3 || !rest.ends_with("```")) return not_one_block();
  const std::string_view body = rest.substr(0, rest.size() - 3);
  if (body.find("```") != std::string_view::npos) return not_one_block();
  Result<Batch> batch = json::read_json_text_as<Batch>(body, Batch::from_json);
  if (!batch.ok()) return CoreError::value("Invalid batch assignments: " + batch.error().message);
  return batch;
}

}  // namespace vostrel::orchestrator
