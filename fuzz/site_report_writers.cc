// Arbitrary bytes as the path, reference and stored name of findings,
// through every report writer. The JSON and SARIF must parse, give the texts back as
// their UTF-8 repair, with URIs in plain ASCII, and be laid out as a dump(2)
// of what they hold; the text and the workflow commands must be one line a
// finding; the XML must be UTF-8 without a character XML cannot hold, with
// as many test cases as it says. (The tests read the XML with a real
// parser.)
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

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
  // Findings separated by 0x00; in each, path, reference and stored name by
  // 0x01; the first byte of the path picks the kind. Each path and stored
  // name is one entry of ROOT, whatever bytes it holds.
  site::SiteTree tree;
  tree.nodes.emplace_back();
  std::map<std::string, site::ReportFile> files;  // by path bytes, as the walk orders them
  auto nodeOf = [&](const std::string& name) {
    tree.nodes.emplace_back();
    tree.nodes.back().name = name;
    tree.nodes.back().parent = 0;
    return uint32_t(tree.nodes.size() - 1);
  };
  std::string_view input(reinterpret_cast<const char*>(data), size);
  while (!input.empty()) {
    const size_t end = input.find('\0');
    std::string_view item = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    std::string fields[3];
    for (std::string& field : fields) {
      const size_t cut = item.find('\1');
      field = std::string(item.substr(0, cut));
      item = cut == std::string_view::npos ? std::string_view() : item.substr(cut + 1);
    }
    const unsigned char pick = fields[0].empty() ? 0 : fields[0][0];
    site::ReportFile& file = files[fields[0]];
    if (file.node == site::kNoNode) file.node = nodeOf(fields[0]);
    file.checked = true;
    site::FindingRecord record;
    record.kind = static_cast<site::FindingKind>(pick % site::kFindingKindCount);
    record.level = pick & 0x80 ? site::Level::Warning : site::Level::Error;
    record.line = pick;
    record.column = pick + 1;
    record.textBegin = uint32_t(file.text.size());
    record.textLength = uint32_t(fields[1].size());
    file.text += fields[1];
    record.target = nodeOf(fields[2]);
    file.records.push_back(record);
  }
  // As a run hands them over: files in path order, each one's records sorted.
  site::SiteReport report;
  report.root = "site";
  report.tree = &tree;
  for (auto& [path, file] : files) {
    site::sortRecords(&file.records);
    report.files.push_back(std::move(file));
  }
  report.orphansOff = size % 2 == 1;
  std::vector<site::Finding> findings;
  for (site::FindingCursor cursor{&report}; site::nextFinding(&cursor);) {
    findings.push_back(cursor.finding);
  }

  const std::string jsonText = site::reportText(site::writeJson, report);
  const auto json = nlohmann::ordered_json::parse(jsonText, nullptr, false);
  check(!json.is_discarded() && json["findings"].size() == findings.size());
  check(json.dump(2) + "\n" == jsonText);
  const std::string sarifText = site::reportText(site::writeSarif, report);
  const auto sarif = nlohmann::ordered_json::parse(sarifText, nullptr, false);
  check(!sarif.is_discarded());
  check(sarif.dump(2) + "\n" == sarifText);
  for (size_t i = 0; i < findings.size(); ++i) {
    const site::Finding& finding = findings[i];
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
  check(count(text, "\n") == findings.size());
  for (char c : text) check((static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) || c == '\n');

  const std::string commands = site::reportText(site::writeGithub, report);
  size_t lines = 0;
  for (char c : commands) {
    check(c != '\r');
    lines += c == '\n';
  }
  check(lines == findings.size() && site::repairUtf8(commands) == commands);

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
