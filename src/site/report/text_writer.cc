#include "site/report/text_writer.h"

namespace site {

std::string writeText(const SiteReport& report) {
  std::string out;
  for (const Finding& finding : report.findings) {
    out += finding.path;
    if (finding.kind != FindingKind::Orphan) {
      out += ':';
      out += std::to_string(finding.line);
      out += ':';
      out += std::to_string(finding.column);
    }
    out += ": ";
    out += levelName(finding.level);
    out += ": ";
    out += finding.message;
    out += " [";
    out += kindName(finding.kind);
    out += "]\n";
  }
  return out;
}

}  // namespace site
