// The json report: one object that scripts read instead of parsing text.
#pragma once

#include <string>

#include "site/report/finding.h"

namespace site {

// The report as one JSON object and a line feed:
//   {"version": 2, "root": ..., "summary": {"pages", "files", "references",
//    "external", "ignored", "errors", "warnings"}, "findings": [...]}
// Each finding has kind, level, path, line, column, reference and message,
// and stored for a case-mismatch; an orphan has no line, column or
// reference. "version" is that of this layout, raised when a field changes
// meaning or goes away (1 had the run's seconds; a report holds no timing,
// so that one site always gives the same bytes). Bytes that are not UTF-8
// become U+FFFD, so the output is always valid JSON.
std::string writeJson(const SiteReport& report);

}  // namespace site
