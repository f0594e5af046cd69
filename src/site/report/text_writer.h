// The text report: one line per finding in the form compilers use, so that
// an editor jumps to each place.
#pragma once

#include <string>

#include "site/report/finding.h"

namespace site {

// "PATH:LINE:COLUMN: LEVEL: MESSAGE [KIND]\n" for each finding in the order
// given, and "PATH: LEVEL: MESSAGE [orphan]\n" for an orphan. The summary is
// not part of it. Bytes below 0x20 and 0x7F in the path and the message
// (which holds the reference and the names) are written "\xHH" with
// upper-case hex digits, so that one finding is one line and no name sends
// a terminal escape; every other byte is written as it is.
std::string writeText(const SiteReport& report);

// One finding's line as writeText() writes it, without the line feed,
// appended to *out.
void appendTextLine(const Finding& finding, std::string* out);

}  // namespace site
