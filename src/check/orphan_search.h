// The orphan search: lists the site's files that no scanned page mentions.
// A file counts as mentioned when its name occurs anywhere in the text of any
// scanned page, in a link or not, ignoring case. Each line of a page is
// searched whole; a mention that crosses a line end is no mention.
#pragma once

#include <string>

#include "platform/directory.h"
#include "platform/text_file.h"
#include "report/run_state.h"

// The candidate patterns, searched in the current directory in this order.
extern const char* const kOrphanPatterns[7];

// Runs the whole orphan search: for each of kOrphanPatterns, a progress note
// "(checking for unlinked <pattern>....)" on the error stream when the pattern
// matches a file, then "Couldn't find "<name>" mentioned" in the report for
// every matching file no scanned page mentions. The scanned pages are the
// page records of the reference file open in reader. A page that cannot be
// reopened gives the counted note "couldn't open <page>" once for every
// candidate whose search reaches it. Each page is read once, whatever the
// number of candidates. Pages are opened through cache.
void searchAllOrphans(RunState& state, TextReader& reader, DirectoryCache* cache);

// One pattern's candidates, searched the straightforward way (each candidate
// re-reads the pages until its first mention). Kept as the reference the fast
// search is tested against.
void searchOrphansByScanning(RunState& state, TextReader& reader, const std::string& pattern,
                             DirectoryCache* cache);

// True when the page at path mentions candidate (find ignoring case within
// one line). A page that cannot be opened gives the counted note and false.
bool pageMentions(RunState& state, const std::string& path, const std::string& candidate,
                  DirectoryCache* cache);
