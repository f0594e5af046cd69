#include "check/orphan_search.h"

#include <string>

#include "platform/ascii_case.h"
#include "reffile/reference_file.h"
#include "scan/pattern_expansion.h"

const char* const kOrphanPatterns[7] = {"*.htm*", "*.jpg", "*.gif", "*.png",
                                        "*.exe",  "*.zip", "*.dmg"};

namespace {

void writeOrphan(RunState& state, const std::string& candidate) {
  state.report.write("Couldn't find \"" + candidate + "\" mentioned\n");
}

bool isMentioned(RunState& state, TextReader& reader, const std::string& candidate) {
  reader.rewind();
  std::string line;
  while (reader.readLine(&line)) {
    if (recordKind(line) != RecordKind::Page) continue;
    if (pageMentions(state, parseRecord(line).value, candidate)) return true;
  }
  return false;
}

}  // namespace

bool pageMentions(RunState& state, const std::string& path, const std::string& candidate) {
  TextReader page;
  if (!page.open(path)) {
    note(state, "couldn't open " + path);
    return false;
  }
  std::string line;
  while (page.readLine(&line)) {
    if (findIgnoringCase(line, candidate) != std::string::npos) return true;
  }
  return false;
}

void searchOrphansByScanning(RunState& state, TextReader& reader, const std::string& pattern) {
  PatternExpansion expansion;
  std::string candidate;
  if (!firstMatch(&expansion, pattern, &candidate)) return;
  state.errors.write("(checking for unlinked " + pattern + "....)\n");
  do {
    if (!isMentioned(state, reader, candidate)) writeOrphan(state, candidate);
  } while (nextMatch(&expansion, &candidate));
}

void searchAllOrphans(RunState& state, TextReader& reader) {
  for (const char* pattern : kOrphanPatterns) searchOrphansByScanning(state, reader, pattern);
}
