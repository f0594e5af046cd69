#include "app/run_driver.h"

#include <memory>
#include <string>

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

// Scans every pattern into a new reference file. False on a fatal failure
// (message written).
bool runScanPhase(const RunOptions& options, RunState& state, FileSystem& fs) {
  auto refFile = std::make_unique<TextWriter>();
  if (!openOrExit(state, fs, options.referenceFileName, refFile.get())) return false;
  writeHeader(*refFile, headerDirectory(fs));
  const unsigned helpers = helperThreads();
  if (options.patterns.empty()) {
    if (!scanPattern(state, fs, *refFile, "*.htm", helpers)) return false;
  } else {
    for (const std::string& pattern : options.patterns) {
      if (!scanPattern(state, fs, *refFile, pattern, helpers)) return false;
    }
  }
  if (!refFile->close()) {
    reportWriteFailure(state, options.referenceFileName);
    return false;
  }
  return true;
}

// The check and orphan phases over the reference file. False on a fatal
// failure (message written).
bool runCheckPhases(const RunOptions& options, RunState& state, FileSystem& fs) {
  auto reader1 = std::make_unique<TextReader>();
  auto reader2 = std::make_unique<TextReader>();
  if (!openOrExit(state, fs, options.referenceFileName, reader1.get())) return false;
  if (!openOrExit(state, fs, options.referenceFileName, reader2.get())) return false;

  // From here on the run only reads the site, so one listing of each
  // directory serves every look-up.
  fs.setCaching(true);
  bool read = false;
  {
    // The look-up's memory is given back before the orphan search takes its own.
    PageLookup pages;
    CheckContext cx{options, state, pages, fs};
    read = buildPageLookup(*reader2, &pages) && checkReferences(cx, *reader1, helperThreads());
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

  if (!runScanPhase(options, *state, fs)) return endFatally(*state);
  state->errors.write("(checking references....)\n");
  if (!runCheckPhases(options, *state, fs)) return endFatally(*state);

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
