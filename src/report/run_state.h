// The run state and everything tangler writes about a site: counted
// complaints in the report, counted notes on the error stream, and the fatal
// open failure. The complaint count decides the exit status.
#pragma once

#include <cstdint>
#include <string>

#include "platform/text_file.h"

struct RunState {
  TextWriter report;  // standard output, or the "-o" file
  TextWriter errors;  // standard error
  long long complaintCount = 0;
  std::string currentPage;   // the page whose references are being checked
  uint32_t currentLine = 0;  // printed signed in the complaint prefix, unsigned in the "file:" line
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

// Writes the fatal open failure "couldn't open <path> for <mode>." (no line
// feed) to the error stream. The caller ends the run with status 3.
void reportOpenFailure(RunState& state, const std::string& path, const char* mode);

// Creates path for writing into *writer, or writes the fatal open failure
// with mode "w" and returns false; the caller then ends the run with status 3.
bool openOrExit(RunState& state, const std::string& path, TextWriter* writer);
// Opens path for reading into *reader, or writes the fatal open failure with
// mode "r" and returns false; the caller then ends the run with status 3.
bool openOrExit(RunState& state, const std::string& path, TextReader* reader);

// The complaint prefix for a page and line, without padding.
std::string complaintPrefix(const std::string& page, uint32_t line);

// Quotes text in double quotes, as messages show names and references.
std::string quoted(const std::string& text);
