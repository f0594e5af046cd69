// Splits a page into the few tokens link extraction needs (tag brackets,
// '=', double-quoted strings, words) and counts lines. It is coarse on
// purpose: comments, scripts and entities are not special and a double quote
// opens a string wherever it stands. The reports list what this plain
// reading finds, whatever a browser would make of the page.
//
// It reads the page in the pieces its reader buffers and passes over runs of
// bytes that cannot change what a caller sees many at a time: most of a page
// lies between tags or inside tags whose attributes nobody reads.
#pragma once

#include <cstdint>
#include <string>

#include "platform/text_file.h"

namespace tangler {

enum class TokenKind : int {
  End = 0,
  TagOpen = 1,
  TagClose = 2,
  Equals = 3,
  String = 4,
  Word = 5,
  KeywordA = 6,
  KeywordHref = 7,
  KeywordFrame = 8,
  KeywordImg = 9,
  KeywordSrc = 10,
  KeywordName = 11,
  KeywordBody = 12,
  KeywordBackground = 13,
};

// Token texts keep at most this many characters; the rest is read and
// dropped. This bounds every value, and so every report line.
constexpr size_t kMaxTokenText = 2000;

// Tokenizer state for one page. input must stay open while it is in use, and
// nothing else may read from it meanwhile: the tokenizer holds the part of
// the reader's current piece that it has not used yet.
struct MarkupTokenizer {
  TextReader* input = nullptr;
  uint32_t lineNumber = 1;
  std::string tokenText;                // the text of the last String or word
  bool closePending = false;            // a '>' was read and not yet dealt with
  const unsigned char* next = nullptr;  // the unread rest of the piece: [next, end)
  const unsigned char* end = nullptr;
  uint64_t bytesRead = 0;  // of the page's text so far, for callers that share out work by size
};

// The next token. While closePending is set it answers TagClose without
// reading, so a '>' is never lost by a caller expecting something else. For
// String and word kinds the text is in tokenText.
TokenKind nextToken(MarkupTokenizer& t);

// The same as nextToken(), for a caller that has no use for a word's text:
// a word that lies wholly in the reader's current piece (a tag's name, as a
// rule) is classified where it lies, and tokenText is then left as it was.
TokenKind nextTokenKind(MarkupTokenizer& t);

// Consumes the rest of the current tag. If a close is pending it is cleared;
// otherwise, unless lastKind is TagClose, tokens are read up to TagClose or
// End (leaving the close pending when it stopped at '>'). What those tokens
// were is not kept: tokenText is left as it was.
void skipToTagEnd(MarkupTokenizer& t, TokenKind lastKind);

// Clears any pending close and reads tokens until TagOpen or End, returning
// which; the same as calling nextToken and clearClosePending in turn until
// one of those two comes, except that tokenText is left as it was.
TokenKind skipToTagOpen(MarkupTokenizer& t);

inline void clearClosePending(MarkupTokenizer& t) {
  t.closePending = false;
}

}  // namespace tangler
