// Finding assets by name and path, and reading roles, personas and skills.
#include <gtest/gtest.h>

#include <vector>

#include "assets/assets.h"
#include "assets/role.h"
#include "support/temp_tree.h"
#include "persona/persona.h"
#include "skill/loader.h"

namespace vostrel::assets {
namespace {

namespace fs = std::filesystem;
using testing::TempTree;

class AssetLookup : public TempTree {};

TEST_F(AssetLookup, CandidatesAndNotFoundMessage) {
  Result<fs::path> missing = find_role_file("critic.md", {});
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().kind, ErrorKind::kNotFound);
  EXPECT_EQ(missing.error().message,
            "Role file not found: critic.md. Tried: critic.md, " + root_text() + "/roles/critic.md.");

  const std::vector<fs::path> search = {"one", "two"};
  Result<fs::path> with_search = persona::find_persona_file("p.md", search);
  ASSERT_FALSE(with_search.ok());
  EXPECT_EQ(with_search.error().message, "Persona file not found: p.md. Tried: p.md, one/p.md, two/p.md, " +
                                             root_text() + "/personas/p.md.");

  // An absolute name is tried alone.
  Result<fs::path> absolute = find_role_file("/no/such/role.md", search);
  ASSERT_FALSE(absolute.ok());
  EXPECT_EQ(absolute.error().message, "Role file not found: /no/such/role.md. Tried: /no/such/role.md.");
}

TEST_F(AssetLookup, ShadowingOrder) {
  write("root/roles/r.md", "built-in");
  write("two/r.md", "second search dir");
  const std::vector<fs::path> search = {"one", "two"};
  EXPECT_EQ(*find_role_file("r.md", search), fs::path("two/r.md"));
  write("one/r.md", "first search dir");
  EXPECT_EQ(*find_role_file("r.md", search), fs::path("one/r.md"));
  write("r.md", "working directory");
  EXPECT_EQ(*find_role_file("r.md", search), fs::path("r.md"));
  EXPECT_EQ(*find_role_file("r.md", {}), fs::path("r.md"));
  // A directory of that name counts as found, and then fails when read.
  fs::create_directories("d.md");
  EXPECT_EQ(*find_role_file("d.md", {}), fs::path("d.md"));
  Result<RoleConfig> dir_read = read_role_file("d.md", {});
  ASSERT_FALSE(dir_read.ok());
  EXPECT_EQ(dir_read.error().kind, ErrorKind::kIo);
  EXPECT_TRUE(dir_read.error().message.starts_with("d.md: ")) << dir_read.error().message;
}

// The system calls end a path at its first NUL byte: a name holding one must
// not read the file named by its first part.
TEST_F(AssetLookup, NamesWithANulByteFindNothing) {
  write("r.md", "Role.");
  write("root/skills/s/SKILL.md", "---\nname: s\ndescription: d\n---\n");
  write("s.md", "---\nname: s\ndescription: d\n---\n");
  const std::string role(std::string("r.md\0.md", 8));
  EXPECT_FALSE(find_role_file(role, {}).ok());
  Result<std::string> prompt = agent_role_prompt(role);
  ASSERT_FALSE(prompt.ok());
  EXPECT_EQ(prompt.error().kind, ErrorKind::kNotFound);
  Result<persona::PersonaConfig> persona = persona::read_persona_file(role, {});
  ASSERT_FALSE(persona.ok());
  EXPECT_EQ(persona.error().kind, ErrorKind::kNotFound);
  for (const std::string& argument : {std::string("s\0x", 3), std::string("s.md\0/x.md", 11)}) {
    SCOPED_TRACE(argument.size());
    Result<skill::SkillConfig> got = skill::read_skill_file(argument);
    ASSERT_FALSE(got.ok());
    EXPECT_EQ(got.error().kind, ErrorKind::kNotFound);
  }
}

TEST_F(AssetLookup, Listing) {
  for (const char* name : {"b.md", "a.md", "notes.txt", ".md", "Z.md", "x.MD", "y.markdown", "a.b.md"})
    write(std::string("root/roles/") + name, "");
  fs::create_directories(root_ / "roles" / "dir.md");
  EXPECT_EQ(list_builtin_roles(), (std::vector<std::string>{"Z", "a", "a.b", "b", "dir"}));
  EXPECT_TRUE(list_builtin_personas().empty());

  write("root/skills/beta/SKILL.md", "");
  write("root/skills/alpha/SKILL.md", "");
  write("root/skills/gamma/README.md", "");
  write("root/skills/plain", "");
  EXPECT_EQ(list_builtin_skills(), (std::vector<std::string>{"alpha", "beta"}));

  EXPECT_EQ(absolute_path("/abs"), fs::path("/abs"));
  EXPECT_EQ(absolute_path("rel/x"), dir_ / "rel/x");
  EXPECT_EQ(absolute_path(""), dir_);
}

TEST_F(AssetLookup, RoleFiles) {
  write("plain.md", "\n  Just a prompt.  \n");
  write("orch.md", "---\nname: boss\nposition: orchestrator\ndescription: runs it\n---\n\nLead.\n");
  write("capital.md", "---\nposition: Orchestrator\n---\n");
  write("empty-pos.md", "---\nposition: ''\n---\n");
  write("null-pos.md", "---\nposition: null\nname:\n---\nx");
  write("blank-name.md", "---\nname: '   '\nposition: ' participant '\n---\nx");

  RoleConfig plain = *read_role_file("plain.md", {});
  EXPECT_EQ(plain, (RoleConfig{"plain", AgentPosition::kParticipant, "", "Just a prompt."}));
  EXPECT_EQ(*read_role_file("orch.md", {}),
            (RoleConfig{"boss", AgentPosition::kOrchestrator, "runs it", "Lead."}));
  Result<RoleConfig> capital = read_role_file("capital.md", {});
  ASSERT_FALSE(capital.ok());
  EXPECT_EQ(capital.error().message,
            "Unknown agent position 'Orchestrator'. Expected 'participant' or 'orchestrator'. In "
            "capital.md.");
  EXPECT_EQ(read_role_file("empty-pos.md", {}).error().message,
            "Unknown agent position ''. Expected 'participant' or 'orchestrator'. In empty-pos.md.");
  RoleConfig null_pos = *read_role_file("null-pos.md", {});
  EXPECT_EQ(null_pos.position, AgentPosition::kParticipant);
  EXPECT_EQ(null_pos.name, "None");
  RoleConfig blank = *read_role_file("blank-name.md", {});
  EXPECT_EQ(blank.name, "blank-name");
  EXPECT_EQ(blank.position, AgentPosition::kParticipant);

  Result<RoleConfig> bad_yaml = read_role_file("bad.md", {});
  EXPECT_EQ(bad_yaml.error().kind, ErrorKind::kNotFound);
  write("bad.md", "---\nposition: [x\n---\n");
  EXPECT_TRUE(read_role_file("bad.md", {}).error().message.starts_with("Invalid YAML in Role frontmatter: bad.md: "));
}

TEST_F(AssetLookup, AgentRolePrompt) {
  write("root/roles/participant.md", "---\nname: participant\n---\nDefault role.");
  write("reviewer.md", "Review carefully.");
  struct Case {
    const char* name;
    std::optional<std::string> role;
    std::string prompt;
  };
  const std::vector<Case> cases = {
      {"no role reads participant.md", std::nullopt, "Default role."},
      {"a .md role reads the file", "reviewer.md", "Review carefully."},
      {"a word is the prompt itself", "reviewer", "reviewer"},
      {"empty role, empty prompt", "", ""},
      {"too short to be a file", "md", "md"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result<std::string> prompt = agent_role_prompt(c.role);
    ASSERT_TRUE(prompt.ok()) << prompt.error().message;
    EXPECT_EQ(*prompt, c.prompt);
  }
  // A role file in the working directory shadows the built-in one.
  write("participant.md", "Local default.");
  EXPECT_EQ(*agent_role_prompt(std::nullopt), "Local default.");
  EXPECT_EQ(agent_role_prompt(std::string("gone.md")).error().kind, ErrorKind::kNotFound);
  EXPECT_EQ(parse_agent_position(" participant").error().message,
            "Unknown agent position ' participant'. Expected 'participant' or 'orchestrator'.");
}

TEST_F(AssetLookup, PersonaFiles) {
  struct Case {
    const char* name;
    const char* text;
    persona::PersonaConfig expected;
  };
  const std::vector<Case> cases = {
      {"name line with trailing blanks",
       "# Persona: Ada  \n\n## Persona\nA mathematician.\n\n## Background\nWrote notes.\n### Detail\nMore.\n## "
       "Communication Style  \nPrecise.\r\n",
       {"Ada", "A mathematician.", "Wrote notes.\n### Detail\nMore.", "Precise."}},
      {"name line after a blank line is not one", "\n# Persona: Ada\n## Persona\nx", {"stem", "x", "", ""}},
      {"name on the next line", "# Persona:\n  Bob\n", {"Bob", "", "", ""}},
      {"any Unicode blank may stand before it", "# Persona:\u3000\v\n\u00a0Di\n", {"Di", "", "", ""}},
      {"headings must match exactly", "## persona\nx\n## Persona extra\ny\n## Background\n", {"stem", "", "", ""}},
      {"only the first heading counts", "## Persona\nfirst\n## Persona\nsecond", {"stem", "first", "", ""}},
      {"CRLF lines", "# Persona: Cy\r\n## Persona\r\n  calm  \r\n", {"Cy", "calm", "", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(persona::parse_persona_text(c.text, "stem"), c.expected);
  }
  write("root/personas/critic.md", "# Persona: The Critic\n## Persona\nSharp.\n## Communication Style\nTerse.");
  const persona::PersonaConfig critic = *persona::read_persona_file("critic.md", {});
  EXPECT_EQ(critic.name, "The Critic");
  EXPECT_EQ(persona::persona_prompt_section(critic), "Persona: Sharp.\nCommunication style: Terse.");
  EXPECT_EQ(persona::persona_prompt_section({}), "");
  write("bad.md", "\xff\xfe");
  Result<persona::PersonaConfig> bad = persona::read_persona_file("bad.md", {});
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().kind, ErrorKind::kIo);
  // A file name whose only dot leads keeps it in the stem.
  write(".hidden.md", "x");
  EXPECT_EQ(persona::read_persona_file(".hidden.md", {})->name, ".hidden");
}

class SkillFiles : public TempTree {
 protected:
  std::string skill(std::string_view front, std::string_view body = "Do the thing.") {
    return "---\n" + std::string(front) + "\n---\n" + std::string(body);
  }
};

TEST_F(SkillFiles, ReadingAndRefusals) {
  write("root/skills/code-review/SKILL.md", skill("name: code-review\ndescription: Reviews code.", "\n Steps. \n"));
  write("my-skill/SKILL.md", skill("name: my-skill\ndescription: Mine."));
  write("notes.md", skill("name: anything-goes\ndescription: A loose file."));
  write("review/SKILL.md", skill("name: code-review\ndescription: d"));
  write("lower/skill.md", skill("name: other\ndescription: d"));
  write("root/skills/empty-dir/README.md", "");

  skill::SkillConfig builtin = *skill::read_skill_file("code-review");
  EXPECT_EQ(builtin.name, "code-review");
  EXPECT_EQ(builtin.content, "Steps.");
  EXPECT_EQ(builtin.base_dir, root_ / "skills/code-review");
  EXPECT_TRUE(builtin.builtin);
  EXPECT_FALSE(builtin.allowed_tools.has_value());
  EXPECT_TRUE(builtin.requires_tools.empty());

  skill::SkillConfig local = *skill::read_skill_file("./my-skill");
  EXPECT_EQ(local.base_dir, fs::path("./my-skill"));
  EXPECT_FALSE(local.builtin);
  skill::SkillConfig loose = *skill::read_skill_file("notes.md");
  EXPECT_EQ(loose.name, "anything-goes");
  EXPECT_FALSE(loose.base_dir.has_value());

  // A SKILL.md reached through "." has no directory name to match.
  write("SKILL.md", skill("name: top-level\ndescription: d"));
  EXPECT_EQ(skill::read_skill_file("./SKILL.md")->base_dir, fs::path("."));
  EXPECT_EQ(skill::read_skill_file("SKILL.md")->base_dir, fs::path(""));

  // Through a link into the built-in folder, a skill is still built-in.
  fs::create_directories(dir_ / "links");
  fs::create_directory_symlink(root_ / "skills/code-review", dir_ / "links/code-review");
  Result<skill::SkillConfig> linked = skill::read_skill_file("links/code-review");
  ASSERT_TRUE(linked.ok()) << linked.error().message;
  EXPECT_TRUE(linked->builtin);

  struct Refusal {
    const char* name;
    const char* argument;
    ErrorKind kind;
    std::string message;
  };
  const std::vector<Refusal> refusals = {
      {"missing built-in", "nope", ErrorKind::kNotFound, "Skill file not found: " + root_text() + "/skills/nope"},
      {"built-in folder without SKILL.md", "empty-dir", ErrorKind::kNotFound,
       "Skill file not found: " + root_text() + "/skills/empty-dir"},
      {"missing path", "./gone", ErrorKind::kNotFound, "Skill file not found: ./gone"},
      {"name differs from its folder", "review", ErrorKind::kValue,
       "Skill name 'code-review' must match parent directory 'review'"},
      {"lower-case skill.md too", "lower/skill.md", ErrorKind::kValue,
       "Skill name 'other' must match parent directory 'lower'"},
  };
  // "review" is not a built-in: read it as a path.
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.name);
    const std::string argument = std::string(r.argument) == "review" ? "./review" : r.argument;
    Result<skill::SkillConfig> got = skill::read_skill_file(argument);
    ASSERT_FALSE(got.ok());
    EXPECT_EQ(got.error().kind, r.kind);
    EXPECT_EQ(got.error().message, r.message);
  }
}

TEST_F(SkillFiles, FrontmatterRules) {
  struct Case {
    const char* name;
    std::string front;
    std::string message;  // "" when it loads
  };
  const std::string name64(64, 'a'), name65(65, 'a');
  const std::vector<Case> cases = {
      {"underscore", "name: code_review\ndescription: d", "Invalid skill name 'code_review' in s.md"},
      {"capitals", "name: Code-Review\ndescription: d", "Invalid skill name 'Code-Review' in s.md"},
      {"double hyphen", "name: a--b\ndescription: d", "Invalid skill name 'a--b' in s.md"},
      {"65 characters", "name: " + name65 + "\ndescription: d", "Invalid skill name '" + name65 + "' in s.md"},
      {"64 characters", "name: " + name64 + "\ndescription: d", ""},
      {"description of 1025", "name: a\ndescription: " + std::string(1025, 'x'), "Invalid skill description in s.md"},
      {"description of 1024", "name: a\ndescription: " + std::string(1024, 'x'), ""},
      {"missing description", "name: a", "Skill file missing required frontmatter: s.md"},
      {"blank name", "name: '  '\ndescription: d", "Skill file missing required frontmatter: s.md"},
      {"null description is the text None", "name: a\ndescription:", ""},
      {"tool list with a number", "name: a\ndescription: d\nallowed-tools: [Read, 3]",
       "allowed-tools must be a list of tool names in s.md, got ['Read', 3]"},
      {"tool list as a boolean", "name: a\ndescription: d\nallowed-tools: true",
       "allowed-tools must be a list of tool names in s.md, got True"},
      {"requires-tools as a mapping", "name: a\ndescription: d\nrequires-tools: {a: 1}",
       "requires-tools must be a list of tool names in s.md, got {'a': 1}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write("s.md", skill(c.front));
    Result<skill::SkillConfig> got = skill::read_skill_file("s.md");
    if (c.message.empty()) {
      EXPECT_TRUE(got.ok()) << got.error().message;
    } else {
      ASSERT_FALSE(got.ok());
      EXPECT_EQ(got.error().kind, ErrorKind::kValue);
      EXPECT_EQ(got.error().message, c.message);
    }
  }

  write("s.md", skill("name: a\ndescription: d\nallowed-tools: ' Read , Bash,, Grep '\nrequires-tools: [Read, ' ']"));
  skill::SkillConfig tools = *skill::read_skill_file("s.md");
  EXPECT_EQ(tools.allowed_tools, (std::vector<std::string>{"Read", "Bash", "Grep"}));
  EXPECT_EQ(tools.requires_tools, (std::vector<std::string>{"Read", ""}));
}

TEST_F(SkillFiles, ResolvingSessionSkills) {
  write("root/skills/b/SKILL.md", skill("name: b\ndescription: from the assets"));
  skill::SkillConfig registered{"a", "registered", "", std::nullopt, {}, std::nullopt, false};
  const std::vector<skill::SkillConfig> session = {registered};
  const std::vector<std::string> wanted = {"a", "b"};
  Result<std::vector<skill::SkillConfig>> got = skill::resolve_skill_names(wanted, session);
  ASSERT_TRUE(got.ok());
  ASSERT_EQ(got->size(), 2u);
  EXPECT_EQ((*got)[0], registered);
  EXPECT_EQ((*got)[1].description, "from the assets");
  const std::vector<std::string> missing = {"a", "c"};
  EXPECT_EQ(skill::resolve_skill_names(missing, session).error().message,
            "Skill file not found: " + root_text() + "/skills/c");
}

}  // namespace
}  // namespace vostrel::assets
