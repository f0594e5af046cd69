#include "site/css/css_reader.h"

#include <cstdint>

#include "platform/ascii_case.h"
#include "site/html/character_references.h"

namespace site {

namespace {

constexpr int kEnd = -1;
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// Reading position in a style sheet. Bytes from 0x80 up count as the
// non-ASCII code points of UTF-8 text; NUL reads as U+FFFD, as the
// standard's input preprocessing makes it.
struct CssInput {
  std::string_view text;
  size_t pos = 0;
};

int peek(const CssInput& in, size_t ahead = 0) {
  const size_t at = in.pos + ahead;
  return at < in.text.size() ? static_cast<unsigned char>(in.text[at]) : kEnd;
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

int hexDigitValue(int c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
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

bool startsIdentifier(const CssInput& in, size_t ahead) {
  const int first = peek(in, ahead);
  if (first == '-') {
    const int second = peek(in, ahead + 1);
    return isNameStart(second) || second == '-' || isValidEscape(second, peek(in, ahead + 2));
  }
  return isNameStart(first) || isValidEscape(first, peek(in, ahead + 1));
}

bool startsNumber(const CssInput& in) {
  const int first = peek(in);
  if (first == '+' || first == '-') {
    const int second = peek(in, 1);
    return isDigit(second) || (second == '.' && isDigit(peek(in, 2)));
  }
  if (first == '.') return isDigit(peek(in, 1));
  return isDigit(first);
}

void appendByte(int c, std::string* out) {
  if (out == nullptr) return;
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
    if (out != nullptr) out->append(kReplacementCharacter);
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
  if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) value = 0xFFFD;
  if (out != nullptr) appendUtf8(value, out);
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

// After the opening quote. False for a bad string: a line end before the
// closing quote, which is left unread.
bool consumeString(CssInput& in, int quote, std::string* out) {
  for (;;) {
    const int c = peek(in);
    if (c == kEnd) return true;
    if (c == quote) {
      ++in.pos;
      return true;
    }
    if (isNewline(c)) return false;
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

// The rest of a bad url(): up to and with its ')'.
void consumeBadUrlRemnants(CssInput& in) {
  for (;;) {
    const int c = peek(in);
    if (c == kEnd) return;
    ++in.pos;
    if (c == ')') return;
    if (isValidEscape(c, peek(in))) consumeEscape(in, nullptr);
  }
}

// After "url(" and the whitespace that follows it. False for a bad URL.
bool consumeUrl(CssInput& in, std::string* out) {
  for (;;) {
    const int c = peek(in);
    if (c == kEnd) return true;
    if (c == ')') {
      ++in.pos;
      return true;
    }
    if (isWhitespace(c)) {
      skipWhitespace(in);
      if (peek(in) == ')' || peek(in) == kEnd) continue;
      consumeBadUrlRemnants(in);
      return false;
    }
    if (c == '"' || c == '\'' || c == '(' || (c != 0 && isNonPrintable(c))) {
      consumeBadUrlRemnants(in);
      return false;
    }
    ++in.pos;
    if (c == '\\') {
      if (!isValidEscape(c, peek(in))) {
        consumeBadUrlRemnants(in);
        return false;
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

void readCssReferences(std::string_view css, std::vector<CssReference>* out) {
  CssInput in;
  in.text = css;
  std::string name;
  bool importPending = false;  // after @import, before its first token
  bool inNamespace = false;    // inside an @namespace rule
  while (in.pos < css.size()) {
    const int c = peek(in);
    if (c == '/' && peek(in, 1) == '*') {
      const size_t end = css.find("*/", in.pos + 2);
      in.pos = end == std::string_view::npos ? css.size() : end + 2;
      continue;
    }
    if (isWhitespace(c)) {
      ++in.pos;
      continue;
    }
    const size_t start = in.pos;
    const bool importString = importPending && !inNamespace;
    importPending = false;
    if (c == '"' || c == '\'') {
      ++in.pos;
      CssReference reference;
      reference.offset = start;
      if (consumeString(in, c, importString ? &reference.value : nullptr) && importString) {
        out->push_back(std::move(reference));
      }
    } else if (startsNumber(in)) {
      consumeNumeric(in);
    } else if (css.substr(in.pos).starts_with("-->")) {
      in.pos += 3;
    } else if (css.substr(in.pos).starts_with("<!--")) {
      in.pos += 4;
    } else if (c == '@' && startsIdentifier(in, 1)) {
      ++in.pos;
      name.clear();
      consumeIdentifier(in, &name);
      importPending = equalIgnoringCase(name, "import");
      if (equalIgnoringCase(name, "namespace")) inNamespace = true;
    } else if (c == '#' &&
               (isNameCharacter(peek(in, 1)) || isValidEscape(peek(in, 1), peek(in, 2)))) {
      ++in.pos;
      consumeIdentifier(in, nullptr);
    } else if (startsIdentifier(in, 0)) {
      name.clear();
      consumeIdentifier(in, &name);
      if (peek(in) != '(') continue;
      ++in.pos;
      if (!equalIgnoringCase(name, "url")) continue;
      skipWhitespace(in);
      CssReference reference;
      reference.offset = start;
      const int quote = peek(in);
      bool good;
      if (quote == '"' || quote == '\'') {
        ++in.pos;
        good = consumeString(in, quote, &reference.value);
      } else {
        good = consumeUrl(in, &reference.value);
      }
      if (good && !inNamespace) out->push_back(std::move(reference));
    } else {
      if (c == ';' || c == '{' || c == '}') inNamespace = false;
      ++in.pos;
    }
  }
}

}  // namespace site
