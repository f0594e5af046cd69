// What tangler-site found, as plain data. The checks keep each finding as a
// compact record (FindingRecord) beside the file it is in, with the bytes of
// its reference in that file's text; finishing the check sorts them, file by
// file, into a SiteReport. Each report format is one writer over it
// (report/*_writer.h), which makes the records into Findings one at a time as
// it writes them, so that a report of any size never holds its messages at
// once, a new format never touches the checks, and every format says the
// same thing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "site/walk/site_tree.h"

namespace site {

enum class FindingKind : unsigned char {
  MissingFile,
  MissingAnchor,
  CaseMismatch,
  OutsideRoot,
  FileScheme,
  InvalidUrl,
  Orphan,
  // The external-link check's (--external); missing-anchor too, for a
  // fragment of an external page (--remote-anchors).
  HttpError,
  Unreachable,
  RateLimited,
  Moved,
};
constexpr int kFindingKindCount = 11;
// Moved is the last kind: a kind added after it must be counted too.
static_assert(kFindingKindCount == int(FindingKind::Moved) + 1,
              "kFindingKindCount must count every FindingKind");

enum class Level : unsigned char { Error, Warning };

// "missing-file", "missing-anchor", "case-mismatch", "outside-root",
// "file-scheme", "invalid-url", "orphan", "http-error", "unreachable",
// "rate-limited", "moved".
const char* kindName(FindingKind kind);
// "error" or "warning".
const char* levelName(Level level);

// ROOT joined to a path under it, as the reports write paths: ROOT as the
// user named it ("." leaves the path alone), a '/', the path.
std::string reportPath(std::string_view reportRoot, std::string_view path);

// A finding as it is kept until the report is written: where it is, what it
// is, and the nodes its message names, without a string of its own. The file
// it is in is the one whose records hold it.
struct FindingRecord {
  // Where the reference's value starts, in bytes from 1. Both 0 for orphans.
  uint32_t line = 0;
  uint32_t column = 0;
  // Position of the reference among its file's references, so that findings
  // at one place keep their references' order.
  uint32_t sequence = 0;
  // The reference (after whitespace is stripped and character references
  // are decoded) is bytes [textBegin, textBegin + textLength) of its file's
  // text. Empty for orphans.
  uint32_t textBegin = 0;
  uint32_t textLength = 0;
  // missing-anchor: the node of the page where the anchor was looked for;
  // case-mismatch: the node the reference found with another letter case;
  // kExternalDetail for a finding of the external-link check, whose details
  // follow its reference in the text (see appendExternalDetail()). kNoNode
  // for the other kinds.
  uint32_t target = kNoNode;
  FindingKind kind = FindingKind::MissingFile;
  Level level = Level::Error;
  // The checks' own marks, never left in a report: a missing-anchor record
  // that is still a fragment waiting for its page to be read, its target the
  // page it is aimed at; once looked up, it is a finding or it is dropped.
  // Its text may leave out names that the tree gives back (see
  // site_check.cc). With --external, an http-error record that is waiting
  // stands for an external reference whose URL is being checked; once the
  // answers are in, it becomes the findings the answer gives, or none.
  bool waiting = false;
  uint8_t elided = 0;
};

// The target of a record whose details follow its reference in its file's
// text: no node of any tree (see kNoNode).
constexpr uint32_t kExternalDetail = UINT32_MAX - 1;

// What a finding of the external-link check says beyond its reference.
struct ExternalDetail {
  int status = 0;     // the HTTP status; 0 when no answer came
  std::string url;    // the final URL, where the redirects (if any) ended
  std::string extra;  // http-error: the final URL when it was redirected, else
                      // empty; unreachable: why; rate-limited: the seconds
                      // asked for; moved: where it moved to
};

// Appends detail to the text of a file's findings, right after the
// reference of the record it belongs to, whose target must then be
// kExternalDetail: the status and each string's size in four bytes, then
// the strings' bytes.
void appendExternalDetail(const ExternalDetail& detail, std::string* text);

// The detail stored after a record's reference (see appendExternalDetail);
// false when the text does not hold one there.
bool readExternalDetail(std::string_view text, const FindingRecord& record, ExternalDetail* detail);

// Report order within one file: an orphan before the rest, then by line,
// column and sequence; for one reference, a case-mismatch before a
// missing-anchor (every other kind stands alone at its reference).
bool recordBefore(const FindingRecord& a, const FindingRecord& b);
// Sorts one file's records into report order, keeping the order of records
// that compare equal.
void sortRecords(std::vector<FindingRecord>* records);

// A finding as a writer writes it, made from its record (see makeFinding).
struct Finding {
  FindingKind kind = FindingKind::MissingFile;
  Level level = Level::Error;
  // The file the finding is in (for an orphan: the orphan itself), as the
  // report writes it: ROOT as the user named it joined to the path under it.
  std::string path;
  uint32_t line = 0;  // as in the record
  uint32_t column = 0;
  // The reference as written, after whitespace is stripped and character
  // references are decoded. Empty for orphans.
  std::string reference;
  // The message as every format prints it ("'a.html' not found").
  std::string message;
  // case-mismatch only: the stored spelling of the target, as a report path.
  std::string stored;
  // The external-link check's findings only (hasUrl): the final URL, and
  // the HTTP status, 0 when none came.
  bool hasUrl = false;
  int status = 0;
  std::string url;
  uint32_t sequence = 0;  // as in the record
};

struct Summary {
  uint64_t pages = 0;       // files read as HTML
  uint64_t files = 0;       // every file walked, pages included
  uint64_t references = 0;  // every reference read, external and ignored ones too
  uint64_t external = 0;    // http:, https: and "//host" references, not checked
  uint64_t ignored = 0;     // references an --ignore pattern matched
  uint64_t errors = 0;
  uint64_t warnings = 0;
  double seconds = 0;
  // With --external: distinct URLs checked (asked for or found in the
  // cache), those found working, those that failed, and those taken from
  // the cache.
  bool externalChecked = false;
  uint64_t externalUrls = 0;
  uint64_t externalWorking = 0;
  uint64_t externalFailed = 0;
  uint64_t externalCached = 0;
};

// A file of the report: one that was checked, or that has a finding.
struct ReportFile {
  uint32_t node = kNoNode;  // the file in the report's tree, which gives its path
  // Read as a page or style sheet: the junit report gives it a test suite,
  // findings or not.
  bool checked = false;
  std::vector<FindingRecord> records;  // its findings, in report order
  std::string text;                    // the bytes of their references
};

struct SiteReport {
  std::string root;  // ROOT as named, a trailing '/' dropped; "." when omitted
  Summary summary;
  // The walked site, whose nodes the files and the records name; it must
  // outlive the report's writing.
  const SiteTree* tree = nullptr;
  // In report order, the order of their paths' bytes. Sorted by path, then
  // each file's records in report order, the findings are in report order.
  std::vector<ReportFile> files;
  // --orphans=off: no file was judged an orphan, so the junit report has no
  // "orphans" test suite that would pass without having been run.
  bool orphansOff = false;
};

// *out = the report path of node in report.tree, its buffer reused.
void assignReportPath(const SiteReport& report, uint32_t node, std::string* out);

// *finding = the finding that record of file stands for, its message made as
// every format prints it; the buffers of finding's strings are reused, so
// that a writer making one finding after another allocates next to nothing.
void makeFinding(const SiteReport& report, const ReportFile& file, const FindingRecord& record,
                 Finding* finding);

// Hands out a report's findings in report order, one at a time, each made
// into the same Finding:
//   for (FindingCursor cursor{&report}; nextFinding(&cursor);) use(cursor.finding);
struct FindingCursor {
  const SiteReport* report = nullptr;
  size_t file = 0;    // the file of the next record
  size_t record = 0;  // the next record of that file
  Finding finding{};  // the finding handed out last
};

// Makes the next finding into cursor->finding and moves past it; false, with
// cursor->finding left as it was, once every finding has been handed out.
bool nextFinding(FindingCursor* cursor);

}  // namespace site
