// The report formats by the names --format takes: the one place that ties
// a name to its writer.
#pragma once

#include <string>
#include <string_view>

#include "site/report/finding.h"
#include "site/report/report_sink.h"

namespace site {

// Writes the whole report to sink as it goes and flushes it; false when a
// write failed (sink.error says why), after which the writer stops.
using ReportWriter = bool (*)(const SiteReport& report, ReportSink& sink);

// The writer for a format name ("text", "json", ...), or nullptr when there
// is none by that name.
ReportWriter findReportWriter(std::string_view format);

// The format names, for messages: "text, json, sarif, junit or github".
std::string reportFormatNames();

// What writer writes for report, as one string: for tests and fuzzing. A
// run writes to its output through a sink instead.
std::string reportText(ReportWriter writer, const SiteReport& report);

}  // namespace site
