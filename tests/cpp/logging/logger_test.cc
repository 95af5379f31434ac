#include "logging/logger.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/fd_capture.h"

namespace vostrel {
namespace {

using testing::FdCapture;

struct Record {
  LogLevel level;
  std::string message;
};

class RecordingSink : public LogSink {
 public:
  void log(LogLevel level, std::string_view message) override {
    std::lock_guard lock(mutex_);
    records_.push_back({level, std::string(message)});
  }
  std::vector<Record> records() {
    std::lock_guard lock(mutex_);
    return records_;
  }

 private:
  std::mutex mutex_;
  std::vector<Record> records_;
};

// The logger is process-wide: every test leaves the default sink behind.
class LoggerTest : public ::testing::Test {
 protected:
  void TearDown() override { install_log_sink(std::make_shared<StderrLogSink>()); }
};

TEST_F(LoggerTest, DefaultSinkWritesWarningsAndErrorsToStandardError) {
  struct Case {
    const char* name;
    LogLevel level;
    std::string message;
    std::string expected;
  };
  const Case cases[] = {
      {"debug is dropped", LogLevel::kDebug, "details", ""},
      {"warning", LogLevel::kWarning, "retrying in 2s", "WARNING: retrying in 2s\n"},
      {"error", LogLevel::kError, "Channel log failed to deliver", "ERROR: Channel log failed to deliver\n"},
      {"line breaks kept", LogLevel::kWarning, "a\nb\r\n", "WARNING: a\nb\r\n\n"},
      {"empty message", LogLevel::kError, "", "ERROR: \n"},
      {"non-ASCII and NUL", LogLevel::kWarning, std::string("caf\xc3\xa9\0x", 7), std::string("WARNING: caf\xc3\xa9\0x\n", 17)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FdCapture out(STDOUT_FILENO);
    FdCapture err(STDERR_FILENO);
    log_message(c.level, c.message);
    EXPECT_EQ(err.finish(), c.expected);
    EXPECT_EQ(out.finish(), "");
  }
}

// Long lines exceed what a pipe takes in one piece; without serialising the
// writes, parts of two lines could land inside each other.
TEST_F(LoggerTest, ConcurrentLinesAreNeverTorn) {
  constexpr int kThreads = 8;
  constexpr int kLines = 200;
  const std::size_t kLengths[] = {1, 100, 5000, 70000};
  FdCapture err(STDERR_FILENO);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) {
        const std::size_t len = kLengths[static_cast<std::size_t>(i) % std::size(kLengths)];
        std::string message = std::to_string(t) + " " + std::to_string(i) + " ";
        message.append(len, static_cast<char>('a' + t));
        log_message(i % 2 == 0 ? LogLevel::kWarning : LogLevel::kError, message);
        log_message(LogLevel::kDebug, "dropped");
      }
    });
  }
  for (auto& th : threads) th.join();
  const std::string text = err.finish();

  std::vector<std::vector<bool>> seen(kThreads, std::vector<bool>(kLines, false));
  int lines = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "output does not end with a line break";
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    ++lines;
    int t = -1;
    int i = -1;
    char prefix[8] = {};
    int consumed = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%7[A-Z]: %d %d %n", prefix, &t, &i, &consumed), 3) << line.substr(0, 80);
    ASSERT_TRUE(t >= 0 && t < kThreads && i >= 0 && i < kLines) << line.substr(0, 80);
    EXPECT_EQ(std::string(prefix), i % 2 == 0 ? "WARNING" : "ERROR");
    const std::size_t len = kLengths[static_cast<std::size_t>(i) % std::size(kLengths)];
    ASSERT_EQ(line.size() - static_cast<std::size_t>(consumed), len) << "torn line from thread " << t;
    EXPECT_EQ(line.find_first_not_of(static_cast<char>('a' + t), static_cast<std::size_t>(consumed)),
              std::string::npos);
    EXPECT_FALSE(seen[static_cast<std::size_t>(t)][static_cast<std::size_t>(i)]);
    seen[static_cast<std::size_t>(t)][static_cast<std::size_t>(i)] = true;
  }
  EXPECT_EQ(lines, kThreads * kLines);
}

TEST_F(LoggerTest, InstalledSinkReceivesEveryLevelAndStandardErrorNothing) {
  auto sink = std::make_shared<RecordingSink>();
  install_log_sink(sink);
  FdCapture err(STDERR_FILENO);
  log_message(LogLevel::kDebug, "d");
  log_message(LogLevel::kWarning, "w");
  log_message(LogLevel::kError, "e");
  install_log_sink(nullptr);  // ignored: the logger keeps a sink
  log_message(LogLevel::kWarning, "after null");
  EXPECT_EQ(err.finish(), "");
  const auto records = sink->records();
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].level, LogLevel::kDebug);
  EXPECT_EQ(records[1].level, LogLevel::kWarning);
  EXPECT_EQ(records[2].level, LogLevel::kError);
  EXPECT_EQ(records[2].message, "e");
  EXPECT_EQ(records[3].message, "after null");
}

// A sink runs with no logger lock held, so it may log and install sinks itself.
class ReentrantSink : public LogSink {
 public:
  explicit ReentrantSink(std::shared_ptr<RecordingSink> next) : next_(std::move(next)) {}
  void log(LogLevel, std::string_view message) override {
    if (message != "first") return;
    log_message(LogLevel::kWarning, "nested");  // still reaches this sink
    install_log_sink(next_);
    log_message(LogLevel::kError, "to next");
  }

 private:
  std::shared_ptr<RecordingSink> next_;
};

TEST_F(LoggerTest, SinkMayLogAndInstallFromInsideLog) {
  auto next = std::make_shared<RecordingSink>();
  install_log_sink(std::make_shared<ReentrantSink>(next));
  log_message(LogLevel::kWarning, "first");
  const auto records = next->records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, "to next");
}

// A call in progress keeps the sink it started with alive across a replacement.
class BlockingSink : public LogSink {
 public:
  void log(LogLevel, std::string_view) override {
    std::unique_lock lock(mutex_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return released_; });
  }
  void wait_entered() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return entered_; });
  }
  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool entered_ = false;
  bool released_ = false;
};

TEST_F(LoggerTest, ReplacedSinkLivesUntilCallsInProgressReturn) {
  auto blocking = std::make_shared<BlockingSink>();
  std::weak_ptr<BlockingSink> watch = blocking;
  install_log_sink(blocking);
  std::thread caller([] { log_message(LogLevel::kWarning, "slow"); });
  blocking->wait_entered();
  auto next = std::make_shared<RecordingSink>();
  install_log_sink(next);  // must not wait for the call in progress
  log_message(LogLevel::kError, "meanwhile");
  BlockingSink* raw = blocking.get();
  blocking.reset();
  EXPECT_FALSE(watch.expired());
  raw->release();
  caller.join();
  EXPECT_TRUE(watch.expired());
  ASSERT_EQ(next->records().size(), 1u);
  EXPECT_EQ(next->records()[0].message, "meanwhile");
}

}  // namespace
}  // namespace vostrel
