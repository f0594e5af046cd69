#include "files/pattern_expansion.h"

namespace tangler {

std::string patternPrefix(const std::string& pattern) {
  // "c:*.htm" names the current directory of drive c:, so the drive stands as
  // a prefix of its own even without a separator after it.
  size_t start = (pattern.size() >= 2 && pattern[1] == ':') ? 2 : 0;
  size_t lastSeparator = pattern.find_last_of("\\/");
  if (lastSeparator != std::string::npos && lastSeparator >= start) {
    return pattern.substr(0, lastSeparator + 1);
  }
  return pattern.substr(0, start);
}

bool firstMatch(FileSystem& fs, PatternExpansion* expansion, const std::string& pattern,
                std::string* path) {
  // The whole list is taken at once: pages are scanned between two calls, and
  // a directory read that is still open would see the reference file and any
  // other file the run creates meanwhile.
  expansion->prefix = patternPrefix(pattern);
  expansion->names = fs.findFiles(pattern);
  expansion->next = 0;
  return nextMatch(expansion, path);
}

bool nextMatch(PatternExpansion* expansion, std::string* path) {
  if (expansion->next >= expansion->names.size()) {
    expansion->names.clear();
    expansion->next = 0;
    return false;
  }
  // The directory is kept exactly as the pattern wrote it, separator and
  // letter case included, so that a page is named the way the user named
  // its folder; only the file name comes from the directory listing.
  const std::string& name = expansion->names[expansion->next++];
  path->reserve(expansion->prefix.size() + name.size());
  path->assign(expansion->prefix);
  path->append(name);
  return true;
}

}  // namespace tangler
