// The json report: one object that scripts read instead of parsing text.
#pragma once

#include "site/report/finding.h"
#include "site/report/report_sink.h"

namespace site {

// Writes the report to sink as one JSON object and a line feed, a finding at
// a time, and flushes it; false when a write failed (the rest is then not
// written). The object, laid out as nlohmann-json's dump(2) lays it out:
//   {"version": 2, "root": ..., "summary": {"pages", "files", "references",
//    "external", "ignored", "errors", "warnings"}, "findings": [...]}
// Each finding has kind, level, path, line, column, reference and message,
// and stored for a case-mismatch; an orphan has no line, column or
// reference. "version" is that of this layout, raised when a field changes
// meaning or goes away (1 had the run's seconds; a report holds no timing,
// so that one site always gives the same bytes). Bytes that are not UTF-8
// become U+FFFD, so the output is always valid JSON.
bool writeJson(const SiteReport& report, ReportSink& sink);

}  // namespace site
