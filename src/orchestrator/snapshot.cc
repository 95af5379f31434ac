// Writing the loop's position into a snapshot and installing it again.
#include <algorithm>

#include "json/typed_reader.h"
#include "orchestrator/loop.h"

namespace vostrel::orchestrator {

namespace {

struct SavedScheduler {
  LoopStage stage;
  std::deque<LoopAction> pending;
  LoopState state;
  std::optional<std::string> raw_closing_result;
};

// The saved scheduler is read strictly: only its four members, the last one
// optional.
Result<SavedScheduler> read_saved_scheduler(const JsonValue& value) {
  static constexpr std::string_view kFields[] = {"stage", "pending", "state",
                                                 "raw_closing_result"};
  static constexpr json::RecordShape kShape{"struct SavedScheduler", kFields,
                                            json::UnknownKeys::kRefuse, std::uint64_t{1} << 3,
                                            false};
  SavedScheduler out;
  const auto read_field = [&](std::size_t field, const JsonValue& v) -> Status {
    switch (field) {
      case 0: {
        VOSTREL_ASSIGN_OR_RETURN(out.stage, LoopStage::from_json(v));
        return ok_status();
      }
      case 1: {
        VOSTREL_ASSIGN_OR_RETURN(out.pending, loop_actions_from_json(v));
        return ok_status();
      }
      case 2: {
        VOSTREL_ASSIGN_OR_RETURN(out.state, LoopState::from_json(v));
        return ok_status();
      }
      default: return json::read_optional_string(v, out.raw_closing_result);
    }
  };
  VOSTREL_TRY(json::read_record(value, kShape, read_field));
  return out;
}

JsonObject phases_json(const PhaseScheduler& s) {
  JsonObject obj;
  obj.reserve(5);
  obj.insert("index", s.index);
  obj.insert("round_in_phase", s.round_in_phase);
  JsonArray pending;
  pending.reserve(s.pending.size());
  for (const std::string& name : s.pending) pending.emplace_back(name);
  obj.insert("pending", std::move(pending));
  obj.insert("rounds_run", s.rounds_run);
  obj.insert("exhausted", s.exhausted);
  return obj;
}

bool consistent(const OrchestratorLoop& loop, std::int64_t turn_count, const SavedScheduler& s) {
  if (s.state.turn_count != turn_count) return false;
  if (s.state.rounds_run > turn_count) return false;
  if (s.state.rounds_run != loop.scheduler.rounds_run) return false;
  if (loop.scheduler.round_in_phase > loop.scheduler.rounds_run) return false;
  const bool waits_for_turn = s.stage.is<LoopStage::Orchestrator>() ||
                              s.stage.is<LoopStage::Participant>() ||
                              s.stage.is<LoopStage::Batch>();
  if (waits_for_turn && turn_count >= loop.max_turns) return false;
  if (const auto* o = s.stage.get<LoopStage::Orchestrator>()) {
    if (o->retry < 0 || o->retry > std::max<std::int64_t>(loop.retries, 0)) return false;
  }
  return std::none_of(s.pending.begin(), s.pending.end(), [](const LoopAction& a) {
    return a.is<LoopAction::Turn>() || a.is<LoopAction::Batch>() || a.is<LoopAction::Complete>();
  });
}

// The fresh-loop start: the snapshot's turn count, then the stage by
// `advance`.
void start_fresh(OrchestratorLoop& loop, std::int64_t turn_count, bool advance) {
  loop.state.turn_count = turn_count;
  if (advance) {
    push_phase_status(loop);
    if (loop.scheduler.exhausted) {
      loop.state.end_reason = exhaustion_reason(loop);
      begin_closing(loop);
    } else if (turn_count < loop.max_turns) {
      loop.stage = LoopStage{LoopStage::Orchestrator{0}};
    } else {
      begin_closing(loop);
    }
  } else if (loop.scheduler.exhausted) {
    loop.state.end_reason = exhaustion_reason(loop);
    loop.stage = LoopStage{LoopStage::Complete{}};
  } else if (turn_count >= loop.max_turns) {
    loop.stage = LoopStage{LoopStage::Complete{}};
  }
}

}  // namespace

JsonObject loop_snapshot_json(const OrchestratorLoop& loop) {
  if (!loop.started && !loop.saved.empty()) return loop.saved;
  JsonObject out;
  out.reserve(3);
  out.insert("turn_count", loop.state.turn_count);
  out.insert("phases", phases_json(loop.scheduler));
  if (loop.started) {
    JsonObject scheduler;
    scheduler.reserve(4);
    scheduler.insert("stage", loop.stage.to_json());
    scheduler.insert("pending", loop_actions_to_json(loop.pending));
    scheduler.insert("state", loop.state.to_json());
    scheduler.insert("raw_closing_result",
                     loop.raw_closing_result ? JsonValue(*loop.raw_closing_result) : JsonValue());
    out.insert("scheduler", std::move(scheduler));
  }
  return out;
}

Status restore_loop_scheduler(OrchestratorLoop& loop, bool advance) {
  if (loop.started) return ok_status();
  if (loop.spec.max_concurrent_agents == 0) {
    return CoreError::session("max_concurrent_agents must be at least 1");
  }
  const std::int64_t turn_count = lenient_int(loop.saved.find("turn_count"));
  if (turn_count < 0 || loop.scheduler.rounds_run < 0 || loop.scheduler.round_in_phase < 0) {
    return CoreError::session("Invalid loop scheduler snapshot: negative progress");
  }
  const JsonValue* scheduler = loop.saved.find("scheduler");
  if (scheduler == nullptr) {
    start_fresh(loop, turn_count, advance);
  } else {
    Result<SavedScheduler> read = read_saved_scheduler(*scheduler);
    if (!read.ok()) {
      return CoreError::session("Invalid loop scheduler snapshot: " + read.error().message);
    }
    SavedScheduler& saved = *read;
    if (!consistent(loop, turn_count, saved)) {
      return CoreError::session(
          "Invalid loop scheduler snapshot: inconsistent pending actions or turn count");
    }
    if (const auto* batch = saved.stage.get<LoopStage::Batch>()) {
      VOSTREL_TRY(check_batch(loop, batch->assignments, turn_count));
    }
    if (const auto* participant = saved.stage.get<LoopStage::Participant>()) {
      const auto& names = loop.participant_names;
      if (std::find(names.begin(), names.end(), participant->name) == names.end()) {
        return CoreError::session("Cannot resume pending turn for unknown participant '" +
                                  participant->name + "'");
      }
    }
    loop.state = std::move(saved.state);
    loop.stage = std::move(saved.stage);
    loop.pending = std::move(saved.pending);
    loop.raw_closing_result = std::move(saved.raw_closing_result);
  }
  loop.started = true;
  loop.saved = JsonObject();
  sync_loop_state(loop);
  return ok_status();
}

}  // namespace vostrel::orchestrator
