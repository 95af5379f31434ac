#include "orchestrator/phase_scheduler.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "unicode/unicode.h"
#include "orchestrator/numbers.h"

namespace vostrel::orchestrator {

namespace {

constexpr std::int64_t kI64Max = std::numeric_limits<std::int64_t>::max();

bool truthy(const JsonValue& v) {
  switch (v.type()) {
    case JsonType::kNull: return false;
    case JsonType::kBool: return v.as_bool();
    case JsonType::kUInt: return v.as_u64() != 0;
    case JsonType::kInt: return v.as_i64() != 0;
    case JsonType::kDouble: return v.as_double() != 0.0;
    case JsonType::kString: return !v.as_string().empty();
    case JsonType::kArray: return !v.as_array().empty();
    case JsonType::kObject: return !v.as_object().empty();
  }
  return false;
}

}  // namespace

std::int64_t lenient_int(const JsonValue* value) {
  if (value == nullptr) return 0;
  switch (value->type()) {
    case JsonType::kUInt:
      return static_cast<std::int64_t>(std::min<std::uint64_t>(value->as_u64(), kI64Max));
    case JsonType::kInt: return value->as_i64();
    case JsonType::kDouble: return saturating_i64(value->as_double());
    case JsonType::kString: {
      std::optional<std::int64_t> parsed = parse_decimal_i64(unicode::trim(value->as_string()));
      return parsed.value_or(0);
    }
    default: return 0;
  }
}

const harness::PhaseSpec* PhaseScheduler::current_phase() const {
  return index < phases.size() ? &phases[index] : nullptr;
}

std::int64_t PhaseScheduler::round_limit() const {
  const harness::PhaseSpec* phase = current_phase();
  return phase != nullptr ? phase->rounds : max_rounds;
}

void PhaseScheduler::end_phase() {
  round_in_phase = 0;
  pending = participants;
  if (!phases.empty()) {
    ++index;
    if (index >= phases.size()) {
      index = phases.size() - 1;
      exhausted = true;
    }
  } else {
    exhausted = true;
  }
}

bool PhaseScheduler::mark_spoken(std::string_view name) {
  if (!pending.empty()) {
    auto it = std::find(pending.begin(), pending.end(), name);
    if (it == pending.end()) return false;
    pending.erase(it);
    if (!pending.empty()) return false;
  }
  rounds_run = saturating_add(rounds_run, 1);
  round_in_phase = saturating_add(round_in_phase, 1);
  pending = participants;
  if (round_in_phase < round_limit()) return true;
  end_phase();
  return true;
}

void PhaseScheduler::advance_phase() { end_phase(); }

void PhaseScheduler::restore(const JsonObject& snapshot) {
  const JsonValue* member = snapshot.find("phases");
  const JsonObject* progress = member != nullptr ? member->get_object() : nullptr;
  if (progress == nullptr) return;
  if (!phases.empty()) {
    const std::int64_t raw = lenient_int(progress->find("index"));
    const std::int64_t last = static_cast<std::int64_t>(phases.size() - 1);
    index = static_cast<std::uint64_t>(std::clamp<std::int64_t>(raw, 0, last));
  }
  round_in_phase = lenient_int(progress->find("round_in_phase"));
  if (const JsonValue* names = progress->find("pending"); names != nullptr && names->is_array()) {
    std::vector<std::string> restored;
    for (const JsonValue& item : names->as_array()) {
      const std::string* name = item.get_string();
      if (name != nullptr && std::find(participants.begin(), participants.end(), *name) !=
                                 participants.end())
        restored.push_back(*name);
    }
    pending = std::move(restored);
  }
  rounds_run = lenient_int(progress->find("rounds_run"));
  const JsonValue* done = progress->find("exhausted");
  exhausted = done != nullptr ? truthy(*done) : max_rounds == 0;
}

PhaseScheduler build_loop_settings(const harness::LoopSpec& spec,
                                   const std::vector<std::string>& participant_names) {
  PhaseScheduler s;
  s.participants = participant_names;
  s.pending = participant_names;
  s.advance_on = std::string(unicode::trim(spec.advance_on));
  s.max_rounds = std::max<std::int64_t>(spec.max_rounds, 0);
  s.phases.reserve(spec.phases.size());
  for (const harness::PhaseSpec& phase : spec.phases) {
    harness::PhaseSpec copy = phase;
    copy.instruction = std::string(unicode::trim(phase.instruction));
    copy.rounds = std::min(std::max<std::int64_t>(phase.rounds, 1), s.max_rounds);
    s.phases.push_back(std::move(copy));
  }
  s.exhausted = spec.max_rounds <= 0;
  return s;
}

}  // namespace vostrel::orchestrator
