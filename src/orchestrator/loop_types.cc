#include "orchestrator/loop_types.h"

#include <array>
#include <utility>

#include "json/typed_reader.h"

namespace vostrel::orchestrator {

namespace {

constexpr std::string_view kTurnKindNames[] = {"orchestrator", "participant", "closing"};
constexpr std::string_view kEndReasonNames[] = {"keyword", "phases_complete", "max_rounds",
                                                "max_turns", "forced"};
constexpr std::string_view kActionTags[] = {"turn",      "batch", "deliver", "directive",
                                            "note",      "summary", "complete"};
constexpr std::string_view kStageTags[] = {"orchestrator",  "participant",   "batch",
                                           "closing_draft", "closing_final", "complete"};

// Field names of each record and variant, in declaration order.
constexpr std::string_view kAssignmentFields[] = {"agent", "instruction"};
constexpr std::string_view kBatchFields[] = {"parallel"};
constexpr std::string_view kStateFields[] = {"turn_count",    "consensus_reached", "final_summary",
                                             "fields",        "rounds_run",        "phase_reached",
                                             "end_reason"};
constexpr std::string_view kTurnFields[] = {"agent", "purpose", "instruction", "kind"};
constexpr std::string_view kAssignmentsField[] = {"assignments"};
constexpr std::string_view kDeliverFields[] = {"sender", "text", "turn", "msg_type"};
constexpr std::string_view kTextField[] = {"text"};
constexpr std::string_view kSummaryFields[] = {"text", "turn"};
constexpr std::string_view kStateField[] = {"state"};
constexpr std::string_view kRetryField[] = {"retry"};
constexpr std::string_view kParticipantFields[] = {"name", "instruction"};
constexpr std::string_view kDraftField[] = {"draft"};

// Records are objects only: the writers never produce another form.
constexpr json::RecordShape record(std::string_view expecting, json::Names fields,
                                   json::UnknownKeys unknown = json::UnknownKeys::kIgnore,
                                   std::uint64_t optional_fields = 0) {
  return json::RecordShape{expecting, fields, unknown, optional_fields, false};
}

template <typename E>
Status read_enum(const JsonValue& value, json::Names names, E& out) {
  VOSTREL_ASSIGN_OR_RETURN(std::size_t index, json::read_unit_variant(value, names));
  out = static_cast<E>(index);
  return ok_status();
}

Status read_assignment(const JsonValue& value, AgentAssignment& out) {
  static constexpr json::RecordShape kShape =
      record("struct AgentAssignment", kAssignmentFields, json::UnknownKeys::kRefuse);
  return json::read_record(value, kShape, [&](std::size_t field, const JsonValue& v) {
    return json::read_string(v, field == 0 ? out.agent : out.instruction);
  });
}

Status read_assignments(const JsonValue& value, std::vector<AgentAssignment>& out) {
  return json::read_list(value, out, read_assignment);
}

Status read_state(const JsonValue& value, LoopState& out) {
  static constexpr json::RecordShape kShape = record("struct LoopState", kStateFields);
  return json::read_record(value, kShape, [&](std::size_t field, const JsonValue& v) -> Status {
    switch (field) {
      case 0: return json::read_i64(v, out.turn_count);
      case 1: return json::read_bool(v, out.consensus_reached);
      case 2: return json::read_string(v, out.final_summary);
      case 3: return json::read_map(v, out.fields);
      case 4: return json::read_i64(v, out.rounds_run);
      case 5: return json::read_string(v, out.phase_reached);
      default: return read_enum(v, kEndReasonNames, out.end_reason);
    }
  });
}

Status read_action(const JsonValue& value, LoopAction& out) {
  static constexpr json::TaggedShape kShape{"internally tagged enum LoopAction", "action",
                                            kActionTags, false};
  VOSTREL_ASSIGN_OR_RETURN(json::TaggedValue tagged, json::read_tag(value, kShape));
  switch (tagged.variant) {
    case 0: {
      // The instruction alone may be missing; null reads as absent too.
      static constexpr json::RecordShape kTurn = record("", kTurnFields, json::UnknownKeys::kIgnore,
                                                        std::uint64_t{1} << 2);
      LoopAction::Turn t;
      const auto read_field = [&](std::size_t f, const JsonValue& v) -> Status {
        switch (f) {
          case 0: return json::read_string(v, t.agent);
          case 1: return json::read_string(v, t.purpose);
          case 2: return json::read_optional_string(v, t.instruction);
          default: return read_enum(v, kTurnKindNames, t.kind);
        }
      };
      VOSTREL_TRY(json::read_variant_fields(tagged, kTurn, read_field));
      out.value = std::move(t);
      return ok_status();
    }
    case 1: {
      LoopAction::Batch b;
      VOSTREL_TRY(json::read_variant_fields(tagged, record("", kAssignmentsField),
                                            [&](std::size_t, const JsonValue& v) {
                                              return read_assignments(v, b.assignments);
                                            }));
      out.value = std::move(b);
      return ok_status();
    }
    case 2: {
      LoopAction::Deliver d;
      VOSTREL_TRY(json::read_variant_fields(tagged, record("", kDeliverFields),
                                            [&](std::size_t f, const JsonValue& v) -> Status {
        switch (f) {
          case 0: return json::read_string(v, d.sender);
          case 1: return json::read_string(v, d.text);
          case 2: return json::read_i64(v, d.turn);
          default: return json::read_string(v, d.msg_type);
        }
      }));
      out.value = std::move(d);
      return ok_status();
    }
    case 3:
    case 4: {
      std::string text;
      VOSTREL_TRY(json::read_variant_fields(
          tagged, record("", kTextField),
          [&](std::size_t, const JsonValue& v) { return json::read_string(v, text); }));
      if (tagged.variant == 3) {
        out.value = LoopAction::Directive{std::move(text)};
      } else {
        out.value = LoopAction::Note{std::move(text)};
      }
      return ok_status();
    }
    case 5: {
      LoopAction::Summary s;
      VOSTREL_TRY(json::read_variant_fields(tagged, record("", kSummaryFields),
                                            [&](std::size_t f, const JsonValue& v) {
        return f == 0 ? json::read_string(v, s.text) : json::read_i64(v, s.turn);
      }));
      out.value = std::move(s);
      return ok_status();
    }
    default: {
      LoopAction::Complete c;
      VOSTREL_TRY(json::read_variant_fields(
          tagged, record("", kStateField),
          [&](std::size_t, const JsonValue& v) { return read_state(v, c.state); }));
      out.value = std::move(c);
      return ok_status();
    }
  }
}

Status read_stage(const JsonValue& value, LoopStage& out) {
  static constexpr json::TaggedShape kShape{"internally tagged enum LoopStage", "stage", kStageTags,
                                            false};
  VOSTREL_ASSIGN_OR_RETURN(json::TaggedValue tagged, json::read_tag(value, kShape));
  switch (tagged.variant) {
    case 0: {
      LoopStage::Orchestrator o{};
      VOSTREL_TRY(json::read_variant_fields(
          tagged, record("", kRetryField),
          [&](std::size_t, const JsonValue& v) { return json::read_i64(v, o.retry); }));
      out.value = o;
      return ok_status();
    }
    case 1: {
      LoopStage::Participant p;
      VOSTREL_TRY(json::read_variant_fields(tagged, record("", kParticipantFields),
                                            [&](std::size_t f, const JsonValue& v) {
        return json::read_string(v, f == 0 ? p.name : p.instruction);
      }));
      out.value = std::move(p);
      return ok_status();
    }
    case 2: {
      LoopStage::Batch b;
      VOSTREL_TRY(json::read_variant_fields(tagged, record("", kAssignmentsField),
                                            [&](std::size_t, const JsonValue& v) {
                                              return read_assignments(v, b.assignments);
                                            }));
      out.value = std::move(b);
      return ok_status();
    }
    case 4: {
      LoopStage::ClosingFinal c;
      VOSTREL_TRY(json::read_variant_fields(
          tagged, record("", kDraftField),
          [&](std::size_t, const JsonValue& v) { return json::read_string(v, c.draft); }));
      out.value = std::move(c);
      return ok_status();
    }
    case 3:
      out.value = LoopStage::ClosingDraft{};
      return ok_status();
    default:
      out.value = LoopStage::Complete{};
      return ok_status();
  }
}

JsonObject tagged(std::string_view key, std::string_view tag) {
  JsonObject obj;
  obj.insert(std::string(key), JsonValue(tag));
  return obj;
}

}  // namespace

std::string_view turn_kind_name(TurnKind kind) {
  return kTurnKindNames[static_cast<std::size_t>(kind)];
}

std::string_view loop_end_reason_name(LoopEndReason reason) {
  return kEndReasonNames[static_cast<std::size_t>(reason)];
}

// --- AgentAssignment and Batch ---

JsonValue AgentAssignment::to_json() const {
  JsonObject obj;
  obj.reserve(2);
  obj.insert("agent", agent);
  obj.insert("instruction", instruction);
  return obj;
}

Result<AgentAssignment> AgentAssignment::from_json(const JsonValue& value) {
  return json::read_as<AgentAssignment>(value, read_assignment);
}

JsonValue assignments_to_json(const std::vector<AgentAssignment>& assignments) {
  JsonArray out;
  out.reserve(assignments.size());
  for (const AgentAssignment& a : assignments) out.push_back(a.to_json());
  return out;
}

Result<std::vector<AgentAssignment>> assignments_from_json(const JsonValue& value) {
  return json::read_as<std::vector<AgentAssignment>>(value, read_assignments);
}

Result<Batch> Batch::from_json(const JsonValue& value) {
  static constexpr json::RecordShape kShape =
      record("struct Batch", kBatchFields, json::UnknownKeys::kRefuse);
  Batch out;
  VOSTREL_TRY(json::read_record(value, kShape, [&](std::size_t, const JsonValue& v) {
    return read_assignments(v, out.parallel);
  }));
  return out;
}

// --- LoopState ---

JsonValue LoopState::to_json() const {
  JsonObject obj;
  obj.reserve(7);
  obj.insert("turn_count", turn_count);
  obj.insert("consensus_reached", consensus_reached);
  obj.insert("final_summary", final_summary);
  obj.insert("fields", fields);
  obj.insert("rounds_run", rounds_run);
  obj.insert("phase_reached", phase_reached);
  obj.insert("end_reason", JsonValue(loop_end_reason_name(end_reason)));
  return obj;
}

Result<LoopState> LoopState::from_json(const JsonValue& value) {
  return json::read_as<LoopState>(value, read_state);
}

// --- LoopAction ---

JsonValue LoopAction::to_json() const {
  JsonObject obj;
  std::visit(
      [&obj](const auto& a) {
        using T = std::decay_t<decltype(a)>;
        if constexpr (std::is_same_v<T, Turn>) {
          obj = tagged("action", "turn");
          obj.insert("agent", a.agent);
          obj.insert("purpose", a.purpose);
          obj.insert("instruction", a.instruction ? JsonValue(*a.instruction) : JsonValue());
          obj.insert("kind", JsonValue(turn_kind_name(a.kind)));
        } else if constexpr (std::is_same_v<T, Batch>) {
          obj = tagged("action", "batch");
          obj.insert("assignments", assignments_to_json(a.assignments));
        } else if constexpr (std::is_same_v<T, Deliver>) {
          obj = tagged("action", "deliver");
          obj.insert("sender", a.sender);
          obj.insert("text", a.text);
          obj.insert("turn", a.turn);
          obj.insert("msg_type", a.msg_type);
        } else if constexpr (std::is_same_v<T, Directive>) {
          obj = tagged("action", "directive");
          obj.insert("text", a.text);
        } else if constexpr (std::is_same_v<T, Note>) {
          obj = tagged("action", "note");
          obj.insert("text", a.text);
        } else if constexpr (std::is_same_v<T, Summary>) {
          obj = tagged("action", "summary");
          obj.insert("text", a.text);
          obj.insert("turn", a.turn);
        } else {
          obj = tagged("action", "complete");
          obj.insert("state", a.state.to_json());
        }
      },
      value);
  return obj;
}

Result<LoopAction> LoopAction::from_json(const JsonValue& value) {
  return json::read_as<LoopAction>(value, read_action);
}

JsonValue loop_actions_to_json(const std::deque<LoopAction>& actions) {
  JsonArray out;
  out.reserve(actions.size());
  for (const LoopAction& a : actions) out.push_back(a.to_json());
  return out;
}

Result<std::deque<LoopAction>> loop_actions_from_json(const JsonValue& value) {
  VOSTREL_ASSIGN_OR_RETURN(const JsonArray* items, json::expect_array(value));
  std::deque<LoopAction> out;
  for (const JsonValue& item : *items) {
    LoopAction action;
    VOSTREL_TRY(read_action(item, action));
    out.push_back(std::move(action));
  }
  return out;
}

// --- LoopStage ---

JsonValue LoopStage::to_json() const {
  JsonObject obj;
  std::visit(
      [&obj](const auto& s) {
        using T = std::decay_t<decltype(s)>;
        if constexpr (std::is_same_v<T, Orchestrator>) {
          obj = tagged("stage", "orchestrator");
          obj.insert("retry", s.retry);
        } else if constexpr (std::is_same_v<T, Participant>) {
          obj = tagged("stage", "participant");
          obj.insert("name", s.name);
          obj.insert("instruction", s.instruction);
        } else if constexpr (std::is_same_v<T, Batch>) {
          obj = tagged("stage", "batch");
          obj.insert("assignments", assignments_to_json(s.assignments));
        } else if constexpr (std::is_same_v<T, ClosingDraft>) {
          obj = tagged("stage", "closing_draft");
        } else if constexpr (std::is_same_v<T, ClosingFinal>) {
          obj = tagged("stage", "closing_final");
          obj.insert("draft", s.draft);
        } else {
          obj = tagged("stage", "complete");
        }
      },
      value);
  return obj;
}

Result<LoopStage> LoopStage::from_json(const JsonValue& value) {
  return json::read_as<LoopStage>(value, read_stage);
}

}  // namespace vostrel::orchestrator
