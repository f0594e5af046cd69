#include "site/report/text_writer.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace site {

namespace {

// text with each byte below 0x20 and 0x7F as "\xHH" (upper-case hex): a
// file name or reference may hold a line feed or an escape, and neither may
// split the line or reach the terminal.
bool isControl(char byte) {
  const unsigned char c = static_cast<unsigned char>(byte);
  return c < 0x20 || c == 0x7F;
}

// Where the run of bytes that need no escape, from at, ends. Eight bytes
// are tested at a time: (v - n * kOnes) & ~v & kHighs is not zero when a
// lane of v is below n (n at most 0x80), and with n = 1 when one is zero.
size_t printableRunEnd(std::string_view text, size_t at) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kHighs = 0x8080808080808080u;
  if constexpr (std::endian::native == std::endian::little) {
    while (text.size() - at >= 8) {
      uint64_t word;
      std::memcpy(&word, text.data() + at, 8);
      const uint64_t deletes = word ^ (kOnes * 0x7F);
      if ((((word - kOnes * 0x20) & ~word) | ((deletes - kOnes) & ~deletes)) & kHighs) break;
      at += 8;
    }
  }
  while (at < text.size() && !isControl(text[at])) ++at;
  return at;
}

void appendPrintable(std::string_view text, std::string* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  size_t at = 0;
  while (at < text.size()) {
    // A run of printable bytes at a time: most text is all one run.
    const size_t run = printableRunEnd(text, at);
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
