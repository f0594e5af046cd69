// Stand-ins for the finding names until the checks' own finding.cc is here.
// Delete this file when src/site/report/finding.cc exists.
#include "site/report/finding.h"

namespace site {

const char* kindName(FindingKind kind) {
  static constexpr const char* kNames[] = {"missing-file", "missing-anchor", "case-mismatch",
                                           "outside-root", "file-scheme",    "orphan"};
  return kNames[static_cast<int>(kind)];
}

const char* levelName(Level level) {
  return level == Level::Error ? "error" : "warning";
}

}  // namespace site
