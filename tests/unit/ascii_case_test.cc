#include "platform/ascii_case.h"

#include <gtest/gtest.h>

#include <string>

#include "straightforward.h"

using namespace tangler;

namespace {

using namespace std::string_literals;

TEST(AsciiCase, LowerCaseFoldsOnlyAsciiCapitals) {
  EXPECT_EQ(lowerCaseAscii("Index.HTM"), "index.htm");
  // '@', '[', '`' and '{' sit right beside the letters and must not move.
  EXPECT_EQ(lowerCaseAscii("@AZ[`az{"), "@az[`az{");
  // Bytes from 0x80 up (a Latin-1 capital E acute, a UTF-8 pair) stay as
  // they are whatever the locale says.
  EXPECT_EQ(lowerCaseAscii("\xC9\xC3\x89"), "\xC9\xC3\x89");
  EXPECT_EQ(lowerCaseAscii("A\0B"s), "a\0b"s);
}

struct EqualCase {
  const char* a;
  const char* b;
  bool equal;
};

TEST(AsciiCase, EqualIgnoringCase) {
  const EqualCase cases[] = {
      {"", "", true},          {"a", "A", true},     {"Index.HTM", "index.htm", true},
      {"abc", "abcd", false},  {"@", "`", false},    {"[", "{", false},
      {"\xC9", "\xE9", false}, {"a_b", "A_B", true}, {"a", "b", false},
  };
  for (const EqualCase& c : cases) {
    EXPECT_EQ(equalIgnoringCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
    EXPECT_EQ(equalIgnoringCase(c.b, c.a), c.equal) << c.b << " / " << c.a;
    if (c.equal) {
      EXPECT_EQ(hashIgnoringCase(c.a), hashIgnoringCase(c.b)) << c.a;
    }
  }
}

// Every byte of a text counts in its hash, at every length (the last few
// bytes are taken apart from the whole words), and its letters in either case.
TEST(AsciiCase, HashTakesEveryByte) {
  const std::string text = "Motion.HTML#Jump-To_Tag";
  for (size_t size = 1; size <= text.size(); ++size) {
    const std::string whole = text.substr(0, size);
    EXPECT_EQ(hashIgnoringCase(whole), hashIgnoringCase(lowerCaseAscii(whole))) << whole;
    for (size_t at = 0; at < size; ++at) {
      std::string changed = whole;
      changed[at] = '\xE9';
      EXPECT_NE(hashIgnoringCase(changed), hashIgnoringCase(whole)) << whole << " at " << at;
    }
  }
}

TEST(AsciiCase, StartsWithIgnoringCase) {
  EXPECT_TRUE(startsWithIgnoringCase("HTTP://x", "http:"));
  EXPECT_TRUE(startsWithIgnoringCase("mailto:", "MAILTO:"));
  EXPECT_FALSE(startsWithIgnoringCase("http", "http:"));
  EXPECT_FALSE(startsWithIgnoringCase("anything", ""));
  EXPECT_FALSE(startsWithIgnoringCase("", ""));
  EXPECT_FALSE(startsWithIgnoringCase("xhttp:", "http:"));
}

struct FindCase {
  const char* text;
  const char* needle;
  size_t first;
  size_t last;
};

TEST(AsciiCase, FindFirstAndLast) {
  constexpr size_t npos = std::string_view::npos;
  const FindCase cases[] = {
      {"<A HREF=x><a href=y>", "href", 3, 13},
      {"abcabc", "ABC", 0, 3},
      {"aaaa", "aa", 0, 2},
      {"abc", "abcd", npos, npos},
      {"abc", "", npos, npos},
      {"", "", npos, npos},
      {"", "a", npos, npos},
      {"xyz", "z", 2, 2},
      {"xyz", "x", 0, 0},
      {"a[b", "{", npos, npos},
  };
  for (const FindCase& c : cases) {
    EXPECT_EQ(findIgnoringCase(c.text, c.needle), c.first) << c.text << " / " << c.needle;
    EXPECT_EQ(findLastIgnoringCase(c.text, c.needle), c.last) << c.text << " / " << c.needle;
  }
}

TEST(AsciiCase, FindCopesWithNulBytes) {
  const std::string text = "a\0B\0b"s;
  EXPECT_EQ(findIgnoringCase(text, "\0b"s), 1u);
  EXPECT_EQ(findLastIgnoringCase(text, "\0b"s), 3u);
}

}  // namespace
