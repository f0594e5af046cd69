#include "site/walk/glob.h"

#include <vector>

#include "platform/ascii_case.h"

namespace site {

bool globMatches(std::string_view glob, std::string_view text, bool ignoreCase) {
  // "*.html" and the like, asked of every file the walk meets: the text
  // ends with what follows the star, and what the star takes holds no '/'.
  if (glob.size() > 1 && glob[0] == '*' && glob.find_first_of("*?", 1) == std::string_view::npos) {
    const std::string_view tail = glob.substr(1);
    if (text.size() < tail.size()) return false;
    const size_t split = text.size() - tail.size();
    if (text.substr(0, split).find('/') != std::string_view::npos) return false;
    return ignoreCase ? equalIgnoringCase(text.substr(split), tail) : text.substr(split) == tail;
  }
  // can[j] tells whether the glob read so far can have consumed exactly the
  // first j bytes of text; one pass per glob element keeps the work bounded
  // whatever the stars (no backtracking).
  const size_t n = text.size();
  std::vector<char> can(n + 1, 0), next(n + 1, 0);
  can[0] = 1;
  size_t i = 0;
  while (i < glob.size()) {
    std::fill(next.begin(), next.end(), 0);
    if (glob[i] == '*') {
      bool across = i + 1 < glob.size() && glob[i + 1] == '*';
      if (across && i + 2 < glob.size() && glob[i + 2] == '/') {
        // "**/": nothing, or any run of bytes that ends with '/'.
        bool reached = false;
        for (size_t j = 0; j <= n; ++j) {
          if (can[j]) next[j] = 1;
          if (reached && j > 0 && text[j - 1] == '/') next[j] = 1;
          if (can[j]) reached = true;
        }
        i += 3;
      } else {
        bool reached = false;
        for (size_t j = 0; j <= n; ++j) {
          if (!across && j > 0 && text[j - 1] == '/') reached = false;
          if (can[j]) reached = true;
          if (reached) next[j] = 1;
        }
        i += across ? 2 : 1;
      }
    } else {
      for (size_t j = 0; j < n; ++j) {
        if (!can[j]) continue;
        char c = text[j];
        bool match = glob[i] == '?' ? c != '/'
                     : ignoreCase   ? toLowerAscii(c) == toLowerAscii(glob[i])
                                    : c == glob[i];
        if (match) next[j + 1] = 1;
      }
      i += 1;
    }
    can.swap(next);
  }
  return can[n] != 0;
}

bool parseExclude(std::string_view text, ExcludePattern* pattern) {
  bool anchored = false;
  for (;;) {
    if (text.substr(0, 1) == "/") {
      text.remove_prefix(1);
    } else if (text.substr(0, 2) == "./") {
      text.remove_prefix(2);
    } else {
      break;
    }
    anchored = true;
  }
  pattern->directoryOnly = false;
  while (!text.empty() && text.back() == '/') {
    text.remove_suffix(1);
    pattern->directoryOnly = true;
  }
  pattern->glob = std::string(text);
  pattern->anyDepth = !anchored && text.find('/') == std::string_view::npos;
  return !text.empty();
}

bool excludeMatches(const ExcludePattern& pattern, std::string_view path, bool directory) {
  if (pattern.directoryOnly && !directory) return false;
  if (pattern.anyDepth) path = path.substr(path.rfind('/') + 1);  // npos + 1 is 0
  return globMatches(pattern.glob, path, false);
}

}  // namespace site
