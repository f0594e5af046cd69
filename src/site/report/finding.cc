#include "site/report/finding.h"

#include <algorithm>

namespace site {

const char* kindName(FindingKind kind) {
  switch (kind) {
    case FindingKind::MissingFile:
      return "missing-file";
    case FindingKind::MissingAnchor:
      return "missing-anchor";
    case FindingKind::CaseMismatch:
      return "case-mismatch";
    case FindingKind::OutsideRoot:
      return "outside-root";
    case FindingKind::FileScheme:
      return "file-scheme";
    case FindingKind::InvalidUrl:
      return "invalid-url";
    case FindingKind::Orphan:
      return "orphan";
  }
  return "unknown";
}

const char* levelName(Level level) {
  return level == Level::Error ? "error" : "warning";
}

void sortFindings(std::vector<Finding>* findings) {
  // One reference gives at most a case-mismatch and then a missing-anchor;
  // every other kind stands alone at its place, so ranking the case
  // mismatch first is all the tie-break there is to do.
  auto rank = [](FindingKind kind) { return kind == FindingKind::CaseMismatch ? 0 : 1; };
  std::sort(findings->begin(), findings->end(), [&](const Finding& a, const Finding& b) {
    if (a.path != b.path) return a.path < b.path;
    bool aOrphan = a.kind == FindingKind::Orphan;
    bool bOrphan = b.kind == FindingKind::Orphan;
    if (aOrphan != bOrphan) return aOrphan;
    if (a.line != b.line) return a.line < b.line;
    if (a.column != b.column) return a.column < b.column;
    if (a.sequence != b.sequence) return a.sequence < b.sequence;
    return rank(a.kind) < rank(b.kind);
  });
}

}  // namespace site
