#include "site/report/github_writer.h"

#include <string_view>

#include "site/report/utf8_repair.h"

namespace site {

namespace {

std::string escapeCommandText(std::string_view text, bool inProperty) {
  const std::string valid = repairUtf8(text);
  std::string escaped;
  escaped.reserve(valid.size());
  for (char c : valid) {
    switch (c) {
      case '%':
        escaped += "%25";
        break;
      case '\r':
        escaped += "%0D";
        break;
      case '\n':
        escaped += "%0A";
        break;
      case ':':
        escaped += inProperty ? "%3A" : ":";
        break;
      case ',':
        escaped += inProperty ? "%2C" : ",";
        break;
      default:
        escaped += c;
        break;
    }
  }
  return escaped;
}

}  // namespace

bool writeGithub(const SiteReport& report, ReportSink& sink) {
  std::string command;
  for (FindingCursor cursor{&report}; nextFinding(&cursor);) {
    const Finding& finding = cursor.finding;
    command = "::";
    command += levelName(finding.level);
    command += " file=" + escapeCommandText(finding.path, true);
    if (finding.kind != FindingKind::Orphan) {
      command += ",line=" + std::to_string(finding.line) + ",col=" + std::to_string(finding.column);
    }
    command += ",title=";
    command += kindName(finding.kind);
    command += "::" + escapeCommandText(finding.message, false) + "\n";
    sink.write(command);
    if (!sink.ok()) return false;
  }
  return sink.flush();
}

}  // namespace site
