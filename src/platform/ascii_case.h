// Letter-case handling shared by every layer. Only the ASCII letters are
// folded; every other byte, those from 0x80 up included, stays as it is, so
// that names compare the same way whatever the host's locale.
#pragma once

#include <cstdint>
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

// A hash of text that ignores ASCII case: equal for texts that
// equalIgnoringCase() calls equal, and well mixed in all 64 bits. Taken
// eight bytes at a time, for tables looked up once per reference.
uint64_t hashIgnoringCase(std::string_view text);
