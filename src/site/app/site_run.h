// One run of tangler-site from its arguments to its exit status: the only
// place that prints to the standard streams or decides the status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "site/app/progress_line.h"  // progressText, which the tests call through here
#include "site/report/finding.h"

namespace site {

// Exit statuses.
constexpr int kStatusClean = 0;       // no error-level finding
constexpr int kStatusFindings = 1;    // at least one error-level finding, or no page at all
constexpr int kStatusUsage = 2;       // the command line was not understood
constexpr int kStatusUnreadable = 3;  // ROOT, a walked directory or file unreadable, or the
                                      // report not written

// The line that ends a run on the error stream (without "tangler-site: "):
// "4 pages, 9 files, 23 references (1 external, not checked): 8 errors, 2
// warnings in 0.01 s"; with --external "not checked" is "3 URLs checked: 2
// working, 1 failed, 0 from the cache"; when references were ignored,
// ", N ignored" follows.
std::string summaryLine(const Summary& summary);

// Runs tangler-site with the arguments that follow the program's name.
int runSite(const std::vector<std::string>& args);

}  // namespace site
