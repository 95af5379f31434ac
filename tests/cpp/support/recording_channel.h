// A channel that records what it is sent, and can be told to fail.
#ifndef VOSTREL_TESTS_SUPPORT_RECORDING_CHANNEL_H_
#define VOSTREL_TESTS_SUPPORT_RECORDING_CHANNEL_H_

#include <mutex>
#include <string>
#include <vector>

#include "channel/channel.h"

namespace vostrel::testing {

class RecordingChannel : public Channel {
 public:
  // Lines as "{sender}: {message}" and "system: {message}".
  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  // When set, every operation fails with this Io error and records nothing.
  void fail_with(std::string message) {
    std::lock_guard<std::mutex> lock(mutex_);
    failure_ = std::move(message);
  }

  Status send(std::string_view sender, std::string_view message) override {
    return record(std::string(sender) + ": " + std::string(message));
  }
  Status send_system(std::string_view message) override { return record("system: " + std::string(message)); }
  std::string name() const override { return "RecordingChannel"; }
  std::vector<std::string> paths() const override { return {}; }

 private:
  Status record(std::string line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!failure_.empty()) return CoreError::io(failure_);
    lines_.push_back(std::move(line));
    return ok_status();
  }

  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::string failure_;
};

}  // namespace vostrel::testing

#endif  // VOSTREL_TESTS_SUPPORT_RECORDING_CHANNEL_H_
