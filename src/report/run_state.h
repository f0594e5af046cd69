// What a run carries from phase to phase: its two output streams, the count
// of complaints that decides the exit status, and the place in the site the
// check phase has reached. Messages about the site go out through the
// functions below, so that counting them cannot be forgotten.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_system.h"
#include "platform/text_file.h"

namespace tangler {

struct RunState {
  TextWriter report;  // standard output, or the "-o" file
  TextWriter errors;  // standard error
  long long complaintCount = 0;
  std::string currentPage;   // the page whose references are being checked
  uint32_t currentLine = 0;  // as the reference file holds it; see complaintPrefix()
};

// Points report at standard output and errors at standard error and resets
// the count.
void initRunState(RunState* state);

// One counted complaint line in the report: "<page> (<line>): ", padded with
// blanks up to indentColumn (never when the prefix already reaches it), the
// message and a line feed.
void complain(RunState& state, int indentColumn, const std::string& message);

// One counted line on the error stream: the message and a line feed.
void note(RunState& state, const std::string& message);

// The fatal failures, each one message without a line feed on the error
// stream; the caller ends the run with status 3.
void reportOpenFailure(RunState& state, const std::string& path, const char* mode);
void reportReadFailure(RunState& state, const std::string& path);

// Creates path for writing into *writer, or writes the fatal open failure
// with mode "w" and returns false.
bool openOrExit(RunState& state, FileSystem& fs, const std::string& path, TextWriter* writer);
// Opens path for reading into *reader, or writes the fatal open failure with
// mode "r" and returns false.
bool openOrExit(RunState& state, FileSystem& fs, const std::string& path, TextReader* reader);

// The complaint prefix for a page and line, without padding.
std::string complaintPrefix(const std::string& page, uint32_t line);

// Quotes text in double quotes, as messages show names and references.
std::string quoted(const std::string& text);

}  // namespace tangler
