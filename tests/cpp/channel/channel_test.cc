// The output channels and their time stamps.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "channel/channel.h"
#include "channel/console_output.h"
#include "channel/timestamp.h"
#include "json/reader.h"
#include "json/value.h"
#include "support/recording_channel.h"
#include "support/temp_dir.h"

namespace vostrel {
namespace {

namespace fs = std::filesystem;

using testing::TempDir;

std::vector<std::string> read_lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string read_all(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Timestamps, Formats) {
  struct Case {
    std::int64_t seconds;
    std::uint32_t nanos;
    const char* iso;
    const char* compact;
  };
  const std::vector<Case> cases = {
      {0, 0, "1970-01-01T00:00:00+00:00", "19700101T000000Z"},
      {0, 999, "1970-01-01T00:00:00+00:00", "19700101T000000Z"},  // below a microsecond
      {0, 1000, "1970-01-01T00:00:00.000001+00:00", "19700101T000000Z"},
      {1741943107, 250'000, "2025-03-14T09:05:07.000250+00:00", "20250314T090507Z"},
      {1741943107, 999'999'999, "2025-03-14T09:05:07.999999+00:00", "20250314T090507Z"},
      {951782400, 0, "2000-02-29T00:00:00+00:00", "20000229T000000Z"},
      {4107542399, 0, "2100-02-28T23:59:59+00:00", "21000228T235959Z"},
      {4107542400, 0, "2100-03-01T00:00:00+00:00", "21000301T000000Z"},
      {253402300799, 500'000'000, "9999-12-31T23:59:59.500000+00:00", "99991231T235959Z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.iso);
    EXPECT_EQ(utc_iso_timestamp({c.seconds, c.nanos}), c.iso);
    EXPECT_EQ(utc_compact_stamp({c.seconds, c.nanos}), c.compact);
  }
}

TEST(FileChannel, AppendsLines) {
  TempDir dir;
  const std::string path = dir.path() + "/sub/out.txt";
  FileChannel channel(path);
  EXPECT_EQ(channel.name(), "FileChannel");
  EXPECT_EQ(channel.paths(), std::vector<std::string>{path});

  // The directory is never created; the channel works once it exists.
  Status s = channel.send("Ada", "hello");
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind, ErrorKind::kIo);
  EXPECT_EQ(s.error().message, path + ": No such file or directory");
  fs::create_directories(dir.path() + "/sub");
  ASSERT_TRUE(channel.send("Ada", "hello").ok());
  ASSERT_TRUE(channel.send_system("two\nlines").ok());
  ASSERT_TRUE(FileChannel(path).send("Bob", "").ok());
  EXPECT_EQ(read_all(path), "[Ada] hello\n[System] two\nlines\n[Bob] \n");
}

TEST(FileChannel, ParallelWritersNeverSplitLines) {
  TempDir dir;
  const std::string path = dir.path() + "/out.txt";
  auto channel = std::make_shared<FileChannel>(path);
  const std::string body(3000, 'x');
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) ASSERT_TRUE(channel->send("agent" + std::to_string(t), body).ok());
    });
  }
  for (auto& th : threads) th.join();
  const std::vector<std::string> lines = read_lines(path);
  ASSERT_EQ(lines.size(), 400u);
  for (const std::string& line : lines) {
    ASSERT_TRUE(line.starts_with("[agent")) << line.substr(0, 40);
    ASSERT_TRUE(line.ends_with("] " + body));
  }
}

TEST(LogChannel, WritesJsonLines) {
  TempDir dir;
  const std::string log_dir = dir.path() + "/a/b";
  Result<std::shared_ptr<LogChannel>> made = LogChannel::create(log_dir);
  ASSERT_TRUE(made.ok()) << made.error().message;
  LogChannel& channel = **made;
  EXPECT_EQ(channel.name(), "LogChannel");
  ASSERT_EQ(channel.paths().size(), 1u);
  const std::string path = channel.paths()[0];
  const std::string file = fs::path(path).filename().string();
  EXPECT_EQ(fs::path(path).parent_path().string(), log_dir);
  ASSERT_EQ(file.size(), std::string("session_20250314T090507Z.jsonl").size()) << file;
  EXPECT_TRUE(file.starts_with("session_") && file.ends_with("Z.jsonl") && file[16] == 'T') << file;
  EXPECT_FALSE(fs::exists(path));  // created by the first line

  ASSERT_TRUE(channel.send("Ada", "caf\u00e9\nline \"two\"").ok());
  ASSERT_TRUE(channel.send_system("compacted").ok());
  const std::vector<std::string> lines = read_lines(path);
  ASSERT_EQ(lines.size(), 2u);
  struct Expected {
    const char* prefix;
  };
  const std::vector<std::string> prefixes = {
      "{\"role\": \"assistant\", \"sender\": \"Ada\", \"content\": \"caf\\u00e9\\nline \\\"two\\\"\", \"ts\": \"",
      "{\"role\": \"system\", \"sender\": \"system\", \"content\": \"compacted\", \"ts\": \""};
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(lines[i]);
    EXPECT_TRUE(lines[i].starts_with(prefixes[i]));
    Result<JsonValue> parsed = parse_json(lines[i]);
    ASSERT_TRUE(parsed.ok());
    const std::string& ts = parsed->as_object().find("ts")->as_string();
    // 2025-03-14T09:05:07[.ffffff]+00:00
    ASSERT_TRUE(ts.size() == 25 || ts.size() == 32) << ts;
    EXPECT_TRUE(ts.ends_with("+00:00"));
    EXPECT_EQ(ts.substr(4, 1) + ts.substr(7, 1) + ts.substr(10, 1) + ts.substr(13, 1) + ts.substr(16, 1), "--T::");
    EXPECT_EQ(ts.substr(0, 4) + ts.substr(5, 2) + ts.substr(8, 2), file.substr(8, 8));
  }

  // A second channel made in the same second names the same file and appends.
  const std::string name_now = fs::path((*LogChannel::create(log_dir))->paths()[0]).filename().string();
  if (name_now == file) {
    ASSERT_TRUE((*LogChannel::create(log_dir))->send("Bob", "x").ok());
    EXPECT_EQ(read_lines(path).size(), 3u);
  }
}

