#include "site/report/text_writer.h"

namespace site {

namespace {

// text with each byte below 0x20 and 0x7F as "\xHH" (upper-case hex): a
// file name or reference may hold a line feed or an escape, and neither may
// split the line or reach the terminal.
void appendPrintable(std::string_view text, std::string* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  auto control = [](unsigned char c) { return c < 0x20 || c == 0x7F; };
  size_t at = 0;
  while (at < text.size()) {
    // A run of printable bytes at a time: most text is all one run.
    size_t run = at;
    while (run < text.size() && !control(static_cast<unsigned char>(text[run]))) ++run;
    out->append(text.data() + at, run - at);
    if (run == text.size()) break;
    const unsigned char c = static_cast<unsigned char>(text[run]);
    const char escape[4] = {'\\', 'x', kHex[c >> 4], kHex[c & 0xF]};
    out->append(escape, sizeof escape);
    at = run + 1;
  }
}

}  // namespace

void appendTextLine(const Finding& finding, std::string* out) {
  appendPrintable(finding.path, out);
  if (finding.kind != FindingKind::Orphan) {
    *out += ':';
    *out += std::to_string(finding.line);
    *out += ':';
    *out += std::to_string(finding.column);
  }
  *out += ": ";
  *out += levelName(finding.level);
  *out += ": ";
  // The message holds the reference and the names it speaks of; the rest of
  // it is plain text, so escaping it whole escapes just those.
  appendPrintable(finding.message, out);
  *out += " [";
  *out += kindName(finding.kind);
  *out += "]";
}

bool writeText(const SiteReport& report, ReportSink& sink) {
  std::string line;
  for (FindingCursor cursor{&report}; nextFinding(&cursor);) {
    line.clear();
    appendTextLine(cursor.finding, &line);
    line += '\n';
    sink.write(line);
    if (!sink.ok()) return false;
  }
  return sink.flush();
}

}  // namespace site
