#include "orchestrator/matching.h"

#include <cstdint>
#include <cstring>

#include "unicode/unicode.h"

namespace vostrel::orchestrator {

namespace {

unsigned char folded(char c) { return static_cast<unsigned char>(unicode::ascii_lower(c)); }

bool equal_folded(const char* a, const char* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (folded(a[i]) != folded(b[i])) return false;
  }
  return true;
}

}  // namespace

bool contains_keyword(std::string_view text, std::string_view keyword) {
  const std::size_t n = keyword.size();
  if (n == 0 || n > text.size()) return false;
  const unsigned char first_lower = folded(keyword[0]);
  const unsigned char first_upper =
      (first_lower >= 'a' && first_lower <= 'z') ? static_cast<unsigned char>(first_lower - 32)
                                                 : first_lower;
  const std::size_t last_start = text.size() - n;
  const char* data = text.data();
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  // Next start candidates for each case of the first byte; each is searched
  // again only once the scan has passed it, so the scan stays linear.
  const auto next_from = [&](unsigned char c, std::size_t from) {
    const void* hit = std::memchr(data + from, c, last_start - from + 1);
    return hit == nullptr ? kNone : static_cast<std::size_t>(static_cast<const char*>(hit) - data);
  };
  std::size_t next_lower = next_from(first_lower, 0);
  std::size_t next_upper = first_upper == first_lower ? kNone : next_from(first_upper, 0);
  std::size_t pos = 0;
  while (true) {
    if (next_lower != kNone && next_lower < pos) next_lower = next_from(first_lower, pos);
    if (next_upper != kNone && next_upper < pos) next_upper = next_from(first_upper, pos);
    pos = next_lower < next_upper ? next_lower : next_upper;
    if (pos == kNone) return false;
    if (equal_folded(data + pos, keyword.data(), n)) {
      const bool left_ok =
          pos == 0 || !unicode::is_ascii_word_byte(data[pos - 1]);
      const bool right_ok = pos + n == text.size() ||
                            !unicode::is_ascii_word_byte(data[pos + n]);
      if (left_ok && right_ok) return true;
    }
    if (pos == last_start) return false;
    ++pos;
  }
}

std::optional<std::string> consensus_keyword(const std::vector<std::string>& keywords) {
  for (const std::string& keyword : keywords) {
    if (unicode::to_uppercase(keyword).find("CONSENSUS") != std::string::npos) return keyword;
  }
  return std::nullopt;
}

std::optional<AddressedAgent> find_addressed_agent(std::string_view text,
                                                   const std::vector<std::string>& names) {
  // One pass over the "@" signs of the text: after each, a walk down a trie of
  // the names finds every name spelled there at once, so the cost grows with
  // the text and the longest name, not with the number of names.
  struct Node {
    std::vector<std::pair<unsigned char, std::uint32_t>> next;
    std::vector<std::uint32_t> names;  // indices of the names ending here
  };
  std::vector<Node> trie(1);
  std::vector<bool> ends_in_word(names.size(), false);
  for (std::uint32_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    if (name.empty()) continue;
    ends_in_word[i] =
        unicode::is_word_char(unicode::decode_utf8_before(name, name.size()).code_point);
    std::uint32_t node = 0;
    for (char ch : name) {
      const unsigned char c = static_cast<unsigned char>(ch);
      std::uint32_t child = 0;
      for (const auto& [byte, index] : trie[node].next) {
        if (byte == c) child = index;
      }
      if (child == 0) {
        child = static_cast<std::uint32_t>(trie.size());
        trie[node].next.emplace_back(c, child);
        trie.emplace_back();
      }
      node = child;
    }
    trie[node].names.push_back(i);
  }
  if (trie.size() == 1) return std::nullopt;

  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t best = kNone;      // lowest list index with an accepted mention
  std::size_t best_end = 0;      // where that mention ends
  const char* data = text.data();
  std::size_t from = 0;
  while (best != 0 && from < text.size()) {
    const void* hit = std::memchr(data + from, '@', text.size() - from);
    if (hit == nullptr) break;
    const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
    from = at + 1;
    std::uint32_t node = 0;
    for (std::size_t q = at + 1; q < text.size(); ++q) {
      const unsigned char c = static_cast<unsigned char>(data[q]);
      std::uint32_t child = 0;
      for (const auto& [byte, index] : trie[node].next) {
        if (byte == c) child = index;
      }
      if (child == 0) break;
      node = child;
      const std::vector<std::uint32_t>& ending = trie[node].names;
      if (ending.empty() || ending.front() >= best) continue;
      const std::size_t end = q + 1;
      const bool next_is_word =
          end < text.size() && unicode::is_word_char(unicode::decode_utf8(text, end).code_point);
      // Every name ending here is the same text; the first listed decides.
      if (ends_in_word[ending.front()] != next_is_word) {
        best = ending.front();
        best_end = end;
      }
    }
  }
  if (best == kNone) return std::nullopt;
  std::string_view rest = unicode::trim(text.substr(best_end));
  const std::size_t skip = rest.find_first_not_of(" ,:");
  rest = skip == std::string_view::npos ? std::string_view() : rest.substr(skip);
  return AddressedAgent{names[best], std::string(rest)};
}

}  // namespace vostrel::orchestrator
