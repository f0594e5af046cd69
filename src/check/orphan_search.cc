#include "check/orphan_search.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "check/name_matcher.h"
#include "files/pattern_expansion.h"
#include "platform/ascii_case.h"
#include "platform/hash_slots.h"
#include "platform/ordered_work.h"
#include "reffile/reference_file.h"

namespace tangler {

const char* const kOrphanPatterns[7] = {"*.htm*", "*.jpg", "*.gif", "*.png",
                                        "*.exe",  "*.zip", "*.dmg"};

namespace {

void writeProgress(RunState& state, const std::string& pattern) {
  state.errors.write("(checking for unlinked " + pattern + "....)\n");
}

void writeOrphan(RunState& state, const std::string& candidate) {
  state.report.write("Couldn't find \"" + candidate + "\" mentioned\n");
}

// Numbers found by hash: the caller keeps what they stand for.
using FlatIndex = HashSlots<32, 32>;

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

// Reads the page records of the reference file, from its start, into
// *pages; the lines between them are passed over in bulk. False when the
// file cannot be rewound or a read fails (the line it cuts short is not
// taken).
bool readPageRecords(TextReader& reader, PageRecords* pages) {
  if (!reader.rewind()) return false;
  auto take = [pages](std::string_view line) {
    if (recordKind(line) != RecordKind::Page) return;
    pages->starts.push_back(pages->text.size());
    pages->text += viewRecord(line, RecordKind::Page).value;
  };
  return readLineRuns(reader, [&](std::string_view lines, bool whole) {
    if (whole) {
      forEachLineStartingWithN(lines, take);
    } else {
      take(lines);
    }
  });
}

// What became of one page record's page.
enum class PageRead : unsigned char { Whole, Unopenable, Unreadable };

std::string_view pagePath(const PageRecords& pages, size_t record) {
  const size_t end =
      record + 1 < pages.starts.size() ? pages.starts[record + 1] : pages.text.size();
  return std::string_view(pages.text).substr(pages.starts[record], end - pages.starts[record]);
}

// Page records handed out at a time: enough pages that handing them to a
// thread costs little beside reading them, few enough that the threads share
// a small site evenly.
constexpr size_t kPagesPerBatch = 4;
// How many records ahead of the one being handed out a page's stored name is
// asked for from memory.
constexpr size_t kLookAhead = 16;

// A run of page records and what reading their pages gave.
struct PageBatch {
  static constexpr uint32_t kFirstListing = std::numeric_limits<uint32_t>::max();
  size_t first = 0;  // the batch's records: [first, first + earlier.size())
  // For each record, the earlier record that lists the same page, or
  // kFirstListing when the page is read here.
  std::vector<uint32_t> earlier;
  // For each record read here, the name its page is opened by: the record's
  // own, or with helper threads the stored name where that differs.
  std::vector<std::string> openAs;
  std::vector<PageRead> outcomes;  // for each record read here
  // The names the batch's pages mention, each with the record: name << 32 |
  // record, in record order. A name may be listed again for a later record.
  std::vector<uint64_t> mentions;
};

// What one thread keeps from batch to batch.
struct PageSearcher {
  FileSystem* fs = nullptr;
  TextReader page;
  NameSearch search;
  std::vector<uint32_t> found;
  uint64_t lately[1024] = {};  // by name: its last mention + 1
};

// How many names a page may list before its list is rid of repeats.
constexpr size_t kMentionsBeforeSorting = 4096;

// Reads the pages of the batch's first listings and searches their text.
void searchBatch(const NameMatcher& matcher, PageSearcher* searcher, PageBatch* batch) {
  batch->outcomes.assign(batch->earlier.size(), PageRead::Unopenable);
  std::vector<uint64_t>& mentions = batch->mentions;
  mentions.clear();
  // A page's names are listed about once, however often it mentions them:
  // most repeats are caught by the names lately seen, and a long list is rid
  // of the rest.
  auto noteFound = [&](uint32_t record, size_t pageStart) {
    for (uint32_t name : searcher->found) {
      const uint64_t mention = uint64_t(name) << 32 | record;
      uint64_t& seen = searcher->lately[name % std::size(searcher->lately)];
      if (seen == mention + 1) continue;
      seen = mention + 1;
      mentions.push_back(mention);
    }
    searcher->found.clear();
    if (mentions.size() - pageStart > kMentionsBeforeSorting) {
      const auto start = mentions.begin() + static_cast<ptrdiff_t>(pageStart);
      std::sort(start, mentions.end());
      mentions.erase(std::unique(start, mentions.end()), mentions.end());
    }
  };
  for (size_t i = 0; i < batch->earlier.size(); ++i) {
    if (batch->earlier[i] != PageBatch::kFirstListing) continue;
    const auto record = static_cast<uint32_t>(batch->first + i);
    TextReader& page = searcher->page;
    if (!page.open(batch->openAs[i], *searcher->fs)) continue;
    startText(&searcher->search);
    const size_t pageStart = mentions.size();
    const unsigned char* data = nullptr;
    size_t size = 0;
    while (page.readChunk(&data, &size)) {
      feedText(matcher, &searcher->search, data, size, &searcher->found);
      noteFound(record, pageStart);
    }
    endText(matcher, &searcher->search, &searcher->found);
    noteFound(record, pageStart);
    batch->outcomes[i] = page.readError() ? PageRead::Unreadable : PageRead::Whole;
    page.close();
  }
}

// True when a path the file system resolved opens as spelled, without its
// components being looked up again: no backslash, no "." or ".." to fold away and
// nothing a drive letter could be taken from.
bool opensAsSpelled(const std::string& hostPath) {
  if (hostPath.find('\\') != std::string::npos) return false;
  if (hostPath.size() >= 2 && hostPath[1] == ':') return false;
  for (size_t start = 0; start <= hostPath.size();) {
    size_t end = std::min(hostPath.find('/', start), hostPath.size());
    const std::string_view part = std::string_view(hostPath).substr(start, end - start);
    if (part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

// The candidates of every pattern, found the way the search one pattern at
// a time would find them, spelled as stored; names equal but for case
// share one number, since they are mentioned by the same texts.
struct Candidate {
  size_t spelling;  // into spellings
  uint32_t size;
  uint32_t name;  // the number of its name ignoring case
};
struct Candidates {
  std::string spellings;
  std::vector<Candidate> list;
  size_t patternEnd[std::size(kOrphanPatterns)] = {};  // pattern -> its candidates' end
  std::vector<uint32_t> firstOfName;                   // name -> its first candidate
};

std::string_view spellingOf(const Candidates& candidates, const Candidate& c) {
  return std::string_view(candidates.spellings).substr(c.spelling, c.size);
}

// Expands every orphan pattern through fs into *candidates, in pattern order.
void gatherCandidates(FileSystem& fs, Candidates* candidates) {
  FlatIndex names;
  for (size_t p = 0; p < std::size(kOrphanPatterns); ++p) {
    PatternExpansion expansion;
    std::string path;
    for (bool more = firstMatch(fs, &expansion, kOrphanPatterns[p], &path); more;
         more = nextMatch(&expansion, &path)) {
      Candidate c{candidates->spellings.size(), static_cast<uint32_t>(path.size()), 0};
      candidates->spellings += path;
      const uint64_t hash = hashText(path, true);
      uint64_t same = 0;
      if (findInSlots(
              names, hash,
              [&](uint64_t name) {
                const Candidate& first = candidates->list[candidates->firstOfName[name]];
                return equalIgnoringCase(spellingOf(*candidates, first), path);
              },
              &same)) {
        c.name = static_cast<uint32_t>(same);
      } else {
        c.name = static_cast<uint32_t>(candidates->firstOfName.size());
        candidates->firstOfName.push_back(static_cast<uint32_t>(candidates->list.size()));
        addToSlots(&names, hash, c.name);
      }
      candidates->list.push_back(c);
    }
    candidates->patternEnd[p] = candidates->list.size();
  }
}

constexpr size_t kNever = std::numeric_limits<size_t>::max();

// What reading the pages found: the first record that mentions each name
// (kNever for none), the records whose page gives a note, and how each
// record's page read.
struct Mentions {
  std::vector<size_t> firstMention;  // by name
  std::vector<size_t> failed;
  std::vector<PageRead> outcomes;  // by record
};

// Each candidate's search would stop at the first page record whose page
// mentions it, and would try every page record before that one. So: the
// first record that mentions each name, and the records whose page cannot
// be opened or read to its end (what was read before a read error still
// counts). A page listed again can only repeat what its first record found.
// Once every name is mentioned, no later record can change the outcome, so
// the pages after it are not read.
//
// Pages are read and searched on every usable core, a batch of records at
// a time; which records list a page again is settled here beforehand and
// the batches' findings are taken back in record order. The run writes
// nothing until every page has been read, so each page reads the same
// whichever thread reads it and whenever.
void findFirstMentions(FileSystem& fs, const PageRecords& pages, const NameMatcher& matcher,
                       size_t nameCount, unsigned helpers, Mentions* found) {
  found->firstMention.assign(nameCount, kNever);
  found->outcomes.assign(pages.starts.size(), PageRead::Unopenable);
  size_t unmentioned = nameCount;
  std::vector<FileSystem> helperFileSystems(helpers);
  std::vector<PageSearcher> searchers(size_t(helpers) + 1);
  for (size_t worker = 0; worker < searchers.size(); ++worker) {
    FileSystem* own = worker == 0 ? &fs : &helperFileSystems[worker - 1];
    if (worker != 0) own->setCaching(true);
    searchers[worker].fs = own;
  }
  FlatIndex firstListing;
  std::string host;
  size_t nextRecord = 0;
  // Three batches a thread in hand: enough that a long page holds no thread
  // up for long, few enough that little is read past the record where every
  // name has been mentioned.
  runInOrder<PageBatch>(
      helpers, 3 * (size_t(helpers) + 1),
      [&](PageBatch& batch) {
        batch.first = nextRecord;
        batch.earlier.clear();
        for (; batch.earlier.size() < kPagesPerBatch; ++nextRecord) {
          if (nextRecord == pages.starts.size()) break;
          // The look-up below waits for memory in a large directory's index;
          // the slot of a page some records on is asked for now.
          if (helpers > 0 && nextRecord + kLookAhead < pages.starts.size()) {
            fs.prefetchExists(pagePath(pages, nextRecord + kLookAhead), 0);
          }
          const std::string_view path = pagePath(pages, nextRecord);
          const uint64_t hash = hashText(path, false);
          uint64_t earlier = 0;
          if (findInSlots(
                  firstListing, hash, [&](uint64_t r) { return pagePath(pages, r) == path; },
                  &earlier)) {
            batch.earlier.push_back(static_cast<uint32_t>(earlier));
          } else {
            addToSlots(&firstListing, hash, nextRecord);
            batch.earlier.push_back(PageBatch::kFirstListing);
            const size_t i = batch.earlier.size() - 1;
            if (batch.openAs.size() <= i) batch.openAs.resize(i + 1);
            std::string& name = batch.openAs[i];
            name.assign(path);
            // A page stored in another letter case is looked up here, in
            // the listings fs keeps, so that the helper threads do not each
            // list its directory again.
            if (helpers > 0 && fs.resolvePath(name, &host) && opensAsSpelled(host)) name = host;
          }
        }
        return !batch.earlier.empty();
      },
      [&](PageBatch& batch, unsigned worker) { searchBatch(matcher, &searchers[worker], &batch); },
      [&](PageBatch& batch) {
        std::vector<PageRead>& outcomes = found->outcomes;
        for (size_t i = 0; i < batch.earlier.size(); ++i) {
          const size_t record = batch.first + i;
          const uint32_t earlier = batch.earlier[i];
          outcomes[record] =
              earlier == PageBatch::kFirstListing ? batch.outcomes[i] : outcomes[earlier];
          if (outcomes[record] != PageRead::Whole) found->failed.push_back(record);
        }
        for (uint64_t mention : batch.mentions) {
          size_t& mentioned = found->firstMention[mention >> 32];
          if (mentioned != kNever) continue;
          mentioned = static_cast<uint32_t>(mention);
          --unmentioned;
        }
        return unmentioned != 0;
      });
}

// Writes what the search one pattern at a time would: for each pattern with
// candidates its progress line, then for each candidate the notes of the
// pages it would have failed to read before its first mention, and the
// complaint when nothing mentions it.
void writeOrphanOutcomes(RunState& state, const Candidates& candidates, const PageRecords& pages,
                         const Mentions& found) {
  size_t begin = 0;
  for (size_t p = 0; p < std::size(kOrphanPatterns); ++p) {
    if (begin == candidates.patternEnd[p]) continue;
    writeProgress(state, kOrphanPatterns[p]);
    for (size_t i = begin; i < candidates.patternEnd[p]; ++i) {
      const size_t mentioned = found.firstMention[candidates.list[i].name];
      for (size_t record : found.failed) {
        if (record >= mentioned) break;
        const bool unopenable = found.outcomes[record] == PageRead::Unopenable;
        note(state, (unopenable ? "couldn't open " : "couldn't read ") +
                        std::string(pagePath(pages, record)));
      }
      if (mentioned == kNever)
        writeOrphan(state, std::string(spellingOf(candidates, candidates.list[i])));
    }
    begin = candidates.patternEnd[p];
  }
}

}  // namespace

bool searchAllOrphans(RunState& state, FileSystem& fs, TextReader& reader, unsigned helpers) {
  // The reference file's page records are read meanwhile on another core,
  // if there is one: nothing is written until the pages have been read, so
  // a read error ends the search with the same output wherever it lies.
  PageRecords pages;
  bool recordsRead = false;
  struct Joined {
    std::thread thread;
    ~Joined() {
      if (thread.joinable()) thread.join();
    }
  } reading;
  if (helpers > 0) {
    reading.thread = std::thread([&] { recordsRead = readPageRecords(reader, &pages); });
  }

  Candidates candidates;
  gatherCandidates(fs, &candidates);
  if (candidates.list.empty()) return true;
  NameMatcher matcher;
  {
    std::vector<std::string_view> distinct;
    distinct.reserve(candidates.firstOfName.size());
    for (uint32_t first : candidates.firstOfName) {
      distinct.push_back(spellingOf(candidates, candidates.list[first]));
    }
    buildNameMatcher(distinct, &matcher);
  }

  if (reading.thread.joinable()) {
    reading.thread.join();
  } else {
    recordsRead = readPageRecords(reader, &pages);
  }
  if (!recordsRead) return false;
  Mentions found;
  findFirstMentions(fs, pages, matcher, candidates.firstOfName.size(), helpers, &found);
  writeOrphanOutcomes(state, candidates, pages, found);
  return true;
}

}  // namespace tangler
