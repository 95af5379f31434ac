#include "orchestrator/loop_types.h"

#include <array>
#include <utility>

#include "orchestrator/json_read.h"

namespace vostrel::orchestrator {

namespace jr = json_read;

namespace {

constexpr std::array<std::string_view, 3> kTurnKindNames = {"orchestrator", "participant",
                                                            "closing"};
constexpr std::array<std::string_view, 5> kEndReasonNames = {
    "keyword", "phases_complete", "max_rounds", "max_turns", "forced"};

#define VOSTREL_ACTION_TAGS "turn", "batch", "deliver", "directive", "note", "summary", "complete"
#define VOSTREL_STAGE_TAGS \
  "orchestrator", "participant", "batch", "closing_draft", "closing_final", "complete"

Result<TurnKind> read_turn_kind(const JsonValue& value) {
  const std::string* s = value.get_string();
  if (s == nullptr) return jr::invalid_type(value, "string or map");
  for (std::size_t i = 0; i < kTurnKindNames.size(); ++i) {
    if (*s == kTurnKindNames[i]) return static_cast<TurnKind>(i);
  }
  return jr::unknown_variant(*s, {"orchestrator", "participant", "closing"});
}

Result<LoopEndReason> read_end_reason(const JsonValue& value) {
  const std::string* s = value.get_string();
  if (s == nullptr) return jr::invalid_type(value, "string or map");
  for (std::size_t i = 0; i < kEndReasonNames.size(); ++i) {
    if (*s == kEndReasonNames[i]) return static_cast<LoopEndReason>(i);
  }
  return jr::unknown_variant(*s, {"keyword", "phases_complete", "max_rounds", "max_turns",
                                  "forced"});
}

Result<std::string> text_field(const JsonObject& obj, std::string_view key) {
  VOSTREL_ASSIGN_OR_RETURN(const JsonValue* v, jr::member(obj, key));
  return jr::text(*v);
}

Result<std::int64_t> count_field(const JsonObject& obj, std::string_view key) {
  VOSTREL_ASSIGN_OR_RETURN(const JsonValue* v, jr::member(obj, key));
  return jr::count(*v);
}

// The tag of an internally tagged union, checked against `names`; returns its
// position among them.
Result<std::size_t> read_tag(const JsonObject& obj, std::string_view key,
                             std::initializer_list<std::string_view> names) {
  VOSTREL_ASSIGN_OR_RETURN(const JsonValue* v, jr::member(obj, key));
  const std::string* s = v->get_string();
  if (s == nullptr) return jr::invalid_type(*v, "variant identifier");
  std::size_t i = 0;
  for (std::string_view name : names) {
    if (*s == name) return i;
    ++i;
  }
  return jr::unknown_variant(*s, names);
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
  VOSTREL_ASSIGN_OR_RETURN(const JsonObject* obj, jr::object(value, "struct AgentAssignment"));
  VOSTREL_TRY(jr::only_fields(*obj, {"agent", "instruction"}));
  AgentAssignment out;
  VOSTREL_ASSIGN_OR_RETURN(out.agent, text_field(*obj, "agent"));
  VOSTREL_ASSIGN_OR_RETURN(out.instruction, text_field(*obj, "instruction"));
  return out;
}

JsonValue assignments_to_json(const std::vector<AgentAssignment>& assignments) {
  JsonArray out;
  out.reserve(assignments.size());
  for (const AgentAssignment& a : assignments) out.push_back(a.to_json());
  return out;
}

Result<std::vector<AgentAssignment>> assignments_from_json(const JsonValue& value) {
  VOSTREL_ASSIGN_OR_RETURN(const JsonArray* array, jr::sequence(value));
  std::vector<AgentAssignment> out;
  out.reserve(array->size());
  for (const JsonValue& item : *array) {
    VOSTREL_ASSIGN_OR_RETURN(AgentAssignment a, AgentAssignment::from_json(item));
    out.push_back(std::move(a));
  }
  return out;
}

Result<Batch> Batch::from_json(const JsonValue& value) {
  VOSTREL_ASSIGN_OR_RETURN(const JsonObject* obj, jr::object(value, "struct Batch"));
  VOSTREL_TRY(jr::only_fields(*obj, {"parallel"}));
  VOSTREL_ASSIGN_OR_RETURN(const JsonValue* parallel, jr::member(*obj, "parallel"));
  Batch out;
  VOSTREL_ASSIGN_OR_RETURN(out.parallel, assignments_from_json(*parallel));
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
  VOSTREL_ASSIGN_OR_RETURN(const JsonObject* obj, jr::object(value, "struct LoopState"));
  LoopState out;
  VOSTREL_ASSIGN_OR_RETURN(out.turn_count, count_field(*obj, "turn_count"));
  VOSTREL_ASSIGN_OR_RETURN(const JsonValue* consensus, jr::member(*obj, "consensus_reached"));
  VOSTREL_ASSIGN_OR_RETURN(out.consensus_reached, jr::boolean(*consensus));
  VOSTREL_ASSIGN_OR_RETURN(out.final_summary, text_field(*obj, "final_summary"));
  VOSTREL_ASSIGN_OR_RETURN(const JsonValue* fields, jr::member(*obj, "fields"));
  const JsonObject* fields_obj = fields->get_object();
  if (fields_obj == nullptr) return jr::invalid_type(*fields, "a map");
  out.fields = *fields_obj;
  VOSTREL_ASSIGN_OR_RETURN(out.rounds_run, count_field(*obj, "rounds_run"));
  VOSTREL_ASSIGN_OR_RETURN(out.phase_reached, text_field(*obj, "phase_reached"));
  VOSTREL_ASSIGN_OR_RETURN(const JsonValue* reason, jr::member(*obj, "end_reason"));
  VOSTREL_ASSIGN_OR_RETURN(out.end_reason, read_end_reason(*reason));
  return out;
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
  VOSTREL_ASSIGN_OR_RETURN(const JsonObject* obj,
                           jr::object(value, "internally tagged enum LoopAction"));
  VOSTREL_ASSIGN_OR_RETURN(std::size_t tag, read_tag(*obj, "action", {VOSTREL_ACTION_TAGS}));
  switch (tag) {
    case 0: {
      Turn t;
      VOSTREL_ASSIGN_OR_RETURN(t.agent, text_field(*obj, "agent"));
      VOSTREL_ASSIGN_OR_RETURN(t.purpose, text_field(*obj, "purpose"));
      if (const JsonValue* instruction = obj->find("instruction");
          instruction != nullptr && !instruction->is_null()) {
        VOSTREL_ASSIGN_OR_RETURN(t.instruction, jr::text(*instruction));
      }
      VOSTREL_ASSIGN_OR_RETURN(const JsonValue* kind, jr::member(*obj, "kind"));
      VOSTREL_ASSIGN_OR_RETURN(t.kind, read_turn_kind(*kind));
      return LoopAction{std::move(t)};
    }
    case 1: {
      VOSTREL_ASSIGN_OR_RETURN(const JsonValue* list, jr::member(*obj, "assignments"));
      Batch b;
      VOSTREL_ASSIGN_OR_RETURN(b.assignments, assignments_from_json(*list));
      return LoopAction{std::move(b)};
    }
    case 2: {
      Deliver d;
      VOSTREL_ASSIGN_OR_RETURN(d.sender, text_field(*obj, "sender"));
      VOSTREL_ASSIGN_OR_RETURN(d.text, text_field(*obj, "text"));
      VOSTREL_ASSIGN_OR_RETURN(d.turn, count_field(*obj, "turn"));
      VOSTREL_ASSIGN_OR_RETURN(d.msg_type, text_field(*obj, "msg_type"));
      return LoopAction{std::move(d)};
    }
    case 3: {
      Directive d;
      VOSTREL_ASSIGN_OR_RETURN(d.text, text_field(*obj, "text"));
      return LoopAction{std::move(d)};
    }
    case 4: {
      Note n;
      VOSTREL_ASSIGN_OR_RETURN(n.text, text_field(*obj, "text"));
      return LoopAction{std::move(n)};
    }
    case 5: {
      Summary s;
      VOSTREL_ASSIGN_OR_RETURN(s.text, text_field(*obj, "text"));
      VOSTREL_ASSIGN_OR_RETURN(s.turn, count_field(*obj, "turn"));
      return LoopAction{std::move(s)};
    }
    default: {
      VOSTREL_ASSIGN_OR_RETURN(const JsonValue* state, jr::member(*obj, "state"));
      Complete c;
      VOSTREL_ASSIGN_OR_RETURN(c.state, LoopState::from_json(*state));
      return LoopAction{std::move(c)};
    }
  }
}

JsonValue loop_actions_to_json(const std::deque<LoopAction>& actions) {
  JsonArray out;
  out.reserve(actions.size());
  for (const LoopAction& a : actions) out.push_back(a.to_json());
  return out;
}

Result<std::deque<LoopAction>> loop_actions_from_json(const JsonValue& value) {
  VOSTREL_ASSIGN_OR_RETURN(const JsonArray* array, jr::sequence(value));
  std::deque<LoopAction> out;
  for (const JsonValue& item : *array) {
    VOSTREL_ASSIGN_OR_RETURN(LoopAction a, LoopAction::from_json(item));
    out.push_back(std::move(a));
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
  VOSTREL_ASSIGN_OR_RETURN(const JsonObject* obj,
                           jr::object(value, "internally tagged enum LoopStage"));
  VOSTREL_ASSIGN_OR_RETURN(std::size_t tag, read_tag(*obj, "stage", {VOSTREL_STAGE_TAGS}));
  switch (tag) {
    case 0: {
      Orchestrator o;
      VOSTREL_ASSIGN_OR_RETURN(o.retry, count_field(*obj, "retry"));
      return LoopStage{o};
    }
    case 1: {
      Participant p;
      VOSTREL_ASSIGN_OR_RETURN(p.name, text_field(*obj, "name"));
      VOSTREL_ASSIGN_OR_RETURN(p.instruction, text_field(*obj, "instruction"));
      return LoopStage{std::move(p)};
    }
    case 2: {
      VOSTREL_ASSIGN_OR_RETURN(const JsonValue* list, jr::member(*obj, "assignments"));
      Batch b;
      VOSTREL_ASSIGN_OR_RETURN(b.assignments, assignments_from_json(*list));
      return LoopStage{std::move(b)};
    }
    case 3: return LoopStage{ClosingDraft{}};
    case 4: {
      ClosingFinal c;
      VOSTREL_ASSIGN_OR_RETURN(c.draft, text_field(*obj, "draft"));
      return LoopStage{std::move(c)};
    }
    default: return LoopStage{Complete{}};
  }
}

}  // namespace vostrel::orchestrator
