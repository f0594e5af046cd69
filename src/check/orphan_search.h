// The orphan search: the site's files that no scanned page mentions. A
// mention is the file's name anywhere in a page's text, in a link or not,
// ignoring case and within one line, so that pages which name a file in
// script or prose keep it off the list.
#pragma once

#include <string>

#include "platform/file_system.h"
#include "platform/text_file.h"
#include "report/run_state.h"

namespace tangler {

// The candidate patterns, searched in the current directory in this order.
extern const char* const kOrphanPatterns[7];

// Runs the whole orphan search over the page records of the reference file
// open in reader. For each pattern that matches a file: the progress note
// "(checking for unlinked <pattern>....)" on the error stream, then
// "Couldn't find "<name>" mentioned" in the report for each unmentioned
// file. The output is what searching candidate by candidate, page record by
// page record, stopping at the first mention, would give: a page that cannot
// be opened (or read to its end) gives the counted note "couldn't open
// <page>" (or "couldn't read <page>") once for every candidate whose search
// reaches it. Each page is read only once, whatever the number of candidates,
// and the pages after the record where the last candidate is first mentioned
// are not read at all. Pages are read and searched on the calling thread and
// on `helpers` more, each with a FileSystem of its own (the calling thread
// uses fs); the output is the same whatever their number, and nothing is
// written until every page needed has been read. False when the reference
// file cannot be rewound or read: the run must end with status 3.
bool searchAllOrphans(RunState& state, FileSystem& fs, TextReader& reader, unsigned helpers);

}  // namespace tangler
