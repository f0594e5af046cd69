// Turns a file pattern with wildcards ("*.htm", "sub/*.html") into the paths
// of the files it matches, one at a time, for the scan phase and the orphan
// search. A yielded path keeps the pattern's drive and directory as written,
// so 'site\*.htm' yields 'site\index.htm': a page is named the way the user
// named its folder.
#pragma once

#include <string>
#include <vector>

#include "platform/file_system.h"

namespace tangler {

// One running expansion. The file list is taken when the expansion starts.
struct PatternExpansion {
  std::string prefix;              // the pattern's drive and directory, as written
  std::vector<std::string> names;  // stored names still to yield, in directory order
  size_t next = 0;
};

// Starts a new expansion of pattern, its files found through fs. Returns
// false when nothing matches; otherwise stores the first path in *path.
bool firstMatch(FileSystem& fs, PatternExpansion* expansion, const std::string& pattern,
                std::string* path);

// The next path of the running expansion; false when there is none left.
bool nextMatch(PatternExpansion* expansion, std::string* path);

// The pattern's drive and directory: everything up to and including the last
// '\' or '/', or the drive ("c:") alone.
std::string patternPrefix(const std::string& pattern);

}  // namespace tangler
