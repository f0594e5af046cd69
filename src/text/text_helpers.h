// Small byte and character helpers that several readers of text need alike:
// hexadecimal digits, the whitespace of HTML, CSS and URLs, and UTF-8 written
// and checked. No system header, no state; every layer may use them.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The value of an ASCII hexadecimal digit (either case), or -1 for any other
// byte or for a negative c (an end of input).
inline int hexDigitValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Space, tab, line feed, form feed or carriage return: what HTML, CSS and the
// URL standard call ASCII whitespace.
inline bool isAsciiWhitespace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// U+FFFD REPLACEMENT CHARACTER, and its UTF-8.
inline constexpr char32_t kReplacementCodePoint = 0xFFFD;
inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// value when it is a Unicode scalar value other than 0 (from 1 to U+10FFFF,
// surrogates excluded), U+FFFD otherwise: what an escape or a numeric
// reference that names no character stands for.
inline char32_t scalarOrReplacement(uint32_t value) {
  if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return kReplacementCodePoint;
  }
  return value;
}

// Appends the UTF-8 of codePoint, which must be at most U+10FFFF (a surrogate
// is written as its three bytes, as the caller asked).
inline void appendUtf8(char32_t codePoint, std::string* out) {
  assert(codePoint <= 0x10FFFF);
  const uint32_t c = codePoint;
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// The length of the well-formed UTF-8 sequence at bytes[at] (at < size), or 0
// when none starts there; *bad is then the number of bytes of the ill-formed
// prefix (at least one), its maximal subpart, which a repair replaces by one
// U+FFFD. The ranges of the second byte are those of the Unicode standard's
// table of well-formed UTF-8 byte sequences.
inline size_t utf8SequenceLength(std::string_view bytes, size_t at, size_t* bad) {
  const unsigned char lead = static_cast<unsigned char>(bytes[at]);
  size_t trailing = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead < 0x80) {
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    trailing = 1;
  } else if (lead == 0xE0) {
    trailing = 2;
    low = 0xA0;  // no overlong forms
  } else if (lead == 0xED) {
    trailing = 2;
    high = 0x9F;  // no surrogates
  } else if (lead >= 0xE1 && lead <= 0xEF) {
    trailing = 2;
  } else if (lead == 0xF0) {
    trailing = 3;
    low = 0x90;
  } else if (lead >= 0xF1 && lead <= 0xF3) {
    trailing = 3;
  } else if (lead == 0xF4) {
    trailing = 3;
    high = 0x8F;  // nothing above U+10FFFF
  } else {
    *bad = 1;
    return 0;
  }
  for (size_t k = 1; k <= trailing; ++k) {
    if (at + k >= bytes.size()) {
      *bad = k;
      return 0;
    }
    const unsigned char next = static_cast<unsigned char>(bytes[at + k]);
    const unsigned char min = k == 1 ? low : 0x80;
    const unsigned char max = k == 1 ? high : 0xBF;
    if (next < min || next > max) {
      *bad = k;
      return 0;
    }
  }
  return trailing + 1;
}

// True when bytes is well-formed UTF-8 throughout.
inline bool isValidUtf8(std::string_view bytes) {
  for (size_t at = 0, bad = 0; at < bytes.size();) {
    const size_t length = utf8SequenceLength(bytes, at, &bad);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

// text in single quotes, as tangler-site's messages name a file, a pattern
// or a value ('site/index.html'). tangler's reports quote with double quotes
// (tangler::quoted).
inline std::string quoted(std::string_view text) {
  // Built piece by piece: g++ 12 at -O3 warns (-Wrestrict) wrongly on
  // "literal" + std::string&&.
  std::string out;
  out.reserve(text.size() + 2);
  out += '\'';
  out += text;
  out += '\'';
  return out;
}
