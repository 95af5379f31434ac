// Shell-style splitting of a command line into words, without a shell and
// without any expansion.
#ifndef VOSTREL_EXEC_SPLIT_H_
#define VOSTREL_EXEC_SPLIT_H_

#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

// The words of `line`, or the splitter's message ("missing closing quote").
// Blanks, tabs and newlines separate words; single quotes are literal; in
// double quotes a backslash escapes only " $ \ ` and newline; outside quotes
// it escapes any character; backslash-newline vanishes; "" makes an empty
// word; "#" at the start of a word comments out the rest of the line; a
// trailing lone backslash is kept.
struct SplitResult {
  std::vector<std::string> words;
  std::string error;  // empty on success
  bool dropped_comment = false;  // a "#" comment was left out of the words
  bool ok() const { return error.empty(); }
};
SplitResult split_command_words(std::string_view line);

}  // namespace vostrel

#endif  // VOSTREL_EXEC_SPLIT_H_
