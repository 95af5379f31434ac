// The harness contract a gameplan declares: the cast a session needs, how its
// loop runs, which tools, skills and context sources it may use, and the result
// fields its closing summary must deliver. Plain values; copying one copies
// every field. Reading them from frontmatter lives with the gameplan loader.
#ifndef VOSTREL_HARNESS_HARNESS_SPEC_H_
#define VOSTREL_HARNESS_HARNESS_SPEC_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vostrel::harness {

// Whether the harness demands an orchestrator, and what to tell it.
struct OrchestratorSpec {
  bool required = false;
  std::string instruction;

  bool operator==(const OrchestratorSpec&) const = default;
};

// How many participants the harness accepts. `max` absent means unbounded.
struct ParticipantSpec {
  std::int64_t min = 1;
  std::optional<std::int64_t> max;

  bool operator==(const ParticipantSpec&) const = default;
};

// The cast the harness expects.
struct AgentsSpec {
  OrchestratorSpec orchestrator;
  ParticipantSpec participants;

  bool operator==(const AgentsSpec&) const = default;
};

// One named stage of the run.
struct PhaseSpec {
  std::string name;
  std::string instruction;
  std::int64_t rounds = 1;
  bool rethink = false;

  bool operator==(const PhaseSpec&) const = default;
};

// The loop's limits, phases and termination keywords. A default-constructed
// LoopSpec holds the defaults a harness without a `loop` key gets.
struct LoopSpec {
  // Keywords that end the session when the orchestrator writes one, in
  // gameplan order.
  std::vector<std::string> terminate_on{"END_SESSION"};
  std::vector<PhaseSpec> phases;
  // Keyword with which the orchestrator moves the session to its next phase.
  std::string advance_on = "NEXT_PHASE";
  // Turns after which the session goes to its closing.
  std::int64_t max_turns = 50;
  std::int64_t max_rounds = 3;
  // How many members of a participant batch run at once.
  std::size_t max_concurrent_agents = 1;
  // Unusable orchestrator replies answered with a retry before a forced end.
  std::int64_t orchestrator_retries = 2;
  // Whether the closing takes a draft and then the final text.
  bool verdict_rethink = true;

  bool operator==(const LoopSpec&) const = default;
};

// One field of the declared result shape. `type_name` is the name as written:
// one of "str", "string", "int", "integer", "float", "number", "bool",
// "boolean", "list", "dict" once the gameplan reader has accepted it.
struct ResultField {
  std::string name;
  std::string type_name;
  std::string description;

  bool operator==(const ResultField&) const = default;
};

// The machine-readable contract a gameplan declares. A list left absent (not
// declared) differs from a declared empty list; names keep their order and may
// repeat.
struct HarnessSpec {
  std::string name;
  std::string description;
  AgentsSpec agents;
  LoopSpec loop;
  std::optional<std::vector<std::string>> tools;
  std::optional<std::vector<std::string>> skills;
  std::optional<std::vector<std::string>> context;
  std::vector<ResultField> result;

  bool operator==(const HarnessSpec&) const = default;
};

// What a session may use once the harness has narrowed what it registered;
// names in registration order.
struct Permitted {
  std::vector<std::string> tools;
  std::vector<std::string> context;

  bool operator==(const Permitted&) const = default;
};

}  // namespace vostrel::harness

#endif  // VOSTREL_HARNESS_HARNESS_SPEC_H_
