#include "scan/markup_tokenizer.h"

#include <array>

#include "platform/ascii_case.h"

namespace {

// What a byte means to the tokenizer. One table lookup decides both where a
// token starts and where a word stops, which keeps the per-character work of
// the inner loops to a load and a compare.
enum CharClass : unsigned char {
  kBlank,    // 0x20 and every control character except the line feed
  kNewline,  // '\n'
  kOpen,     // '<'
  kEquals,   // '='
  kClose,    // '>'
  kQuote,    // '"'
  kPunct,    // any other ASCII punctuation: starts a word, ends one
  kWordChar  // letters, digits, 0x7F and every byte from 0x80 up
};

constexpr std::array<CharClass, 256> makeClassTable() {
  std::array<CharClass, 256> table{};
  for (int c = 0; c < 256; ++c) {
    CharClass cls = kWordChar;
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    bool digit = c >= '0' && c <= '9';
    if (c <= 0x20) {
      cls = kBlank;
    } else if (c < 0x7F && !letter && !digit) {
      cls = kPunct;
    }
    table[c] = cls;
  }
  table['\n'] = kNewline;
  table['<'] = kOpen;
  table['='] = kEquals;
  table['>'] = kClose;
  table['"'] = kQuote;
  return table;
}

constexpr std::array<CharClass, 256> kClass = makeClassTable();

bool equalsKeyword(const char* text, const char* upperKeyword, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (toUpperAscii(text[i]) != upperKeyword[i]) return false;
  }
  return true;
}

TokenKind classify(const char* text, size_t size) {
  // Sorted by length first: almost every word of a page has a length no
  // keyword has, and is settled without looking at its letters.
  switch (size) {
    case 1:
      return toUpperAscii(text[0]) == 'A' ? TokenKind::KeywordA : TokenKind::Word;
    case 3:
      if (equalsKeyword(text, "IMG", 3)) return TokenKind::KeywordImg;
      if (equalsKeyword(text, "SRC", 3)) return TokenKind::KeywordSrc;
      return TokenKind::Word;
    case 4:
      if (equalsKeyword(text, "HREF", 4)) return TokenKind::KeywordHref;
      if (equalsKeyword(text, "NAME", 4)) return TokenKind::KeywordName;
      if (equalsKeyword(text, "BODY", 4)) return TokenKind::KeywordBody;
      return TokenKind::Word;
    case 5:
      return equalsKeyword(text, "FRAME", 5) ? TokenKind::KeywordFrame : TokenKind::Word;
    case 10:
      return equalsKeyword(text, "BACKGROUND", 10) ? TokenKind::KeywordBackground : TokenKind::Word;
    default:
      return TokenKind::Word;
  }
}

// The text is gathered in a local buffer and handed to tokenText once, so the
// loops below store bytes without any capacity checks of the string.
void scanString(MarkupTokenizer& t) {
  TextReader& in = *t.input;
  char buffer[kMaxTokenText];
  size_t size = 0;
  for (;;) {
    int c = in.get();
    if (c >= 0x20 && c != '"') {
      // Past the limit the rest of the value is still read, so that the tag
      // goes on after the closing quote.
      if (size < kMaxTokenText) buffer[size++] = static_cast<char>(c);
      continue;
    }
    if (c == '\n') {
      // An unclosed quote must not swallow the rest of the page: the line
      // end closes the string, and the line count moves on before the value
      // is recorded.
      ++t.lineNumber;
      break;
    }
    if (c < 0 || c == '"') break;
    // Any other control character (tab, NUL, ...) is dropped: values go into
    // a line-based file and into report lines.
  }
  t.tokenText.assign(buffer, size);
}

TokenKind scanWord(MarkupTokenizer& t, int first) {
  TextReader& in = *t.input;
  char buffer[kMaxTokenText];
  size_t size = 0;
  buffer[size++] = static_cast<char>(first);
  for (;;) {
    int c = in.get();
    if (c < 0) break;  // the reader answers the end again on the next call
    if (kClass[static_cast<unsigned char>(c)] != kWordChar) {
      in.unget(c);
      break;
    }
    if (size < kMaxTokenText) buffer[size++] = static_cast<char>(c);
  }
  t.tokenText.assign(buffer, size);
  return classify(buffer, size);
}

}  // namespace

TokenKind nextToken(MarkupTokenizer& t) {
  if (t.closePending) return TokenKind::TagClose;
  TextReader& in = *t.input;
  for (;;) {
    int c = in.get();
    if (c < 0) return TokenKind::End;
    switch (kClass[static_cast<unsigned char>(c)]) {
      case kBlank:
        continue;
      case kNewline:
        ++t.lineNumber;
        continue;
      case kOpen:
        return TokenKind::TagOpen;
      case kEquals:
        return TokenKind::Equals;
      case kClose:
        t.closePending = true;
        return TokenKind::TagClose;
      case kQuote:
        scanString(t);
        return TokenKind::String;
      case kPunct:
      case kWordChar:
        return scanWord(t, c);
    }
  }
}

void skipToTagEnd(MarkupTokenizer& t, TokenKind lastKind) {
  if (t.closePending) {
    t.closePending = false;
    return;
  }
  if (lastKind == TokenKind::TagClose) return;
  for (;;) {
    TokenKind kind = nextToken(t);
    if (kind == TokenKind::TagClose || kind == TokenKind::End) return;
  }
}
