#include "site/report/junit_writer.h"

#include <cstdint>
#include <vector>

#include "site/report/text_writer.h"
#include "site/report/utf8_repair.h"

namespace site {

namespace {

// The test suite of the orphan findings.
constexpr std::string_view kOrphanSuite = "orphans";

// The findings of one file's test suite: those in [begin, end) that are not
// orphans (an orphan sorts among its own file's findings but belongs to the
// orphan suite).
struct SuiteRange {
  std::string_view name;
  size_t begin = 0;
  size_t end = 0;
};

struct Counts {
  uint64_t tests = 0;
  uint64_t failures = 0;
};

// Calls visit(SuiteRange) for each file's test suite in path order: every
// path of checkedFiles and every path with a finding other than an orphan,
// each once. Both lists are sorted by path, so this is a merge of the two
// that holds nothing; on lists that are not sorted it still ends, with
// suites out of order.
template <typename Visit>
void forEachFileSuite(const SiteReport& report, Visit visit) {
  const std::vector<Finding>& findings = report.findings;
  const std::vector<std::string>& checked = report.checkedFiles;
  size_t next = 0;
  size_t file = 0;
  for (;;) {
    while (next < findings.size() && findings[next].kind == FindingKind::Orphan) ++next;
    const bool haveFinding = next < findings.size();
    const bool haveFile = file < checked.size();
    if (!haveFinding && !haveFile) return;
    SuiteRange suite;
    if (haveFinding && (!haveFile || findings[next].path <= checked[file])) {
      suite.name = findings[next].path;
    } else {
      suite.name = checked[file];
    }
    suite.begin = next;
    while (next < findings.size() && findings[next].path == suite.name) ++next;
    suite.end = next;
    while (file < checked.size() && checked[file] == suite.name) ++file;
    visit(suite);
  }
}

// A suite's test cases (a finding each, or one passing case when it has
// none) and those of them that fail (the error-level findings).
Counts countSuite(const SiteReport& report, const SuiteRange& suite, bool orphans) {
  Counts counts;
  for (size_t i = suite.begin; i < suite.end; ++i) {
    const Finding& finding = report.findings[i];
    if ((finding.kind == FindingKind::Orphan) != orphans) continue;
    ++counts.tests;
    if (finding.level == Level::Error) ++counts.failures;
  }
  if (counts.tests == 0) counts.tests = 1;
  return counts;
}

std::string countAttributes(const Counts& counts) {
  return " tests=\"" + std::to_string(counts.tests) + "\" failures=\"" +
         std::to_string(counts.failures) + "\" errors=\"0\"";
}

// Writes one test suite: a test case per finding in the range (orphans only,
// or all but orphans), or a passing test case named as the suite when there
// is none. False once the sink has failed.
bool writeSuite(const SiteReport& report, const SuiteRange& suite, bool orphans, ReportSink& sink) {
  const std::string name = escapeXml(suite.name, true);
  std::string xml = "  <testsuite name=\"" + name + "\"" +
                    countAttributes(countSuite(report, suite, orphans)) + " skipped=\"0\">\n";
  bool any = false;
  for (size_t i = suite.begin; i < suite.end; ++i) {
    const Finding& finding = report.findings[i];
    if ((finding.kind == FindingKind::Orphan) != orphans) continue;
    any = true;
    std::string line;
    appendTextLine(finding, &line);
    const std::string caseName =
        orphans ? finding.path : std::string(kindName(finding.kind)) + ": " + finding.reference;
    xml += "    <testcase classname=\"" + name + "\" name=\"" + escapeXml(caseName, true) + "\">\n";
    if (finding.level == Level::Error) {
      xml += "      <failure type=\"" + std::string(kindName(finding.kind)) + "\" message=\"" +
             escapeXml(finding.message, true) + "\">" + escapeXml(line, false) + "</failure>\n";
    } else {
      xml += "      <system-out>" + escapeXml(line, false) + "\n</system-out>\n";
    }
    xml += "    </testcase>\n";
    sink.write(xml);
    xml.clear();
    if (!sink.ok()) return false;
  }
  if (!any) xml += "    <testcase classname=\"" + name + "\" name=\"" + name + "\"/>\n";
  xml += "  </testsuite>\n";
  sink.write(xml);
  return sink.ok();
}

}  // namespace

std::string escapeXml(std::string_view text, bool inAttribute) {
  const std::string valid = repairUtf8(text);
  std::string escaped;
  escaped.reserve(valid.size());
  for (size_t at = 0; at < valid.size(); ++at) {
    const char c = valid[at];
    switch (c) {
      case '&':
        escaped += "&amp;";
        continue;
      case '<':
        escaped += "&lt;";
        continue;
      case '>':
        escaped += "&gt;";
        continue;
      case '"':
        escaped += "&quot;";
        continue;
      case '\'':
        escaped += "&apos;";
        continue;
      case '\r':
        escaped += "&#13;";
        continue;
      case '\n':
        escaped += inAttribute ? "&#10;" : "\n";
        continue;
      case '\t':
        escaped += inAttribute ? "&#9;" : "\t";
        continue;
      default:
        break;
    }
    if (static_cast<unsigned char>(c) < 0x20) {
      escaped += kReplacementCharacter;
    } else if (valid.compare(at, 3, "\xEF\xBF\xBE") == 0 ||
               valid.compare(at, 3, "\xEF\xBF\xBF") == 0) {
      escaped += kReplacementCharacter;
      at += 2;
    } else {
      escaped += c;
    }
  }
  return escaped;
}

bool writeJunit(const SiteReport& report, ReportSink& sink) {
  // The totals come first in the file, so a first pass counts.
  const SuiteRange orphanSuite = {kOrphanSuite, 0, report.findings.size()};
  Counts total;
  auto add = [&](const SuiteRange& suite, bool orphans) {
    const Counts counts = countSuite(report, suite, orphans);
    total.tests += counts.tests;
    total.failures += counts.failures;
  };
  forEachFileSuite(report, [&](const SuiteRange& suite) { add(suite, false); });
  if (!report.orphansOff) add(orphanSuite, true);

  sink.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"tangler-site\"" +
             countAttributes(total) + ">\n");
  bool ok = sink.ok();
  forEachFileSuite(
      report, [&](const SuiteRange& suite) { ok = ok && writeSuite(report, suite, false, sink); });
  if (!ok) return false;
  if (!report.orphansOff && !writeSuite(report, orphanSuite, true, sink)) return false;
  sink.write("</testsuites>\n");
  return sink.flush();
}

}  // namespace site
