#include "scan/markup_tokenizer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/ascii_case.h"

namespace tangler {

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

// The bytes that end a run some pass skips over (up to three given bytes, a
// repeated one standing for fewer, and with Controls every byte below 0x20);
// every other byte of the run leaves the pass's state as it was. The run is
// searched sixteen or eight bytes at a time where the host allows.
template <unsigned char A, unsigned char B, unsigned char C, bool Controls>
bool isStop(unsigned char c) {
  return c == A || c == B || c == C || (Controls && c < 0x20);
}

template <unsigned char A, unsigned char B, unsigned char C, bool Controls>
const unsigned char* skipRun(const unsigned char* p, const unsigned char* end) {
#if defined(__SSE2__)
  const __m128i a = _mm_set1_epi8(static_cast<char>(A));
  const __m128i b = _mm_set1_epi8(static_cast<char>(B));
  const __m128i c = _mm_set1_epi8(static_cast<char>(C));
  const __m128i lastControl = _mm_set1_epi8(0x1F);
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, a), _mm_cmpeq_epi8(v, b)),
                               _mm_cmpeq_epi8(v, c));
    if (Controls) {
      hit = _mm_or_si128(hit, _mm_cmpeq_epi8(_mm_max_epu8(v, lastControl), lastControl));
    }
    if (const int bits = _mm_movemask_epi8(hit)) {
      return p + std::countr_zero(static_cast<unsigned>(bits));
    }
    p += 16;
  }
#else
  if constexpr (std::endian::native == std::endian::little) {
    // A byte equal to x shows as a zero byte of w ^ x; the lowest byte the
    // test flags is always a true one, which is all that is used.
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    auto zeroOrBelow = [](uint64_t w, uint64_t n) { return (w - kOnes * n) & ~w & kHighs; };
    while (end - p >= 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      uint64_t hit = zeroOrBelow(w ^ (kOnes * A), 1) | zeroOrBelow(w ^ (kOnes * B), 1) |
                     zeroOrBelow(w ^ (kOnes * C), 1);
      if (Controls) hit |= zeroOrBelow(w, 0x20);
      if (hit != 0) return p + std::countr_zero(hit) / 8;
      p += 8;
    }
  }
#endif
  while (p != end && !isStop<A, B, C, Controls>(*p)) ++p;
  return p;
}

// The set bits of a 16-bit mask, without the processor's own instruction,
// which not every x86 has (the library call standing in for it costs more).
inline uint32_t countBits16(unsigned x) {
  x = x - ((x >> 1) & 0x5555u);
  x = (x & 0x3333u) + ((x >> 2) & 0x3333u);
  x = (x + (x >> 4)) & 0x0F0Fu;
  return (x + (x >> 8)) & 0x1Fu;
}

// The same as skipRun<A, B, '\n', false>, except that a line feed does not
// stop the run: the line feeds passed over are added to *lines instead.
template <unsigned char A, unsigned char B>
const unsigned char* skipRunCountingLines(const unsigned char* p, const unsigned char* end,
                                          uint32_t* lines) {
#if defined(__SSE2__)
  const __m128i a = _mm_set1_epi8(static_cast<char>(A));
  const __m128i b = _mm_set1_epi8(static_cast<char>(B));
  const __m128i lineFeed = _mm_set1_epi8('\n');
  const __m128i zero = _mm_setzero_si128();
  // The line feeds of whole blocks are counted in each byte lane (each
  // compare gives 0 or -1), and the lanes added up before any can pass 255.
  __m128i counts = zero;
  unsigned blocks = 0;
  auto settle = [&] {
    const __m128i sums = _mm_sad_epu8(counts, zero);
    *lines += static_cast<uint32_t>(_mm_cvtsi128_si32(sums) +
                                    _mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
    counts = zero;
    blocks = 0;
  };
  while (end - p >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i feeds = _mm_cmpeq_epi8(v, lineFeed);
    const auto hits = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, a), _mm_cmpeq_epi8(v, b))));
    if (hits != 0) {
      const int at = std::countr_zero(hits);
      *lines += countBits16(static_cast<unsigned>(_mm_movemask_epi8(feeds)) & ((1u << at) - 1));
      settle();
      return p + at;
    }
    counts = _mm_sub_epi8(counts, feeds);
    if (++blocks == 255) settle();
    p += 16;
  }
  settle();
