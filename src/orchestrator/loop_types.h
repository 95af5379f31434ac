// The vocabulary that crosses between the orchestrator loop, its hosts and its
// snapshot: the actions a host carries out, the stages the loop waits in, the
// state it accumulates, and their JSON forms. All plain values.
//
// Readers refuse bad input with a `Value` error whose message is the refusal
// text ("missing field `stage`", "invalid type: ..., expected i64", ...); the
// loop's callers wrap it into their own error.
#ifndef VOSTREL_ORCHESTRATOR_LOOP_TYPES_H_
#define VOSTREL_ORCHESTRATOR_LOOP_TYPES_H_

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "json/value.h"
#include "utils/result.h"

namespace vostrel::orchestrator {

// Which kind of turn a LoopAction::Turn asks for.
enum class TurnKind : std::uint8_t { kOrchestrator = 0, kParticipant = 1, kClosing = 2 };

// Why the loop ended. A new loop holds kMaxTurns until something else ends it.
enum class LoopEndReason : std::uint8_t {
  kKeyword = 0,
  kPhasesComplete = 1,
  kMaxRounds = 2,
  kMaxTurns = 3,
  kForced = 4,
};

// "orchestrator", "participant", "closing".
std::string_view turn_kind_name(TurnKind kind);
// "keyword", "phases_complete", "max_rounds", "max_turns", "forced".
std::string_view loop_end_reason_name(LoopEndReason reason);

// One participant asked to speak in a batch.
struct AgentAssignment {
  std::string agent;
  std::string instruction;

  JsonValue to_json() const;
  // Both keys required; any other key is refused.
  static Result<AgentAssignment> from_json(const JsonValue& value);

  bool operator==(const AgentAssignment&) const = default;
};

// The body of the orchestrator's fenced batch block.
struct Batch {
  std::vector<AgentAssignment> parallel;

  // Only `parallel`, required.
  static Result<Batch> from_json(const JsonValue& value);

  bool operator==(const Batch&) const = default;
};

// What the loop has accumulated; becomes the session's result.
struct LoopState {
  std::int64_t turn_count = 0;
  bool consensus_reached = false;
  std::string final_summary;
  JsonObject fields;
  std::int64_t rounds_run = 0;
  std::string phase_reached;
  LoopEndReason end_reason = LoopEndReason::kMaxTurns;

  JsonValue to_json() const;
  // All seven keys required; unknown keys are passed over.
  static Result<LoopState> from_json(const JsonValue& value);

  bool operator==(const LoopState&) const = default;
};

// The next thing a host must do. Only Deliver, Directive, Note and Summary are
// ever queued; Turn, Batch and Complete follow from the loop's stage.
struct LoopAction {
  struct Turn {
    std::string agent;
    std::string purpose;
    std::optional<std::string> instruction;  // absent differs from empty
    TurnKind kind;  // value-initialised to kOrchestrator
    bool operator==(const Turn&) const = default;
  };
  struct Batch {
    std::vector<AgentAssignment> assignments;
    bool operator==(const Batch&) const = default;
  };
  struct Deliver {
    std::string sender;
    std::string text;
    std::int64_t turn = 0;
    std::string msg_type;
    bool operator==(const Deliver&) const = default;
  };
  struct Directive {
    std::string text;
    bool operator==(const Directive&) const = default;
  };
  struct Note {
    std::string text;
    bool operator==(const Note&) const = default;
  };
  struct Summary {
    std::string text;
    std::int64_t turn = 0;
    bool operator==(const Summary&) const = default;
  };
  struct Complete {
    LoopState state;
    bool operator==(const Complete&) const = default;
  };

  std::variant<Turn, Batch, Deliver, Directive, Note, Summary, Complete> value;

  template <typename T>
  const T* get() const { return std::get_if<T>(&value); }
  template <typename T>
  bool is() const { return std::holds_alternative<T>(value); }

  JsonValue to_json() const;
  static Result<LoopAction> from_json(const JsonValue& value);

  bool operator==(const LoopAction&) const = default;
};

// What the loop waits for.
struct LoopStage {
  struct Orchestrator {
    std::int64_t retry;  // unusable replies in a row that led here; value-initialised to 0
    bool operator==(const Orchestrator&) const = default;
  };
  struct Participant {
    std::string name;
    std::string instruction;
    bool operator==(const Participant&) const = default;
  };
  struct Batch {
    std::vector<AgentAssignment> assignments;
    bool operator==(const Batch&) const = default;
  };
  struct ClosingDraft {
    bool operator==(const ClosingDraft&) const = default;
  };
  struct ClosingFinal {
    std::string draft;
    bool operator==(const ClosingFinal&) const = default;
  };
  struct Complete {
    bool operator==(const Complete&) const = default;
  };

  std::variant<Orchestrator, Participant, Batch, ClosingDraft, ClosingFinal, Complete> value;

  template <typename T>
  const T* get() const { return std::get_if<T>(&value); }
  template <typename T>
  bool is() const { return std::holds_alternative<T>(value); }

  JsonValue to_json() const;
  static Result<LoopStage> from_json(const JsonValue& value);

  bool operator==(const LoopStage&) const = default;
};

// A queue of pending actions as a JSON array, front first, and back.
JsonValue loop_actions_to_json(const std::deque<LoopAction>& actions);
Result<std::deque<LoopAction>> loop_actions_from_json(const JsonValue& value);
// A list of assignments as a JSON array, and back.
JsonValue assignments_to_json(const std::vector<AgentAssignment>& assignments);
Result<std::vector<AgentAssignment>> assignments_from_json(const JsonValue& value);

}  // namespace vostrel::orchestrator

#endif  // VOSTREL_ORCHESTRATOR_LOOP_TYPES_H_
