#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>

#include "logging/logger.h"
#include "provider/shared.h"
#include "support/scripted_provider.h"
#include "usage/scope.h"

namespace vostrel::provider {
namespace {

using testing::http_error;
using testing::ScriptedProvider;

class RecordingSink : public LogSink {
 public:
  void log(LogLevel level, std::string_view message) override {
    std::lock_guard lock(mutex_);
    lines_.push_back((level == LogLevel::kWarning ? "W " : "? ") + std::string(message));
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

class RetryTest : public ::testing::Test {
 protected:
  void SetUp() override { install_log_sink(sink_); }
  void TearDown() override { install_log_sink(std::make_shared<StderrLogSink>()); }

  Result<ProviderResponse> call(Provider& p, ToolList tools = std::nullopt,
                                std::string_view purpose = "turn") {
    return chat_with_retries_using(p, "m", messages_, purpose, tools, ReasoningEffort::kHigh,
                                   [this](double s) { waits_.push_back(s); });
  }

  std::shared_ptr<RecordingSink> sink_ = std::make_shared<RecordingSink>();
  std::vector<double> waits_;
  Messages messages_ = {JsonObject{{"role", "user"}, {"content", "hi"}}};
  std::vector<ToolSpec> tools_ = {ToolSpec::make("read_file", "Reads a file", JsonObject{{"type", "object"}}, nullptr)};
};

TEST_F(RetryTest, AttemptsAndWaitsFollowTheSettings) {
  struct Case {
    std::string name;
    RetrySettings settings;
    std::vector<double> waits;
  };
  const std::vector<Case> cases = {
      {"defaults: linear back-off", {}, {2.0, 4.0}},
      {"no retries", {0, 2.0, std::nullopt, std::nullopt}, {}},
      {"fixed interval", {2, 2.0, 5.0, std::nullopt}, {5.0, 5.0}},
      {"zero interval falls back to back-off", {2, 2.0, 0.0, std::nullopt}, {2.0, 4.0}},
      {"negative interval falls back to back-off", {2, 2.0, -1.0, std::nullopt}, {2.0, 4.0}},
      {"zero back-off never waits", {3, 0.0, std::nullopt, std::nullopt}, {}},
      {"NaN back-off never waits", {1, std::nan(""), std::nullopt, std::nullopt}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    waits_.clear();
    ScriptedProvider p(c.settings);
    for (std::uint32_t i = 0; i <= c.settings.retries; ++i) p.push_error(http_error(500, "attempt " + std::to_string(i)));
    Result<ProviderResponse> r = call(p);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().body, "attempt " + std::to_string(c.settings.retries)) << "the last error is returned";
    EXPECT_EQ(p.calls().size(), c.settings.retries + 1u);
    EXPECT_EQ(waits_, c.waits);
  }
}

TEST_F(RetryTest, EmptyRepliesAreRetriedAndReportedWithTheirStopReason) {
  ScriptedProvider p;
  p.push_reply(" \n\t ", {}, "length");
  p.push_reply("", {}, "");
  p.push_reply("\u3000", {}, "max_tokens");
  Result<ProviderResponse> r = call(p, std::nullopt, "summary");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, ErrorKind::kProviderEmpty);
  EXPECT_EQ(r.error().message, "Empty response from m for summary (stop reason: max_tokens)");

  ScriptedProvider q({0, 0, {}, {}});
  q.push_reply("");
  EXPECT_EQ(call(q).error().message, "Empty response from m for turn");

  // Empty text with a tool call is a reply, taken at once.
  ScriptedProvider t;
  ProviderResponse with_call;
  with_call.tool_calls.push_back({"read_file", {}, "c1"});
  t.push(with_call);
  waits_.clear();
  Result<ProviderResponse> ok = call(t);
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(t.calls().size(), 1u);
  EXPECT_TRUE(waits_.empty());
}

TEST_F(RetryTest, SucceedsOnALaterAttempt) {
  ScriptedProvider p;
  p.push_error(CoreError::provider_network("u", "reset"));
  p.push_reply("fine");
  Result<ProviderResponse> r = call(p);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->content, "fine");
  EXPECT_EQ(waits_, std::vector<double>{2.0});
}

TEST_F(RetryTest, NonProviderErrorsBecomeAllRetriesExhausted) {
  ScriptedProvider p({1, 0, {}, {}});
  p.push_error(CoreError::io("disk"));
  p.push_error(CoreError::value("bad value"));
  Result<ProviderResponse> r = call(p, std::nullopt, "compaction");
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().kind, ErrorKind::kProvider);
  EXPECT_EQ(r.error().message, "All retries exhausted for compaction: bad value");
  EXPECT_EQ(sink_->lines(), std::vector<std::string>{"W Provider failed for compaction: bad value"});
}

TEST_F(RetryTest, CleanupRefusesEveryAttemptWithoutCallingTheProvider) {
  ScriptedProvider p;
  usage::set_run_cleanup_guard(usage::kCleanupClosing);
  Result<ProviderResponse> r = call(p, std::nullopt, "memory");
  usage::set_run_cleanup_guard(usage::kCleanupNormal);
  ASSERT_FALSE(r.ok());
  const std::string refusal(usage::kCleanupRefusal);
  EXPECT_EQ(r.error().message, "All retries exhausted for memory: " + refusal);
  EXPECT_TRUE(p.calls().empty());
  EXPECT_EQ(waits_, (std::vector<double>{2.0, 4.0}));
  EXPECT_EQ(sink_->lines(), std::vector<std::string>{"W Provider failed for memory: " + refusal});
  // chat_dispatch refuses at once too.
  usage::set_run_cleanup_guard(usage::kCleanupClosing);
  Result<ProviderResponse> d = p.chat_dispatch("m", messages_, std::nullopt, ReasoningEffort::kLow);
  EXPECT_EQ(usage::run_cleanup_guard(), usage::kCleanupRefused);
  usage::set_run_cleanup_guard(usage::kCleanupNormal);
  ASSERT_FALSE(d.ok());
  EXPECT_EQ(d.error().kind, ErrorKind::kSession);
  EXPECT_EQ(d.error().message, refusal);
}

TEST_F(RetryTest, ToolsLatchFallsBackToTheTextProtocol) {
  ScriptedProvider p({0, 0, {}, {}}, "OpenAiProvider");
  p.push_error(http_error(400, "This model does not support Tools"));
  p.push_reply("answer in text");
  EXPECT_EQ(p.effective_dialect(), ToolDialect::kOpenai);
  Result<ProviderResponse> r = call(p, tools_);
  ASSERT_TRUE(r.ok()) << r.error().error_text();
  std::vector<testing::ScriptedCall> calls = p.calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].tool_count, 1u);
  EXPECT_FALSE(calls[1].tools_given) << "the repeat sends no tools";
  EXPECT_EQ(p.effective_dialect(), ToolDialect::kText);
  EXPECT_EQ(sink_->lines(), std::vector<std::string>{
                                "W Provider OpenAiProvider rejected native tool calling (HTTP 400); falling back "
                                "to the text protocol for the rest of this session."});
  // From now on chat_dispatch passes no tools even when some are given.
  p.push_reply("again");
  ASSERT_TRUE(p.chat_dispatch("m", messages_, tools_, ReasoningEffort::kHigh).ok());
  EXPECT_FALSE(p.calls().back().tools_given);
}

