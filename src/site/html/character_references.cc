#include "site/html/character_references.h"

#include <algorithm>
#include <cstdint>

#include "text/text_helpers.h"

namespace site {

namespace {

bool isAsciiAlphanumeric(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

int decimalDigitValue(char c) {
  return c >= '0' && c <= '9' ? c - '0' : -1;
}

// What a numeric reference to 0x80-0x9F stands for: pages written in
// windows-1252 used those numbers for its characters. 0 marks the numbers
// that keep their own value.
constexpr char16_t kC1Replacements[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char32_t replaceInvalidCodePoint(uint32_t value) {
  if (scalarOrReplacement(value) != value) return kReplacementCodePoint;
  if (value >= 0x80 && value <= 0x9F && kC1Replacements[value - 0x80] != 0) {
    return kC1Replacements[value - 0x80];
  }
  return value;
}

// &#...; with text[0] == '&' and text[1] == '#'.
size_t appendNumericReference(std::string_view text, std::string* out) {
  size_t pos = 2;
  const bool hex = pos < text.size() && (text[pos] == 'x' || text[pos] == 'X');
  if (hex) ++pos;
  const size_t digitsStart = pos;
  uint32_t value = 0;
  for (; pos < text.size(); ++pos) {
    const int digit = hex ? hexDigitValue(text[pos]) : decimalDigitValue(text[pos]);
    if (digit < 0) break;
    // Past U+10FFFF the value only has to stay past it.
    value = value > 0x10FFFF ? value : value * (hex ? 16 : 10) + static_cast<uint32_t>(digit);
  }
  if (pos == digitsStart) {
    // "&#" or "&#x" without digits is text.
    out->push_back('&');
    return 1;
  }
  if (pos < text.size() && text[pos] == ';') ++pos;
  appendUtf8(replaceInvalidCodePoint(value), out);
  return pos;
}

// The longest name in the table that text (after the '&') starts with, or
// nullptr. Names sort by bytes, so those sharing a prefix form one range;
// each further character narrows it.
const NamedReference* longestNamedMatch(std::string_view text) {
  const NamedReference* low = kNamedReferences;
  const NamedReference* high = kNamedReferences + kNamedReferenceCount;
  const NamedReference* best = nullptr;
  const size_t limit = text.size() < kLongestReferenceName ? text.size() : kLongestReferenceName;
  for (size_t length = 0; length < limit && low < high; ++length) {
    const unsigned char c = static_cast<unsigned char>(text[length]);
    // In [low, high) every name has text[0, length) as prefix; the one
    // exactly that long, if any, is first. Keep those whose next byte is c.
    low = std::partition_point(low, high, [&](const NamedReference& r) {
      return r.name.size() <= length || static_cast<unsigned char>(r.name[length]) < c;
    });
    high = std::partition_point(low, high, [&](const NamedReference& r) {
      return static_cast<unsigned char>(r.name[length]) == c;
    });
    if (low < high && low->name.size() == length + 1) best = low;
    if (c == ';') break;
  }
  return best;
}

}  // namespace

size_t appendCharacterReference(std::string_view text, bool inAttribute, std::string* out) {
  if (text.size() >= 2 && text[1] == '#') return appendNumericReference(text, out);
  const NamedReference* match = longestNamedMatch(text.substr(1));
  if (match == nullptr) {
    out->push_back('&');
    return 1;
  }
  const size_t end = 1 + match->name.size();
  if (inAttribute && match->name.back() != ';' && end < text.size() &&
      (text[end] == '=' || isAsciiAlphanumeric(text[end]))) {
    out->push_back('&');
    return 1;
  }
  out->append(match->utf8);
  return end;
}

}  // namespace site
