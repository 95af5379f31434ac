// Every asset shipped with the package loads under its reader.
#include <gtest/gtest.h>

#include "assets/assets.h"
#include "assets/role.h"
#include "gameplan/gameplan_reader.h"
#include "persona/persona.h"
#include "skill/loader.h"

namespace vostrel::assets {
namespace {

class BuiltinAssets : public ::testing::Test {
 protected:
  void SetUp() override { set_assets_root(VOSTREL_SOURCE_DIR "/assets"); }
};

TEST_F(BuiltinAssets, EveryAssetLoads) {
  const std::vector<std::string> gameplans = list_builtin_gameplans();
  EXPECT_NE(std::find(gameplans.begin(), gameplans.end(), "debate"), gameplans.end());
  for (const std::string& name : gameplans) {
    SCOPED_TRACE("gameplan " + name);
    Result<gameplan::GameplanConfig> plan = gameplan::read_gameplan_file(name);
    ASSERT_TRUE(plan.ok()) << plan.error().message;
    EXPECT_EQ(plan->name, name);
    EXPECT_FALSE(plan->body.empty());
  }
  bool has_orchestrator = false;
  for (const std::string& name : list_builtin_roles()) {
    SCOPED_TRACE("role " + name);
    Result<RoleConfig> role = read_role_file(builtin_dir(kRolesDir).string() + "/" + name + ".md", {});
    ASSERT_TRUE(role.ok()) << role.error().message;
    EXPECT_EQ(role->name, name);
    EXPECT_FALSE(role->description.empty());
    has_orchestrator |= role->position == AgentPosition::kOrchestrator;
  }
  EXPECT_TRUE(has_orchestrator);
  const std::vector<std::string> personas = list_builtin_personas();
  EXPECT_GE(personas.size(), 3u);
  for (const std::string& name : personas) {
    SCOPED_TRACE("persona " + name);
    Result<persona::PersonaConfig> p = persona::read_persona_file(name + ".md", {});
    ASSERT_TRUE(p.ok()) << p.error().message;
    EXPECT_FALSE(p->persona.empty());
    EXPECT_FALSE(p->background.empty());
    EXPECT_FALSE(p->communication_style.empty());
  }
  const std::vector<std::string> skills = list_builtin_skills();
  EXPECT_FALSE(skills.empty());
  for (const std::string& name : skills) {
    SCOPED_TRACE("skill " + name);
    Result<skill::SkillConfig> s = skill::read_skill_file(name);
    ASSERT_TRUE(s.ok()) << s.error().message;
    EXPECT_TRUE(s->builtin);
    EXPECT_FALSE(s->content.empty());
  }
}

TEST_F(BuiltinAssets, DefaultsOfASession) {
  // The default gameplan needs an orchestrator and declares its result shape.
  const gameplan::GameplanConfig debate = *gameplan::read_gameplan_file("debate");
  EXPECT_TRUE(debate.requires_orchestrator());
  EXPECT_EQ(debate.harness.agents.participants.min, 2);
  EXPECT_EQ(debate.harness.loop.phases.size(), 3u);
  EXPECT_FALSE(debate.harness.result.empty());
  // The default role and the orchestrator template.
  EXPECT_EQ(read_role_file(kDefaultRoleFile, {})->position, AgentPosition::kParticipant);
  const RoleConfig orchestrator = *read_role_file("orchestrator.md", {});
  EXPECT_EQ(orchestrator.position, AgentPosition::kOrchestrator);
  for (const char* placeholder : {"{gameplan}", "{gameplan_description}", "{roster}", "{phases}",
                                  "{first_participant}", "{end_rules}", "{flow_rules}", "{rounds_rule}",
                                  "{dispatch_rules}", "{orchestrator_instruction}", "{gameplan_body}", "{topic}"}) {
    EXPECT_NE(orchestrator.content.find(placeholder), std::string::npos) << placeholder;
  }
}

}  // namespace
}  // namespace vostrel::assets
