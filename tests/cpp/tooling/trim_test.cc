#include "tooling/trim.h"

#include <gtest/gtest.h>

#include <string>

namespace vostrel::tooling {
namespace {

TEST(TrimWhiteSpaceTest, ExactlyTheWhiteSpaceProperty) {
  struct Case {
    const char* name;
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"ASCII", " \t\n\v\f\rx\r\n ", "x"},
      {"NEL and NBSP", "\u0085\u00a0x\u00a0\u0085", "x"},
      {"ogham and the U+2000 block", "\u1680\u2000\u200ax\u2005\u2028\u2029", "x"},
      {"narrow, math and ideographic spaces", "\u202f\u205f\u3000x\u3000", "x"},
      {"inner space kept", " a \u3000 b ", "a \u3000 b"},
      {"all space", "\u2000 \u3000", ""},
      // Not White_Space, though some libraries treat them as space.
      {"zero width space", "\u200bx\u200b", "\u200bx\u200b"},
      {"byte order mark", "\ufeffx", "\ufeffx"},
      {"mongolian vowel separator", "\u180ex", "\u180ex"},
      {"unit separator", "\x1fx\x1c", "\x1fx\x1c"},
      {"U+2030 after the block", "x\u2030", "x\u2030"},
      // Broken UTF-8 is never white space and never read past.
      {"lone continuation byte", "\x85x\xa0", "\x85x\xa0"},
      {"truncated sequence", "x\xe2\x80", "x\xe2\x80"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(std::string(trim_white_space(c.text)), c.expected);
  }
}

}  // namespace
}  // namespace vostrel::tooling
