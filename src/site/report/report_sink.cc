#include "site/report/report_sink.h"

namespace site {

void ReportSink::write(std::string_view bytes) {
  if (failed) return;
  if (buffer.size() + bytes.size() < kFlushSize) {
    buffer.append(bytes);
    return;
  }
  // A piece that fills the buffer by itself goes straight on, after what
  // was buffered before it, without being copied.
  if (bytes.size() >= kFlushSize) {
    if (flush() && !output(bytes, &error)) failed = true;
    return;
  }
  buffer.append(bytes);
  flush();
}

bool ReportSink::flush() {
  if (failed) return false;
  if (buffer.empty()) return true;
  if (!output(buffer, &error)) failed = true;
  buffer.clear();
  return !failed;
}

ReportSink stringSink(std::string* text) {
  return ReportSink([text](std::string_view bytes, std::string*) {
    text->append(bytes);
    return true;
  });
}

}  // namespace site
