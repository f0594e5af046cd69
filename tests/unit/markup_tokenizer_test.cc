#include "scan/markup_tokenizer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "byte_tokenizer.h"

using namespace tangler;

namespace {

// A token as the tests write it: "<", ">", "=", a quoted string, a keyword in
// capitals, or w(text) for any other word.
std::string show(TokenKind kind, const std::string& text) {
  static const char* const kShown[] = {"END",   "<",    ">",    "=",         nullptr,
                                       nullptr, "A",    "HREF", "FRAME",     "IMG",
                                       "SRC",   "NAME", "BODY", "BACKGROUND"};
  if (kind == TokenKind::String) return "\"" + text + "\"";
  if (kind == TokenKind::Word) return "w(" + text + ")";
  return kShown[static_cast<int>(kind)];
}

struct Token {
  TokenKind kind;
  std::string text;
  uint32_t line;
};

// Every token of text up to End. Each '>' is acknowledged at once so that the
// next one can be seen.
std::vector<Token> tokenize(const std::string& text) {
  TextReader reader;
  reader.openMemory(text);
  MarkupTokenizer t;
  t.input = &reader;
  std::vector<Token> tokens;
  for (;;) {
    TokenKind kind = nextToken(t);
    if (kind == TokenKind::End) break;
    bool hasText = kind == TokenKind::String || kind >= TokenKind::Word;
    tokens.push_back({kind, hasText ? t.tokenText : std::string(), t.lineNumber});
    if (kind == TokenKind::TagClose) clearClosePending(t);
    if (tokens.size() > 100000) {
      ADD_FAILURE() << "no end of input";
      break;
    }
  }
  return tokens;
}

std::string tokenString(const std::string& text) {
  std::string shown;
  for (const Token& token : tokenize(text)) {
    if (!shown.empty()) shown += ' ';
    shown += show(token.kind, token.text);
  }
  return shown;
}

struct TokenCase {
  const char* name;
  std::string input;
  std::string expected;
};

// Failures name the case rather than dump its bytes.
void PrintTo(const TokenCase& c, std::ostream* os) {
  *os << c.name;
}

class TokenSequence : public testing::TestWithParam<TokenCase> {};

TEST_P(TokenSequence, GivesTheseTokens) {
  EXPECT_EQ(tokenString(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Markup, TokenSequence,
    testing::Values(
        TokenCase{"BlanksRoundEquals", "HREF = \"a.htm\"", "HREF = \"a.htm\""},
        TokenCase{"SmallLetterHrefKeepsValueCase", "href=\"A.htm\"", "HREF = \"A.htm\""},
        TokenCase{"SingleQuotesGiveThreeWords", "HREF='a.htm'", "HREF = w('a) w(.htm) w(')"},
        TokenCase{"UnquotedValueGivesWords", "HREF=a.htm", "HREF = A w(.htm)"},
        TokenCase{"EmptyString", "NAME=\"\">", "NAME = \"\" >"},
        TokenCase{"CloseInsideQuotesIsText", "<IMG ALT=\"a > b\">", "< IMG w(ALT) = \"a > b\" >"},
        TokenCase{"TabAndControlsDroppedInString",
                  std::string("\"a\tb\x01"
                              "c\0d\"",
                              9),
                  "\"abcd\""},
        TokenCase{"CarriageReturnDroppedInString", "\"a\r\rb\"", "\"ab\""},
        TokenCase{"TabSeparatesAttributes", "<A\tHREF=\"x\"\tNAME=\"y\">",
                  "< A HREF = \"x\" NAME = \"y\" >"},
        TokenCase{"CommentIsNotSpecial", "<!-- <A HREF=\"x\"> -->",
                  "< w(!) w(-) w(-) < A HREF = \"x\" > w(-) w(-) >"},
        TokenCase{"EndOfInputInsideString", "<A HREF=\"abc", "< A HREF = \"abc\""},
        TokenCase{"StrayQuoteInTextHidesTag", "Say \"hi <A HREF=\"a.htm\">\n<A>",
                  "w(Say) \"hi <A HREF=\" A w(.htm) \">\" < A >"},
        TokenCase{"EndTag", "</A>", "< w(/A) >"},
        TokenCase{"UnderscoreIsPunctuation", "x_b", "w(x) w(_b)"},
        TokenCase{"PunctuationRunsSplit", "x.b.c", "w(x) w(.b) w(.c)"},
        TokenCase{"NulSeparatesLikeABlank", std::string("x\0b", 3), "w(x) w(b)"},
        TokenCase{"HighBytesAreWordCharacters", "\x80\xff\xe9t\x7f=x",
                  "w(\x80\xff\xe9t\x7f) = w(x)"},
        TokenCase{"HighByteAfterKeywordMakesWord", "HREF\xe9 SRC", "w(HREF\xe9) SRC"},
        TokenCase{"KeywordsInAnyCase", "a Frame iMg sRc Name body BackGround hReF",
                  "A FRAME IMG SRC NAME BODY BACKGROUND HREF"},
        TokenCase{"NearKeywordsAreWords", "AA FRAMES IM SOURCE NAMES BODYS BACKGROUNDS HREFS",
                  "w(AA) w(FRAMES) w(IM) w(SOURCE) w(NAMES) w(BODYS) w(BACKGROUNDS) w(HREFS)"},
        TokenCase{"WordEndsAtEachSpecialCharacter", "x<b=c>d\"e\"",
                  "w(x) < w(b) = w(c) > w(d) \"e\""},
        TokenCase{"EndOfFileByteEndsInput", "<A>\x1a<IMG>", "< A >"},
        TokenCase{"OnlyBlanksAndLineEnds", " \n\t\n \x0b", ""}, TokenCase{"Empty", "", ""}),
    [](const testing::TestParamInfo<TokenCase>& info) { return std::string(info.param.name); });

TEST(MarkupTokenizer, StringBrokenByLineEndCountsTheLineFirst) {
  std::vector<Token> tokens = tokenize("\"abc\ndef\"");
  ASSERT_EQ(tokens.size(), 3u);
  EXPECT_EQ(tokens[0].kind, TokenKind::String);
  EXPECT_EQ(tokens[0].text, "abc");
  EXPECT_EQ(tokens[0].line, 2u);
  EXPECT_EQ(tokens[1].text, "def");
  // The closing quote of the first line now opens a string to the end.
  EXPECT_EQ(tokens[2].kind, TokenKind::String);
  EXPECT_EQ(tokens[2].text, "");
}

TEST(MarkupTokenizer, CountsLineEndsBetweenTokens) {
  std::vector<Token> tokens = tokenize("a\n\nb \r\n c\n");
  ASSERT_EQ(tokens.size(), 3u);
  EXPECT_EQ(tokens[0].line, 1u);
  EXPECT_EQ(tokens[1].line, 3u);
  EXPECT_EQ(tokens[2].line, 4u);
}

TEST(MarkupTokenizer, LineNumberWrapsAround) {
  TextReader reader;
  reader.openMemory("\nx");
  MarkupTokenizer t;
  t.input = &reader;
  t.lineNumber = UINT32_MAX;
  EXPECT_EQ(nextToken(t), TokenKind::Word);
  EXPECT_EQ(t.lineNumber, 0u);
}

TEST(MarkupTokenizer, LongWordIsCutAndReadToItsEnd) {
  std::vector<Token> tokens = tokenize(std::string(2500, 'x') + "y z");
  ASSERT_EQ(tokens.size(), 2u);
  EXPECT_EQ(tokens[0].text, std::string(kMaxTokenText, 'x'));
  EXPECT_EQ(tokens[1].text, "z");
}

TEST(MarkupTokenizer, LongStringIsCutAndReadToItsEnd) {
  std::vector<Token> tokens = tokenize("\"" + std::string(2500, 'x') + "> \"z");
  ASSERT_EQ(tokens.size(), 2u);
  EXPECT_EQ(tokens[0].kind, TokenKind::String);
  EXPECT_EQ(tokens[0].text, std::string(kMaxTokenText, 'x'));
  EXPECT_EQ(tokens[1].text, "z");
}

TEST(MarkupTokenizer, StringOfExactlyTheLimitIsKept) {
  std::string value(kMaxTokenText - 1, 'v');
  value += 'w';
  std::vector<Token> tokens = tokenize("\"" + value + "\"");
  ASSERT_EQ(tokens.size(), 1u);
  EXPECT_EQ(tokens[0].text, value);
}

class PendingClose : public testing::Test {
 protected:
  void start(const std::string& text) {
    reader_.openMemory(text);
    t_.input = &reader_;
  }
  TextReader reader_;
  MarkupTokenizer t_;
};

TEST_F(PendingClose, CloseIsAnsweredUntilCleared) {
  start(">a");
  EXPECT_EQ(nextToken(t_), TokenKind::TagClose);
  EXPECT_EQ(nextToken(t_), TokenKind::TagClose);
  EXPECT_EQ(nextToken(t_), TokenKind::TagClose);
  clearClosePending(t_);
  EXPECT_EQ(nextToken(t_), TokenKind::KeywordA);
  EXPECT_EQ(nextToken(t_), TokenKind::End);
  EXPECT_EQ(nextToken(t_), TokenKind::End);
}

TEST_F(PendingClose, SkipToTagEndClearsPendingCloseWithoutReading) {
  start("> IMG");
  EXPECT_EQ(nextToken(t_), TokenKind::TagClose);
  skipToTagEnd(t_, TokenKind::Word);
  EXPECT_FALSE(t_.closePending);
  EXPECT_EQ(nextToken(t_), TokenKind::KeywordImg);
}

TEST_F(PendingClose, SkipToTagEndAfterAcknowledgedCloseReadsNothing) {
  start("> IMG > SRC");
  EXPECT_EQ(nextToken(t_), TokenKind::TagClose);
  clearClosePending(t_);
  skipToTagEnd(t_, TokenKind::TagClose);
  EXPECT_EQ(nextToken(t_), TokenKind::KeywordImg);
}

TEST_F(PendingClose, SkipToTagEndReadsToCloseAndLeavesItPending) {
  start("x=\"a>b\" y> SRC");
  skipToTagEnd(t_, TokenKind::Word);
  EXPECT_TRUE(t_.closePending);
  EXPECT_EQ(nextToken(t_), TokenKind::TagClose);
  clearClosePending(t_);
  EXPECT_EQ(nextToken(t_), TokenKind::KeywordSrc);
}

TEST_F(PendingClose, SkipToTagEndStopsAtEnd) {
  start("x y \"z");
  skipToTagEnd(t_, TokenKind::TagOpen);
  EXPECT_FALSE(t_.closePending);
  EXPECT_EQ(nextToken(t_), TokenKind::End);
}

// Pages of random pieces, some long enough to cross the reader's 64 KiB
// pieces at any byte, read by both tokenizers through random series of calls.
TEST(MarkupTokenizer, AgreesWithTheByteAtATimeTokenizer) {
  const std::vector<std::string> pieces = {"<",
                                           ">",
                                           "=",
                                           "\"",
                                           "\n",
                                           "\r",
                                           " ",
                                           "\t",
                                           "a",
                                           "A",
                                           "href",
                                           "IMG",
                                           "src",
                                           "bAcKgRoUnD",
                                           "x.htm",
                                           "\x01",
                                           "\xe9",
                                           std::string(1, '\0'),
                                           "_",
                                           ".",
                                           "\x1a",
                                           std::string(2100, 'w'),
                                           std::string(1500, '\n'),
                                           std::string(30000, ' ')};
  std::mt19937 rng(1212);
  for (int round = 0; round < 400; ++round) {
    std::string page;
    const size_t count = rng() % 120;
    for (size_t i = 0; i < count; ++i) {
      size_t pick = rng() % pieces.size();
      // The end-of-text byte and the long pieces stay rare.
      if (pick >= pieces.size() - 4 && rng() % 4 != 0) pick = rng() % 8;
      page += pieces[pick];
    }
    EXPECT_EQ(compareTokenizers(page, rng()), "") << "round " << round;
  }
  // Line feeds by the thousand between tags and inside one, counted many
  // blocks at a time.
  const std::string feeds(9000, '\n');
  for (int seed = 0; seed < 20; ++seed) {
    EXPECT_EQ(compareTokenizers(feeds + "<a x" + feeds + "y>" + feeds + "<b>", seed), "")
        << "seed " << seed;
  }
}

TEST(ClassifyWord, KeywordsIgnoreAsciiCaseOnly) {
  struct Row {
    const char* word;
    TokenKind kind;
  };
  const Row rows[] = {
      {"a", TokenKind::KeywordA},
      {"bAcKgRoUnD", TokenKind::KeywordBackground},
      {"Frame", TokenKind::KeywordFrame},
      // 0xC1 is a capital A in Latin-1; only ASCII letters fold.
      {"\xc1", TokenKind::Word},
      {"A\x7f", TokenKind::Word},  // a keyword is the whole word
  };
  for (const Row& row : rows) {
    const std::vector<Token> tokens = tokenize(row.word);
    ASSERT_EQ(tokens.size(), 1u) << row.word;
    EXPECT_EQ(tokens[0].kind, row.kind) << row.word;
  }
}

}  // namespace
