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

// The values of the reference file's page records, in file order. False when
// the file cannot be rewound or read.
bool scannedPages(TextReader& reader, std::vector<std::string>* pages) {
  if (!reader.rewind()) return false;
  std::string line;
  while (reader.readLine(&line) && !reader.readError()) {
    if (recordKind(line) == RecordKind::Page) pages->push_back(parseRecord(line).value);
  }
  return !reader.readError();
}

// What became of one page record's page.
enum class PageRead : unsigned char { Whole, Unopenable, Unreadable };

}  // namespace

bool searchAllOrphans(RunState& state, FileSystem& fs, TextReader& reader) {
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
    for (bool more = firstMatch(fs, &expansion, kOrphanPatterns[p], &path); more;
         more = nextMatch(&expansion, &path)) {
      auto [it, added] =
          idOfFolded.try_emplace(lowerCaseAscii(path), static_cast<int32_t>(distinctNames.size()));
      if (added) distinctNames.push_back(path);
      candidates[p].push_back(path);
      candidateIds[p].push_back(it->second);
    }
  }
  if (distinctNames.empty()) return true;

  // Each candidate's search would stop at the first page record whose page
  // mentions it, and would try every page record before that one. So: the
  // first record that mentions each name, and the records whose page cannot
  // be opened or read to its end (what was read before a read error still
  // counts). A page listed again can only repeat what its first record found.
  std::vector<std::string> pages;
  if (!scannedPages(reader, &pages)) return false;
  constexpr size_t kNever = std::numeric_limits<size_t>::max();
  std::vector<size_t> firstMention(distinctNames.size(), kNever);
  std::vector<size_t> failed;                          // records whose page gives a note
  std::unordered_map<std::string, PageRead> outcomes;  // by page path
  NameMatcher matcher;
  buildNameMatcher(distinctNames, &matcher);
  TextReader page;
  for (size_t record = 0; record < pages.size(); ++record) {
    auto [seen, first] = outcomes.try_emplace(pages[record], PageRead::Unopenable);
    if (first) {
      if (page.open(pages[record], fs)) {
        int32_t stateOfMatch = 0;
        const unsigned char* data = nullptr;
        size_t size = 0;
        while (page.readChunk(&data, &size)) {
          matchNames(matcher, &stateOfMatch, data, size, [&](int32_t id) {
            size_t& at = firstMention[static_cast<size_t>(id)];
            if (at == kNever) at = record;
          });
        }
        seen->second = page.readError() ? PageRead::Unreadable : PageRead::Whole;
        page.close();
      }
    }
    if (seen->second != PageRead::Whole) failed.push_back(record);
  }

  for (size_t p = 0; p < std::size(kOrphanPatterns); ++p) {
    if (candidates[p].empty()) continue;
    writeProgress(state, kOrphanPatterns[p]);
    for (size_t i = 0; i < candidates[p].size(); ++i) {
      size_t mentioned = firstMention[static_cast<size_t>(candidateIds[p][i])];
      for (size_t record : failed) {
        if (record >= mentioned) break;
        const bool unopenable = outcomes[pages[record]] == PageRead::Unopenable;
        note(state, (unopenable ? "couldn't open " : "couldn't read ") + pages[record]);
      }
      if (mentioned == kNever) writeOrphan(state, candidates[p][i]);
    }
  }
  return true;
}
