#include "site/report/json_writer.h"

#include <nlohmann/json.hpp>

#include "site/report/utf8_repair.h"

namespace site {

std::string writeJson(const SiteReport& report) {
  // ordered_json keeps the members in the order written here, which is the
  // order a reader of the file expects.
  using nlohmann::ordered_json;
  ordered_json findings = ordered_json::array();
  for (const Finding& finding : report.findings) {
    ordered_json item;
    item["kind"] = kindName(finding.kind);
    item["level"] = levelName(finding.level);
    item["path"] = repairUtf8(finding.path);
    if (finding.kind != FindingKind::Orphan) {
      item["line"] = finding.line;
      item["column"] = finding.column;
      item["reference"] = repairUtf8(finding.reference);
    }
    item["message"] = repairUtf8(finding.message);
    if (finding.kind == FindingKind::CaseMismatch) item["stored"] = repairUtf8(finding.stored);
    findings.push_back(std::move(item));
  }
  const Summary& summary = report.summary;
  ordered_json root;
  root["version"] = 2;
  root["root"] = repairUtf8(report.root);
  root["summary"] = {{"pages", summary.pages},           {"files", summary.files},
                     {"references", summary.references}, {"external", summary.external},
                     {"ignored", summary.ignored},       {"errors", summary.errors},
                     {"warnings", summary.warnings}};
  root["findings"] = std::move(findings);
  // Every string is repaired above; replacing on dump is a second guard, so
  // that no path through here can throw or write a bad byte.
  return root.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace site
