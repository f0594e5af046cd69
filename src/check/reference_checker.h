// The check phase: walks the reference file once and judges every ref and
// image record of every page. References to pages and anchors are looked up
// among the scanned pages in the reference file itself; references to other
// files are looked up on disk; "file:", "http:" and other-scheme references
// follow fixed rules. Each fault is a complaint prefixed with the page and
// line of the reference.
#pragma once

#include <string>

#include "app/run_options.h"
#include "check/page_lookup.h"
#include "platform/directory.h"
#include "platform/text_file.h"
#include "report/run_state.h"

// Everything one check pass reads and writes.
struct CheckContext {
  const RunOptions& options;
  RunState& state;
  const PageLookup& pages;
  // When set, pages are looked up by reading this second reader of the
  // reference file for each reference instead of through pages: the
  // straightforward way, kept to test the fast one against.
  TextReader* scanningReader = nullptr;
  // Directory listings for the existence and stored-name look-ups; nullptr
  // looks at the disk afresh each time.
  DirectoryCache* directories = nullptr;
};

// The whole pass over reader (the first reader of the reference file).
void checkReferences(CheckContext& cx, TextReader& reader);

// Judges one ref record's target, found on page.
void checkLink(CheckContext& cx, const std::string& page, const std::string& target);

// Judges one image record's target, found on page.
void checkImage(CheckContext& cx, const std::string& page, const std::string& target);

// The disk check shared by both: returns false, doing nothing, when target's
// extension is ".htm" or ".html" (the caller looks the page up); otherwise
// complains "couldn't find <kind> "<target>"" unless target exists on disk,
// and returns true.
bool checkFile(CheckContext& cx, const char* kind, const std::string& target);
