// What tangler-site found, as plain data. The checks fill a SiteReport; each
// report format is one writer over it (report/*_writer.h), so a new format
// never touches the checks and every format says the same thing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace site {

enum class FindingKind : unsigned char {
  MissingFile,
  MissingAnchor,
  CaseMismatch,
  OutsideRoot,
  FileScheme,
  InvalidUrl,
  Orphan,
};
constexpr int kFindingKindCount = 7;

enum class Level : unsigned char { Error, Warning };

// "missing-file", "missing-anchor", "case-mismatch", "outside-root",
// "file-scheme", "invalid-url", "orphan".
const char* kindName(FindingKind kind);
// "error" or "warning".
const char* levelName(Level level);

struct Finding {
  FindingKind kind = FindingKind::MissingFile;
  Level level = Level::Error;
  // The file the finding is in (for an orphan: the orphan itself), as the
  // report writes it: ROOT as the user named it joined to the path under it.
  std::string path;
  // Where the reference's value starts, in bytes from 1. Both 0 for orphans.
  uint32_t line = 0;
  uint32_t column = 0;
  // The reference as written, after whitespace is stripped and character
  // references are decoded. Empty for orphans.
  std::string reference;
  // The message as every format prints it ("'a.html' not found").
  std::string message;
  // case-mismatch only: the stored spelling of the target, as a report path.
  std::string stored;
  // Position of the reference among its page's references, so that findings
  // at one place keep their references' order.
  uint32_t sequence = 0;
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
};

struct SiteReport {
  std::string root;  // ROOT as named, a trailing '/' dropped; "." when omitted
  Summary summary;
  std::vector<Finding> findings;  // sorted: see sortFindings()
  // The report path of every page and style sheet that was read, sorted by
  // bytes: the junit report gives each its test suite, findings or not.
  std::vector<std::string> checkedFiles;
  // --orphans=off: no file was judged an orphan, so the junit report has no
  // "orphans" test suite that would pass without having been run.
  bool orphansOff = false;
};

// Report order, whatever the thread count: by path (bytes), an orphan before
// the other findings of its path, then line, column and sequence; for one
// reference, case-mismatch before missing-anchor.
void sortFindings(std::vector<Finding>* findings);

}  // namespace site
