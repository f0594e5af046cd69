// The report formats by the names --format takes: the one place that ties
// a name to its writer.
#pragma once

#include <string>
#include <string_view>

#include "site/report/finding.h"

namespace site {

using ReportWriter = std::string (*)(const SiteReport& report);

// The writer for a format name ("text", "json", ...), or nullptr when this
// build has none for it.
ReportWriter findReportWriter(std::string_view format);

}  // namespace site
