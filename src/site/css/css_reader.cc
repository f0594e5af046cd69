#include "site/css/css_reader.h"

#include <algorithm>
#include <cstdint>

#include "platform/ascii_case.h"
#include "site/html/character_references.h"
#include "text/text_helpers.h"

namespace site {

namespace {

constexpr int kEnd = -1;

// Past a token that a piece cuts, bytes still to come must be this many for
// a string or URL to be read on: enough for an escape ('\\', six hex
// digits, CR LF) and what is looked at after it.
constexpr size_t kMargin = 12;
// A token other than a comment, string or URL that a piece cuts is read
// again with the next; past this many bytes it is taken as ending where
// the piece does (only a made-up sheet has such a token).
constexpr size_t kMaxCarry = 64 * 1024;

// Reading position in a style sheet. Bytes from 0x80 up count as the
// non-ASCII code points of UTF-8 text; NUL reads as U+FFFD, as the
// standard's input preprocessing makes it.
struct CssInput {
  std::string_view text;
  size_t pos = 0;
  bool end = true;       // the sheet ends with text
  bool starved = false;  // a look went past text when more follows
};

int peek(CssInput& in, size_t ahead = 0) {
  const size_t at = in.pos + ahead;
  if (at < in.text.size()) return static_cast<unsigned char>(in.text[at]);
  if (!in.end) in.starved = true;
  return kEnd;
}

// Whether at least kMargin bytes follow, or the sheet ends with the text.
bool roomAhead(const CssInput& in) {
  return in.end || in.text.size() - in.pos > kMargin;
}

// Whether the text at the reading position starts with word; a text that
// stops short of telling starves.
bool startsWithWord(CssInput& in, std::string_view word) {
  const std::string_view rest = in.text.substr(in.pos);
  if (!in.end && rest.size() < word.size() && word.starts_with(rest)) {
    in.starved = true;
    return false;
  }
  return rest.starts_with(word);
}

bool isNewline(int c) {
  return c == '\n' || c == '\r' || c == '\f';
}

bool isWhitespace(int c) {
  return isNewline(c) || c == '\t' || c == ' ';
}

bool isDigit(int c) {
  return c >= '0' && c <= '9';
}

bool isNameStart(int c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80 || c == 0;
}

bool isNameCharacter(int c) {
  return isNameStart(c) || isDigit(c) || c == '-';
}

bool isNonPrintable(int c) {
  return (c >= 0 && c <= 8) || c == 0x0B || (c >= 0x0E && c <= 0x1F) || c == 0x7F;
}

bool isValidEscape(int first, int second) {
  return first == '\\' && second != kEnd && !isNewline(second);
}

bool startsIdentifier(CssInput& in, size_t ahead) {
  const int first = peek(in, ahead);
  if (first == '-') {
    const int second = peek(in, ahead + 1);
    return isNameStart(second) || second == '-' || isValidEscape(second, peek(in, ahead + 2));
  }
  return isNameStart(first) || isValidEscape(first, peek(in, ahead + 1));
}

bool startsNumber(CssInput& in) {
  const int first = peek(in);
  if (first == '+' || first == '-') {
    const int second = peek(in, 1);
    return isDigit(second) || (second == '.' && isDigit(peek(in, 2)));
  }
  if (first == '.') return isDigit(peek(in, 1));
  return isDigit(first);
}

void appendByte(int c, std::string* out) {
  if (out == nullptr || out->size() >= kMaxCssText) return;
  if (c == 0) {
    out->append(kReplacementCharacter);
  } else {
    out->push_back(static_cast<char>(c));
  }
}

// After a '\' that starts a valid escape (or ends the input).
void consumeEscape(CssInput& in, std::string* out) {
  const int c = peek(in);
  if (c == kEnd) {
    if (out != nullptr && out->size() < kMaxCssText) out->append(kReplacementCharacter);
    return;
  }
  if (hexDigitValue(c) < 0) {
    ++in.pos;
    appendByte(c, out);
    return;
  }
  uint32_t value = 0;
  for (int digits = 0; digits < 6 && hexDigitValue(peek(in)) >= 0; ++digits) {
    value = value * 16 + static_cast<uint32_t>(hexDigitValue(peek(in)));
    ++in.pos;
  }
  if (peek(in) == '\r' && peek(in, 1) == '\n') {
    in.pos += 2;
  } else if (isWhitespace(peek(in))) {
    ++in.pos;
  }
  if (out != nullptr && out->size() < kMaxCssText) appendUtf8(scalarOrReplacement(value), out);
}

void consumeIdentifier(CssInput& in, std::string* out) {
  for (;;) {
    const int c = peek(in);
    if (c != kEnd && isNameCharacter(c)) {
      ++in.pos;
      appendByte(c, out);
    } else if (isValidEscape(c, peek(in, 1))) {
      ++in.pos;
      consumeEscape(in, out);
    } else {
      return;
    }
  }
}

enum class Read : uint8_t { Done, Bad, More };

// Reads on in a string, after its opening quote: Bad for a bad string (a
// line end before the closing quote, which is left unread), More when the
// text given runs out first.
Read continueString(CssInput& in, int quote, std::string* out) {
  for (;;) {
    if (!roomAhead(in)) return Read::More;
    const int c = peek(in);
    if (c == kEnd) return Read::Done;
    if (c == quote) {
      ++in.pos;
      return Read::Done;
    }
    if (isNewline(c)) return Read::Bad;
    ++in.pos;
    if (c != '\\') {
      appendByte(c, out);
      continue;
    }
    const int next = peek(in);
    if (next == kEnd) continue;
    if (isNewline(next)) {
      // An escaped line end continues the string.
      in.pos += next == '\r' && peek(in, 1) == '\n' ? 2 : 1;
      continue;
    }
    consumeEscape(in, out);
  }
}

void skipWhitespace(CssInput& in) {
  while (isWhitespace(peek(in))) ++in.pos;
}

// Reads on in the rest of a bad url(): up to and with its ')'. Bad when
// done.
Read continueBadUrl(CssInput& in) {
  for (;;) {
    if (!roomAhead(in)) return Read::More;
    const int c = peek(in);
    if (c == kEnd) return Read::Bad;
    ++in.pos;
    if (c == ')') return Read::Bad;
    if (isValidEscape(c, peek(in))) consumeEscape(in, nullptr);
  }
}

// Reads on in an unquoted url(), after "url(" and the whitespace that
// follows it (mode Url), or in whitespace inside it (mode UrlSpace).
Read continueUrl(CssInput& in, CssReader::Mode* mode, std::string* out) {
  for (;;) {
    if (!roomAhead(in)) return Read::More;
    const int c = peek(in);
    if (c == kEnd) return Read::Done;
    if (c == ')') {
      ++in.pos;
      return Read::Done;
    }
    if (isWhitespace(c)) {
      ++in.pos;
      *mode = CssReader::Mode::UrlSpace;
      continue;
    }
    // After whitespace only ')' or the end may come.
    if (*mode == CssReader::Mode::UrlSpace || c == '"' || c == '\'' || c == '(' ||
        (c != 0 && isNonPrintable(c))) {
      *mode = CssReader::Mode::BadUrl;
      return continueBadUrl(in);
    }
    ++in.pos;
    if (c == '\\') {
      if (!isValidEscape(c, peek(in))) {
        *mode = CssReader::Mode::BadUrl;
        return continueBadUrl(in);
      }
      consumeEscape(in, out);
      continue;
    }
    appendByte(c, out);
  }
}

void consumeNumeric(CssInput& in) {
  if (peek(in) == '+' || peek(in) == '-') ++in.pos;
  while (isDigit(peek(in))) ++in.pos;
  if (peek(in) == '.' && isDigit(peek(in, 1))) {
    ++in.pos;
    while (isDigit(peek(in))) ++in.pos;
  }
  if (peek(in) == 'e' || peek(in) == 'E') {
    const int sign = peek(in, 1);
    const size_t digitAt = sign == '+' || sign == '-' ? 2 : 1;
    if (isDigit(peek(in, digitAt))) {
      in.pos += digitAt;
      while (isDigit(peek(in))) ++in.pos;
    }
  }
  if (startsIdentifier(in, 0)) {
    consumeIdentifier(in, nullptr);  // a unit: "1url(" is no url(
  } else if (peek(in) == '%') {
    ++in.pos;
  }
}

}  // namespace

namespace {

// Reads on in the comment, string or URL that reader is in. False when the
// text given runs out first.
bool continueOpen(CssInput& in, CssReader& r, std::vector<CssReference>* out) {
  Read read = Read::Done;
  switch (r.mode) {
    case CssReader::Mode::Top:
      return true;
    case CssReader::Mode::Comment: {
      const size_t end = in.text.find("*/", in.pos);
      if (end != std::string_view::npos) {
        in.pos = end + 2;
      } else if (in.end) {
        in.pos = in.text.size();
      } else {
        // A '*' at the end may start the end.
        in.pos = std::max(in.pos, in.text.size() - 1);
        return false;
      }
      r.mode = CssReader::Mode::Top;
      return true;
    }
    case CssReader::Mode::String:
      read = continueString(in, r.quote, r.keep ? &r.open.value : nullptr);
      break;
    case CssReader::Mode::Url:
    case CssReader::Mode::UrlSpace:
      read = continueUrl(in, &r.mode, r.keep ? &r.open.value : nullptr);
      break;
    case CssReader::Mode::BadUrl:
      read = continueBadUrl(in);
      break;
  }
  if (read == Read::More) return false;
  if (read == Read::Done && r.keep) out->push_back(std::move(r.open));
  // Nothing is open now: a comment that follows is no reference to place.
  r.keep = false;
  r.mode = CssReader::Mode::Top;
  return true;
}

// Starts reading a string or URL at the reading position; it is a
// reference that starts at offset when keep.
void open(CssReader& r, CssReader::Mode mode, bool keep, size_t offset) {
  r.mode = mode;
  r.keep = keep;
  r.open.value.clear();
  r.open.offset = offset;
  r.open.placed = false;
}

// Reads one token at the top level, or starts a comment, string or URL.
void readTopToken(CssInput& in, CssReader& r, size_t offset) {
  const int c = peek(in);
  if (c == '/' && peek(in, 1) == '*') {
    in.pos += 2;
    r.mode = CssReader::Mode::Comment;
    return;
  }
  if (isWhitespace(c)) {
    ++in.pos;
    return;
  }
  const size_t start = in.pos;
  const bool importString = r.importPending && !r.inNamespace;
  r.importPending = false;
  if (c == '"' || c == '\'') {
    ++in.pos;
    r.quote = c;
    open(r, CssReader::Mode::String, importString, offset + start);
  } else if (startsNumber(in)) {
    consumeNumeric(in);
  } else if (startsWithWord(in, "-->")) {
    in.pos += 3;
  } else if (startsWithWord(in, "<!--")) {
    in.pos += 4;
  } else if (c == '@' && startsIdentifier(in, 1)) {
    ++in.pos;
    r.name.clear();
    consumeIdentifier(in, &r.name);
    r.importPending = equalIgnoringCase(r.name, "import");
    if (equalIgnoringCase(r.name, "namespace")) r.inNamespace = true;
  } else if (c == '#' &&
             (isNameCharacter(peek(in, 1)) || isValidEscape(peek(in, 1), peek(in, 2)))) {
    ++in.pos;
    consumeIdentifier(in, nullptr);
  } else if (startsIdentifier(in, 0)) {
    r.name.clear();
    consumeIdentifier(in, &r.name);
    if (peek(in) != '(') return;
    ++in.pos;
    if (!equalIgnoringCase(r.name, "url")) return;
    skipWhitespace(in);
    const int quote = peek(in);
    if (quote == '"' || quote == '\'') {
      ++in.pos;
      r.quote = quote;
      open(r, CssReader::Mode::String, !r.inNamespace, offset + start);
    } else {
      open(r, CssReader::Mode::Url, !r.inNamespace, offset + start);
    }
  } else {
    if (c == ';' || c == '{' || c == '}') r.inNamespace = false;
    ++in.pos;
  }
}

}  // namespace

void startCss(CssReader& reader) {
  reader.mode = CssReader::Mode::Top;
  reader.importPending = false;
  reader.inNamespace = false;
  reader.keep = false;
  reader.open.value.clear();
  reader.open.placed = false;
}

size_t readCss(CssReader& r, std::string_view text, size_t offset, bool end,
               std::vector<CssReference>* out) {
  CssInput in;
  in.text = text;
  in.end = end;
  for (;;) {
    if (!continueOpen(in, r, out)) return in.pos;
    if (in.pos >= text.size()) return text.size();
    const size_t start = in.pos;
    const bool importPending = r.importPending;
    const bool inNamespace = r.inNamespace;
    in.starved = false;
    readTopToken(in, r, offset);
    if (in.starved && text.size() - start <= kMaxCarry) {
      // Cut by the end of the text given: read again with the next piece.
      r.mode = CssReader::Mode::Top;
      r.importPending = importPending;
      r.inNamespace = inNamespace;
      return start;
    }
  }
}

void readCssReferences(std::string_view css, std::vector<CssReference>* out) {
  CssReader reader;
  readCss(reader, css, 0, true, out);
}

}  // namespace site
