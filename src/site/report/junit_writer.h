// The junit report: JUnit XML, which CI services show in their test tabs.
#pragma once

#include <string>
#include <string_view>

#include "site/report/finding.h"
#include "site/report/report_sink.h"

namespace site {

// Writes the report to sink as a JUnit XML document, a test case at a time,
// and flushes it; false when a write failed (the rest is then not written).
// The root <testsuites name="tangler-site"> holds a test suite for each page
// and style sheet that was read (ReportFile::checked) and each file with a
// finding other than an orphan, named by its report path, in the report's
// order of files, and then one named "orphans"
// unless orphans are off. In a file's suite, a test case per finding, named
// "KIND: REF"; in the orphans suite, one per orphan, named by its path; a
// suite with no finding has one passing test case named as the suite. An
// error-level finding's test case fails: a <failure> whose message is the
// finding's and whose text is its line of the text report. A warning's
// passes and carries that line in <system-out>. "tests" and "failures"
// count test cases, on the root and on each suite. No timing is written, so
// one site always gives the same bytes.
bool writeJunit(const SiteReport& report, ReportSink& sink);

// text escaped for XML character data or, with inAttribute, for a
// double-quoted attribute value: & < > " ' as entities; carriage returns
// (and in attributes line feeds and tabs) as character references, so that
// a parser's line-end and attribute normalization gives them back; bytes
// that are not UTF-8, control characters other than tab, line feed and
// carriage return, U+FFFE and U+FFFF (none of which XML can hold) as U+FFFD.
std::string escapeXml(std::string_view text, bool inAttribute);

}  // namespace site
