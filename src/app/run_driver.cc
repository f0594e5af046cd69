#include "app/run_driver.h"

#include <memory>
#include <string>
#include <string_view>

#include "app/command_line.h"
#include "app/run_options.h"
#include "check/orphan_search.h"
#include "check/page_lookup.h"
#include "check/reference_checker.h"
#include "platform/ascii_case.h"
#include "platform/file_system.h"
#include "platform/key_wait.h"
#include "platform/ordered_work.h"
#include "platform/text_file.h"
#include "reffile/reference_file.h"
#include "report/run_state.h"
#include "scan/link_extraction.h"

namespace tangler {

namespace {

constexpr int kStatusClean = 0;
constexpr int kStatusComplaints = 1;
constexpr int kStatusFatal = 3;
constexpr int kStatusUsage = 17;

// The header record's directory: lower case, and one line whatever the host
// allows in a directory name, so that it can never read back as a record of
// another kind.
std::string headerDirectory(FileSystem& fs) {
  std::string directory = lowerCaseAscii(fs.currentDirectory());
  for (char& c : directory) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  return directory;
}

// Ends a run that met a fatal failure: what the report holds so far still
// reaches it, as it would when the process exits.
int endFatally(RunState& state) {
  state.report.flush();
  return kStatusFatal;
}

void reportWriteFailure(RunState& state, const std::string& name) {
  state.errors.write("couldn't write " + name + ".");
}

// True when nothing else the run writes goes into the reference file, so
// that it will read back as it is written (page names, the only text in it
// that no one has cleaned of control characters, are looked at one by one
// as they come).
bool readsBackAsWritten(const RunState& state, const TextWriter& refFile) {
  FileIdentity written;
  if (!refFile.identity(&written)) return false;
  FileIdentity other;
  if (state.report.identity(&other) && other == written) return false;
  if (state.errors.identity(&other) && other == written) return false;
  return true;
}

bool hasControlByte(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) return true;
  }
  return false;
}

// Scans every pattern into a new reference file. False on a fatal failure
// (message written). The page look-up is put together from the page and
// mark records as they are written, when they will read back the same; it
// is left unstarted (no lookup) otherwise.
bool runScanPhase(const RunOptions& options, RunState& state, FileSystem& fs,
                  PageLookupBuilder* pages) {
  auto refFile = std::make_unique<TextWriter>();
  if (!openOrExit(state, fs, options.referenceFileName, refFile.get())) return false;
  writeHeader(*refFile, headerDirectory(fs));
  const unsigned helpers = helperThreads();
  RecordTap tap = [pages](RecordKind kind, std::string_view value) {
    if (pages->lookup == nullptr) return;
    if (kind == RecordKind::Page) {
      if (hasControlByte(value)) {
        // Read back after all; what was put together so far is let go.
        *pages->lookup = PageLookup();
        *pages = PageLookupBuilder();
        return;
      }
      addPageRecord(*pages, value);
    } else if (kind == RecordKind::Mark) {
      addMarkRecord(*pages, value);
    }
  };
  const RecordTap* tapping =
      pages->lookup != nullptr && readsBackAsWritten(state, *refFile) ? &tap : nullptr;
  if (tapping == nullptr) pages->lookup = nullptr;
  if (options.patterns.empty()) {
    if (!scanPattern(state, fs, *refFile, "*.htm", helpers, tapping)) return false;
  } else {
    for (const std::string& pattern : options.patterns) {
      if (!scanPattern(state, fs, *refFile, pattern, helpers, tapping)) return false;
    }
  }
  if (!refFile->close()) {
    reportWriteFailure(state, options.referenceFileName);
    return false;
  }
  return true;
}

// The check and orphan phases over the reference file, with the page
// look-up the scan put together when it could (pages->lookup not null). False
// on a fatal failure (message written).
bool runCheckPhases(const RunOptions& options, RunState& state, FileSystem& fs,
                    std::unique_ptr<PageLookup> lookup, PageLookupBuilder* pages) {
  auto reader1 = std::make_unique<TextReader>();
  auto reader2 = std::make_unique<TextReader>();
  if (!openOrExit(state, fs, options.referenceFileName, reader1.get())) return false;
  if (!openOrExit(state, fs, options.referenceFileName, reader2.get())) return false;

  // From here on the run only reads the site, so one listing of each
  // directory serves every look-up.
  fs.setCaching(true);
  bool read = false;
  {
    if (pages->lookup != nullptr) {
      finishPageLookup(*pages);
      read = true;
    } else {
      read = buildPageLookup(*reader2, lookup.get());
    }
    *pages = PageLookupBuilder();
    CheckContext cx{options, state, *lookup, fs};
    read = read && checkReferences(cx, *reader1, helperThreads());
    // The look-up's memory is given back before the orphan search takes its own.
    lookup.reset();
  }
  if (read && options.orphanSearch && !options.referencesOnly) {
    read = searchAllOrphans(state, fs, *reader1, helperThreads());
  }
  fs.setCaching(false);
  if (!read) reportReadFailure(state, options.referenceFileName);
  return read;
}

}  // namespace

int runTangler(const std::vector<std::string>& args) {
  auto state = std::make_unique<RunState>();
  initRunState(state.get());
  FileSystem fs;

  RunOptions options;
  if (!parseArguments(args, &options)) {
    state->report.write(kUsageText);
    state->report.flush();
    return kStatusUsage;
  }

  if (options.hasReportFile && !openOrExit(*state, fs, options.reportFileName, &state->report)) {
    return kStatusFatal;
  }
  state->report.write("---------------\n");

  auto lookup = std::make_unique<PageLookup>();
  PageLookupBuilder pages;
  startPageLookup(&pages, lookup.get());
  if (!runScanPhase(options, *state, fs, &pages)) return endFatally(*state);
  state->errors.write("(checking references....)\n");
  if (!runCheckPhases(options, *state, fs, std::move(lookup), &pages)) {
    return endFatally(*state);
  }

  if (options.deleteReferenceFile) fs.deleteFile(options.referenceFileName);

  // The report is complete before the prompt, so that it can be read while
  // the program waits.
  bool reportWritten = options.hasReportFile ? state->report.close() : state->report.flush();
  if (!reportWritten) {
    reportWriteFailure(*state, options.hasReportFile ? options.reportFileName : "stdout");
    return kStatusFatal;
  }

  if (options.referencesOnly && !options.noKeyWait) {
    state->errors.write("(press a key)");
    waitForKey();
  }
  return state->complaintCount != 0 ? kStatusComplaints : kStatusClean;
}

}  // namespace tangler
