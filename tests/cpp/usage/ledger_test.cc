#include "usage/ledger.h"

#include <gtest/gtest.h>

#include <limits>

#include "support/json_test_util.h"
#include "json/writer.h"
#include "usage/budget.h"

namespace vostrel::usage {
namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

JsonObject object_of(std::string_view text) { return test_support::parse_or_fail(text).as_object(); }

TEST(NormalizeUsageTest, ReadsBothShapesAndKeepsUnknownsUnknown) {
  const Count u;  // unknown
  struct Case {
    std::string name;
    std::string usage;
    NormalizedUsage want;  // input, output, total, cached, creation, reasoning
  };
  const std::vector<Case> cases = {
      {"openai with details",
       R"({"prompt_tokens": 100, "completion_tokens": 20, "total_tokens": 120,
           "prompt_tokens_details": {"cached_tokens": 30}, "completion_tokens_details": {"reasoning_tokens": 5}})",
       {100, 20, 120, 30, u, 5}},
      {"anthropic with cache reads and writes",
       R"({"input_tokens": 10, "output_tokens": 50, "cache_read_input_tokens": 200, "cache_creation_input_tokens": 40})",
       {250, 50, 300, 200, 40, u}},
      {"anthropic with a null cache read",
       R"({"input_tokens": 10, "output_tokens": 50, "cache_read_input_tokens": null, "cache_creation_input_tokens": 40})",
       {u, 50, u, u, 40, u}},
      {"contradicting total", R"({"prompt_tokens": 100, "completion_tokens": 20, "total_tokens": 121})",
       {100, 20, u, u, u, u}},
      {"total that is not a count", R"({"prompt_tokens": 1, "completion_tokens": 2, "total_tokens": "3"})",
       {1, 2, u, u, u, u}},
      {"reported total stands alone", R"({"total_tokens": 7})", {u, u, 7, u, u, u}},
      {"empty", "{}", {u, u, u, u, u, u}},
      {"input_tokens present but bad shadows prompt_tokens", R"({"input_tokens": -1, "prompt_tokens": 9, "output_tokens": 1})",
       {u, 1, u, u, u, u}},
      {"fractions and strings are no counts", R"({"prompt_tokens": 1.0, "completion_tokens": "2"})", {u, u, u, u, u, u}},
      {"responses-style details", R"({"input_tokens": 8, "output_tokens": 4, "input_tokens_details": {"cached_tokens": 2},
           "output_tokens_details": {"reasoning_tokens": 3}})",
       {8, 4, 12, 2, u, 3}},
      {"details that are not objects", R"({"prompt_tokens_details": 5, "completion_tokens_details": [1]})", {u, u, u, u, u, u}},
      {"input overflow with cache", R"({"input_tokens": 18446744073709551615, "cache_read_input_tokens": 1, "output_tokens": 0})",
       {u, 0, u, 1, u, u}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(to_json(normalize_usage(object_of(c.usage))), to_json(c.want));
  }
}

ProviderUsage record(Count input, Count output, Count cost, bool failed = false) {
  ProviderUsage r{"alice", "OpenAiProvider", "gpt", "turn", failed, false, {}, cost};
  r.usage.input_tokens = input;
  r.usage.output_tokens = output;
  r.usage.total_tokens = checked_add(input, output);
  r.usage.cached_input_tokens = 0;
  r.usage.cache_creation_input_tokens = 0;
  r.usage.reasoning_tokens = 0;
  return r;
}

