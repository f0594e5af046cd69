#include "check/reference_checker.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "check/case_checks.h"
#include "platform/ascii_case.h"
#include "platform/ordered_work.h"
#include "reffile/reference_file.h"

namespace tangler {

namespace {

// The extension of target: its last '.' and what follows, within the last
// path component. Empty when that component has no dot.
std::string_view extensionOf(std::string_view target) {
  size_t lastSeparator = target.find_last_of("\\/");
  size_t nameStart = lastSeparator == std::string_view::npos ? 0 : lastSeparator + 1;
  size_t dot = target.rfind('.');
  if (dot == std::string_view::npos || dot < nameStart) return {};
  return target.substr(dot);
}

}  // namespace

bool checkFile(CheckContext& cx, const char* kind, const std::string& target) {
  std::string_view extension = extensionOf(target);
  if (equalIgnoringCase(extension, ".htm") || equalIgnoringCase(extension, ".html")) return false;
  if (!cx.fs.pathExists(target)) {
    complain(cx.state, cx.options.indentColumn,
             std::string("couldn't find ") + kind + " " + quoted(target));
  }
  return true;
}

namespace {

bool isFileScheme(std::string_view target) {
  return startsWithIgnoringCase(target, "file:");
}

}  // namespace

void checkLink(CheckContext& cx, const std::string& page, const std::string& target,
               const uint64_t* pageHash) {
  if (isFileScheme(target)) {
    // A warning, not a fault the exit status should show: it carries its own
    // page and line and is never padded.
    cx.state.report.write(page + " (" + std::to_string(cx.state.currentLine) +
                          "): evil \"file:\" ref " + quoted(target) + "\n");
    return;
  }
  if (startsWithIgnoringCase(target, "http:")) {
    if (cx.options.failHttp) {
      complain(cx.state, cx.options.indentColumn, "don't understand " + quoted(target));
    }
    return;
  }
  if (target.find(':') != std::string::npos) {
    if (cx.options.failOtherSchemes) {
      complain(cx.state, cx.options.indentColumn, "don't understand " + quoted(target));
    }
    return;
  }
  std::string_view file = target;
  std::string_view anchor;
  size_t hash = target.find('#');
  bool hasAnchor = hash != std::string::npos;
  if (hasAnchor) {
    file = file.substr(0, hash);
    anchor = std::string_view(target).substr(hash + 1);
  } else if (checkFile(cx, "file", target)) {
    return;
  }
  // A bare "#top" is an anchor of the page itself.
  if (file.empty()) {
    file = page;
    pageHash = nullptr;
  }
  const bool found = pageHash != nullptr ? findPage(cx.pages, file, *pageHash, hasAnchor, anchor)
                                         : findPage(cx.pages, file, hasAnchor, anchor);
  if (found) return;
  std::string missing(file);
  if (hasAnchor) {
    missing += '#';
    missing += anchor;
  }
  complain(cx.state, cx.options.indentColumn, "couldn't find " + quoted(missing));
}

void checkImage(CheckContext& cx, const std::string& target) {
  // Images on other hosts are not followed unless "-h" asks for it; then they
  // are looked for on disk like any other, and so reported missing.
  if (cx.options.failHttp || !startsWithIgnoringCase(target, "http://")) {
    checkFile(cx, "graphics", target);
  }
}

namespace {

// One line of the reference file, taken apart as far as the pass needs:
// separators, marks and stray lines are passed over unread.
RecordView parseForCheck(std::string_view line) {
  RecordView record;
  record.kind = recordKind(line);
  if (record.kind == RecordKind::Page || record.kind == RecordKind::Ref ||
      record.kind == RecordKind::Image) {
    record = viewRecord(line, record.kind);
  }
  return record;
}

// The ref and image values one thread has judged to give no complaint and no
// warning. A site links to the same few pages again and again, and while the
// pass lasts the answer for a value depends on the value and its kind alone
// (the site is not changing, and a file system that caches says so), except
// for a bare "#anchor", which names the current page and is never kept. A
// fixed table of short values: a value that hashes to a taken slot replaces
// the one there, so the memory stays the same however many values come.
class CleanValues {
 public:
  // Whether a value is of the kind kept at all: the others are judged anew.
  static bool keeps(std::string_view value) {
    return !value.empty() && value[0] != '#' && value.size() <= kLongest;
  }
  static uint64_t hashOf(RecordKind kind, std::string_view value) {
    return hashIgnoringCase(value) + static_cast<uint64_t>(kind);
  }
  // Whether keeping values still pays. Where links seldom repeat (every page
  // naming others at random, say) looking them up costs more than it saves:
  // once a stretch of look-ups has found too few, the table is let be for
  // the rest of the pass.
  bool inUse() const { return inUse_; }
  void tally(bool found) {
    found_ += found ? 1 : 0;
    if (++lookups_ % kTrial == 0) {
      inUse_ = found_ * 8 >= kTrial;
      found_ = 0;
    }
  }
  // Asks early for the memory contains() and add() will touch.
  void prefetch(uint64_t hash) const {
    if (!pairs_.empty()) __builtin_prefetch(&pairs_[pairOf(hash)]);
  }
  // For a kept value and its hashOf().
  bool contains(uint64_t hash, RecordKind kind, std::string_view value) const {
    if (pairs_.empty()) return false;
    const Pair& pair = pairs_[pairOf(hash)];
    return holds(pair.slots[0], kind, value) || holds(pair.slots[1], kind, value);
  }
  // Two values that hash alike can both stay: each hash has a pair of slots
  // (one cache line), the newer value first.
  void add(uint64_t hash, RecordKind kind, std::string_view value) {
    if (pairs_.empty()) pairs_.resize(kPairs);
    Pair& pair = pairs_[pairOf(hash)];
    pair.slots[1] = pair.slots[0];
    Slot& slot = pair.slots[0];
    slot.size = static_cast<unsigned char>(value.size());
    slot.kind = char(kind);
    std::memcpy(slot.bytes, value.data(), value.size());
  }

