// The github report: workflow commands, which GitHub Actions turns into
// annotations on the files and lines of a pull request.
#pragma once

#include "site/report/finding.h"
#include "site/report/report_sink.h"

namespace site {

// Writes to sink one command a finding and nothing else:
//   ::error file=PATH,line=L,col=C,title=KIND::MESSAGE
// ("::warning" for warnings; an orphan has no line or col). The runner
// splits on ',' and '::' and ends a command at a line end, so '%', CR and LF
// are percent-escaped in the message, and ':' and ',' too in the properties.
// Bytes that are not UTF-8 become U+FFFD. Flushes the sink at the end;
// false when a write failed (the rest is then not written).
bool writeGithub(const SiteReport& report, ReportSink& sink);

}  // namespace site
