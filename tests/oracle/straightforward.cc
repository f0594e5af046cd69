#include "straightforward.h"

#include <string>

#include "files/pattern_expansion.h"
#include "platform/ascii_case.h"
#include "reffile/reference_file.h"

namespace tangler {

Record parseRecord(std::string_view line) {
  const RecordView view = viewRecord(line);
  Record record;
  record.kind = view.kind;
  record.value.assign(view.value);
  record.line = view.line;
  return record;
}

size_t findIgnoringCase(std::string_view text, std::string_view needle) {
  if (needle.empty() || needle.size() > text.size()) return std::string_view::npos;
  for (size_t i = 0; i + needle.size() <= text.size(); ++i) {
    if (equalIgnoringCase(text.substr(i, needle.size()), needle)) return i;
  }
  return std::string_view::npos;
}

bool findPageByScanning(TextReader& reader, const std::string& target, bool hasAnchor,
                        const std::string& anchor) {
  reader.rewind();
  bool inBlock = false;
  std::string line;
  while (reader.readLine(&line)) {
    RecordKind kind = recordKind(line);
    if (kind == RecordKind::Page) {
      Record record = parseRecord(line);
      if (record.value == target) {
        if (inBlock) return false;
        if (!hasAnchor) return true;
        inBlock = true;
      } else {
        inBlock = false;
      }
    } else if (kind == RecordKind::Mark && inBlock && parseRecord(line).value == anchor) {
      return true;
    }
  }
  return false;
}

bool pageMentions(RunState& state, FileSystem& fs, const std::string& path,
                  const std::string& candidate) {
  TextReader page;
  if (!page.open(path, fs)) {
    note(state, "couldn't open " + path);
    return false;
  }
  std::string line;
  while (page.readLine(&line)) {
    if (findIgnoringCase(line, candidate) != std::string::npos) return true;
  }
  if (page.readError()) note(state, "couldn't read " + path);
  return false;
}

void searchOrphansByScanning(RunState& state, FileSystem& fs, TextReader& reader,
                             const std::string& pattern) {
  PatternExpansion expansion;
  std::string candidate;
  if (!firstMatch(fs, &expansion, pattern, &candidate)) return;
  state.errors.write("(checking for unlinked " + pattern + "....)\n");
  do {
    bool mentioned = false;
    reader.rewind();
    std::string line;
    while (!mentioned && reader.readLine(&line)) {
      if (recordKind(line) != RecordKind::Page) continue;
      mentioned = pageMentions(state, fs, parseRecord(line).value, candidate);
    }
    if (!mentioned) state.report.write("Couldn't find \"" + candidate + "\" mentioned\n");
  } while (nextMatch(&expansion, &candidate));
}

PageTarget splitPageTarget(const std::string& currentPage, const std::string& target) {
  PageTarget split;
  const size_t hash = target.find('#');
  split.hasAnchor = hash != std::string::npos;
  split.page = target.substr(0, hash);
  if (split.hasAnchor) split.anchor = target.substr(hash + 1);
  if (split.page.empty()) split.page = currentPage;
  return split;
}

}  // namespace tangler
