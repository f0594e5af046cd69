// Letter-case handling shared by every layer. Only the ASCII letters are
// folded; every other byte, those from 0x80 up included, stays as it is, so
// that names compare the same way whatever the host's locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

inline char toLowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}
inline char toUpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

// Returns a copy of text with the ASCII capitals turned to small letters.
std::string lowerCaseAscii(std::string_view text);

// True when a and b have the same length and the same bytes, ignoring ASCII case.
bool equalIgnoringCase(std::string_view a, std::string_view b);

// True when prefix is not empty and text begins with it, ignoring ASCII case.
// An empty prefix never matches.
bool startsWithIgnoringCase(std::string_view text, std::string_view prefix);

// The last position in text at which needle begins, ignoring ASCII case, or
// std::string_view::npos. An empty needle is never found.
size_t findLastIgnoringCase(std::string_view text, std::string_view needle);

namespace ascii_case_detail {

constexpr uint64_t kEachByte = 0x0101010101010101ull;

// The eight bytes of word with their ASCII capitals made small at once: a
// byte from 'A' to 'Z' (high bit clear) gets 0x20 added.
inline uint64_t lowerWord(uint64_t word) {
  const uint64_t low = word & (0x7F * kEachByte);
  const uint64_t fromA = low + (0x80 - 'A') * kEachByte;      // high bit: >= 'A'
  const uint64_t pastZ = low + (0x80 - 'Z' - 1) * kEachByte;  // high bit: > 'Z'
  const uint64_t capitals = fromA & ~pastZ & ~word & (0x80 * kEachByte);
  return word | (capitals >> 2);
}

inline uint64_t mixWord(uint64_t h, uint64_t word) {
  h = (h ^ word) * 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 31);
}

inline uint64_t load(const char* at, size_t bytes) {
  uint64_t word = 0;
  std::memcpy(&word, at, bytes);
  return word;
}

}  // namespace ascii_case_detail

// A hash of text that ignores ASCII case: equal for texts that
// equalIgnoringCase() calls equal, and well mixed in all 64 bits. Taken
// eight bytes at a time, for tables looked up once per reference (and so
// inline: names are short, and a call costs as much as hashing one).
inline uint64_t hashIgnoringCase(std::string_view text) {
  using namespace ascii_case_detail;
  const char* data = text.data();
  const size_t size = text.size();
  uint64_t h = 0x9E3779B97F4A7C15ull ^ size;
  size_t at = 0;
  for (; at + 8 <= size; at += 8) h = mixWord(h, lowerWord(load(data + at, 8)));
  const size_t rest = size - at;
  if (rest != 0) {
    // The last bytes in one word, whatever their number: the word that ends
    // the text with the bytes taken already shifted out; otherwise two
    // overlapping halves, or the first, middle and last byte.
    uint64_t word = 0;
    if (size >= 8) {
      word = load(data + size - 8, 8) >> (8 * (8 - rest));
    } else if (rest >= 4) {
      word = load(data, 4) | load(data + rest - 4, 4) << 32;
    } else {
      word = load(data, 1) | load(data + rest / 2, 1) << 8 | load(data + rest - 1, 1) << 16;
    }
    h = mixWord(h, lowerWord(word));
  }
  h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
  h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
  return h ^ (h >> 31);
}
