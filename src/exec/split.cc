#include "exec/split.h"

namespace vostrel {

namespace {
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n'; }
}  // namespace

SplitResult split_command_words(std::string_view s) {
  SplitResult result;
  std::string word;
  bool in_word = false;  // a word has begun (it may still be empty: "")
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    const char c = s[i];
    if (is_blank(c)) {
      if (in_word) {
        result.words.push_back(std::move(word));
        word.clear();
        in_word = false;
      }
      ++i;
    } else if (c == '#' && !in_word) {
      result.dropped_comment = true;
      while (i < n && s[i] != '\n') ++i;
    } else if (c == '\'') {
      const std::size_t close = s.find('\'', i + 1);
      if (close == std::string_view::npos) return SplitResult{{}, "missing closing quote"};
      word.append(s.substr(i + 1, close - i - 1));
      in_word = true;
      i = close + 1;
    } else if (c == '"') {
      in_word = true;
      ++i;
      for (;;) {
        if (i >= n) return SplitResult{{}, "missing closing quote"};
        const char d = s[i];
        if (d == '"') {
          ++i;
          break;
        }
        if (d == '\\' && i + 1 < n) {
          const char e = s[i + 1];
          if (e == '\n') {
            i += 2;
            continue;
          }
          if (e == '"' || e == '$' || e == '\\' || e == '`') {
            word += e;
            i += 2;
            continue;
          }
        }
        word += d;
        ++i;
      }
    } else if (c == '\\') {
      if (i + 1 >= n) {
        word += '\\';
        in_word = true;
        ++i;
      } else if (s[i + 1] == '\n') {
        i += 2;
      } else {
        word += s[i + 1];
        in_word = true;
        i += 2;
      }
    } else {
      word += c;
      in_word = true;
      ++i;
    }
  }
  if (in_word) result.words.push_back(std::move(word));
  return result;
}

}  // namespace vostrel
