#include "report/run_state.h"

#include <string>

namespace tangler {

void initRunState(RunState* state) {
  state->report.attachStdout();
  state->errors.attachStderr();
  state->complaintCount = 0;
  state->currentPage.clear();
  state->currentLine = 0;
}

std::string complaintPrefix(const std::string& page, uint32_t line) {
  // The line is shown signed, so a count past 2^31 reads as negative.
  return page + " (" + std::to_string(static_cast<int32_t>(line)) + "): ";
}

void complain(RunState& state, int indentColumn, const std::string& message) {
  state.complaintCount += 1;
  std::string prefix = complaintPrefix(state.currentPage, state.currentLine);
  state.report.write(prefix);
  for (long long n = static_cast<long long>(prefix.size()); n < indentColumn; ++n) {
    state.report.put(' ');
  }
  state.report.write(message);
  state.report.put('\n');
}

void note(RunState& state, const std::string& message) {
  state.complaintCount += 1;
  state.errors.write(message + "\n");
}

void reportOpenFailure(RunState& state, const std::string& path, const char* mode) {
  state.errors.write("couldn't open " + path + " for " + mode + ".");
}

void reportReadFailure(RunState& state, const std::string& path) {
  state.errors.write("couldn't read " + path + ".");
}

bool openOrExit(RunState& state, FileSystem& fs, const std::string& path, TextWriter* writer) {
  if (writer->create(path, fs)) return true;
  reportOpenFailure(state, path, "w");
  return false;
}

bool openOrExit(RunState& state, FileSystem& fs, const std::string& path, TextReader* reader) {
  if (reader->open(path, fs)) return true;
  reportOpenFailure(state, path, "r");
  return false;
}

std::string quoted(const std::string& text) {
  return "\"" + text + "\"";
}

}  // namespace tangler
