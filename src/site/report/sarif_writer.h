// The sarif report: SARIF 2.1.0, the format code-scanning services and
// editors' problem views import.
#pragma once

#include <string>
#include <string_view>

#include "site/report/finding.h"
#include "site/report/report_sink.h"

namespace site {

// Writes the report to sink as one SARIF 2.1.0 log and a line feed, a
// result at a time, laid out as nlohmann-json's dump(2) lays it out, and
// flushes it; false when a write failed (the rest is then not written). The
// log has one run whose driver "tangler-site" lists a rule for each kind,
// always, so that a result's ruleIndex never depends on which kinds
// occurred; a result per finding with its level, message and one physical
// location. The location's URI is the report path, percent-encoded where URI
// syntax needs it; its region is the line and column, and an orphan has
// none. Text is valid UTF-8 whatever the file names hold.
bool writeSarif(const SiteReport& report, ReportSink& sink);

// path as a URI reference: every byte but the unreserved characters, the
// sub-delimiters, '@' and '/' is percent-encoded, ':' too so that a first
// segment such as "c:" is not read as a scheme. Bytes that are not UTF-8 are
// encoded as they are, so the URI keeps the file's exact name. A relative
// path, or any path when windowsPaths is false, gives a relative reference.
// With windowsPaths (the Windows build passes true), a path from an absolute
// ROOT, written with '/', is a file URI: "C:/site/a b.html" gives
// "file:///C:/site/a%20b.html" (the drive's ':' kept), "//server/share/a.html"
// gives "file://server/share/a.html".
std::string pathToUri(std::string_view path, bool windowsPaths);

}  // namespace site