TEST(UsageLedgerTest, TotalsFollowRecordsAndAnUnknownStaysUnknown) {
  UsageLedger ledger;
  EXPECT_EQ(to_json(ledger.to_json()),
            R"({"totals":{"provider_operations":0,"failed_operations":0,"opaque_operations":0,)"
            R"("usage":{"input_tokens":0,"output_tokens":0,"total_tokens":0,"cached_input_tokens":0,)"
            R"("cache_creation_input_tokens":0,"reasoning_tokens":0},"cost_microusd":0},)"
            R"("tool_calls":0,"elapsed_ms":0,"records":[]})");
  ledger.add(record(10, 5, 7));
  ledger.add(record(1, 1, 2));
  EXPECT_EQ(ledger.totals.usage.input_tokens, 11u);
  EXPECT_EQ(ledger.totals.cost_microusd, 9u);
  ProviderUsage failed{"bob", "ClaudeProvider", "c", "turn", true, true, {}, std::nullopt};
  ledger.add(failed);
  ledger.add(record(1, 1, 1));
  EXPECT_EQ(ledger.totals.provider_operations, 4u);
  EXPECT_EQ(ledger.totals.failed_operations, 1u);
  EXPECT_EQ(ledger.totals.opaque_operations, 1u);
  EXPECT_EQ(ledger.totals.usage.input_tokens, std::nullopt) << "unknown for the rest of the run";
  EXPECT_EQ(ledger.totals.cost_microusd, std::nullopt);
  EXPECT_TRUE(ledger.totals_match_records());
  EXPECT_EQ(to_json(to_json(ledger.records[2])),
            R"({"actor":"bob","provider":"ClaudeProvider","model":"c","purpose":"turn","failed":true,"opaque":true,)"
            R"("usage":{"input_tokens":null,"output_tokens":null,"total_tokens":null,"cached_input_tokens":null,)"
            R"("cache_creation_input_tokens":null,"reasoning_tokens":null},"cost_microusd":null})");

  // Counters stop at the largest value; usage sums that overflow become unknown.
  UsageLedger near_full;
  near_full.totals.provider_operations = kMax;
  near_full.totals.usage.input_tokens = kMax;
  near_full.add(record(1, 0, 0));
  EXPECT_EQ(near_full.totals.provider_operations, kMax);
  EXPECT_EQ(near_full.totals.usage.input_tokens, std::nullopt);
  EXPECT_EQ(near_full.totals.usage.output_tokens, 0u);
}

TEST(UsageLedgerTest, DetectsTotalsThatDisagreeWithRecords) {
  UsageLedger ledger;
  ledger.add(record(10, 5, 7));
  EXPECT_TRUE(ledger.totals_match_records());
  UsageLedger wrong_count = ledger;
  wrong_count.totals.provider_operations = 2;
  UsageLedger known_instead_of_unknown = ledger;
  known_instead_of_unknown.records[0].cost_microusd = std::nullopt;
  UsageLedger unknown_instead_of_known = ledger;
  unknown_instead_of_known.totals.usage.output_tokens = std::nullopt;
  for (const UsageLedger* l : {&wrong_count, &known_instead_of_unknown, &unknown_instead_of_known}) {
    EXPECT_FALSE(l->totals_match_records());
  }
}

TEST(PriceUsageTest, ChargesEachKindOfTokenAndRoundsUp) {
  const std::vector<TokenPricing> prices = {
      {"OpenAiProvider", "gpt", 3'000'000, 15'000'000, 300'000, std::nullopt},
      {"ClaudeProvider", "claude", 1, 1, std::nullopt, std::nullopt},
      {"ClaudeProvider", "cached", 3'000'000, 15'000'000, 300'000, 3'750'000},
      {"Big", "big", kMax, kMax, std::nullopt, std::nullopt},
  };
  const Count u;
  struct Case {
    std::string name;
    std::string provider, model;
    NormalizedUsage usage;
    Count want;
  };
  const std::vector<Case> cases = {
      {"cached tokens at their own price", "OpenAiProvider", "gpt", {1000, 200, 1200, 400, u, u}, 4920},
      {"one token rounds up", "ClaudeProvider", "claude", {1, 0, 1, u, u, u}, 1},
      {"exact millions do not round", "ClaudeProvider", "claude", {1'000'000, 1'000'000, u, u, u, u}, 2},
      {"no entry for the pair", "OpenAiProvider", "other", {1, 1, 2, 0, 0, 0}, u},
      {"provider compared exactly", "openaiprovider", "gpt", {1, 1, 2, 0, 0, 0}, u},
      {"unknown input", "ClaudeProvider", "claude", {u, 1, u, u, u, u}, u},
      {"unknown output", "ClaudeProvider", "claude", {1, u, u, u, u, u}, u},
      {"cache price but no cached count", "OpenAiProvider", "gpt", {1000, 200, 1200, u, u, u}, u},
      {"cached larger than input", "OpenAiProvider", "gpt", {10, 0, 10, 11, u, u}, u},
      {"creation price but an OpenAI reply", "ClaudeProvider", "cached", {1000, 10, 1010, 100, u, u}, u},
      {"cache reads and writes", "ClaudeProvider", "cached", {1000, 10, 1010, 100, 200, u},
       (100 * 300'000ull + 200 * 3'750'000ull + 700 * 3'000'000ull + 10 * 15'000'000ull + 999'999) / 1'000'000},
      {"cost that does not fit 64 bits", "Big", "big", {kMax, kMax, u, u, u, u}, u},
      {"largest cost that fits", "Big", "big", {1'000'000, 0, u, u, u, u}, kMax},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(price_usage(prices, c.provider, c.model, c.usage), c.want);
  }
}

}  // namespace
}  // namespace vostrel::usage
