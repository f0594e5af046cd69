#include "platform/ascii_case.h"

#include <cstring>

std::string lowerCaseAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = toLowerAscii(c);
  return out;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (toLowerAscii(a[i]) != toLowerAscii(b[i])) return false;
  }
  return true;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (prefix.empty() || prefix.size() > text.size()) return false;
  return equalIgnoringCase(text.substr(0, prefix.size()), prefix);
}

namespace {

bool matchesAt(std::string_view text, size_t at, std::string_view needle) {
  for (size_t j = 0; j < needle.size(); ++j) {
    if (toLowerAscii(text[at + j]) != toLowerAscii(needle[j])) return false;
  }
  return true;
}

}  // namespace

size_t findLastIgnoringCase(std::string_view text, std::string_view needle) {
  if (needle.empty() || needle.size() > text.size()) return std::string_view::npos;
  for (size_t i = text.size() - needle.size() + 1; i-- > 0;) {
    if (matchesAt(text, i, needle)) return i;
  }
  return std::string_view::npos;
}

namespace {

constexpr uint64_t kEachByte = 0x0101010101010101ull;

// The eight bytes of word with their ASCII capitals made small at once: a
// byte from 'A' to 'Z' (high bit clear) gets 0x20 added.
uint64_t lowerWord(uint64_t word) {
  const uint64_t low = word & (0x7F * kEachByte);
  const uint64_t fromA = low + (0x80 - 'A') * kEachByte;      // high bit: >= 'A'
  const uint64_t pastZ = low + (0x80 - 'Z' - 1) * kEachByte;  // high bit: > 'Z'
  const uint64_t capitals = fromA & ~pastZ & ~word & (0x80 * kEachByte);
  return word | (capitals >> 2);
}

uint64_t mixWord(uint64_t h, uint64_t word) {
  h = (h ^ word) * 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 31);
}

}  // namespace

uint64_t hashIgnoringCase(std::string_view text) {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ text.size();
  size_t at = 0;
  for (; at + 8 <= text.size(); at += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + at, 8);
    h = mixWord(h, lowerWord(word));
  }
  if (at < text.size()) {
    uint64_t word = 0;
    for (size_t i = at; i < text.size(); ++i) {
      word = word << 8 | static_cast<unsigned char>(text[i]);
    }
    h = mixWord(h, lowerWord(word));
  }
  h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
  h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
  return h ^ (h >> 31);
}
