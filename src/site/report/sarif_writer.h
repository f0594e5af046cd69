// The sarif report: SARIF 2.1.0, the format code-scanning services and
// editors' problem views import.
#pragma once

#include <string>
#include <string_view>

#include "site/report/finding.h"

namespace site {

// The report as one SARIF 2.1.0 log and a line feed: one run whose driver
// "tangler-site" lists a rule for each kind, always, so that a
// result's ruleIndex never depends on which kinds occurred; a result per
// finding with its level, message and one physical location. The location's
// URI is the report path, percent-encoded where URI syntax needs it; its
// region is the line and column, and an orphan has none. Text is valid
// UTF-8 whatever the file names hold.
std::string writeSarif(const SiteReport& report);

// path as a relative URI reference: every byte but the unreserved
// characters, the sub-delimiters, '@' and '/' is percent-encoded, ':' too so
// that a first segment such as "c:" is not read as a scheme. Bytes that are
// not UTF-8 are encoded as they are, so the URI keeps the file's exact name.
std::string pathToUri(std::string_view path);

}  // namespace site
