// The straightforward ways of answering what the check phase and the orphan
// search answer fast: each re-reads the reference file (or the pages) for
// every question. Slow, but plainly right, so the tests and fuzz targets
// compare the fast answers against them.
#pragma once

#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/text_file.h"
#include "reffile/reference_file.h"
#include "report/run_state.h"

namespace tangler {

// A record taken apart (viewRecord()) into a copy that outlives its line.
struct Record {
  RecordKind kind = RecordKind::Other;
  std::string value;  // from the eighth character; line number split off
  uint32_t line = 0;  // 0 for records without a line number
};
Record parseRecord(std::string_view line);

// The first position in text at which needle begins, ignoring ASCII case, or
// std::string_view::npos. An empty needle is never found.
size_t findIgnoringCase(std::string_view text, std::string_view needle);

// What findPage() answers, found by rewinding reader (a reference file) and
// reading it in order: the first of target's page records starts the search,
// and a page record of target that directly follows a block of target ends
// it.
bool findPageByScanning(TextReader& reader, const std::string& target, bool hasAnchor,
                        const std::string& anchor);

// True when the page at path mentions candidate (found ignoring case within
// one line). A page that cannot be opened gives the counted note "couldn't
// open <path>"; one with a read error gives "couldn't read <path>" unless
// the text before the error mentions candidate. Both answer false.
bool pageMentions(RunState& state, FileSystem& fs, const std::string& path,
                  const std::string& candidate);

// The orphan search for one pattern, candidate by candidate: each candidate
// reads the pages of reader's page records in order until one mentions it.
void searchOrphansByScanning(RunState& state, FileSystem& fs, TextReader& reader,
                             const std::string& pattern);

// How checkLink() splits a reference without a scheme for the page look-up:
// the page before the first '#' (the current page when that is empty) and
// the anchor after it.
struct PageTarget {
  std::string page;
  bool hasAnchor = false;
  std::string anchor;
};
PageTarget splitPageTarget(const std::string& currentPage, const std::string& target);

}  // namespace tangler
