#include "orchestrator/matching.h"

#include "unicode/unicode.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace vostrel::orchestrator {
namespace {

TEST(ContainsKeyword, WholeWordsWithAsciiFolding) {
  struct Case {
    const char* name;
    std::string text;
    std::string keyword;
    bool found;
  };
  const std::vector<Case> cases = {
      {"lower case text", "All agreed. end_session", "END_SESSION", true},
      {"parenthesised", "(END_SESSION)", "END_SESSION", true},
      {"trailing full stop", "END_SESSION.", "END_SESSION", true},
      {"letter after", "END_SESSIONS", "END_SESSION", false},
      {"underscore before", "NO_END_SESSION", "END_SESSION", false},
      {"digit before", "9END_SESSION", "END_SESSION", false},
      {"inside a word", "xEND_SESSIONx", "END_SESSION", false},
      {"non-ASCII letter before", "\xC3\xA9" "END_SESSION", "END_SESSION", true},
      {"non-ASCII letter after", "END_SESSION\xC3\xA9", "END_SESSION", true},
      {"only ASCII folds", "\xC3\x84", "\xC3\xA4", false},
      {"non-ASCII compared exactly", "x \xC3\xA4 y", "\xC3\xA4", true},
      {"empty keyword", "anything", "", false},
      {"empty keyword, empty text", "", "", false},
      {"keyword longer than text", "END", "END_SESSION", false},
      {"whole text", "END_SESSION", "END_SESSION", true},
      {"second occurrence counts", "END_SESSIONS then END_SESSION", "END_SESSION", true},
      {"punctuation keyword", "a !done! b", "!done!", true},
      {"punctuation keyword inside a word", "a!done!b", "!done!", false},
      {"mixed case first byte later", "xdone Done", "DONE", true},
      {"overlapping candidates", "aab", "ab", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(contains_keyword(c.text, c.keyword), c.found);
  }
}

TEST(ConsensusKeyword, FirstKeywordNamingConsensus) {
  struct Case {
    const char* name;
    std::vector<std::string> keywords;
    std::optional<std::string> expected;
  };
  const std::vector<Case> cases = {
      {"second keyword", {"END_SESSION", "CONSENSUS_REACHED"}, "CONSENSUS_REACHED"},
      {"list order decides", {"NO_CONSENSUS", "CONSENSUS_REACHED"}, "NO_CONSENSUS"},
      {"lower case kept as written", {"consensus"}, "consensus"},
      {"none", {"END_SESSION"}, std::nullopt},
      {"empty list", {}, std::nullopt},
      // U+017F (long s) upper-cases to S; U+00DF (sharp s) to SS.
      {"long s", {"CON\xC5\xBF" "ENSUS"}, "CON\xC5\xBF" "ENSUS"},
      {"sharp s at the end", {"consensu\xC3\x9F"}, "consensu\xC3\x9F"},
      {"other non-ASCII breaks the word", {"CON\xC3\xA9SENSUS"}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(consensus_keyword(c.keywords), c.expected);
  }
}

TEST(FindAddressedAgent, MentionsAndInstructions) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> names;
    std::optional<AddressedAgent> expected;
  };
  const std::vector<std::string> ann_bob = {"Ann", "Bob"};
  const std::vector<Case> cases = {
      {"list order beats text order", "@Bob, then @Ann: summarise", ann_bob,
       AddressedAgent{"Ann", "summarise"}},
      {"prefix name rejected, longer name found", "@Annabel please start", {"Ann", "Annabel"},
       AddressedAgent{"Annabel", "please start"}},
      {"longer name listed first", "@Ann go", {"Annabel", "Ann"}, AddressedAgent{"Ann", "go"}},
      {"case matters", "@ann go", ann_bob, std::nullopt},
      {"underscore continues the word", "@Ann_2 go", ann_bob, std::nullopt},
      {"hyphen ends the word", "@Ann-2 go", ann_bob, AddressedAgent{"Ann", "-2 go"}},
      {"full stop ends the word", "@Ann.", ann_bob, AddressedAgent{"Ann", "."}},
      {"at the very end", "Over to @Ann", ann_bob, AddressedAgent{"Ann", ""}},
      {"nothing before @ is examined", "x@Ann go", ann_bob, AddressedAgent{"Ann", "go"}},
      {"leading separators stripped", "@Ann ,: : Give your view.  ", ann_bob,
       AddressedAgent{"Ann", "Give your view."}},
      {"white space after the colon stays", "@Ann:\n  Give your view", ann_bob,
       AddressedAgent{"Ann", "\n  Give your view"}},
      {"later occurrence accepted", "@Anna and @Ann go", ann_bob,
       AddressedAgent{"Ann", "go"}},
      {"non-ASCII letter continues the word", "@Ann\xC3\xA9 go", ann_bob, std::nullopt},
      {"non-ASCII punctuation ends the word", "@Ann\xE2\x80\x94go", ann_bob,
       AddressedAgent{"Ann", "\xE2\x80\x94go"}},
      {"non-ASCII name", "@J\xC3\xBCrgen: hi", {"J\xC3\xBCrgen"},
       AddressedAgent{"J\xC3\xBCrgen", "hi"}},
      {"name ending in punctuation needs a word after", "@Dr. go @Dr.x", {"Dr."},
       AddressedAgent{"Dr.", "x"}},
      {"empty name never addressed", "@ hello", {"", "Bob"}, std::nullopt},
      {"lone @", "@", {""}, std::nullopt},
      {"unicode white space trimmed", "@Ann\xE3\x80\x80go\xC2\xA0", ann_bob,
       AddressedAgent{"Ann", "go"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(find_addressed_agent(c.text, c.names), c.expected);
  }
}

// The matchers against direct transcriptions of their rules, on random texts
// over a small alphabet that makes near misses, case variants, overlapping
// mentions and non-ASCII neighbours common.
bool naive_contains_keyword(std::string_view text, std::string_view keyword) {
  if (keyword.empty() || keyword.size() > text.size()) return false;
  for (std::size_t pos = 0; pos + keyword.size() <= text.size(); ++pos) {
    if (!unicode::ascii_iequals(text.substr(pos, keyword.size()), keyword)) continue;
    const bool left = pos == 0 || !unicode::is_ascii_word_byte(text[pos - 1]);
    const std::size_t end = pos + keyword.size();
    const bool right = end == text.size() || !unicode::is_ascii_word_byte(text[end]);
    if (left && right) return true;
  }
  return false;
}

std::optional<AddressedAgent> naive_find_addressed_agent(std::string_view text,
                                                         const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (name.empty()) continue;
    const std::string mention = "@" + name;
    const bool name_word =
        unicode::is_word_char(unicode::decode_utf8_before(name, name.size()).code_point);
    for (std::size_t at = text.find(mention); at != std::string_view::npos;
         at = text.find(mention, at + 1)) {
      const std::size_t end = at + mention.size();
      const bool next_word =
          end < text.size() && unicode::is_word_char(unicode::decode_utf8(text, end).code_point);
      if (name_word == next_word) continue;
      std::string_view rest = unicode::trim(text.substr(end));
      while (!rest.empty() && (rest[0] == ' ' || rest[0] == ',' || rest[0] == ':')) {
        rest.remove_prefix(1);
      }
      return AddressedAgent{name, std::string(rest)};
    }
  }
  return std::nullopt;
}

TEST(Matching, AgreesWithDirectRulesOnRandomTexts) {
  const std::vector<std::string> pieces = {"a", "A", "b", "_", " ", "@", ":", ",", ".",
                                           "\xC3\xA9", "\xE2\x80\x94", "ab", "Ab"};
  const std::vector<std::vector<std::string>> name_lists = {
      {"a", "ab"}, {"ab", "a"}, {"A", "a", "b."}, {"", "ab", "ab"}, {"a\xC3\xA9", "@a"}};
  std::mt19937 rng(12345);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int length = static_cast<int>(rng() % 12);
    for (int i = 0; i < length; ++i) text += pieces[rng() % pieces.size()];
    SCOPED_TRACE(text);
    for (const char* keyword : {"a", "ab", "AB", "a_", ".", "b a"}) {
      ASSERT_EQ(contains_keyword(text, keyword), naive_contains_keyword(text, keyword)) << keyword;
    }
    for (const auto& names : name_lists) {
      ASSERT_EQ(find_addressed_agent(text, names), naive_find_addressed_agent(text, names));
    }
  }
}

}  // namespace
}  // namespace vostrel::orchestrator
