// The text report: one line per finding in the form compilers use, so that
// an editor jumps to each place.
#pragma once

#include <string>

#include "site/report/finding.h"

namespace site {

// "PATH:LINE:COLUMN: LEVEL: MESSAGE [KIND]\n" for each finding in the order
// given, and "PATH: LEVEL: MESSAGE [orphan]\n" for an orphan. The summary is
// not part of it.
std::string writeText(const SiteReport& report);

}  // namespace site
