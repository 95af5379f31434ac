#include <gtest/gtest.h>

#include "support/json_test_util.h"
#include "usage/budget.h"

namespace vostrel::usage {
namespace {

using test_support::parse_or_fail;

TEST(BudgetJsonTest, ReadsRunBudgetsOrRefusesThem) {
  const Count u;
  struct Case {
    std::string json;
    std::optional<RunBudget> want;
    std::string error = "";
  };
  const std::string fields =
      "one of `max_provider_operations`, `max_tool_calls`, `max_tokens`, `max_cost_microusd`, `max_elapsed_ms`, `mode`";
  const std::vector<Case> cases = {
      {"{}", RunBudget{}},
      {R"({"max_provider_operations": 2, "mode": "hard"})", RunBudget{2, u, u, u, u, BudgetMode::kHard}},
      {R"({"max_tokens": 1000, "max_cost_microusd": null, "mode": {"measured_threshold": null}})",
       RunBudget{u, u, 1000, u, u, BudgetMode::kMeasuredThreshold}},
      {"[1, 2, 3, 4, 5]", RunBudget{1, 2, 3, 4, 5, BudgetMode::kHard}},
      {R"([null, null, null, null, 0, "measured_threshold"])", RunBudget{u, u, u, u, 0, BudgetMode::kMeasuredThreshold}},
      {R"({"max_tokens": -5})", std::nullopt, "invalid value: integer `-5`, expected u64"},
      {R"({"max_tokens": 2.5})", std::nullopt, "invalid type: floating point `2.5`, expected u64"},
      {R"({"max_token": 1})", std::nullopt, "unknown field `max_token`, expected " + fields},
      {"[1, 2, 3, 4]", std::nullopt, "invalid length 4, expected struct RunBudget with 6 elements"},
      {R"("hard")", std::nullopt, "invalid type: string \"hard\", expected struct RunBudget"},
      {R"({"mode": "soft"})", std::nullopt, "unknown variant `soft`, expected `hard` or `measured_threshold`"},
      {R"({"mode": {"hard": null, "measured_threshold": null}})", std::nullopt,
       "invalid value: map, expected map with a single key"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    Result<RunBudget> r = run_budget_from_json(parse_or_fail(c.json));
    if (c.want) {
      ASSERT_TRUE(r.ok()) << r.error().message;
      EXPECT_EQ(*r, *c.want);
    } else {
      ASSERT_FALSE(r.ok());
      EXPECT_EQ(r.error().kind, ErrorKind::kValue);
      EXPECT_EQ(r.error().message, c.error);
    }
  }
}

TEST(BudgetJsonTest, ReadsTokenPricingOrRefusesIt) {
  struct Case {
    std::string json;
    std::optional<TokenPricing> want;
    std::string error = "";
  };
  const std::vector<Case> cases = {
      {R"({"provider": "OpenAiProvider", "model": "gpt", "input_microusd_per_million_tokens": 3000000,
           "output_microusd_per_million_tokens": 15000000, "cached_input_microusd_per_million_tokens": 300000})",
       TokenPricing{"OpenAiProvider", "gpt", 3'000'000, 15'000'000, 300'000, std::nullopt}},
      {R"(["ClaudeProvider", "c", 1, 2, null, 4])", TokenPricing{"ClaudeProvider", "c", 1, 2, std::nullopt, 4}},
      {R"({"provider": "P", "input_microusd_per_million_tokens": 1, "output_microusd_per_million_tokens": 1})",
       std::nullopt, "missing field `model`"},
      {R"({"provider": "P", "model": 5})", std::nullopt, "invalid type: integer `5`, expected a string"},
      {R"({"provider": "P", "model": "m", "input_microusd_per_million_tokens": null, "output_microusd_per_million_tokens": 1})",
       std::nullopt, "invalid type: null, expected u64"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    Result<TokenPricing> r = token_pricing_from_json(parse_or_fail(c.json));
    if (c.want) {
      ASSERT_TRUE(r.ok()) << r.error().message;
      EXPECT_EQ(*r, *c.want);
    } else {
      ASSERT_FALSE(r.ok());
      EXPECT_EQ(r.error().message, c.error);
    }
  }
  Result<std::vector<TokenPricing>> list = pricing_from_json(parse_or_fail(R"([["P", "a", 1, 1], ["P", "b", 2, 2]])"));
  ASSERT_FALSE(list.ok()) << "the array form takes all six fields";
  list = pricing_from_json(parse_or_fail(R"([["P", "a", 1, 1, null, null], {"provider": "P", "model": "b",
      "input_microusd_per_million_tokens": 2, "output_microusd_per_million_tokens": 2}])"));
  ASSERT_TRUE(list.ok()) << list.error().message;
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ((*list)[1].model, "b");
  EXPECT_EQ(pricing_from_json(parse_or_fail("{}")).error().message, "invalid type: map, expected a sequence");
}

}  // namespace
}  // namespace vostrel::usage
