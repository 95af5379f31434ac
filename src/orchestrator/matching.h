// The plain-text protocol an orchestrator steers with: terminator and advance
// keywords written as whole words, and "@Name" mentions that hand the floor to
// a participant. Pure functions; safe to call from any thread.
#ifndef VOSTREL_ORCHESTRATOR_MATCHING_H_
#define VOSTREL_ORCHESTRATOR_MATCHING_H_

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vostrel::orchestrator {

// Whether `keyword` occurs in `text` as a whole word: ASCII letters compared
// without regard to case, every other byte exactly; both neighbours must be
// non-word bytes (a word byte is an ASCII letter, digit or "_"; the ends of
// the text count as non-word). An empty keyword is never found. Allocates
// nothing.
bool contains_keyword(std::string_view text, std::string_view keyword);

// The first keyword, in list order, whose full Unicode upper-case form
// contains "CONSENSUS", as written in the list; none when no keyword does.
std::optional<std::string> consensus_keyword(const std::vector<std::string>& keywords);

// The participant a reply addresses and the instruction after the mention.
struct AddressedAgent {
  std::string name;
  std::string instruction;

  bool operator==(const AddressedAgent&) const = default;
};

// The first name in list order that has an accepted "@name" mention in `text`
// (case-sensitive, ending on a word boundary), with the text after its first
// accepted mention, trimmed of white space and then of leading " ", "," and
// ":" characters. Empty names are skipped. None when no name is mentioned.
std::optional<AddressedAgent> find_addressed_agent(std::string_view text,
                                                   const std::vector<std::string>& names);

}  // namespace vostrel::orchestrator

#endif  // VOSTREL_ORCHESTRATOR_MATCHING_H_
