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