#endif
  for (;;) {
    p = skipRun<A, B, '\n', false>(p, end);
    if (p == end || *p != '\n') return p;
    ++*lines;
    ++p;
  }
}

// Between tags only a tag's start, a string (which can hide one) and the line
// count matter; inside a tag that is skipped, its end instead of its start. A
// string that is kept also drops every control character.
const unsigned char* skipBetweenTags(const unsigned char* p, const unsigned char* end,
                                     uint32_t* lines) {
  return skipRunCountingLines<'<', '"'>(p, end, lines);
}
const unsigned char* skipInTag(const unsigned char* p, const unsigned char* end, uint32_t* lines) {
  // Most tags that are skipped are a bare name ("</A>", "<B>"): the end is
  // looked for byte by byte first.
  for (const unsigned char* first = p; p != end && p - first < 4; ++p) {
    if (*p == '>' || *p == '"') return p;
    if (*p == '\n') ++*lines;
  }
  return skipRunCountingLines<'>', '"'>(p, end, lines);
}
const unsigned char* skipInSkippedString(const unsigned char* p, const unsigned char* end) {
  return skipRun<'"', '\n', '\n', false>(p, end);
}
const unsigned char* skipInString(const unsigned char* p, const unsigned char* end) {
  return skipRun<'"', '"', '"', true>(p, end);
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
  t.bytesRead += size;
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
    const unsigned char* stop = skipInString(t.next, t.end);
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
    const unsigned char* stop = skipInSkippedString(t.next, t.end);
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
  // first is the byte just before t.next, in the same piece, and almost
  // every word ends within the piece it starts in: taken in one copy then.
  const unsigned char* p = t.next;
  while (p != t.end && kClass[*p] == kWordChar) ++p;
  if (p != t.end) {
    const unsigned char* from = t.next - 1;
    t.tokenText.assign(reinterpret_cast<const char*>(from),
                       std::min(static_cast<size_t>(p - from), kMaxTokenText));
    t.next = p;
    return classify(t.tokenText.data(), t.tokenText.size());
  }
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

TokenKind nextTokenKind(MarkupTokenizer& t) {
  if (t.closePending) return TokenKind::TagClose;
  // Blanks and line ends are passed over, and the token found, within the
  // current piece; nextToken() takes over where that runs out.
  const unsigned char* p = t.next;
  uint32_t lines = 0;
  for (; p != t.end; ++p) {
    const CharClass c = kClass[*p];
    if (c == kNewline) {
      ++lines;
    } else if (c != kBlank) {
      break;
    }
  }
  if (p == t.end) return nextToken(t);
  const unsigned char* after = p + 1;
  TokenKind kind = TokenKind::Word;
  switch (kClass[*p]) {
    case kOpen:
      kind = TokenKind::TagOpen;
      break;
    case kEquals:
      kind = TokenKind::Equals;
      break;
    case kClose:
      kind = TokenKind::TagClose;
      t.closePending = true;
      break;
    case kQuote:
      t.lineNumber += lines;
      t.next = after;
      scanString(t);
      return TokenKind::String;
    default:  // a word, of punctuation or word characters
      while (after != t.end && kClass[*after] == kWordChar) ++after;
      if (after == t.end) return nextToken(t);
      // Only words of a keyword's length are compared, all far below the
      // limit on kept text.
      kind = classify(reinterpret_cast<const char*>(p), static_cast<size_t>(after - p));
      break;
  }
  t.lineNumber += lines;
  t.next = after;
  return kind;
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
    const unsigned char* stop = skipInTag(t.next, t.end, &t.lineNumber);
    if (stop == t.end) {
      if (!refill(t)) return;
      continue;
    }
    t.next = stop + 1;
    if (*stop == '>') {
      t.closePending = true;
      return;
    }
    skipString(t);  // at a '"'
  }
}

TokenKind skipToTagOpen(MarkupTokenizer& t) {
  t.closePending = false;
  // A '>' here would only be acknowledged and passed over.
  for (;;) {
    const unsigned char* stop = skipBetweenTags(t.next, t.end, &t.lineNumber);
    if (stop == t.end) {
      if (!refill(t)) return TokenKind::End;
      continue;
    }
    t.next = stop + 1;
    if (*stop == '<') return TokenKind::TagOpen;
    skipString(t);  // at a '"'
  }
}

}  // namespace tangler