 private:
  static constexpr size_t kPairs = size_t{1} << 14;
  static constexpr uint64_t kTrial = 4096;  // look-ups
  static size_t pairOf(uint64_t hash) { return static_cast<size_t>(hash) & (kPairs - 1); }
  static constexpr size_t kLongest = 30;  // a slot is 32 bytes: most values fit
  struct Slot {
    unsigned char size = 0;  // of bytes; an empty slot matches no kept value
    char kind = 0;
    char bytes[kLongest];
  };
  static bool holds(const Slot& slot, RecordKind kind, std::string_view value) {
    return slot.size == value.size() && slot.kind == char(kind) &&
           std::memcmp(slot.bytes, value.data(), value.size()) == 0;
  }
  struct alignas(64) Pair {
    Slot slots[2];
  };
  std::vector<Pair> pairs_;
  bool inUse_ = true;
  uint64_t lookups_ = 0;
  uint64_t found_ = 0;  // in the current stretch of kTrial look-ups
};

// What was worked out about a record before its turn came.
struct Ahead {
  bool kept = false;    // its value is of the kind CleanValues keeps; then:
  bool looked = false;  // looked for among them (lookFor())
  bool clean = false;   // and found
  uint64_t hash = 0;    // CleanValues::hashOf
  size_t paged = 0;     // the length of the page a ref names before any '#'
  bool hashed = false;  // page holds pageHash() of that page
  uint64_t page = 0;
};

// Hashes the page a record's ref names and asks for its slot in the look-up.
void hashPage(const CheckContext& cx, const RecordView& record, Ahead& ahead) {
  if (ahead.paged == 0 || ahead.hashed) return;
  ahead.hashed = true;
  ahead.page = pageHash(record.value.substr(0, ahead.paged));
  prefetchPageSlot(cx.pages, ahead.page);
}

// Looks for a record's value among the clean ones, once.
void lookFor(CleanValues& clean, const RecordView& record, Ahead& ahead) {
  if (!ahead.kept || ahead.looked) return;
  ahead.looked = true;
  ahead.clean = clean.contains(ahead.hash, record.kind, record.value);
  clean.tally(ahead.clean);
}

// Judges one record. True when it set the run state's line.
bool checkRecord(CheckContext& cx, const RecordView& record, std::string* value, CleanValues& clean,
                 Ahead& ahead) {
  switch (record.kind) {
    case RecordKind::Header:
      cx.state.currentLine = 0;
      return true;
    case RecordKind::Page:
      cx.state.currentPage.assign(record.value);
      cx.state.currentLine = 0;
      return true;
    case RecordKind::Ref:
    case RecordKind::Image: {
      cx.state.currentLine = record.line;
      lookFor(clean, record, ahead);
      if (ahead.clean) return true;
      value->assign(record.value);
      const long long complaints = cx.state.complaintCount;
      // The case complaints come before the link check's for the same record.
      checkCase(cx.options, cx.state, cx.fs, *value);
      if (record.kind == RecordKind::Ref) {
        hashPage(cx, record, ahead);
        checkLink(cx, cx.state.currentPage, *value, ahead.hashed ? &ahead.page : nullptr);
      } else {
        checkImage(cx, *value);
      }
      // A "file:" ref gives a warning that is not counted.
      if (ahead.kept && cx.state.complaintCount == complaints &&
          !(record.kind == RecordKind::Ref && isFileScheme(record.value))) {
        clean.add(ahead.hash, record.kind, record.value);
      }
      return true;
    }
    default:
      return false;
  }
}

// Looks a record over before its turn: hashes what it will look up and asks
// for that memory. A value that may be among the clean ones is hashed whole
// and its page hashed only if it is not found there.
void lookAhead(const CheckContext& cx, const CleanValues& clean, const RecordView& record,
               Ahead* ahead) {
  *ahead = Ahead();
  if (record.kind != RecordKind::Ref && record.kind != RecordKind::Image) return;
  // The page a ref will be looked up as: the part before any '#' (a bare
  // anchor names the current page, known only when it comes).
  if (record.kind == RecordKind::Ref) {
    ahead->paged = std::min(record.value.find('#'), record.value.size());
  }
  ahead->kept = clean.inUse() && CleanValues::keeps(record.value);
  if (ahead->kept) {
    ahead->hash = CleanValues::hashOf(record.kind, record.value);
    clean.prefetch(ahead->hash);
  } else {
    hashPage(cx, record, *ahead);
  }
  // An image is looked for on disk, in the directory listing.
  if (record.kind == RecordKind::Image) cx.fs.prefetchExists(record.value, 0);
}

// Judges the whole lines in text, each ending with a line feed, in order.
// A few records are taken ahead of the one being judged, and the page
// look-ups they will make ask for their memory in two steps meanwhile, so
// that the waits of many look-ups overlap instead of adding up. True when a
// record set the run state's line.
bool checkLines(CheckContext& cx, std::string_view text, std::string* value, CleanValues& clean) {
  constexpr size_t kAhead = 16;
  RecordView records[kAhead];
  Ahead aheads[kAhead];
  size_t next = 0;  // into text: the first line not yet taken
  size_t taken = 0;
  bool lineSet = false;
  for (size_t done = 0;; ++done) {
    while (taken - done < kAhead && next < text.size()) {
      const size_t end = text.find('\n', next);
      const size_t at = taken % kAhead;
      records[at] = parseForCheck(text.substr(next, end - next));
      lookAhead(cx, clean, records[at], &aheads[at]);
      next = end + 1;
      ++taken;
    }
    if (done == taken) return lineSet;
    // Half way to its turn a record is known clean or not (a value once
    // found clean stays so), and only the others need their page's entry.
    const size_t half = done + kAhead / 2;
    if (half < taken) {
      Ahead& ahead = aheads[half % kAhead];
      const RecordView& record = records[half % kAhead];
      lookFor(clean, record, ahead);
      if (!ahead.clean) {
        if (record.kind == RecordKind::Image) cx.fs.prefetchExists(record.value, 1);
        if (ahead.hashed) {
          prefetchPageEntry(cx.pages, ahead.page);
        } else {
          hashPage(cx, record, ahead);
        }
      }
    }
    const size_t at = done % kAhead;
    lineSet |= checkRecord(cx, records[at], value, clean, aheads[at]);
  }
}

// The pass on the calling thread alone. The file is read only when every
// whole line the reader holds has been judged, at the same moments as a
// reader taking one line at a time: a report written into the reference
// file meets the reading as it always has.
bool checkInTurn(CheckContext& cx, TextReader& reader) {
  std::string value;
  CleanValues clean;
  // A line cut short by a failed read is not judged.
  return readLineRuns(reader, [&](std::string_view lines, bool whole) {
    if (whole) {
      checkLines(cx, lines, &value, clean);
    } else {
      const RecordView record = parseForCheck(lines);
      Ahead ahead;
      lookAhead(cx, clean, record, &ahead);
      checkRecord(cx, record, &value, clean, ahead);
    }
  });
}

// One batch of the shared pass: whole lines of the reference file and the
// page they start on; then what judging them gave.
struct CheckBatch {
  std::string text;      // whole lines, each ending with a line feed
  std::string page;      // the current page at the first line; at the last, once judged
  std::string report;    // the complaints, as the report is to get them
  long long count = 0;   // the counted ones among them
  uint32_t line = 0;     // the current line after the last one, when lineSet
  bool lineSet = false;  // some record set the current line
};

// What one thread judges with: a run state whose report is a batch's text,
// a FileSystem (worker 0's is the calling thread's own), room for a value.
struct CheckWorker {
  RunState state;
  std::unique_ptr<FileSystem> ownFs;
  FileSystem* fs = nullptr;
  std::string value;
  CleanValues clean;
};

// A batch is some tens of kilobytes, a few hundred records: enough to
// outweigh handing it to another thread, and few enough in flight at once
// (the window) to keep the memory small.
constexpr size_t kBatchBytes = 32 * 1024;
constexpr size_t kBatchesPerThread = 4;

// True when the report is written into the file reader reads.
bool reportIsReferenceFile(const RunState& state, const TextReader& reader) {
  FileIdentity report;
  FileIdentity references;
  return state.report.identity(&report) && reader.identity(&references) && report == references;
}

bool checkShared(CheckContext& cx, TextReader& reader, unsigned helpers) {
  std::unique_ptr<CheckWorker[]> workers(new CheckWorker[helpers + 1]);
  workers[0].fs = &cx.fs;
  for (unsigned i = 1; i <= helpers; ++i) {
    workers[i].ownFs = std::make_unique<FileSystem>();
    // The site does not change while the pass lasts.
    workers[i].ownFs->setCaching(true);
    workers[i].fs = workers[i].ownFs.get();
  }
  std::string page = cx.state.currentPage;  // at the start of the next batch
  const unsigned char* data = nullptr;
  size_t size = 0;  // of the reader's text at data, not yet taken
  bool ended = false;

  auto fill = [&](CheckBatch& batch) {
    if (ended) return false;
    batch.text.clear();
    for (;;) {
      if (batch.text.size() >= kBatchBytes && batch.text.back() == '\n') break;
      if (size == 0 && !reader.readChunk(&data, &size)) {
        ended = true;
        if (reader.readError()) {
          // A line cut short by a failed read is not judged.
          const size_t lastEnd = batch.text.rfind('\n');
          batch.text.resize(lastEnd == std::string::npos ? 0 : lastEnd + 1);
        } else if (!batch.text.empty() && batch.text.back() != '\n') {
          batch.text.push_back('\n');
        }
        break;
      }
      size_t take = size;
      if (batch.text.size() < kBatchBytes) {
        take = std::min(size, kBatchBytes - batch.text.size());
      } else if (const void* end = std::memchr(data, '\n', size)) {
        take = size_t(static_cast<const unsigned char*>(end) - data) + 1;
      }
      batch.text.append(reinterpret_cast<const char*>(data), take);
      data += take;
      size -= take;
    }
    if (batch.text.empty()) return false;
    // The next batch starts on the last page named here.
    batch.page = page;
    forEachLineStartingWithN(batch.text, [&](std::string_view line) {
      if (recordKind(line) == RecordKind::Page) page.assign(viewRecord(line).value);
    });
    return true;
  };

  auto work = [&](CheckBatch& batch, unsigned worker) {
    CheckWorker& w = workers[worker];
    batch.report.clear();
    w.state.report.attachMemory(&batch.report);
    w.state.complaintCount = 0;
    w.state.currentPage.swap(batch.page);
    w.state.currentLine = 0;
    CheckContext own{cx.options, w.state, cx.pages, *w.fs};
    batch.lineSet = checkLines(own, batch.text, &w.value, w.clean);
    batch.line = w.state.currentLine;
    batch.count = w.state.complaintCount;
    batch.page.swap(w.state.currentPage);
    w.state.report.close();
  };

  auto drain = [&](CheckBatch& batch) {
    cx.state.report.write(batch.report);
    cx.state.complaintCount += batch.count;
    cx.state.currentPage.swap(batch.page);
    if (batch.lineSet) cx.state.currentLine = batch.line;
    return true;
  };

  runInOrder<CheckBatch>(helpers, kBatchesPerThread * (helpers + 1), fill, work, drain);
  return !reader.readError();
}

}  // namespace

bool checkReferences(CheckContext& cx, TextReader& reader, unsigned helpers) {
  if (!reader.rewind()) return false;
  if (helpers == 0 || reportIsReferenceFile(cx.state, reader)) return checkInTurn(cx, reader);
  return checkShared(cx, reader, helpers);
}

}  // namespace tangler
