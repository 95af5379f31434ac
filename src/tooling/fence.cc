#include "tooling/fence.h"

#include <cstddef>

#include "unicode/unicode.h"

namespace vostrel::tooling {

namespace {

constexpr std::string_view kTicks = "```";

using unicode::ascii_lower;
using unicode::trim;

bool is_tag_char(char c) { return c == '-' || unicode::is_ascii_word_byte(c); }

// Cuts a text into lines one at a time. A "\r" directly before "\n" belongs to
// the line break; the piece after the last "\n" is a line only when not empty.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) : text_(text) {}

  bool next(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    const std::size_t nl = text_.find('\n', pos_);
    if (nl == std::string_view::npos) {
      line = text_.substr(pos_);
      pos_ = text_.size();
      return true;
    }
    std::size_t end = nl;
    if (end > pos_ && text_[end - 1] == '\r') --end;
    line = text_.substr(pos_, end - pos_);
    pos_ = nl + 1;
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// The fence pattern "```([a-zA-Z0-9_-]+)\s*$" searched in a trimmed line.
// A trimmed line has no white space at its end, and the tag cannot hold a
// backtick, so the only possible match is the whole run of tag characters
// that ends the line, directly preceded by three backticks.
bool opens_with_tag(std::string_view trimmed, std::string_view tag) {
  std::size_t start = trimmed.size();
  while (start > 0 && is_tag_char(trimmed[start - 1])) --start;
  const std::size_t tag_len = trimmed.size() - start;
  if (tag_len == 0 || start < kTicks.size()) return false;
  if (trimmed.substr(start - kTicks.size(), kTicks.size()) != kTicks) return false;
  if (tag_len != tag.size()) return false;
  for (std::size_t i = 0; i < tag_len; ++i) {
    if (ascii_lower(trimmed[start + i]) != tag[i]) return false;
  }
  return true;
}

}  // namespace

std::string extract_fence(std::string_view text, std::string_view tag) {
  LineCursor lines(text);
  std::string_view line;
  while (lines.next(line)) {
    if (!opens_with_tag(trim(line), tag)) continue;
    std::string body;
    bool first = true;
    while (lines.next(line)) {
      if (trim(line) == kTicks) {
        const std::string_view kept = trim(body);
        const auto offset = static_cast<std::size_t>(kept.data() - body.data());
        body.resize(offset + kept.size());
        body.erase(0, offset);
        return body;
      }
      if (!first) body.push_back('\n');
      body.append(line);
      first = false;
    }
    return std::string(kUnclosedFence);
  }
  return std::string();
}

}  // namespace vostrel::tooling
