#include "check/orphan_search.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
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

// Numbers found by hash in an open-addressing table: the caller keeps what
// they stand for and tells, through same(), whether a number is the one it
// looks for. A slot is the hash's top half << 32 | the number + 1; 0 is empty.
struct FlatIndex {
  std::vector<uint64_t> slots;
  size_t count = 0;
};

void placeInIndex(FlatIndex* index, uint64_t slot) {
  const size_t mask = index->slots.size() - 1;
  // The low half of the hash is gone from the slot; the top half places it
  // as well.
  size_t i = static_cast<size_t>(slot >> 32) & mask;
  while (index->slots[i] != 0) i = (i + 1) & mask;
  index->slots[i] = slot;
}

void addToIndex(FlatIndex* index, uint64_t hash, uint32_t value) {
  if ((index->count + 1) * 2 > index->slots.size()) {
    std::vector<uint64_t> old(std::max<size_t>(16, index->slots.size() * 2), 0);
    old.swap(index->slots);
    for (uint64_t slot : old) {
      if (slot != 0) placeInIndex(index, slot);
    }
  }
  placeInIndex(index, (hash >> 32) << 32 | (uint64_t(value) + 1));
  ++index->count;
}

// The number with this hash that same() accepts, or false.
template <typename Same>
bool findInIndex(const FlatIndex& index, uint64_t hash, Same&& same, uint32_t* value) {
  if (index.slots.empty()) return false;
  const size_t mask = index.slots.size() - 1;
  for (size_t i = static_cast<size_t>(hash >> 32) & mask; index.slots[i] != 0; i = (i + 1) & mask) {
    const uint64_t slot = index.slots[i];
    if ((slot >> 32) == (hash >> 32) && same(static_cast<uint32_t>(slot) - 1)) {
      *value = static_cast<uint32_t>(slot) - 1;
      return true;
    }
  }
  return false;
}

uint64_t hashText(std::string_view text, bool ignoringCase) {
  uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a, then mixed
  for (char c : text) {
    h = (h ^ static_cast<unsigned char>(ignoringCase ? toLowerAscii(c) : c)) * 0x100000001b3ull;
  }
  h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
  h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
  return h ^ (h >> 31);
}

// The values of the reference file's page records, in file order, one after
// another in one text.
struct PageRecords {
  std::string text;
  std::vector<size_t> starts;  // record -> where its value starts in text
};

// False when the file cannot be rewound or read to its end.
bool readPageRecords(TextReader& reader, PageRecords* pages) {
  if (!reader.rewind()) return false;
  std::string line;
  while (reader.readLine(&line) && !reader.readError()) {
    if (recordKind(line) != RecordKind::Page) continue;
    pages->starts.push_back(pages->text.size());
    pages->text += viewRecord(line).value;
  }
  return !reader.readError();
}

// What became of one page record's page.
enum class PageRead : unsigned char { Whole, Unopenable, Unreadable };

std::string_view pagePath(const PageRecords& pages, size_t record) {
  const size_t end =
      record + 1 < pages.starts.size() ? pages.starts[record + 1] : pages.text.size();
  return std::string_view(pages.text).substr(pages.starts[record], end - pages.starts[record]);
}

}  // namespace

