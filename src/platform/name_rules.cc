// How names match a wildcard pattern and in what order a directory lists
// them: the long-name rules of Windows, which the POSIX build's directory
// search is made of. A Windows build searches and sorts by the system's own
// rules and links this file only into its tests.
#include <algorithm>
#include <string>
#include <string_view>

#include "platform/ascii_case.h"
#include "platform/file_system.h"

namespace {

// '*' runs are retried from the latest star only, so no input makes the match
// take more than pattern length times name length steps.
bool globMatch(std::string_view pattern, std::string_view name) {
  size_t p = 0;
  size_t n = 0;
  size_t starP = std::string_view::npos;
  size_t starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || toLowerAscii(pattern[p]) == toLowerAscii(name[n]))) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool wildcardMatch(const std::string& pattern, const std::string& name) {
  if (pattern.empty()) return false;
  if (globMatch(pattern, name)) return true;
  // "*.*" means every file, dotless names included.
  if (pattern.size() > 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0) {
    return globMatch(std::string_view(pattern).substr(0, pattern.size() - 2), name);
  }
  return false;
}

bool directoryOrderLess(const std::string& a, const std::string& b) {
  const size_t common = std::min(a.size(), b.size());
  for (size_t i = 0; i < common; ++i) {
    const auto x = static_cast<unsigned char>(toUpperAscii(a[i]));
    const auto y = static_cast<unsigned char>(toUpperAscii(b[i]));
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  });
}
