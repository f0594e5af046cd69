// The check phase: one pass over the reference file that judges each ref and
// image record as it comes. Pages and anchors are looked up in the
// PageLookup built from the same file, never on disk, since the scan already
// saw every page that counts; other files are looked up on disk through the
// FileSystem. Complaints name the page and line of the reference.
#pragma once

#include <string>

#include "app/run_options.h"
#include "check/page_lookup.h"
#include "platform/file_system.h"
#include "platform/text_file.h"
#include "report/run_state.h"

namespace tangler {

// Everything one check pass reads and writes.
struct CheckContext {
  const RunOptions& options;
  RunState& state;
  const PageLookup& pages;
  FileSystem& fs;
};

// The whole pass over reader (the first reader of the reference file). False
// when the reference file cannot be rewound or read to its end: what was
// judged up to there has been reported, and the run must end with status 3.
//
// With helpers > 0 the records are judged in batches on that many threads
// besides the calling one, each with a FileSystem of its own (caching on),
// and the complaints reach the report in file order: the report, the count
// and the run state's page and line come out as with helpers == 0. Only the
// moments at which the report is flushed differ, so when the report is
// written into the reference file itself the pass runs on the calling
// thread alone, reading the file at the same moments as ever. Reads only
// cx.pages and cx.options besides the file; cx.fs is the calling thread's.
bool checkReferences(CheckContext& cx, TextReader& reader, unsigned helpers = 0);

// Judges one ref record's target, found on page. pageHash, when not null, is
// pageHash() of the part of target before any '#', worked out already.
void checkLink(CheckContext& cx, const std::string& page, const std::string& target,
               const uint64_t* pageHash = nullptr);

// Judges one image record's target.
void checkImage(CheckContext& cx, const std::string& target);

// The disk check shared by both: returns false, doing nothing, when target's
// extension is ".htm" or ".html" (the caller looks the page up); otherwise
// complains "couldn't find <kind> "<target>"" unless target exists on disk,
// and returns true.
bool checkFile(CheckContext& cx, const char* kind, const std::string& target);

}  // namespace tangler