bool searchAllOrphans(RunState& state, FileSystem& fs, TextReader& reader) {
  // The candidates of every pattern, found the way the search one pattern at
  // a time would find them, spelled as stored; names equal but for case
  // share one number, since they are mentioned by the same texts.
  struct Candidate {
    size_t spelling;  // into spellings
    uint32_t size;
    uint32_t name;  // the number of its name ignoring case
  };
  std::string spellings;
  std::vector<Candidate> candidates;
  size_t patternEnd[std::size(kOrphanPatterns)] = {};
  std::vector<uint32_t> firstOfName;  // name -> its first candidate
  FlatIndex names;
  auto spellingOf = [&](const Candidate& c) {
    return std::string_view(spellings).substr(c.spelling, c.size);
  };
  for (size_t p = 0; p < std::size(kOrphanPatterns); ++p) {
    PatternExpansion expansion;
    std::string path;
    for (bool more = firstMatch(fs, &expansion, kOrphanPatterns[p], &path); more;
         more = nextMatch(&expansion, &path)) {
      Candidate c{spellings.size(), static_cast<uint32_t>(path.size()), 0};
      spellings += path;
      const uint64_t hash = hashText(path, true);
      uint32_t same = 0;
      if (findInIndex(
              names, hash,
              [&](uint32_t name) {
                return equalIgnoringCase(spellingOf(candidates[firstOfName[name]]), path);
              },
              &same)) {
        c.name = same;
      } else {
        c.name = static_cast<uint32_t>(firstOfName.size());
        firstOfName.push_back(static_cast<uint32_t>(candidates.size()));
        addToIndex(&names, hash, c.name);
      }
      candidates.push_back(c);
    }
    patternEnd[p] = candidates.size();
  }
  if (candidates.empty()) return true;
  names = FlatIndex();

  NameMatcher matcher;
  {
    std::vector<std::string_view> distinct;
    distinct.reserve(firstOfName.size());
    for (uint32_t first : firstOfName) distinct.push_back(spellingOf(candidates[first]));
    buildNameMatcher(distinct, &matcher);
  }

  // Each candidate's search would stop at the first page record whose page
  // mentions it, and would try every page record before that one. So: the
  // first record that mentions each name, and the records whose page cannot
  // be opened or read to its end (what was read before a read error still
  // counts). A page listed again can only repeat what its first record found.
  PageRecords pages;
  if (!readPageRecords(reader, &pages)) return false;
  constexpr size_t kNever = std::numeric_limits<size_t>::max();
  std::vector<size_t> firstMention(firstOfName.size(), kNever);
  std::vector<size_t> failed;  // records whose page gives a note
  const size_t records = pages.starts.size();
  std::vector<PageRead> outcomes(records, PageRead::Unopenable);
  FlatIndex firstListing;
  TextReader page;
  NameSearch search;
  std::vector<uint32_t> found;
  auto noteFound = [&](size_t record) {
    for (uint32_t name : found) {
      if (firstMention[name] == kNever) firstMention[name] = record;
    }
    found.clear();
  };
  for (size_t record = 0; record < records; ++record) {
    const std::string_view path = pagePath(pages, record);
    const uint64_t hash = hashText(path, false);
    uint32_t earlier = 0;
    if (findInIndex(
            firstListing, hash, [&](uint32_t r) { return pagePath(pages, r) == path; }, &earlier)) {
      outcomes[record] = outcomes[earlier];
    } else {
      addToIndex(&firstListing, hash, static_cast<uint32_t>(record));
      if (page.open(std::string(path), fs)) {
        startText(&search);
        const unsigned char* data = nullptr;
        size_t size = 0;
        while (page.readChunk(&data, &size)) {
          feedText(matcher, &search, data, size, &found);
          noteFound(record);
        }
        endText(matcher, &search, &found);
        noteFound(record);
        outcomes[record] = page.readError() ? PageRead::Unreadable : PageRead::Whole;
        page.close();
      }
    }
    if (outcomes[record] != PageRead::Whole) failed.push_back(record);
  }

  size_t begin = 0;
  for (size_t p = 0; p < std::size(kOrphanPatterns); ++p) {
    if (begin == patternEnd[p]) continue;
    writeProgress(state, kOrphanPatterns[p]);
    for (size_t i = begin; i < patternEnd[p]; ++i) {
      const size_t mentioned = firstMention[candidates[i].name];
      for (size_t record : failed) {
        if (record >= mentioned) break;
        const bool unopenable = outcomes[record] == PageRead::Unopenable;
        note(state, (unopenable ? "couldn't open " : "couldn't read ") +
                        std::string(pagePath(pages, record)));
      }
      if (mentioned == kNever) writeOrphan(state, std::string(spellingOf(candidates[i])));
    }
    begin = patternEnd[p];
  }
  return true;
}
