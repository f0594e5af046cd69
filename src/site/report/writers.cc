#include "site/report/writers.h"

#include <iterator>

#include "site/report/github_writer.h"
#include "site/report/json_writer.h"
#include "site/report/junit_writer.h"
#include "site/report/sarif_writer.h"
#include "site/report/text_writer.h"

namespace site {

namespace {

struct ReportFormat {
  const char* name;
  ReportWriter writer;
};

constexpr ReportFormat kFormats[] = {{"text", writeText},
                                     {"json", writeJson},
                                     {"sarif", writeSarif},
                                     {"junit", writeJunit},
                                     {"github", writeGithub}};

}  // namespace

ReportWriter findReportWriter(std::string_view format) {
  for (const ReportFormat& known : kFormats) {
    if (format == known.name) return known.writer;
  }
  return nullptr;
}

std::string reportFormatNames() {
  std::string names;
  const size_t count = std::size(kFormats);
  for (size_t i = 0; i < count; ++i) {
    names += i == 0 ? "" : i + 1 < count ? ", " : " or ";
    names += kFormats[i].name;
  }
  return names;
}

std::string reportText(ReportWriter writer, const SiteReport& report) {
  std::string text;
  ReportSink sink = stringSink(&text);
  writer(report, sink);
  return text;
}

}  // namespace site
