#include "unicode/unicode.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace vostrel::unicode {
namespace {

std::string utf8(char32_t cp) {
  std::string s;
  append_utf8(s, cp);
  return s;
}

std::string hex(char32_t cp) {
  std::ostringstream s;
  s << "U+" << std::hex << std::uppercase << static_cast<std::uint32_t>(cp);
  return s.str();
}

std::uint32_t crc32_update(std::uint32_t crc, std::string_view bytes) {
  static const auto kTable = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (char b : bytes) crc = kTable[(crc ^ static_cast<unsigned char>(b)) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

// Every code point, against what CPython's str.lower()/str.upper() and the
// property lists say of it (data/block_digests.txt, written by
// tools/gen_unicode_tables.py): one CRC-32 per block of 4096 code points.
TEST(UnicodeTablesTest, EveryCodePointMatchesThePythonDigests) {
  std::ifstream in(VOSTREL_TEST_DATA_DIR "/block_digests.txt");
  ASSERT_TRUE(in) << "cannot open block_digests.txt";
  std::string line;
  int blocks = 0;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line[0] == '#') {
      EXPECT_NE(line.find(std::string(unicode_version())), std::string::npos) << line;
      continue;
    }
    const auto start = static_cast<char32_t>(std::stoul(line.substr(0, 6), nullptr, 16));
    const auto expected = static_cast<std::uint32_t>(std::stoul(line.substr(7), nullptr, 16));
    std::uint32_t crc = 0;
    for (char32_t cp = start; cp < start + 4096; ++cp) {
      if (cp >= 0xD800 && cp <= 0xDFFF) continue;
      const std::string c = utf8(cp);
      std::string record = to_lowercase(c);
      record += '\0';
      record += to_uppercase(c);
      record += '\0';
      record += static_cast<char>((is_white_space(cp) ? 1 : 0) | (is_alphanumeric(cp) ? 2 : 0));
      crc = crc32_update(crc, record);
    }
    EXPECT_EQ(crc, expected) << "block starting at " << hex(start);
    ++blocks;
  }
  EXPECT_EQ(blocks, 0x110000 / 4096);
}

TEST(UnicodeTest, WhiteSpaceProperty) {
  struct Case {
    char32_t cp;
    bool white;
  };
  const Case cases[] = {
      {U'\t', true},      {U'\n', true},      {0x0B, true},       {0x0C, true},       {U'\r', true},
      {U' ', true},       {0x0085, true},     {0x00A0, true},     {0x1680, true},     {0x2000, true},
      {0x200A, true},     {0x2028, true},     {0x2029, true},     {0x202F, true},     {0x205F, true},
      {0x3000, true},
      // Look like blanks or separators, but are not White_Space.
      {0x1C, false},      {0x1F, false},      {0x180E, false},    {0x200B, false},    {0x200D, false},
      {0x2060, false},    {0xFEFF, false},    {U'x', false},      {0, false},         {kReplacementChar, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(hex(c.cp));
    EXPECT_EQ(is_white_space(c.cp), c.white);
    // Trimming agrees with the property at both ends.
    const std::string s = utf8(c.cp) + "a" + utf8(c.cp);
    EXPECT_EQ(trim(s), c.white ? "a" : s);
  }
}

TEST(UnicodeTest, Trim) {
  struct Case {
    const char* name;
    std::string text;
    std::string trimmed;
    std::string start_trimmed;
    std::string end_trimmed;
  };
  const Case cases[] = {
      {"empty", "", "", "", ""},
      {"only white space", " \t\u3000\u0085\n", "", "", ""},
      {"inner kept", "\u00a0a \u3000 b\r\n", "a \u3000 b", "a \u3000 b\r\n", "\u00a0a \u3000 b"},
      {"zero width space stays", "\u200bx\u200b", "\u200bx\u200b", "\u200bx\u200b", "\u200bx\u200b"},
      {"byte order mark stays", "\ufeff x ", "\ufeff x", "\ufeff x ", "\ufeff x"},
      {"combining mark after a space", " e\u0301 ", "e\u0301", "e\u0301 ", " e\u0301"},
      {"malformed bytes stay", " \xff\xc2 ", "\xff\xc2", "\xff\xc2 ", " \xff\xc2"},
      {"NEL bytes split by a stray lead", "\xc2\xc2\x85", "\xc2", "\xc2\xc2\x85", "\xc2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(trim(c.text), c.trimmed);
    EXPECT_EQ(trim_start(c.text), c.start_trimmed);
    EXPECT_EQ(trim_end(c.text), c.end_trimmed);
  }
  // A view into the argument, not a copy.
  const std::string text = "  abc  ";
  EXPECT_EQ(trim(text).data(), text.data() + 2);
}

TEST(UnicodeTest, CountChars) {
  const std::pair<std::string, std::size_t> cases[] = {
      {"", 0}, {"abc", 3}, {"\u00e9", 1}, {"\u65e5\u672c", 2}, {"\U0001F600", 1}, {"e\u0301", 2}, {std::string("a\0b", 3), 3}, {"\xff\xfe", 2},
  };
  for (const auto& [text, n] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(count_chars(text), n);
  }
}

TEST(UnicodeTest, WordCharactersOfMentions) {
  struct Case {
    char32_t cp;
    bool word;
  };
  const Case cases[] = {
      {U'a', true},      {U'Z', true},      {U'0', true},      {U'_', true},
      {U'-', false},     {U'.', false},     {U' ', false},     {U'@', false},
      {0x00E9, true},    // é
      {0x00C4, true},    // Ä
      {0x0436, true},    // Cyrillic zhe
      {0x65E5, true},    // CJK ideograph
      {0x00AA, true},    // feminine ordinal, Lo
      {0x02B0, true},    // modifier letter, Lm
      {0x0345, true},    // combining ypogegrammeni: Alphabetic though a mark
      {0x093E, true},    // Devanagari vowel sign: Alphabetic though a mark
      {0x0301, false},   // combining acute accent: a mark, not Alphabetic
      {0x0663, true},    // Arabic-Indic digit three, Nd
      {0x216B, true},    // Roman numeral twelve, Nl
      {0x00BD, true},    // vulgar fraction one half, No
      {0x00B2, true},    // superscript two, No
      {0x00A0, false},   {0x200B, false},   {0x1F600, false},  {0x2019, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(hex(c.cp));
    EXPECT_EQ(is_word_char(c.cp), c.word);
    EXPECT_EQ(is_alphanumeric(c.cp), c.word && c.cp != U'_');
  }
}

TEST(UnicodeTest, AsciiWordBytesAndCase) {
  EXPECT_TRUE(is_ascii_word_byte('_'));
  EXPECT_TRUE(is_ascii_word_byte('q'));
  EXPECT_FALSE(is_ascii_word_byte('-'));
  for (char c : std::string("\u00e9")) EXPECT_FALSE(is_ascii_word_byte(c));
  EXPECT_EQ(ascii_lowercase("TOOL_Calls \u00c4\u00e4"), "tool_calls \u00c4\u00e4");
  EXPECT_TRUE(ascii_iequals("@MEMORY:", "@memory:"));
  EXPECT_FALSE(ascii_iequals("\u00c4", "\u00e4"));  // only ASCII letters fold
  EXPECT_FALSE(ascii_iequals("ab", "abc"));
}

// Expected texts are CPython's str.lower() and str.upper() of the same input.
TEST(UnicodeTest, FullCaseMappingsInContext) {
  struct Case {
    std::string text;
    std::string lower;
    std::string upper;
  };
  const Case cases[] = {
      {"Context Length EXCEEDED", "context length exceeded", "CONTEXT LENGTH EXCEEDED"},
      {"stra\u00dfe", "stra\u00dfe", "STRASSE"},
      {"\ufb00 \u017f \u0149 \u0390 \u01f0 \ufb05", "\ufb00 \u017f \u0149 \u0390 \u01f0 \ufb05",
       "FF S \u02bcN \u0399\u0308\u0301 J\u030c ST"},
      {"\u0130stanbul", "i\u0307stanbul", "\u0130STANBUL"},
      {"\u01c5", "\u01c6", "\u01c4"},
      {"\u0131", "\u0131", "I"},
      // A capital sigma is final after a cased letter and before none, looking
      // past case-ignorable characters ("." and combining marks).
      {"\u039f\u0394\u039f\u03a3", "\u03bf\u03b4\u03bf\u03c2", "\u039f\u0394\u039f\u03a3"},
      {"\u03a3", "\u03c3", "\u03a3"},
      {"\u0391\u03a3\u0391", "\u03b1\u03c3\u03b1", "\u0391\u03a3\u0391"},
      {"\u0391.\u03a3", "\u03b1.\u03c2", "\u0391.\u03a3"},
      {"\u0391\u03a3.\u0391", "\u03b1\u03c3.\u03b1", "\u0391\u03a3.\u0391"},
      {"\u0391\u03a3\u0301", "\u03b1\u03c2\u0301", "\u0391\u03a3\u0301"},
      {"\u03a3\u0301\u0391", "\u03c3\u0301\u03b1", "\u03a3\u0301\u0391"},
      {"1\u03a3", "1\u03c3", "1\u03a3"},
      {"\u0391\u03a3 \u0392\u03a3", "\u03b1\u03c2 \u03b2\u03c2", "\u0391\u03a3 \u0392\u03a3"},
      // Malformed bytes are copied as they are.
      {"A\xff\xce", "a\xff\xce", "A\xff\xce"},
      {"\xce\xa3\xff", "\xcf\x83\xff", "\xce\xa3\xff"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(to_lowercase(c.text), c.lower);
    EXPECT_EQ(to_uppercase(c.text), c.upper);
  }
}

// Decoding backwards finds the same characters as decoding forwards, for any
// bytes, well-formed or not.
TEST(UnicodeTest, BackwardDecodingMatchesForward) {
  const unsigned char kBytes[] = {'a', 0x80, 0x85, 0x9F, 0xA0, 0xBF, 0xC2, 0xCE, 0xE0, 0xE2,
                                  0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
  std::mt19937 rng(12345);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kBytes) - 1);
  std::uniform_int_distribution<std::size_t> length(1, 12);
  for (int round = 0; round < 20000; ++round) {
    std::string s;
    for (std::size_t n = length(rng); n > 0; --n) s += static_cast<char>(kBytes[pick(rng)]);
    std::vector<char32_t> forward;
    for (std::size_t i = 0; i < s.size();) {
      const DecodedChar d = decode_utf8(s, i);
      ASSERT_GE(d.length, 1u);
      forward.push_back(d.code_point);
      i += d.length;
    }
    std::vector<char32_t> backward;
    for (std::size_t end = s.size(); end > 0;) {
      const DecodedChar d = decode_utf8_before(s, end);
      backward.insert(backward.begin(), d.code_point);
      end -= d.length;
    }
    ASSERT_EQ(forward, backward) << ::testing::PrintToString(s);
  }
  // Well-formed sequences and the malformed forms a strict decoder refuses.
  const std::pair<std::string, char32_t> cases[] = {
      {"\xf4\x8f\xbf\xbf", 0x10FFFF}, {"\xef\xbf\xbd", 0xFFFD},           {"\xed\x9f\xbf", 0xD7FF},
      {"\xed\xa0\x80", kReplacementChar}, {"\xe0\x80\xaf", kReplacementChar}, {"\xc0\xaf", kReplacementChar},
      {"\xf4\x90\x80\x80", kReplacementChar},
  };
  for (const auto& [bytes, cp] : cases) {
    SCOPED_TRACE(::testing::PrintToString(bytes));
    const DecodedChar d = decode_utf8(bytes, 0);
    EXPECT_EQ(d.code_point, cp);
    EXPECT_EQ(d.length, cp == kReplacementChar && bytes != "\xef\xbf\xbd" ? 1u : bytes.size());
  }
}

}  // namespace
}  // namespace vostrel::unicode
