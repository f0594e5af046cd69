#include "scan/markup_tokenizer.h"

#include <algorithm>
#include <array>
#include <initializer_list>

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

// The bytes that end a run some pass skips over; every other byte of the run
// leaves the pass's state as it was.
using StopTable = std::array<bool, 256>;

constexpr StopTable makeStops(std::initializer_list<unsigned char> stops, bool controls) {
  StopTable table{};
  for (unsigned char c : stops) table[c] = true;
  for (int c = 0; controls && c < 0x20; ++c) table[c] = true;
  return table;
}

// Between tags only a tag's start, a string (which can hide one) and the line
// count matter; inside a tag that is skipped, its end instead of its start.
constexpr StopTable kStopsBetweenTags = makeStops({'<', '"', '\n'}, false);
constexpr StopTable kStopsInTag = makeStops({'>', '"', '\n'}, false);
constexpr StopTable kStopsInSkippedString = makeStops({'"', '\n'}, false);
// A string that is kept also drops every control character.
constexpr StopTable kStopsInString = makeStops({'"'}, true);

const unsigned char* skipRun(const unsigned char* p, const unsigned char* end,
                             const StopTable& stops) {
  while (end - p >= 4) {
    if (stops[p[0]]) return p;
    if (stops[p[1]]) return p + 1;
    if (stops[p[2]]) return p + 2;
    if (stops[p[3]]) return p + 3;
    p += 4;
  }
  while (p != end && !stops[*p]) ++p;
  return p;
}

// Makes the next piece of the page current. False at the end of the page;
// the reader answers the end again on every later call.
bool refill(MarkupTokenizer& t) {
  size_t size = 0;
  if (!t.input->readChunk(&t.next, &size)) {
    t.next = t.end = nullptr;
    return false;
  }
  t.end = t.next + size;
  return true;
}

// Keeps what fits of [from, to) in tokenText.
void keep(MarkupTokenizer& t, const unsigned char* from, const unsigned char* to) {
  const size_t room = kMaxTokenText - t.tokenText.size();
  const size_t size = std::min(room, static_cast<size_t>(to - from));
  if (size > 0) t.tokenText.append(reinterpret_cast<const char*>(from), size);
}

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

// The rest of a string whose opening quote has been read. The line end
// closes it (an unclosed quote must not swallow the rest of the page), and
// the line count moves on before the value is used. Control characters are
// dropped: values go into a line-based file and into report lines. Past the
// limit the rest of the value is still read, so that the tag goes on after
// the closing quote.
void scanString(MarkupTokenizer& t) {
  t.tokenText.clear();
  for (;;) {
    const unsigned char* stop = skipRun(t.next, t.end, kStopsInString);
    keep(t, t.next, stop);
    if (stop == t.end) {
      if (!refill(t)) return;
      continue;
    }
    t.next = stop + 1;
    if (*stop == '"') return;
    if (*stop == '\n') {
      ++t.lineNumber;
      return;
    }
  }
}

// The same string, read only to find where it ends.
void skipString(MarkupTokenizer& t) {
  for (;;) {
    const unsigned char* stop = skipRun(t.next, t.end, kStopsInSkippedString);
    if (stop == t.end) {
      if (!refill(t)) return;
      continue;
    }
    t.next = stop + 1;
    if (*stop == '\n') ++t.lineNumber;
    return;
  }
}

// A word starting with first (already read): it runs up to the first blank,
// control character or punctuation character, which stays unread.
TokenKind scanWord(MarkupTokenizer& t, unsigned char first) {
  t.tokenText.assign(1, static_cast<char>(first));
  for (;;) {
    const unsigned char* p = t.next;
    while (p != t.end && kClass[*p] == kWordChar) ++p;
    keep(t, t.next, p);
    t.next = p;
    if (p != t.end || !refill(t)) break;
  }
  return classify(t.tokenText.data(), t.tokenText.size());
}

}  // namespace

TokenKind classifyWord(const std::string& word) {
  return classify(word.data(), word.size());
}

TokenKind nextToken(MarkupTokenizer& t) {
  if (t.closePending) return TokenKind::TagClose;
  for (;;) {
    if (t.next == t.end && !refill(t)) return TokenKind::End;
    const unsigned char c = *t.next++;
    switch (kClass[c]) {
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
  // Words never hold '>' or '"', and each of those outside a string starts a
  // token of its own, so the tag ends at the first '>' outside a string.
  for (;;) {
    const unsigned char* stop = skipRun(t.next, t.end, kStopsInTag);
    if (stop == t.end) {
      if (!refill(t)) return;
      continue;
    }
    t.next = stop + 1;
    if (*stop == '>') {
      t.closePending = true;
      return;
    }
    if (*stop == '"') {
      skipString(t);
    } else {
      ++t.lineNumber;
    }
  }
}

TokenKind skipToTagOpen(MarkupTokenizer& t) {
  t.closePending = false;
  // A '>' here would only be acknowledged and passed over.
  for (;;) {
    const unsigned char* stop = skipRun(t.next, t.end, kStopsBetweenTags);
    if (stop == t.end) {
      if (!refill(t)) return TokenKind::End;
      continue;
    }
    t.next = stop + 1;
    if (*stop == '<') return TokenKind::TagOpen;
    if (*stop == '"') {
      skipString(t);
    } else {
      ++t.lineNumber;
    }
  }
}