TEST_F(RetryTest, LatchesFireOnlyForRejectionsThatNameThem) {
  struct Case {
    std::string name;
    CoreError error;
    bool with_tools;
    std::size_t calls;  // chat calls made (retries = 0)
    bool tools_latched;
    bool effort_latched;
  };
  const std::vector<Case> cases = {
      {"413 naming tools", http_error(413, "too many tools"), true, 1, false, false},
      {"500 naming tools", http_error(500, "tool failure"), true, 1, false, false},
      {"404 naming tools, none given", http_error(404, "tools unsupported"), false, 1, false, false},
      {"network error", CoreError::provider_network("u", "tool reasoning"), true, 1, false, false},
      {"422 naming tools", http_error(422, "TOOL_CHOICE invalid"), true, 2, true, false},
      {"400 naming reasoning", http_error(400, "Unsupported parameter: Reasoning"), false, 2, false, true},
      {"404 naming output_config", http_error(404, "unknown output_config"), true, 2, false, true},
      {"400 naming something else", http_error(400, "bad request"), true, 1, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedProvider p({0, 0, {}, {}});
    p.push_error(c.error);
    p.push_reply("ok");
    Result<ProviderResponse> r = call(p, c.with_tools ? ToolList(tools_) : std::nullopt);
    EXPECT_EQ(p.calls().size(), c.calls);
    EXPECT_EQ(p.state().native_tools_rejected.load(), c.tools_latched);
    EXPECT_EQ(p.state().reasoning_effort_rejected.load(), c.effort_latched);
    EXPECT_EQ(r.ok(), c.calls == 2);
    if (!r.ok()) {
      EXPECT_EQ(r.error(), c.error) << "returned unchanged";
    }
  }
}

TEST_F(RetryTest, ToolsThenEffortLatchGivesAThirdCallWithNeither) {
  ScriptedProvider p({0, 0, {}, {}}, "CustomProvider");
  p.push_error(http_error(422, "tool and effort both unsupported"));
  p.push_error(http_error(422, "effort unsupported"));
  p.push_reply("ok");
  Result<ProviderResponse> r = call(p, tools_);
  ASSERT_TRUE(r.ok()) << r.error().error_text();
  std::vector<testing::ScriptedCall> calls = p.calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_TRUE(calls[0].tools_given && !calls[0].effort_latched);
  EXPECT_TRUE(!calls[1].tools_given && !calls[1].effort_latched);
  EXPECT_TRUE(!calls[2].tools_given && calls[2].effort_latched);
  EXPECT_EQ(sink_->lines().size(), 2u);
  EXPECT_EQ(sink_->lines()[1],
            "W Provider CustomProvider rejected the reasoning effort parameter (HTTP 422); omitting it for the "
            "rest of this session.");
  // A second effort refusal after the latch: no warning, no re-send.
  p.push_error(http_error(400, "reasoning"));
  Result<ProviderResponse> again = call(p);
  EXPECT_FALSE(again.ok());
  EXPECT_EQ(sink_->lines().size(), 2u);
  EXPECT_FALSE(p.note_reasoning_effort_rejected(http_error(400, "reasoning")));
  EXPECT_EQ(p.effective_effort(ReasoningEffort::kLow), std::nullopt);
}

TEST_F(RetryTest, EffortLatchWarnsExactlyOnceAcrossThreads) {
  ScriptedProvider p;
  std::vector<std::thread> threads;
  std::atomic<int> winners{0};
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      if (p.note_reasoning_effort_rejected(http_error(400, "reasoning_effort"))) ++winners;
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(winners.load(), 1);
  EXPECT_EQ(sink_->lines().size(), 1u);
}

TEST(ReasoningEffortTest, ParsesTheSixNamesExactly) {
  struct Case {
    std::string text;
    std::optional<ReasoningEffort> want;
  };
  for (const Case& c : std::vector<Case>{{"minimal", ReasoningEffort::kMinimal},
                                         {"xhigh", ReasoningEffort::kXhigh},
                                         {"max", ReasoningEffort::kMax},
                                         {"High", std::nullopt},
                                         {" high", std::nullopt},
                                         {"", std::nullopt}}) {
    SCOPED_TRACE(c.text);
    Result<ReasoningEffort> r = parse_reasoning_effort(c.text);
    if (c.want) {
      ASSERT_TRUE(r.ok());
      EXPECT_EQ(*r, *c.want);
      EXPECT_EQ(reasoning_effort_name(*r), c.text);
    } else {
      ASSERT_FALSE(r.ok());
      EXPECT_EQ(r.error().kind, ErrorKind::kValue);
      EXPECT_EQ(r.error().message, "Unknown reasoning effort " + std::string(c.text.empty() ? "''" : "'" + c.text + "'") +
                                       ". Expected 'minimal', 'low', 'medium', 'high', 'xhigh', or 'max'.");
    }
  }
  ScriptedProvider p;
  EXPECT_EQ(p.effective_effort(std::nullopt), std::nullopt);
  EXPECT_EQ(p.effective_effort(ReasoningEffort::kLow), ReasoningEffort::kLow);
}

// One provider call inside a run: the agent step's own operation, the retry
// attempt's and the dispatch's nest on one meter, and each attempt leaves one
// record made by the innermost layer.
TEST_F(RetryTest, NestedOperationsLeaveOneRecordPerAttempt) {
  auto meter = *usage::UsageMeter::create({}, {{"ScriptedProvider", "m", 1'000'000, 2'000'000, {}, {}}}, {});
  ScriptedProvider p;
  p.push_error(http_error(500, "overloaded"));
  p.push_reply("done", {{"prompt_tokens", 10}, {"completion_tokens", 3}});
  {
    usage::ScopedUsage scope({"alice", "agent", meter});
    auto outer = usage::begin_provider_operation(meter);
    ASSERT_TRUE(outer.ok());
    Result<ProviderResponse> r = call(p, std::nullopt, "turn");
    ASSERT_TRUE(r.ok());
    auto popped = usage::pop_provider_operation(*outer);
    ASSERT_TRUE(popped.has_value());
    EXPECT_FALSE(popped->counted) << "an inner layer recorded the call";
    EXPECT_EQ(usage::active_usage_scope()->purpose, "agent") << "the attempt's scope is gone";
  }
  const usage::UsageLedger& ledger = meter->ledger;
  ASSERT_EQ(ledger.records.size(), 2u);
  EXPECT_TRUE(ledger.records[0].failed);
  EXPECT_FALSE(ledger.records[0].opaque);
  EXPECT_EQ(ledger.records[0].purpose, "turn");
  EXPECT_EQ(ledger.records[0].actor, "alice");
  EXPECT_EQ(ledger.records[1].usage.total_tokens, 13u);
  EXPECT_EQ(ledger.records[1].cost_microusd, 16u);
  EXPECT_EQ(ledger.records[1].provider, "ScriptedProvider");
  EXPECT_EQ(meter->in_flight, 0u);

  // A budget refusal is retried like any error and ends as "All retries exhausted".
  auto tight = *usage::UsageMeter::create({0, {}, {}, {}, {}, usage::BudgetMode::kHard}, {}, {});
  usage::ScopedUsage scope({"bob", "agent", tight});
  Result<ProviderResponse> refused = call(p, std::nullopt, "turn");
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, "All retries exhausted for turn: provider operation budget exhausted");
  EXPECT_TRUE(tight->ledger.records.empty());
}

// A provider that does not meter its own dispatch: the retry attempt records
// the call as opaque.
class UnmeteredProvider : public ScriptedProvider {
 public:
  using ScriptedProvider::ScriptedProvider;
  Result<ProviderResponse> chat_dispatch(std::string_view model, const Messages& messages, ToolList tools,
                                         ReasoningEffort effort) override {
    return chat(model, messages, tools, effort);
  }
};

TEST_F(RetryTest, AttemptRecordsOpaqueWhenTheDispatchDoesNot) {
  auto meter = *usage::UsageMeter::create({}, {}, {});
  UnmeteredProvider p;
  p.push_reply("done", {{"prompt_tokens", 10}, {"completion_tokens", 3}});
  usage::ScopedUsage scope({"carol", "agent", meter});
  ASSERT_TRUE(call(p).ok());
  ASSERT_EQ(meter->ledger.records.size(), 1u);
  EXPECT_TRUE(meter->ledger.records[0].opaque);
  EXPECT_FALSE(meter->ledger.records[0].failed);
  EXPECT_EQ(meter->ledger.records[0].usage, usage::NormalizedUsage{});
}

}  // namespace
}  // namespace vostrel::provider
