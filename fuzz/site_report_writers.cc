// Arbitrary bytes as the path, reference and message of findings, through
// every report writer. The JSON and SARIF must parse, give the texts back as
// their UTF-8 repair, with URIs in plain ASCII, and be laid out as a dump(2)
// of what they hold; the text and the workflow commands must be one line a
// finding; the XML must be UTF-8 without a character XML cannot hold, with
// as many test cases as it says. (The tests read the XML with a real
// parser.)
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "site/report/github_writer.h"
#include "site/report/json_writer.h"
#include "site/report/junit_writer.h"
#include "site/report/sarif_writer.h"
#include "site/report/text_writer.h"
#include "site/report/utf8_repair.h"
#include "site/report/writers.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

size_t count(const std::string& text, std::string_view what) {
  size_t found = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++found;
  }
  return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Findings separated by 0x00; in each, path, reference and message by
  // 0x01; the first byte of the path picks the kind.
  site::SiteReport report;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  while (!input.empty()) {
    const size_t end = input.find('\0');
    std::string_view item = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    site::Finding finding;
    std::string* fields[] = {&finding.path, &finding.reference, &finding.message};
    for (std::string* field : fields) {
      const size_t cut = item.find('\1');
      *field = std::string(item.substr(0, cut));
      item = cut == std::string_view::npos ? std::string_view() : item.substr(cut + 1);
    }
    const unsigned char pick = finding.path.empty() ? 0 : finding.path[0];
    finding.kind = static_cast<site::FindingKind>(pick % site::kFindingKindCount);
    finding.level = pick & 0x80 ? site::Level::Warning : site::Level::Error;
    finding.line = pick;
    finding.column = pick + 1;
    finding.stored = finding.reference;
    report.checkedFiles.push_back(finding.path);
    report.findings.push_back(std::move(finding));
  }
  // As a run hands them over: findings in report order, files sorted once.
  site::sortFindings(&report.findings);
  std::sort(report.checkedFiles.begin(), report.checkedFiles.end());
  report.checkedFiles.erase(std::unique(report.checkedFiles.begin(), report.checkedFiles.end()),
                            report.checkedFiles.end());
  report.orphansOff = size % 2 == 1;

  const std::string jsonText = site::reportText(site::writeJson, report);
  const auto json = nlohmann::ordered_json::parse(jsonText, nullptr, false);
  check(!json.is_discarded() && json["findings"].size() == report.findings.size());
  check(json.dump(2) + "\n" == jsonText);
  const std::string sarifText = site::reportText(site::writeSarif, report);
  const auto sarif = nlohmann::ordered_json::parse(sarifText, nullptr, false);
  check(!sarif.is_discarded());
  check(sarif.dump(2) + "\n" == sarifText);
  for (size_t i = 0; i < report.findings.size(); ++i) {
    const site::Finding& finding = report.findings[i];
    check(json["findings"][i]["path"] == site::repairUtf8(finding.path));
    check(json["findings"][i]["message"] == site::repairUtf8(finding.message));
    check(sarif["runs"][0]["results"][i]["message"]["text"] == site::repairUtf8(finding.message));
    const std::string uri = sarif["runs"][0]["results"][i]["locations"][0]["physicalLocation"]
                                 ["artifactLocation"]["uri"];
    for (char c : uri) check(c > 0x20 && c < 0x7F && c != ':' && c != '#' && c != '?');
    // As the Windows build writes it: a file URI may hold ':' after its
    // scheme and drive letter, nothing else changes.
    for (char c : site::pathToUri(finding.path, true)) {
      check(c > 0x20 && c < 0x7F && c != '#' && c != '?');
    }
  }

  const std::string text = site::reportText(site::writeText, report);
  check(count(text, "\n") == report.findings.size());
  for (char c : text) check((static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) || c == '\n');

  const std::string commands = site::reportText(site::writeGithub, report);
  size_t lines = 0;
  for (char c : commands) {
    check(c != '\r');
    lines += c == '\n';
  }
  check(lines == report.findings.size() && site::repairUtf8(commands) == commands);

  const std::string xml = site::reportText(site::writeJunit, report);
  const size_t totalStart = xml.find("tests=\"") + 7;
  const size_t totalEnd = xml.find('"', totalStart);
  check(xml.substr(totalStart, totalEnd - totalStart) == std::to_string(count(xml, "<testcase ")));
  check(site::repairUtf8(xml) == xml);
  check(xml.find("\xEF\xBF\xBE") == std::string::npos &&
        xml.find("\xEF\xBF\xBF") == std::string::npos);
  for (char c : xml) check(static_cast<unsigned char>(c) >= 0x20 || c == '\n' || c == '\t');
  return 0;
}
