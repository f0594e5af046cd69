// One run of tangler-site from its arguments to its exit status: the only
// place that prints to the standard streams or decides the status.
#pragma once

#include <string>
#include <vector>

namespace site {

// Exit statuses.
constexpr int kStatusClean = 0;       // no error-level finding
constexpr int kStatusFindings = 1;    // at least one error-level finding, or no page at all
constexpr int kStatusUsage = 2;       // the command line was not understood
constexpr int kStatusUnreadable = 3;  // ROOT, a walked directory or file unreadable, or the
                                      // report not written

// Runs tangler-site with the arguments that follow the program's name.
int runSite(const std::vector<std::string>& args);

}  // namespace site
