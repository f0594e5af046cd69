// The text report: one line per finding in the form compilers use, so that
// an editor jumps to each place.
#pragma once

#include <string>

#include "site/report/finding.h"
#include "site/report/report_sink.h"

namespace site {

// Writes "PATH:LINE:COLUMN: LEVEL: MESSAGE [KIND]\n" to sink for each
// finding in report order, and "PATH: LEVEL: MESSAGE [orphan]\n" for an
// orphan, and flushes it; false when a write failed (the rest is then not
// written). The summary is not part of it. Bytes below 0x20 and 0x7F in the
// path and the message (which holds the reference and the names) are
// written "\xHH" with upper-case hex digits, so that one finding is one line
// and no name sends a terminal escape; every other byte is written as it is.
bool writeText(const SiteReport& report, ReportSink& sink);

// One finding's line as writeText() writes it, without the line feed,
// appended to *out.
void appendTextLine(const Finding& finding, std::string* out);

}  // namespace site
