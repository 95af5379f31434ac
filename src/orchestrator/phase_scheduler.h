// Round and phase bookkeeping of the orchestrator loop: who has yet to speak
// this round, how many rounds the current phase has run, which phase is
// current, and whether every round of every phase is done. Belongs to its
// loop and is used with it by one thread at a time.
#ifndef VOSTREL_ORCHESTRATOR_PHASE_SCHEDULER_H_
#define VOSTREL_ORCHESTRATOR_PHASE_SCHEDULER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "harness/harness_spec.h"
#include "json/value.h"

namespace vostrel::orchestrator {

struct PhaseScheduler {
  std::vector<std::string> participants;  // roster order; refills `pending`
  std::string advance_on;                 // trimmed; empty disables it
  std::vector<harness::PhaseSpec> phases;  // instructions trimmed, rounds clamped
  std::vector<std::string> pending;        // yet to speak this round, roster order
  std::int64_t max_rounds = 0;             // at least 0
  std::uint64_t index = 0;
  std::int64_t round_in_phase = 0;
  std::int64_t rounds_run = 0;
  bool exhausted = false;

  // The phase at `index`, or null when there is none.
  const harness::PhaseSpec* current_phase() const;
  // The current phase's rounds, or `max_rounds` without a current phase.
  std::int64_t round_limit() const;

  // Records one accepted participant reply; returns whether it completed a
  // round. A name not pending (already spoke, or unknown) changes nothing.
  bool mark_spoken(std::string_view name);
  // Ends the current phase at once (the orchestrator wrote the advance
  // keyword); its unfinished round is not counted.
  void advance_phase();
  // Overrides progress from the `phases` member of a loop snapshot, reading
  // every member leniently; never fails.
  void restore(const JsonObject& snapshot);

  bool operator==(const PhaseScheduler&) const = default;

 private:
  void end_phase();
};

// A new scheduler for `spec` and the participant names (roster order).
PhaseScheduler build_loop_settings(const harness::LoopSpec& spec,
                                   const std::vector<std::string>& participant_names);

// A snapshot integer read leniently: integers saturate to the signed 64-bit
// range, floats truncate toward zero (NaN is 0), strings are trimmed and read
// as decimal, anything else (and a missing member) is 0.
std::int64_t lenient_int(const JsonValue* value);

}  // namespace vostrel::orchestrator

#endif  // VOSTREL_ORCHESTRATOR_PHASE_SCHEDULER_H_
