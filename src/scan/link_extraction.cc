#include "scan/link_extraction.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "files/pattern_expansion.h"
#include "platform/ascii_case.h"
#include "platform/ordered_work.h"
#include "reffile/reference_file.h"
#include "scan/markup_tokenizer.h"

namespace tangler {

namespace {

// Which attribute of a tag is read, and what its value becomes.
struct AttributeRule {
  TokenKind attribute;
  RecordKind record;
};

constexpr AttributeRule kFrameRules[] = {{TokenKind::KeywordSrc, RecordKind::Ref}};
constexpr AttributeRule kAnchorRules[] = {{TokenKind::KeywordHref, RecordKind::Ref},
                                          {TokenKind::KeywordName, RecordKind::Mark}};
constexpr AttributeRule kImageRules[] = {{TokenKind::KeywordSrc, RecordKind::Image}};
constexpr AttributeRule kBodyRules[] = {{TokenKind::KeywordBackground, RecordKind::Image}};

// Where extraction's records go. The reference file itself takes every
// record as it comes; a page scanned ahead of its turn keeps its records in
// memory, up to a limit past which the page is left for its turn.
struct FileSink {
  TextWriter& out;
  const RecordTap* tap;
  void add(RecordKind kind, const std::string& value, uint32_t line) {
    switch (kind) {
      case RecordKind::Ref:
        writeRef(out, value, line);
        break;
      case RecordKind::Mark:
        writeMark(out, value, line);
        if (tap != nullptr) (*tap)(RecordKind::Mark, value);
        break;
      case RecordKind::Image:
        writeImage(out, value, line);
        break;
      default:
        break;
    }
  }
  static constexpr bool wantsMore() { return true; }
};

struct PendingSink {
  PendingRecords& pending;
  size_t limit;  // in bytes of pending records
  void add(RecordKind kind, const std::string& value, uint32_t line) {
    addPendingRecord(&pending, kind, value, line);
  }
  bool wantsMore() const { return pending.used <= limit; }
};

// Reads the attributes of one tag up to its end and hands the sink a record
// for each attribute of the rules whose value is a quoted string right after
// '='. Returns the token that ended the tag (TagClose or End).
template <class Sink, size_t N>
TokenKind readAttributes(MarkupTokenizer& t, Sink& sink, const AttributeRule (&rules)[N]) {
  for (;;) {
    TokenKind kind = nextTokenKind(t);
    if (kind == TokenKind::End || kind == TokenKind::TagClose) return kind;
    const AttributeRule* rule = nullptr;
    for (const AttributeRule& candidate : rules) {
      if (candidate.attribute == kind) {
        rule = &candidate;
        break;
      }
    }
    if (rule == nullptr) continue;
    // Whatever stands where '=' or the value should be is used up, even when
    // it is the next attribute's name. A '>' there is not lost: the close
    // stays pending and the next read answers it again.
    if (nextTokenKind(t) != TokenKind::Equals) continue;
    if (nextTokenKind(t) != TokenKind::String) continue;
    sink.add(rule->record, t.tokenText, t.lineNumber);
    // One tag may hold any number of attributes.
    if (!sink.wantsMore()) return TokenKind::End;
  }
}

// Extracts the records of the page open in input into sink, until the page
// ends or the sink wants no more. Returns the bytes of text read.
template <class Sink>
uint64_t extractInto(TextReader& input, Sink& sink) {
  MarkupTokenizer t;
  t.input = &input;
  t.lineNumber = 1;
  t.tokenText.reserve(kMaxTokenText);

  while (sink.wantsMore() && skipToTagOpen(t) == TokenKind::TagOpen) {
    const TokenKind tag = nextTokenKind(t);
    TokenKind last = tag;  // the token the tag's end is sought after
    switch (tag) {
      case TokenKind::TagClose:  // '<>'
        continue;
      case TokenKind::KeywordFrame:
        last = readAttributes(t, sink, kFrameRules);
        break;
      case TokenKind::KeywordA:
        last = readAttributes(t, sink, kAnchorRules);
        break;
      case TokenKind::KeywordImg:
        last = readAttributes(t, sink, kImageRules);
        break;
      case TokenKind::KeywordBody:
        last = readAttributes(t, sink, kBodyRules);
        break;
      default:
        break;
    }
    // A sink that is full has no use for the rest of the page.
    if (!sink.wantsMore()) break;
    skipToTagEnd(t, last);
  }
  return t.bytesRead;
}

// --- The scan on several threads. Pages are handed out in batches; a
// worker opens and reads the pages of its batch and keeps their records,
// and the calling thread writes them to the reference file in page order.
//
// That gives the same file, and the same messages, as scanning one page
// after another, because nothing a page could read changes while a pattern
// is scanned, with one exception. The reference file grows; a page that is
// the reference file (by "*.*", or a link to it) is never read ahead but
// scanned by the calling thread at its turn, after every earlier page's
// records have been written, so it sees exactly what had been flushed by
// then. The report is written to only after the scan, and the error stream
// only between patterns (each pattern is scanned to its end before the next
// starts) or once the scan has stopped at a fatal failure, after which
// nothing read ahead is used.

enum class PageOutcome : unsigned char {
  Scanned,     // the records are in the batch
  OpenFailed,  // the page could not be opened: the scan stops there
  ReadFailed,  // as Scanned, and then the read failed: the scan stops there
  AtItsTurn,   // left for the calling thread to scan when its turn comes
};

struct BatchPage {
  std::string path;       // as the pattern gave it
  std::string lowerPath;  // as it is recorded
  PageOutcome outcome = PageOutcome::AtItsTurn;
  size_t firstRecord = 0;
  size_t endRecord = 0;
  size_t firstByte = 0;
  uint64_t cost = 0;  // its bytes of text, and kPageCost
};

struct PageBatch {
  std::vector<BatchPage> pages;  // reused: only the first `count` are this batch's
  size_t count = 0;
  PendingRecords records;
  uint64_t cost = 0;  // of the pages worked on: their bytes, and kPageCost for each
};

// A batch should be worth handing to another thread (a page takes some
// microseconds to open and read, however small), and small enough that the
// large pages of a site, which often stand together in directory order,
// spread over the threads. The work of a page is taken as the bytes of its
// text plus kPageCost for opening it; each batch gets as many pages as the
// pages scanned so far suggest make kBatchCost: their average, or half the
// largest of late (which fades by a 64th with every page) when that is more,
// so that once pages of megabytes have come, each has a batch of its own.
constexpr uint64_t kPageCost = 4096;
constexpr uint64_t kBatchCost = 256 * 1024;
constexpr size_t kMaxPagesPerBatch = 64;
// The records kept in memory at once, over every batch in flight. A page
// whose records do not fit its batch's share is left for its turn (and read
// again then), so a page of millions of links costs no more memory than it
// does on one thread.
constexpr size_t kPendingBytes = size_t{24} << 20;
constexpr size_t kMaxBatchesInFlight = 32;

// Opens and reads the batch's pages in turn, until one fails.
void scanBatch(PageBatch& batch, FileSystem& fs, TextReader& reader, const FileIdentity* refId,
               size_t limit) {
  PendingRecords& records = batch.records;
  records.used = 0;
  records.sizes.clear();
  batch.cost = 0;
  for (size_t i = 0; i < batch.count; ++i) {
    BatchPage& page = batch.pages[i];
    page.firstRecord = page.endRecord = records.sizes.size();
    page.firstByte = records.used;
    page.cost = kPageCost;
    batch.cost += kPageCost;
    if (!reader.open(page.path, fs)) {
      page.outcome = PageOutcome::OpenFailed;
      return;
    }
    FileIdentity id;
    if (refId != nullptr && reader.identity(&id) && id == *refId) {
      reader.close();
      page.outcome = PageOutcome::AtItsTurn;
      continue;
    }
    PendingSink sink{records, limit};
    const uint64_t read = extractInto(reader, sink);
    page.cost += read;
    batch.cost += read;
    if (!sink.wantsMore()) {
      records.used = page.firstByte;
      records.sizes.resize(page.firstRecord);
      reader.close();
      page.outcome = PageOutcome::AtItsTurn;
      continue;
    }
    page.endRecord = records.sizes.size();
    page.lowerPath = lowerCaseAscii(page.path);
    const bool readFailed = reader.readError();
    reader.close();
    if (readFailed) {
      page.outcome = PageOutcome::ReadFailed;
      return;
    }
    page.outcome = PageOutcome::Scanned;
  }
}

// Writes the batch's pages to the reference file in order, as scanPage()
// would have. False (fatal message written) at a page that failed.
bool writeBatch(RunState& state, FileSystem& fs, TextWriter& refFile, const PageBatch& batch,
                const RecordTap* tap) {
  for (size_t i = 0; i < batch.count; ++i) {
    const BatchPage& page = batch.pages[i];
    switch (page.outcome) {
      case PageOutcome::OpenFailed:
        reportOpenFailure(state, page.path, "r");
        return false;
      case PageOutcome::AtItsTurn:
        if (!scanPage(state, fs, refFile, page.path, tap)) return false;
        break;
      case PageOutcome::Scanned:
      case PageOutcome::ReadFailed:
        writePage(refFile, page.lowerPath);
        writePendingRecords(refFile, batch.records, page.firstRecord, page.endRecord,
                            page.firstByte);
        if (tap != nullptr) {
          (*tap)(RecordKind::Page, page.lowerPath);
          tapPendingMarks(*tap, batch.records, page.firstRecord, page.endRecord, page.firstByte);
        }
        if (page.outcome == PageOutcome::ReadFailed) {
          reportReadFailure(state, page.path);
          return false;
        }
        break;
    }
  }
  return true;
}

bool scanPatternOnThreads(RunState& state, FileSystem& fs, TextWriter& refFile,
                          PatternExpansion& expansion, std::string firstPath, unsigned helpers,
                          const RecordTap* tap) {
  FileIdentity refId;
  const FileIdentity* ownFile = refFile.identity(&refId) ? &refId : nullptr;
  // FileSystem keeps caches that are not shared between threads, and a
  // reader is a large buffer: one of each for every thread.
  std::vector<FileSystem> fileSystems(helpers + 1);
  std::vector<std::unique_ptr<TextReader>> readers;
  for (unsigned i = 0; i <= helpers; ++i) readers.push_back(std::make_unique<TextReader>());
  const size_t window = std::min(kMaxBatchesInFlight, size_t{4} * (helpers + 1));
  const size_t limit = kPendingBytes / window;

  std::string path = std::move(firstPath);
  bool more = true;
  bool scanned = true;
  // What the pages drained so far cost on average; the first batches, with
  // nothing to go by, are of one page each.
  uint64_t costSoFar = 0;
  uint64_t pagesSoFar = 0;
  uint64_t largest = 0;  // of late
  auto fill = [&](PageBatch& batch) {
    size_t size = 1;
    if (pagesSoFar > 0) {
      const uint64_t perPage = std::max<uint64_t>({costSoFar / pagesSoFar, largest / 2, 1});
      size = static_cast<size_t>(std::clamp<uint64_t>(kBatchCost / perPage, 1, kMaxPagesPerBatch));
    }
    if (batch.pages.size() < size) batch.pages.resize(size);
    batch.count = 0;
    while (more && batch.count < size) {
      batch.pages[batch.count].cost = 0;
      batch.pages[batch.count++].path.swap(path);
      more = nextMatch(&expansion, &path);
    }
    return batch.count > 0;
  };
  auto work = [&](PageBatch& batch, unsigned worker) {
    scanBatch(batch, fileSystems[worker], *readers[worker], ownFile, limit);
  };
  auto drain = [&](PageBatch& batch) {
    costSoFar += batch.cost;
    pagesSoFar += batch.count;
    for (size_t i = 0; i < batch.count; ++i) {
      largest = std::max(batch.pages[i].cost, largest - largest / 64);
    }
    scanned = writeBatch(state, fs, refFile, batch, tap);
    return scanned;
  };
  runInOrder<PageBatch>(helpers, window, fill, work, drain);
  return scanned;
}

}  // namespace

void extractLinks(TextReader& input, TextWriter& refFile) {
  FileSink sink{refFile, nullptr};
  extractInto(input, sink);
}

bool scanPage(RunState& state, FileSystem& fs, TextWriter& refFile, const std::string& path,
              const RecordTap* tap) {
  TextReader reader;
  // The failure messages name the page as the pattern gave it, before it is
  // lower-cased for the record.
  if (!openOrExit(state, fs, path, &reader)) return false;
  // Pages are known by their lower-case names from here on: the check phase
  // opens them again by that name, and references are compared against it.
  const std::string recorded = lowerCaseAscii(path);
  writePage(refFile, recorded);
  if (tap != nullptr) (*tap)(RecordKind::Page, recorded);
  FileSink sink{refFile, tap};
  extractInto(reader, sink);
  if (reader.readError()) {
    reportReadFailure(state, path);
    return false;
  }
  reader.close();
  return true;
}

bool scanPattern(RunState& state, FileSystem& fs, TextWriter& refFile, const std::string& pattern,
                 unsigned helpers, const RecordTap* tap) {
  PatternExpansion expansion;
  std::string path;
  if (!firstMatch(fs, &expansion, pattern, &path)) {
    note(state, "no " + pattern);
    return true;
  }
  if (helpers > 0) return scanPatternOnThreads(state, fs, refFile, expansion, path, helpers, tap);
  do {
    if (!scanPage(state, fs, refFile, path, tap)) return false;
  } while (nextMatch(&expansion, &path));
  return true;
}

}  // namespace tangler
