// Where a report goes while it is written: the writers hand it over a piece
// at a time, so that a report of any number of findings is never held whole.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace site {

// Takes the next bytes of the report (to standard output, a file, a
// string). False when they could not be written, with *error the reason.
using ReportOutput = std::function<bool(std::string_view bytes, std::string* error)>;

// A buffer in front of a ReportOutput. The first failure is kept: after it
// nothing more is written, and ok() tells a writer that it may stop.
struct ReportSink {
  // The buffer is handed on once it holds this much.
  static constexpr size_t kFlushSize = 64 * 1024;

  explicit ReportSink(ReportOutput output) : output(std::move(output)) {}

  // Appends bytes, handing the buffer on whenever it reaches kFlushSize.
  // Does nothing once a write has failed.
  void write(std::string_view bytes);
  // Hands on what is buffered. False when this or any earlier write failed.
  bool flush();
  // False once a write has failed; error then says why.
  bool ok() const { return !failed; }

  ReportOutput output;
  std::string buffer;
  bool failed = false;
  std::string error;
};

// A sink that appends the report to *text, for tests and for writers that
// want another's output as a piece of their own.
ReportSink stringSink(std::string* text);

}  // namespace site
