#include "check/orphan_search.h"

#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

#include "check/name_matcher.h"
#include "platform/ascii_case.h"
#include "reffile/reference_file.h"
#include "scan/pattern_expansion.h"

const char* const kOrphanPatterns[7] = {"*.htm*", "*.jpg", "*.gif", "*.png",
                                        "*.exe",  "*.zip", "*.dmg"};

namespace {

void writeProgress(RunState& state, const std::string& pattern) {
  state.errors.write("(checking for unlinked " + pattern + "....)\n");
}

void writeOrphan(RunState& state, const std::string& candidate) {
  state.report.write("Couldn't find \"" + candidate + "\" mentioned\n");
}

// The values of the reference file's page records, in file order.
std::vector<std::string> scannedPages(TextReader& reader) {
  std::vector<std::string> pages;
  reader.rewind();
  std::string line;
  while (reader.readLine(&line)) {
    if (recordKind(line) == RecordKind::Page) pages.push_back(parseRecord(line).value);
  }
  return pages;
}

bool isMentioned(RunState& state, TextReader& reader, const std::string& candidate,
                 DirectoryCache* cache) {
  reader.rewind();
  std::string line;
  while (reader.readLine(&line)) {
    if (recordKind(line) != RecordKind::Page) continue;
    if (pageMentions(state, parseRecord(line).value, candidate, cache)) return true;
  }
  return false;
}

}  // namespace

bool pageMentions(RunState& state, const std::string& path, const std::string& candidate,
                  DirectoryCache* cache) {
  TextReader page;
  if (!page.open(path, cache)) {
    note(state, "couldn't open " + path);
    return false;
  }
  std::string line;
  while (page.readLine(&line)) {
    if (findIgnoringCase(line, candidate) != std::string::npos) return true;
  }
  return false;
}

void searchOrphansByScanning(RunState& state, TextReader& reader, const std::string& pattern,
                             DirectoryCache* cache) {
  PatternExpansion expansion;
  std::string candidate;
  if (!firstMatch(&expansion, pattern, &candidate)) return;
  writeProgress(state, pattern);
  do {
    if (!isMentioned(state, reader, candidate, cache)) writeOrphan(state, candidate);
  } while (nextMatch(&expansion, &candidate));
}

void searchAllOrphans(RunState& state, TextReader& reader, DirectoryCache* cache) {
  // The candidates of every pattern, found the way the search one pattern at
  // a time would find them; names equal but for case share one entry, since
  // they are mentioned by the same texts.
  std::vector<std::vector<std::string>> candidates(std::size(kOrphanPatterns));
  std::vector<std::string> distinctNames;
  std::unordered_map<std::string, int32_t> idOfFolded;
  std::vector<std::vector<int32_t>> candidateIds(std::size(kOrphanPatterns));
  for (size_t p = 0; p < std::size(kOrphanPatterns); ++p) {
    PatternExpansion expansion;
    std::string path;
    for (bool more = firstMatch(&expansion, kOrphanPatterns[p], &path); more;
         more = nextMatch(&expansion, &path)) {
      auto [it, added] =
          idOfFolded.try_emplace(lowerCaseAscii(path), static_cast<int32_t>(distinctNames.size()));
      if (added) distinctNames.push_back(path);
      candidates[p].push_back(path);
      candidateIds[p].push_back(it->second);
    }
  }
  if (distinctNames.empty()) return;

  // Each candidate's search would stop at the first page record whose page
  // mentions it, and would try every page record before that one. So: the
  // first record that mentions each name, and the records whose page cannot
  // be opened. A page listed again can only repeat what its first record
  // found.
  const std::vector<std::string> pages = scannedPages(reader);
  constexpr size_t kNever = std::numeric_limits<size_t>::max();
  std::vector<size_t> firstMention(distinctNames.size(), kNever);
  std::vector<size_t> unopenable;
  std::unordered_map<std::string, bool> opened;  // page path -> could be opened
  NameMatcher matcher;
  buildNameMatcher(distinctNames, &matcher);
  TextReader page;
  for (size_t record = 0; record < pages.size(); ++record) {
    auto [seen, first] = opened.try_emplace(pages[record], false);
    if (first) {
      seen->second = page.open(pages[record], cache);
      if (seen->second) {
        int32_t stateOfMatch = 0;
        const unsigned char* data = nullptr;
        size_t size = 0;
        while (page.readChunk(&data, &size)) {
          matchNames(matcher, &stateOfMatch, data, size, [&](int32_t id) {
            size_t& at = firstMention[static_cast<size_t>(id)];
            if (at == kNever) at = record;
          });
        }
        page.close();
      }
    }
    if (!seen->second) unopenable.push_back(record);
  }

  for (size_t p = 0; p < std::size(kOrphanPatterns); ++p) {
    if (candidates[p].empty()) continue;
    writeProgress(state, kOrphanPatterns[p]);
    for (size_t i = 0; i < candidates[p].size(); ++i) {
      size_t mentioned = firstMention[static_cast<size_t>(candidateIds[p][i])];
      for (size_t record : unopenable) {
        if (record >= mentioned) break;
        note(state, "couldn't open " + pages[record]);
      }
      if (mentioned == kNever) writeOrphan(state, candidates[p][i]);
    }
  }
}
