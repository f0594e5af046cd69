// How names match a wildcard pattern and in what order a directory lists
// them: the long-name rules of Windows, which the POSIX build's directory
// search is made of. A Windows build searches and sorts by the system's own
// rules and links this file only into its tests.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ascii_case.h"
#include "platform/file_system.h"

namespace {

// '*' runs are retried from the latest star only, so no input makes the match
// take more than pattern length times name length steps.
bool globMatch(std::string_view pattern, std::string_view name) {
  // The usual patterns are a star and a tail without wildcards ("*.htm"),
  // which is an ending, and that with a star after it ("*.htm*"), which is a
  // part anywhere.
  if (!pattern.empty() && pattern[0] == '*') {
    const size_t next = pattern.find_first_of("*?", 1);
    if (next == std::string_view::npos) {
      const std::string_view tail = pattern.substr(1);
      return name.size() >= tail.size() &&
             equalIgnoringCase(name.substr(name.size() - tail.size()), tail);
    }
    if (next > 1 && next == pattern.size() - 1 && pattern[next] == '*') {
      return findLastIgnoringCase(name, pattern.substr(1, next - 1)) != std::string_view::npos;
    }
  }
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

namespace {

// A name's first sixteen bytes folded to upper case, as two big-endian words
// padded with zero bytes: where two keys differ, they order the names as
// directoryOrderLess() does (no name holds a zero byte, so a name that ends
// first is the shorter of two that agree until then).
struct OrderKey {
  uint64_t high;
  uint64_t low;
  uint32_t index;
};

uint64_t foldedWord(const std::string& name, size_t from) {
  uint64_t word = 0;
  for (size_t i = from; i < from + 8; ++i) {
    const unsigned char byte =
        i < name.size() ? static_cast<unsigned char>(toUpperAscii(name[i])) : 0;
    word = word << 8 | byte;
  }
  return word;
}

}  // namespace

std::vector<uint32_t> directoryOrder(const std::vector<std::string>& names) {
  std::vector<OrderKey> keys(names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    keys[i] = OrderKey{foldedWord(names[i], 0), foldedWord(names[i], 8), static_cast<uint32_t>(i)};
  }
  std::sort(keys.begin(), keys.end(), [&names](const OrderKey& a, const OrderKey& b) {
    if (a.high != b.high) return a.high < b.high;
    if (a.low != b.low) return a.low < b.low;
    return directoryOrderLess(names[a.index], names[b.index]);
  });
  std::vector<uint32_t> order(names.size());
  for (size_t i = 0; i < keys.size(); ++i) order[i] = keys[i].index;
  return order;
}
