// Harness contracts and gameplan files.
#include <gtest/gtest.h>

#include "support/temp_tree.h"
#include "gameplan/gameplan_reader.h"
#include "harness/harness_reader.h"
#include "yaml/yaml.h"

namespace vostrel::harness {
namespace {

namespace fs = std::filesystem;

Result<HarnessSpec> harness_of(std::string_view yaml_text) {
  Result<JsonValue> data = yaml::yaml_to_json(yaml_text);
  if (!data.ok()) return std::move(data).error();
  return parse_harness_spec(*data, "g.md");
}

TEST(HarnessSpecReader, Refusals) {
  struct Case {
    const char* name;
    const char* yaml;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"not a mapping", "- a", "Gameplan frontmatter in g.md must be a mapping, got list."},
      {"null document", "~", "Gameplan frontmatter in g.md must be a mapping, got NoneType."},
      {"capital name", "name: Debate", "Gameplan name 'Debate' in g.md must be a lowercase slug (letters, digits, '-' or '_')."},
      {"doubled separator", "name: debate--x", "Gameplan name 'debate--x' in g.md must be a lowercase slug (letters, digits, '-' or '_')."},
      {"leading separator", "name: _x", "Gameplan name '_x' in g.md must be a lowercase slug (letters, digits, '-' or '_')."},
      {"agents a list", "agents: [a]", "'agents' in g.md must be a mapping."},
      {"orchestrator a string", "agents: {orchestrator: 'yes'}", "'agents.orchestrator' in g.md must be a bool or a mapping."},
      {"required a string", "agents: {orchestrator: {required: 'true'}}", "'agents.orchestrator.required' in g.md must be a boolean, got 'true'."},
      {"participants a number", "agents: {participants: 3}", "'agents.participants' in g.md must be a mapping."},
      {"max below min", "agents: {participants: {min: 2, max: 1}}", "'agents.participants.max' (1) is below 'min' (2) in g.md."},
      {"min zero", "agents: {participants: {min: 0}}", "'agents.participants.min' in g.md must be >= 1, got 0."},
      {"loop a list", "loop: []", "'loop' in g.md must be a mapping."},
      {"no terminator", "loop: {terminate_on: []}", "'loop.terminate_on' in g.md must be a non-empty list \u2014 a harness with no terminator cannot end."},
      {"null terminator", "loop: {terminate_on: null}", "'loop.terminate_on' in g.md must be a non-empty list \u2014 a harness with no terminator cannot end."},
      {"blank terminators", "loop: {terminate_on: [' ', '']}", "'loop.terminate_on' in g.md contains no usable keywords."},
      {"float concurrency", "loop: {max_concurrent_agents: 2.0}", "'loop.max_concurrent_agents' in g.md must be an integer."},
      {"zero turns", "loop: {max_turns: 0}", "'loop.max_turns' in g.md must be >= 1, got 0."},
      {"null turns", "loop: {max_turns: null}", "'loop.max_turns' in g.md must be an integer, got None."},
      {"boolean turns", "loop: {max_turns: true}", "'loop.max_turns' in g.md must be an integer, got True."},
      {"text turns", "loop: {max_turns: ten}", "'loop.max_turns' in g.md must be an integer, got 'ten'."},
      {"underscore first", "loop: {max_rounds: '_1'}", "'loop.max_rounds' in g.md must be an integer, got '_1'."},
      {"double underscore", "loop: {max_rounds: '1__0'}", "'loop.max_rounds' in g.md must be an integer, got '1__0'."},
      {"sign only", "loop: {max_rounds: '-'}", "'loop.max_rounds' in g.md must be an integer, got '-'."},
      {"too large", "loop: {max_rounds: '9223372036854775808'}", "'loop.max_rounds' in g.md must be an integer, got '9223372036854775808'."},
      {"negative retries", "loop: {orchestrator_retries: -1}", "'loop.orchestrator_retries' in g.md must be >= 0, got -1."},
      {"rethink as text", "loop: {verdict_rethink: 'no'}", "'loop.verdict_rethink' in g.md must be a boolean, got 'no'."},
      {"phases a mapping", "loop: {phases: {a: 1}}", "'loop.phases' in g.md must be a list."},
      {"phase a string", "loop: {phases: [intro]}", "Each entry in 'loop.phases' in g.md must be a mapping."},
      {"phase without name", "loop: {phases: [{rounds: 2}]}", "A phase in g.md is missing 'name'."},
      {"bad phase name", "loop: {phases: [{name: Intro}]}", "Phase name 'Intro' in g.md must be a lowercase slug."},
      {"duplicate phase", "loop: {phases: [{name: intro}, {name: intro}]}", "Duplicate phase name 'intro' in g.md."},
      {"phase rounds by name", "loop: {phases: [{name: intro, rounds: x}]}", "'loop.phases[intro].rounds' in g.md must be an integer, got 'x'."},
      {"phase rethink", "loop: {phases: [{name: intro, rethink: 1}]}", "'loop.phases[intro].rethink' in g.md must be a boolean, got 1."},
      {"tools a number", "tools: 3", "'tools' in g.md must be a list of names."},
      {"reserved tool named once", "tools: [Skill, x, Skill]", "'tools' in g.md names reserved tool(s) Skill; the runtime supplies them."},
      {"context a mapping", "context: {a: 1}", "'context' in g.md must be a list of names."},
      {"result a list", "result: [a]", "'result' in g.md must be a mapping."},
      {"result of unknown type", "result: {x: text}", "'result.x' in g.md has unknown type 'text'. Known: bool, boolean, dict, float, int, integer, list, number, str, string."},
      {"result null", "result: {x: null}", "'result.x' in g.md must be a type name or a mapping."},
      {"result type case matters", "result: {x: {type: Str}}", "'result.x' in g.md has unknown type 'Str'. Known: bool, boolean, dict, float, int, integer, list, number, str, string."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result<HarnessSpec> got = harness_of(c.yaml);
    ASSERT_FALSE(got.ok());
    EXPECT_EQ(got.error().kind, ErrorKind::kGameplanLoad);
    EXPECT_EQ(got.error().message, c.message);
  }
}

TEST(HarnessSpecReader, ValuesAndDefaults) {
  EXPECT_EQ(*harness_of("{}"), HarnessSpec{});
  EXPECT_EQ(LoopSpec{}.terminate_on, std::vector<std::string>{"END_SESSION"});

  HarnessSpec spec = *harness_of(
      "name: a-b_c\ndescription: '  Debate it.  '\n"
      "agents: {orchestrator: true, participants: {min: 2, max: null}}\n"
      "loop:\n  terminate_on: [DONE, 7]\n  max_turns: '1_000'\n  max_rounds: 10.9\n"
      "  max_concurrent_agents: 3\n  advance_on: 5\n  orchestrator_retries: 0\n  verdict_rethink: false\n"
      "  phases:\n    - {name: intro, instruction: ' Say hi ', rounds: 2, rethink: true}\n    - {name: wrap}\n"
      "tools: a\nskills: [Skill]\ncontext: []\n"
      "result: {summary: str, score: {type: integer, description: Final score}, note: {}, ' ': str}\n");
  EXPECT_EQ(spec.name, "a-b_c");
  EXPECT_EQ(spec.description, "Debate it.");
  EXPECT_EQ(spec.agents.orchestrator, (OrchestratorSpec{true, ""}));
  EXPECT_EQ(spec.agents.participants, (ParticipantSpec{2, std::nullopt}));
  EXPECT_EQ(spec.loop.terminate_on, (std::vector<std::string>{"DONE", "7"}));
  EXPECT_EQ(spec.loop.max_turns, 1000);
  EXPECT_EQ(spec.loop.max_rounds, 10);
  EXPECT_EQ(spec.loop.max_concurrent_agents, 3u);
  EXPECT_EQ(spec.loop.advance_on, "5");
  EXPECT_EQ(spec.loop.orchestrator_retries, 0);
  EXPECT_FALSE(spec.loop.verdict_rethink);
  EXPECT_EQ(spec.loop.phases, (std::vector<PhaseSpec>{{"intro", "Say hi", 2, true}, {"wrap", "", 1, false}}));
  EXPECT_EQ(spec.tools, std::vector<std::string>{"a"});
  EXPECT_EQ(spec.skills, std::vector<std::string>{"Skill"});
  EXPECT_EQ(spec.context, std::vector<std::string>{});
  EXPECT_EQ(spec.result, (std::vector<ResultField>{{"summary", "str", ""},
                                                   {"score", "integer", "Final score"},
                                                   {"note", "str", ""}}));

  // Falsy advance_on falls back; terminate_on may be one string; tools null is undeclared.
  for (const char* advance : {"''", "false", "0"}) {
    SCOPED_TRACE(advance);
    EXPECT_EQ(harness_of(std::string("loop: {advance_on: ") + advance + "}")->loop.advance_on, "NEXT_PHASE");
  }
  EXPECT_EQ(harness_of("loop: {terminate_on: END}")->loop.terminate_on, std::vector<std::string>{"END"});
  EXPECT_FALSE(harness_of("tools: null")->tools.has_value());
  EXPECT_EQ(harness_of("loop: {max_turns: -2.9}").error().message, "'loop.max_turns' in g.md must be >= 1, got -2.");
  // From YAML a number beyond 64 bits stays text; from a caller's JSON it saturates.
  EXPECT_EQ(harness_of("loop: {max_turns: 18446744073709551615}").error().message,
            "'loop.max_turns' in g.md must be an integer, got '18446744073709551615'.");
  JsonObject loop{{"max_turns", JsonValue(UINT64_MAX)}, {"max_rounds", JsonValue(1e300)}};
  Result<HarnessSpec> saturated = parse_harness_spec(JsonValue(JsonObject{{"loop", JsonValue(loop)}}), "py");
  ASSERT_TRUE(saturated.ok()) << saturated.error().message;
  EXPECT_EQ(saturated->loop.max_turns, INT64_MAX);
  EXPECT_EQ(saturated->loop.max_rounds, INT64_MAX);
  EXPECT_EQ(harness_of("loop: {max_turns: ' +12 '}")->loop.max_turns, 12);
}

class GameplanFiles : public testing::TempTree {};

TEST_F(GameplanFiles, Locating) {
  write("root/gameplans/debate.md", "---\nname: debate\n---\nBuilt-in.");
  write("root/gameplans/md.md", "Two letters.");
  write("root/gameplans/sub/x", "Nested.");

  EXPECT_EQ(gameplan::read_gameplan_file("debate")->body, "Built-in.");
  EXPECT_EQ(gameplan::read_gameplan_file("debate.md")->body, "Built-in.");
  EXPECT_EQ(gameplan::read_gameplan_file("md")->body, "Two letters.");
  EXPECT_EQ(gameplan::read_gameplan_file("sub/x")->body, "Nested.");
  write("debate.md", "Local.");
  EXPECT_EQ(gameplan::read_gameplan_file("debate.md")->body, "Local.");
  EXPECT_EQ(gameplan::read_gameplan_file("debate")->body, "Built-in.");

  Result<gameplan::GameplanConfig> missing = gameplan::read_gameplan_file("nope");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().kind, ErrorKind::kGameplanLoad);
  EXPECT_EQ(missing.error().message, "Gameplan file not found: " + root_text() + "/gameplans/nope.md");
  EXPECT_EQ(gameplan::read_gameplan_file("./gone.md").error().message, "Gameplan file not found: ./gone.md");
  // A NUL byte would end the path early in the system calls.
  write("x.md", "Local.");
  for (const std::string& argument : {std::string("x.md\0.md", 8), std::string("debate.md\0", 10)}) {
    SCOPED_TRACE(argument.size());
    Result<gameplan::GameplanConfig> got = gameplan::read_gameplan_file(argument);
    ASSERT_FALSE(got.ok());
    EXPECT_TRUE(got.error().message.starts_with("Gameplan file not found: ")) << got.error().message;
  }
  fs::create_directories("dir.md");
  EXPECT_TRUE(gameplan::read_gameplan_file("dir.md").error().message.starts_with("Cannot read gameplan file dir.md: "));
  write("latin1.md", "caf\xe9");
  EXPECT_TRUE(gameplan::read_gameplan_file("latin1.md").error().message.starts_with("Cannot read gameplan file latin1.md: "));
}

TEST_F(GameplanFiles, Reading) {
  write("plain.md", "\n  # Just prose  \n");
  gameplan::GameplanConfig plain = *gameplan::read_gameplan_file("plain.md");
  EXPECT_EQ(plain.name, "plain");
  EXPECT_EQ(plain.harness, HarnessSpec{});
  EXPECT_EQ(plain.body, "# Just prose");
  EXPECT_EQ(plain.raw_text, "\n  # Just prose  \n");
  EXPECT_EQ(plain.path, (dir_ / "plain.md").string());
  EXPECT_EQ(plain.directory(), dir_);
  EXPECT_EQ(plain.max_rounds(), 3);

  write("crlf.md", "---  \r\nname: crlf-plan\r\nagents: {orchestrator: true}\r\n---\r\n\r\nBody.\r\n");
  gameplan::GameplanConfig crlf = *gameplan::read_gameplan_file("crlf.md");
  EXPECT_EQ(crlf.name, "crlf-plan");
  EXPECT_TRUE(crlf.requires_orchestrator());
  EXPECT_EQ(crlf.body, "Body.");

  write("list.md", "---\n- a\n---\n");
  EXPECT_EQ(gameplan::read_gameplan_file("list.md").error().message,
            "Frontmatter in list.md must be a mapping, got list.");
  write("text.md", "---\njust words\n---\n");
  EXPECT_EQ(gameplan::read_gameplan_file("text.md").error().message,
            "Frontmatter in text.md must be a mapping, got str.");
  write("bad.md", "---\na: *missing\n---\n");
  EXPECT_EQ(gameplan::read_gameplan_file("bad.md").error().message,
            "Invalid YAML frontmatter in bad.md: found undefined alias 'missing' at byte 3 line 1 column 4");
  write("deep.md", "---\na: " + std::string(300, '[') + std::string(300, ']') + "\n---\n");
  Result<gameplan::GameplanConfig> deep = gameplan::read_gameplan_file("deep.md");
  EXPECT_EQ(deep.error().kind, ErrorKind::kGameplanLoad);
  EXPECT_EQ(deep.error().message,
            "Invalid YAML frontmatter in deep.md: YAML nests deeper than 128 levels; flatten the document");
  write("loop.md", "---\nloop: 3\n---\n");
  EXPECT_EQ(gameplan::read_gameplan_file("loop.md").error().message, "'loop' in loop.md must be a mapping.");
}

}  // namespace
}  // namespace vostrel::harness
