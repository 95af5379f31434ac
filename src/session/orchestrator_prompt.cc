#include "session/orchestrator_prompt.h"

#include "assets/role.h"
#include "json/writer.h"
#include "orchestrator/matching.h"
#include "utils/text.h"

namespace vostrel::session {
namespace {

using assets::AgentPosition;
using persona::AgentProfile;

constexpr std::string_view kPhasesIntro = "Phases, in order:\n";
constexpr std::string_view kPhasesOutro =
    "\n\nThe session runs these phases in order and advances on its own: a round ends when every "
    "participant has spoken once, and each participant is given the active phase's instruction "
    "automatically. You will be told at each boundary which phase is active and who has yet to "
    "speak \u2014 call on those participants. A phase marked [rethink] asks participants to "
    "re-examine a position they already stated; press anyone who merely repeats themselves.\n"
    "Write ";
constexpr std::string_view kFlowFree =
    "- You control the flow: decide who speaks, when to move phases, when to summarize, when to "
    "check consensus\n- You can summarize, comment, redirect, or challenge participants at any "
    "point\n";
constexpr std::string_view kFlowSingle =
    "- You decide who speaks next; the phases advance on their own\n- Call on the participants "
    "your briefing lists as yet to speak, one per turn, until none are left\n- Never write a "
    "participant's turn for them: until a participant has answered you do not know what it found, "
    "and a contribution you compose on its behalf is invention\n";
constexpr std::string_view kFlowBatch =
    "- You decide who works next; the phases advance on their own\n- Call on the participants your "
    "briefing lists as yet to speak, individually or in independent batches, until none are left\n"
    "- Never write a participant's turn for them: wait for their completed answers before "
    "combining the findings\n";

Result<std::string> roster_text(const OrchestratorBriefing& b) {
  std::string roster;
  for (const std::string& name : b.participants) {
    const AgentProfile* agent = nullptr;
    for (const AgentProfile& a : b.agents) {
      if (a.position == AgentPosition::kParticipant && a.name == name) {
        agent = &a;
        break;
      }
    }
    if (agent == nullptr) return CoreError::session("Unknown participant: " + name);
    if (!roster.empty()) roster += '\n';
    roster += "- ";
    roster += agent->name;
    if (agent->persona) {
      roster += " (";
      if (agent->persona->ends_with(".md")) {
        VOSTREL_ASSIGN_OR_RETURN(const persona::PersonaConfig p, persona::read_persona_file(*agent->persona, {}));
        roster += p.name;
      } else {
        roster += *agent->persona;
      }
      roster += ')';
    }
  }
  return roster;
}

std::string phases_text(const harness::LoopSpec& loop) {
  if (loop.phases.empty()) return std::string();
  std::string lines;
  std::size_t number = 0;
  for (const harness::PhaseSpec& phase : loop.phases) {
    if (number > 0) lines += '\n';
    lines += std::to_string(++number) + ". " + phase.name + " (" + std::to_string(phase.rounds) +
             " round" + (phase.rounds == 1 ? "" : "s") + ")" + (phase.rethink ? " [rethink]" : "");
    if (!phase.instruction.empty()) lines += "\n   Tell participants: " + phase.instruction;
  }
  return std::string(kPhasesIntro) + lines + std::string(kPhasesOutro) + loop.advance_on +
         " to end the current phase early, before its rounds are up.\n\n";
}

std::string end_rules_text(const std::vector<std::string>& terminate_on) {
  const std::optional<std::string> consensus = orchestrator::consensus_keyword(terminate_on);
  std::string out;
  for (const std::string& keyword : terminate_on) {
    out += keyword == consensus ? "- If consensus is reached, include " : "- When the session should end, include ";
    out += keyword;
    out += " in your response\n";
  }
  return out;
}

std::string dispatch_rules_text(std::size_t concurrent, std::string_view first) {
  if (concurrent == 1) return "- Only call on ONE participant at a time";
  JsonObject member{{"agent", JsonValue(first)}, {"instruction", JsonValue("Your independent task")}};
  const JsonValue example(JsonObject{{"parallel", JsonValue(JsonArray{JsonValue(std::move(member))})}});
  return "- For independent tasks, assign a batch by replying with only one fenced vostrel JSON "
         "block:\n```vostrel\n" +
         to_json(example) +
         "\n```\n- Include one entry per selected participant, in the order their results should "
         "appear. Select only participants yet to speak this round; each participant may appear "
         "once. Up to " +
         std::to_string(concurrent) +
         " agents work concurrently.\n- Batch members read the same conversation before the batch. "
         "They cannot see one another's findings until all members finish. Combine their completed "
         "results on your next turn; use separate batches for dependent work.\n- Existing @Name "
         "instructions still select one participant. To advance or end the session, send the "
         "configured keyword in a separate reply.";
}

}  // namespace

Result<std::string> orchestrator_prompt(const OrchestratorBriefing& b) {
  const AgentProfile* orchestrator = nullptr;
  for (const AgentProfile& a : b.agents) {
    if (a.position == AgentPosition::kOrchestrator) {
      orchestrator = &a;
      break;
    }
  }
  if (orchestrator != nullptr && orchestrator->system_prompt)
    return replace_all(*orchestrator->system_prompt, "{topic}", b.topic);

  const gameplan::GameplanConfig& plan = *b.gameplan;
  const harness::HarnessSpec& harness = plan.harness;
  const harness::LoopSpec& loop = harness.loop;
  VOSTREL_ASSIGN_OR_RETURN(const std::string roster, roster_text(b));
  const bool phased = !loop.phases.empty();
  const std::string first = b.participants.empty() ? std::string() : b.participants.front();
  const std::string flow(!phased ? kFlowFree : loop.max_concurrent_agents < 2 ? kFlowSingle : kFlowBatch);
  const std::string rounds_rule =
      phased ? std::string()
             : "- The session ends after " + std::to_string(b.max_rounds) +
                   " rounds (every participant speaking once is one round)\n";
  const std::string description = harness.description.empty() ? std::string() : " " + harness.description;
  const std::string instruction = harness.agents.orchestrator.instruction.empty()
                                      ? std::string()
                                      : "\n" + harness.agents.orchestrator.instruction + "\n";

  if (orchestrator == nullptr) return CoreError::session("No orchestrator agent added.");
  VOSTREL_ASSIGN_OR_RETURN(std::string text, assets::agent_role_prompt(orchestrator->role));

  const std::pair<std::string_view, std::string> fills[] = {
      {"{gameplan}", plan.name},
      {"{gameplan_description}", description},
      {"{roster}", roster},
      {"{phases}", phases_text(loop)},
      {"{first_participant}", first},
      {"{end_rules}", end_rules_text(loop.terminate_on)},
      {"{flow_rules}", flow},
      {"{rounds_rule}", rounds_rule},
      {"{dispatch_rules}", dispatch_rules_text(loop.max_concurrent_agents, first)},
      {"{orchestrator_instruction}", instruction},
      {"{gameplan_body}", plan.body},
      {"{topic}", std::string(b.topic)},
  };
  for (const auto& [placeholder, value] : fills) text = replace_all(text, placeholder, value);
  return text;
}

}  // namespace vostrel::session
