#include "site/report/writers.h"

#include "site/report/github_writer.h"
#include "site/report/json_writer.h"
#include "site/report/junit_writer.h"
#include "site/report/sarif_writer.h"
#include "site/report/text_writer.h"

namespace site {

ReportWriter findReportWriter(std::string_view format) {
  if (format == "text") return writeText;
  if (format == "json") return writeJson;
  if (format == "sarif") return writeSarif;
  if (format == "junit") return writeJunit;
  if (format == "github") return writeGithub;
  return nullptr;
}

std::string reportText(ReportWriter writer, const SiteReport& report) {
  std::string text;
  ReportSink sink = stringSink(&text);
  writer(report, sink);
  return text;
}

}  // namespace site
