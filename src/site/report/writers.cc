#include "site/report/writers.h"

#include "site/report/text_writer.h"

namespace site {

ReportWriter findReportWriter(std::string_view format) {
  if (format == "text") return writeText;
  return nullptr;
}

}  // namespace site
