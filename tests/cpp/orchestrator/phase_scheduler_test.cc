#include "orchestrator/phase_scheduler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/reader.h"

namespace vostrel::orchestrator {
namespace {

using Names = std::vector<std::string>;

harness::LoopSpec spec_with(std::int64_t max_rounds, std::vector<harness::PhaseSpec> phases) {
  harness::LoopSpec spec;
  spec.max_rounds = max_rounds;
  spec.phases = std::move(phases);
  return spec;
}

TEST(BuildLoopSettings, ClampsRoundsAndTrims) {
  harness::LoopSpec spec = spec_with(3, {{"long", "  go  ", 5, false}, {"none", "", 0, true}});
  spec.advance_on = "  NEXT  ";
  const PhaseScheduler s = build_loop_settings(spec, {"Ann", "Bob"});
  ASSERT_EQ(s.phases.size(), 2u);
  EXPECT_EQ(s.phases[0].rounds, 3);  // lowered to max_rounds
  EXPECT_EQ(s.phases[0].instruction, "go");
  EXPECT_EQ(s.phases[1].rounds, 1);  // raised to 1
  EXPECT_EQ(s.advance_on, "NEXT");
  EXPECT_EQ(s.pending, (Names{"Ann", "Bob"}));
  EXPECT_FALSE(s.exhausted);

  const PhaseScheduler none = build_loop_settings(spec_with(-4, {{"p", "", 2, false}}), {"Ann"});
  EXPECT_EQ(none.max_rounds, 0);
  EXPECT_EQ(none.phases[0].rounds, 0);
  EXPECT_TRUE(none.exhausted);
}

TEST(PhaseScheduler, RoundsAndPhases) {
  PhaseScheduler s = build_loop_settings(
      spec_with(3, {{"opening", "", 1, false}, {"critique", "", 2, false}}), {"Ann", "Bob", "Cy"});
  // A repeated or unknown speaker changes nothing.
  EXPECT_FALSE(s.mark_spoken("Ann"));
  EXPECT_FALSE(s.mark_spoken("Ann"));
  EXPECT_FALSE(s.mark_spoken("Zed"));
  EXPECT_EQ(s.pending, (Names{"Bob", "Cy"}));
  EXPECT_FALSE(s.mark_spoken("Bob"));
  EXPECT_TRUE(s.mark_spoken("Cy"));  // round and phase done
  EXPECT_EQ(s.index, 1u);
  EXPECT_EQ(s.round_in_phase, 0);
  EXPECT_EQ(s.rounds_run, 1);
  EXPECT_EQ(s.pending, (Names{"Ann", "Bob", "Cy"}));

  for (const char* name : {"Cy", "Bob", "Ann"}) s.mark_spoken(name);
  EXPECT_EQ(s.round_in_phase, 1);
  // The advance keyword ends the last phase without counting its round.
  s.mark_spoken("Ann");
  s.advance_phase();
  EXPECT_TRUE(s.exhausted);
  EXPECT_EQ(s.index, 1u);  // stays on the last phase
  EXPECT_EQ(s.rounds_run, 2);
  EXPECT_EQ(s.pending, (Names{"Ann", "Bob", "Cy"}));
}

TEST(PhaseScheduler, WithoutPhasesRunsMaxRounds) {
  PhaseScheduler s = build_loop_settings(spec_with(2, {}), {"Ann"});
  EXPECT_TRUE(s.mark_spoken("Ann"));
  EXPECT_FALSE(s.exhausted);
  EXPECT_TRUE(s.mark_spoken("Ann"));
  EXPECT_TRUE(s.exhausted);
  EXPECT_EQ(s.rounds_run, 2);
  EXPECT_EQ(s.current_phase(), nullptr);
}

TEST(PhaseScheduler, RestoreReadsLeniently) {
  struct Case {
    const char* name;
    const char* snapshot;
    std::uint64_t index;
    std::int64_t round_in_phase;
    Names pending;
    std::int64_t rounds_run;
    bool exhausted;
  };
  const Names fresh = {"Ann", "Bob"};
  const std::vector<Case> cases = {
      {"no phases member", R"({"turn_count":3})", 0, 0, fresh, 0, false},
      {"phases not an object", R"({"phases":[1]})", 0, 0, fresh, 0, false},
      {"index clamped", R"({"phases":{"index":7}})", 2, 0, fresh, 0, false},
      {"negative index clamped", R"({"phases":{"index":-3}})", 0, 0, fresh, 0, false},
      {"pending filtered", R"({"phases":{"pending":["Bob","Zed","Bob",4]}})", 0, 0,
       {"Bob", "Bob"}, 0, false},
      {"pending not an array kept", R"({"phases":{"pending":"Bob"}})", 0, 0, fresh, 0, false},
      {"string integers", R"({"phases":{"round_in_phase":" 2 ","rounds_run":"x"}})", 0, 2, fresh,
       0, false},
      {"floats truncate", R"({"phases":{"round_in_phase":2.9,"rounds_run":-2.9}})", 0, 2, fresh,
       -2, false},
      {"huge unsigned saturates", R"({"phases":{"rounds_run":18446744073709551615}})", 0, 0,
       fresh, 9223372036854775807, false},
      {"exhausted truthiness of a string", R"({"phases":{"exhausted":"no"}})", 0, 0, fresh, 0,
       true},
      {"exhausted zero", R"({"phases":{"exhausted":0}})", 0, 0, fresh, 0, false},
      {"exhausted null", R"({"phases":{"exhausted":null}})", 0, 0, fresh, 0, false},
  };
  const harness::LoopSpec spec =
      spec_with(3, {{"a", "", 1, false}, {"b", "", 1, false}, {"c", "", 1, false}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PhaseScheduler s = build_loop_settings(spec, fresh);
    Result<JsonValue> snapshot = parse_json(c.snapshot);
    ASSERT_TRUE(snapshot.ok());
    s.restore(snapshot->as_object());
    EXPECT_EQ(s.index, c.index);
    EXPECT_EQ(s.round_in_phase, c.round_in_phase);
    EXPECT_EQ(s.pending, c.pending);
    EXPECT_EQ(s.rounds_run, c.rounds_run);
    EXPECT_EQ(s.exhausted, c.exhausted);
  }
}

}  // namespace
}  // namespace vostrel::orchestrator
