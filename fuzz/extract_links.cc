// Page bytes through the markup tokenizer and link extraction. Whatever a
// page holds, the records written must read back as what they were written
// as: one ref, mark or image record a line, a value without control
// characters and no longer than a token may be, and a line number within the
// page.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/text_file.h"
#include "reffile/reference_file.h"
#include "scan/link_extraction.h"
#include "scan/markup_tokenizer.h"
#include "straightforward.h"

using namespace tangler;

namespace {

// The lines of the page as the tokenizer counts them: the text as a text
// reader gives it (carriage returns dropped, nothing after the first 0x1A)
// and one more than its line feeds.
uint64_t pageLineCount(std::string_view page) {
  size_t end = page.find('\x1a');
  if (end != std::string_view::npos) page = page.substr(0, end);
  uint64_t lines = 1;
  for (char c : page) lines += c == '\n' ? 1 : 0;
  return lines;
}

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string page(reinterpret_cast<const char*>(data), size);
  TextReader input;
  input.openMemory(page);
  std::string records;
  TextWriter out;
  out.attachMemory(&records);
  extractLinks(input, out);
  check(out.flush());

  const uint64_t lineCount = pageLineCount(page);
  uint32_t previousLine = 1;
  size_t start = 0;
  while (start < records.size()) {
    const size_t end = records.find('\n', start);
    // Every record ends with its line feed.
    check(end != std::string::npos);
    const std::string_view line(records.data() + start, end - start);
    const Record record = parseRecord(line);
    check(record.kind == RecordKind::Ref || record.kind == RecordKind::Mark ||
          record.kind == RecordKind::Image);
    check(record.value.size() <= kMaxTokenText);
    for (char c : record.value) check(static_cast<unsigned char>(c) >= 0x20);
    // Written back, the record gives the same line byte for byte.
    std::string rewritten;
    TextWriter again;
    again.attachMemory(&rewritten);
    if (record.kind == RecordKind::Ref) writeRef(again, record.value, record.line);
    if (record.kind == RecordKind::Mark) writeMark(again, record.value, record.line);
    if (record.kind == RecordKind::Image) writeImage(again, record.value, record.line);
    again.flush();
    check(rewritten.size() == line.size() + 1 && rewritten.compare(0, line.size(), line) == 0);
    // Records follow the page: line numbers never go back and never pass
    // the page's last line.
    check(record.line >= previousLine && record.line <= lineCount);
    previousLine = record.line;
    start = end + 1;
  }
  return 0;
}
