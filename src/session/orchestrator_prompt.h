// The orchestrator's briefing: its role prompt with the session's topic,
// gameplan, roster, phases, end rules and dispatch rules filled in.
#ifndef VOSTREL_SESSION_ORCHESTRATOR_PROMPT_H_
#define VOSTREL_SESSION_ORCHESTRATOR_PROMPT_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "gameplan/gameplan_config.h"
#include "persona/persona.h"
#include "utils/result.h"

namespace vostrel::session {

// What the briefing is built from: the session's agents in the order they were
// added, its topic, gameplan and round limit, and the participant names in the
// order the run uses them (at least one).
struct OrchestratorBriefing {
  std::span<const persona::AgentProfile> agents;
  std::string_view topic;
  const gameplan::GameplanConfig* gameplan = nullptr;
  std::int64_t max_rounds = 0;
  std::span<const std::string> participants;
};

// An orchestrator with its own system_prompt gets that text with "{topic}"
// filled in and nothing else. Otherwise the orchestrator's role prompt with its
// twelve placeholders filled in order. Fails with the Session errors "Unknown
// participant: {}" and "No orchestrator agent added.", or a persona or role
// file's lookup and read errors.
Result<std::string> orchestrator_prompt(const OrchestratorBriefing& briefing);

}  // namespace vostrel::session

#endif  // VOSTREL_SESSION_ORCHESTRATOR_PROMPT_H_
