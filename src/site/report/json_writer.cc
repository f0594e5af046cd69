#include "site/report/json_writer.h"

#include "site/report/json_layout.h"

namespace site {

bool writeJson(const SiteReport& report, ReportSink& sink) {
  JsonLayout layout;
  jsonOpen(&layout, "", '{');
  jsonNumber(&layout, "version", 2);
  jsonString(&layout, "root", report.root);
  const Summary& summary = report.summary;
  jsonOpen(&layout, "summary", '{');
  jsonNumber(&layout, "pages", summary.pages);
  jsonNumber(&layout, "files", summary.files);
  jsonNumber(&layout, "references", summary.references);
  jsonNumber(&layout, "external", summary.external);
  jsonNumber(&layout, "ignored", summary.ignored);
  jsonNumber(&layout, "errors", summary.errors);
  jsonNumber(&layout, "warnings", summary.warnings);
  // Only from a run that checked external links, so that the report of any
  // other run keeps its bytes.
  if (summary.externalChecked) {
    jsonNumber(&layout, "external_checked", summary.externalUrls);
    jsonNumber(&layout, "external_working", summary.externalWorking);
    jsonNumber(&layout, "external_failed", summary.externalFailed);
    jsonNumber(&layout, "external_cached", summary.externalCached);
  }
  jsonClose(&layout);
  jsonOpen(&layout, "findings", '[');
  for (FindingCursor cursor{&report}; nextFinding(&cursor);) {
    const Finding& finding = cursor.finding;
    jsonOpen(&layout, "", '{');
    jsonString(&layout, "kind", kindName(finding.kind));
    jsonString(&layout, "level", levelName(finding.level));
    jsonString(&layout, "path", finding.path);
    if (finding.kind != FindingKind::Orphan) {
      jsonNumber(&layout, "line", finding.line);
      jsonNumber(&layout, "column", finding.column);
      jsonString(&layout, "reference", finding.reference);
    }
    jsonString(&layout, "message", finding.message);
    if (finding.kind == FindingKind::CaseMismatch) jsonString(&layout, "stored", finding.stored);
    if (finding.hasUrl) {
      if (finding.status != 0) jsonNumber(&layout, "status", uint64_t(finding.status));
      jsonString(&layout, "url", finding.url);
    }
    jsonClose(&layout);
    sink.write(layout.text);
    layout.text.clear();
    if (!sink.ok()) return false;
  }
  jsonClose(&layout);
  jsonClose(&layout);
  layout.text += '\n';
  sink.write(layout.text);
  return sink.flush();
}

}  // namespace site
