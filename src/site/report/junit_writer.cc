#include "site/report/junit_writer.h"

#include <cstdint>
#include <string>
#include <vector>

#include "site/report/text_writer.h"
#include "site/report/utf8_repair.h"

namespace site {

namespace {

// The test suite of the orphan findings.
constexpr std::string_view kOrphanSuite = "orphans";

struct Counts {
  uint64_t tests = 0;
  uint64_t failures = 0;
};

// An orphan sorts among its own file's findings but belongs to the orphan
// suite; every other finding belongs to its file's suite.
bool inSuite(const FindingRecord& record, bool orphans) {
  return (record.kind == FindingKind::Orphan) == orphans;
}

// Whether file has a test suite of its own: it was read, or it has a finding
// other than an orphan.
bool hasFileSuite(const ReportFile& file) {
  if (file.checked) return true;
  for (const FindingRecord& record : file.records) {
    if (inSuite(record, false)) return true;
  }
  return false;
}

// Adds file's findings of the one suite or the other to *counts: a test
// case each, a failure for each error.
void countFindings(const ReportFile& file, bool orphans, Counts* counts) {
  for (const FindingRecord& record : file.records) {
    if (!inSuite(record, orphans)) continue;
    ++counts->tests;
    if (record.level == Level::Error) ++counts->failures;
  }
}

// A suite with no finding has one passing test case.
Counts suiteCounts(Counts counts) {
  if (counts.tests == 0) counts.tests = 1;
  return counts;
}

std::string countAttributes(const Counts& counts) {
  return " tests=\"" + std::to_string(counts.tests) + "\" failures=\"" +
         std::to_string(counts.failures) + "\" errors=\"0\"";
}

// What one suite's writing keeps from case to case.
struct SuiteWriter {
  const SiteReport& report;
  ReportSink& sink;
  std::string name{};  // the suite's name, escaped for an attribute
  Finding finding{};   // the finding being written, its buffers reused
  std::string line{};  // its line of the text report
  std::string xml{};   // what is written next
  bool anyCase = false;
};

void openSuite(SuiteWriter* writer, std::string_view name, const Counts& counts) {
  writer->name = escapeXml(name, true);
  writer->anyCase = false;
  writer->xml =
      "  <testsuite name=\"" + writer->name + "\"" + countAttributes(counts) + " skipped=\"0\">\n";
}

// Writes the test case of one finding of file: named "KIND: REF" in a file's
// suite, by the orphan's path in the orphan suite. False once the sink has
// failed.
bool writeCase(SuiteWriter* writer, const ReportFile& file, const FindingRecord& record) {
  Finding& finding = writer->finding;
  makeFinding(writer->report, file, record, &finding);
  writer->anyCase = true;
  writer->line.clear();
  appendTextLine(finding, &writer->line);
  const std::string caseName = finding.kind == FindingKind::Orphan
                                   ? finding.path
                                   : std::string(kindName(finding.kind)) + ": " + finding.reference;
  std::string& xml = writer->xml;
  xml += "    <testcase classname=\"" + writer->name + "\" name=\"" + escapeXml(caseName, true) +
         "\">\n";
  if (finding.level == Level::Error) {
    xml += "      <failure type=\"" + std::string(kindName(finding.kind)) + "\" message=\"" +
           escapeXml(finding.message, true) + "\">" + escapeXml(writer->line, false) +
           "</failure>\n";
  } else {
    xml += "      <system-out>" + escapeXml(writer->line, false) + "\n</system-out>\n";
  }
  xml += "    </testcase>\n";
  writer->sink.write(xml);
  xml.clear();
  return writer->sink.ok();
}

// Ends the suite, with a passing test case named as the suite when it had
// none. False once the sink has failed.
bool closeSuite(SuiteWriter* writer) {
  std::string& xml = writer->xml;
  if (!writer->anyCase) {
    xml += "    <testcase classname=\"" + writer->name + "\" name=\"" + writer->name + "\"/>\n";
  }
  xml += "  </testsuite>\n";
  writer->sink.write(xml);
  xml.clear();
  return writer->sink.ok();
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
  Counts total;
  Counts orphans;
  for (const ReportFile& file : report.files) {
    if (hasFileSuite(file)) {
      Counts counts;
      countFindings(file, false, &counts);
      counts = suiteCounts(counts);
      total.tests += counts.tests;
      total.failures += counts.failures;
    }
    countFindings(file, true, &orphans);
  }
  orphans = suiteCounts(orphans);
  if (!report.orphansOff) {
    total.tests += orphans.tests;
    total.failures += orphans.failures;
  }

  sink.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"tangler-site\"" +
             countAttributes(total) + ">\n");
  if (!sink.ok()) return false;
  SuiteWriter writer{report, sink};
  std::string path;
  for (const ReportFile& file : report.files) {
    if (!hasFileSuite(file)) continue;
    Counts counts;
    countFindings(file, false, &counts);
    assignReportPath(report, file.node, &path);
    openSuite(&writer, path, suiteCounts(counts));
    for (const FindingRecord& record : file.records) {
      if (inSuite(record, false) && !writeCase(&writer, file, record)) return false;
    }
    if (!closeSuite(&writer)) return false;
  }
  if (!report.orphansOff) {
    openSuite(&writer, kOrphanSuite, orphans);
    for (const ReportFile& file : report.files) {
      for (const FindingRecord& record : file.records) {
        if (inSuite(record, true) && !writeCase(&writer, file, record)) return false;
      }
    }
    if (!closeSuite(&writer)) return false;
  }
  sink.write("</testsuites>\n");
  return sink.flush();
}

}  // namespace site
