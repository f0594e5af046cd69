// The junit report: JUnit XML, which CI services show in their test tabs.
#pragma once

#include <string>
#include <string_view>

#include "site/report/finding.h"

namespace site {

// The report as a JUnit XML document: one test suite "tangler-site" with a
// test case for each page and style sheet checked (named by its report
// path) and one named "orphans" unless orphans are off. Each error-level
// finding is a <failure> of its file's test case (orphans: of "orphans");
// warnings go to the test case's <system-out>, so they are seen but fail
// nothing. A test case fails when it has a failure; "tests" and "failures"
// count test cases.
std::string writeJunit(const SiteReport& report);

// text escaped for XML character data or, with inAttribute, for a
// double-quoted attribute value: & < > " ' as entities; carriage returns
// (and in attributes line feeds and tabs) as character references, so that
// a parser's line-end and attribute normalization gives them back; bytes
// that are not UTF-8, control characters other than tab, line feed and
// carriage return, U+FFFE and U+FFFF (none of which XML can hold) as U+FFFD.
std::string escapeXml(std::string_view text, bool inAttribute);

}  // namespace site