TEST(LogChannel, DirectoryThatCannotBeMade) {
  TempDir dir;
  std::ofstream(dir.path() + "/file") << "x";
  Result<std::shared_ptr<LogChannel>> made = LogChannel::create(dir.path() + "/file/logs");
  ASSERT_FALSE(made.ok());
  EXPECT_EQ(made.error().kind, ErrorKind::kIo);
  EXPECT_TRUE(made.error().message.starts_with(dir.path() + "/file/logs: ")) << made.error().message;
}

TEST(LogChannel, EmptyDirectoryIsTheCurrentOne) {
  TempDir dir;
  const fs::path previous = fs::current_path();
  fs::current_path(dir.path());
  Result<std::shared_ptr<LogChannel>> made = LogChannel::create("");
  Status sent = made.ok() ? (*made)->send("Ada", "hi") : Status(made.error());
  fs::current_path(previous);
  ASSERT_TRUE(sent.ok()) << sent.error().message;
  const std::string path = (*made)->paths()[0];
  EXPECT_TRUE(path.starts_with("session_") && path.find('/') == std::string::npos) << path;
  EXPECT_EQ(read_lines(dir.path() + "/" + path).size(), 1u);
}

// Records console lines in place of standard output for one test.
class RecordingOutput : public ConsoleOutput {
 public:
  Status write(std::string_view text) override {
    std::lock_guard<std::mutex> lock(mutex);
    lines.emplace_back(text);
    return ok_status();
  }
  std::mutex mutex;
  std::vector<std::string> lines;
};

class ConsoleChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { install_console_output(output_); }
  void TearDown() override { install_console_output(std::make_shared<StdoutConsoleOutput>()); }
  std::shared_ptr<RecordingOutput> output_ = std::make_shared<RecordingOutput>();
};

TEST_F(ConsoleChannelTest, NullOutputKeepsTheInstalledOne) {
  install_console_output(nullptr);
  ASSERT_TRUE(console_write("still here").ok());
  EXPECT_EQ(output_->lines, (std::vector<std::string>{"still here"}));
}

TEST_F(ConsoleChannelTest, Lines) {
  struct Case {
    const char* format;
    const char* sender;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"[{sender}]", "Ada", "[Ada] hello"},
      {"<{sender}>", "Ada", "<Ada> hello"},
      {"no field", "Ada", "no field hello"},
      {"", "Ada", " hello"},
      {"{sender}/{sender}", "Ada", "Ada/Ada hello"},
      {"[{sender}]", "{sender}", "[{sender}] hello"},  // inserted once, not again
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    output_->lines.clear();
    ConsoleChannel channel(c.format);
    ASSERT_TRUE(channel.send(c.sender, "hello").ok());
    ASSERT_TRUE(channel.send_system("note").ok());
    EXPECT_EQ(output_->lines, (std::vector<std::string>{c.expected, "[System] note"}));
  }
  EXPECT_TRUE(ConsoleChannel().paths().empty());
  EXPECT_EQ(ConsoleChannel().name(), "ConsoleChannel");
}

TEST_F(ConsoleChannelTest, MultiChannelDeliversToEveryMember) {
  TempDir dir;
  auto failing = std::make_shared<testing::RecordingChannel>();
  failing->fail_with("disk full");
  auto recording = std::make_shared<testing::RecordingChannel>();
  auto file = std::make_shared<FileChannel>(dir.path() + "/out.txt");
  MultiChannel multi({failing, std::make_shared<ConsoleChannel>(), recording, file});
  EXPECT_EQ(multi.name(), "MultiChannel");
  EXPECT_EQ(multi.paths(), std::vector<std::string>{dir.path() + "/out.txt"});

  ::testing::internal::CaptureStderr();
  Status sent = multi.send("Ada", "hi");
  Status sent_system = multi.send_system("note");
  const std::string logged = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(sent.ok());
  EXPECT_TRUE(sent_system.ok());
  EXPECT_EQ(logged,
            "ERROR: Channel RecordingChannel failed to deliver; continuing: disk full\n"
            "ERROR: Channel RecordingChannel failed to deliver; continuing: disk full\n");
  EXPECT_EQ(output_->lines, (std::vector<std::string>{"[Ada] hi", "[System] note"}));
  EXPECT_EQ(recording->lines(), (std::vector<std::string>{"Ada: hi", "system: note"}));
  EXPECT_EQ(read_all(dir.path() + "/out.txt"), "[Ada] hi\n[System] note\n");

  MultiChannel empty({});
  EXPECT_TRUE(empty.send("a", "b").ok());
  EXPECT_TRUE(empty.paths().empty());
}

}  // namespace
}  // namespace vostrel
