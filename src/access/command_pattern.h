// The backtracking regular expressions of an access policy's command patterns
// (PCRE2), kept out of the policy header.
#ifndef VOSTREL_ACCESS_COMMAND_PATTERN_H_
#define VOSTREL_ACCESS_COMMAND_PATTERN_H_

#include <memory>
#include <string_view>

namespace vostrel {

// One compiled pattern. Immutable once built and safe to search from several
// threads at once. Not copyable (it owns the compiled program); shared through
// std::shared_ptr<const CommandPattern>.
class CommandPattern {
 public:
  // The compiled pattern, or null when `pattern` does not compile.
  static std::shared_ptr<const CommandPattern> compile(std::string_view pattern);

  ~CommandPattern();
  CommandPattern(const CommandPattern&) = delete;
  CommandPattern& operator=(const CommandPattern&) = delete;

  // Whether the pattern matches anywhere in `text`. A search that gives up
  // (backtracking, depth or memory limit reached, ill-formed UTF-8) is no match.
  bool search(std::string_view text) const;

 private:
  struct Impl;
  explicit CommandPattern(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace vostrel

#endif  // VOSTREL_ACCESS_COMMAND_PATTERN_H_
