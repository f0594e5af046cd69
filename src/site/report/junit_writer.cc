#include "site/report/junit_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <vector>

#include "site/report/text_writer.h"
#include "site/report/utf8_repair.h"

namespace site {

namespace {

// The test case of the orphan findings.
constexpr std::string_view kOrphanCase = "orphans";

struct TestCase {
  std::vector<const Finding*> failures;  // error-level findings
  std::vector<const Finding*> warnings;
};

// The finding as the text report writes it, without the line feed: the body
// of a failure or a line of system-out, so a reader sees where to look.
std::string findingLine(const Finding& finding) {
  std::string line;
  appendTextLine(finding, &line);
  return line;
}

std::string secondsText(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed, 3);
  return result.ec == std::errc() ? std::string(buffer, result.ptr) : std::string("0.000");
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

std::string writeJunit(const SiteReport& report) {
  // Files without findings are passing test cases; a finding in a file
  // missing from the list still gets its test case.
  std::map<std::string, TestCase> cases;
  for (const std::string& path : report.checkedFiles) cases[path];
  TestCase orphans;
  for (const Finding& finding : report.findings) {
    TestCase& testCase = finding.kind == FindingKind::Orphan ? orphans : cases[finding.path];
    (finding.level == Level::Error ? testCase.failures : testCase.warnings).push_back(&finding);
  }
  std::vector<std::pair<std::string_view, const TestCase*>> order;
  for (const auto& [path, testCase] : cases) order.emplace_back(path, &testCase);
  if (!report.orphansOff) order.emplace_back(kOrphanCase, &orphans);

  const size_t failed =
      static_cast<size_t>(std::count_if(order.begin(), order.end(), [](const auto& entry) {
        return !entry.second->failures.empty();
      }));
  const std::string counts = " tests=\"" + std::to_string(order.size()) + "\" failures=\"" +
                             std::to_string(failed) + "\" errors=\"0\" time=\"" +
                             secondsText(report.summary.seconds) + "\"";
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  xml += "<testsuites name=\"tangler-site\"" + counts + ">\n";
  xml += "  <testsuite name=\"tangler-site\"" + counts + " skipped=\"0\">\n";
  for (const auto& [name, testCase] : order) {
    xml += "    <testcase classname=\"tangler-site\" name=\"" + escapeXml(name, true) + "\"";
    if (testCase->failures.empty() && testCase->warnings.empty()) {
      xml += "/>\n";
      continue;
    }
    xml += ">\n";
    for (const Finding* finding : testCase->failures) {
      xml += "      <failure type=\"" + std::string(kindName(finding->kind)) + "\" message=\"" +
             escapeXml(finding->message, true) + "\">" + escapeXml(findingLine(*finding), false) +
             "</failure>\n";
    }
    if (!testCase->warnings.empty()) {
      xml += "      <system-out>";
      for (const Finding* finding : testCase->warnings) {
        xml += escapeXml(findingLine(*finding), false) + "\n";
      }
      xml += "</system-out>\n";
    }
    xml += "    </testcase>\n";
  }
  xml += "  </testsuite>\n</testsuites>\n";
  return xml;
}

}  // namespace site
