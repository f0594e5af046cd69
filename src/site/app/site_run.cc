#include "site/app/site_run.h"

#include <atomic>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <thread>

#include "platform/file_system.h"
#include "platform/ordered_work.h"
#include "platform/run_files.h"
#include "platform/terminal.h"
#include "site/app/command_line.h"
#include "site/app/external_run.h"
#include "site/app/progress_line.h"
#include "site/check/site_check.h"
#include "site/extract/page_links.h"
#include "site/net/link_cache.h"
#include "site/net/link_scheduler.h"
#include "site/report/writers.h"
#include "site/walk/walk.h"
#include "text/text_helpers.h"

namespace site {

namespace {

void printError(const std::string& message) {
  std::string line = "tangler-site: " + message + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

// An ignore file holds a few patterns; past this it is surely not one.
constexpr size_t kMaxIgnoreFileBytes = size_t(16) << 20;

const char kTryHelp[] = "Try 'tangler-site --help'.\n";

std::string counted(uint64_t count, const char* singular, const char* plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

// Pages and style sheets are read in pieces of this size.
constexpr size_t kPieceSize = 64 * 1024;

// What one thread keeps from file to file, so that reading and resolving
// reuse their buffers.
struct ThreadBuffers {
  std::string piece;
  PageExtractor extractor;
  FileCheck check;
  ResolveScratch scratch;
};

// Runs work(i, buffers) for every i below count on up to jobs threads, each
// i once, each thread with its own buffers. With progress (not null),
// redraws text(columns) on the error stream meanwhile, at most every tenth
// of a second, as the calling thread takes each file back; the line is left
// drawn, for the caller to clear.
template <typename Work>
void runOnThreads(unsigned jobs, size_t count, Work work, ProgressLine* progress,
                  const std::function<std::string(unsigned)>& text) {
  const unsigned helpers =
      unsigned(std::min<size_t>(std::max(jobs, 1u), std::max<size_t>(count, 1)) - 1);
  std::vector<ThreadBuffers> buffers(helpers + 1);
  struct Item {
    size_t index = 0;
  };
  size_t next = 0;
  auto lastDrawn = std::chrono::steady_clock::time_point();
  // Many files are handed out ahead of the one taken back, so that a big
  // file holds up no thread.
  runInOrder<Item>(
      helpers, size_t(64) * (helpers + 1),
      [&](Item& item) {
        if (next == count) return false;
        item.index = next++;
        return true;
      },
      [&](Item& item, unsigned worker) { work(item.index, buffers[worker]); },
      [&](Item&) {
        if (progress != nullptr) {
          const auto now = std::chrono::steady_clock::now();
          if (now - lastDrawn >= std::chrono::milliseconds(100)) {
            lastDrawn = now;
            drawProgress(progress, text);
          }
        }
        return true;
      });
}

// Reads walked page fileIndex again from its start, opened as the walk
// found it, looking for its first <base href> and nothing else, up to where
// it is found: *hasBase, and *href decoded. False, with *error, when the
// page cannot be read.
bool lookAheadForBase(const WalkResult& walk, size_t fileIndex, std::string* piece, bool* hasBase,
                      std::string* href, std::string* error) {
  HeldHandle file;
  if (!openWalkedFile(walk, fileIndex, &file, error)) return false;
  PageExtractor extractor;
  startExtraction(extractor, false, true);
  const ReferenceSink none = [](std::string_view, TextPosition) {};
  for (;;) {
    size_t got = 0;
    if (!readHeldPiece(file, piece->data(), piece->size(), &got, error)) return false;
    if (got == 0) break;
    extractPiece(extractor, std::string_view(piece->data(), got), none);
    if (extractor.done) break;
  }
  finishExtraction(extractor, none);
  *hasBase = extractor.links.hasBase;
  *href = extractor.links.base;
  return true;
}

// Reads and checks one page or style sheet, opened as the walk found it, a
// piece at a time: each reference is judged as extraction finds it (or held
// until the page's base is known), never the whole file held.
void readAndCheck(const WalkResult& walk, CheckContext& context, size_t index,
                  ThreadBuffers& buffers) {
  const WalkedFile& file = (*context.files)[index];
  const bool page = context.tree->nodes[file.node].role == NodeRole::Page;
  std::string error;
  try {
    HeldHandle reader;
    if (!openWalkedFile(walk, index, &reader, &error)) {
      markUnreadable(context, index, error);
      return;
    }
    std::string& piece = buffers.piece;
    piece.resize(kPieceSize);
    PageExtractor& extractor = buffers.extractor;
    FileCheck& check = buffers.check;
    ResolveScratch* scratch = &buffers.scratch;
    startExtraction(extractor, !page);
    beginFileCheck(context, index, &check);
    const ReferenceSink sink = [&](std::string_view value, TextPosition at) {
      // The first <base href> counts for the references before it too.
      if (!check.baseKnown && extractor.links.hasBase) {
        setFileBase(context, check, true, extractor.links.base, scratch);
      }
      checkReference(context, check, value, at.line, at.column, scratch);
    };
    for (;;) {
      size_t got = 0;
      if (!readHeldPiece(reader, piece.data(), piece.size(), &got, &error)) {
        markUnreadable(context, index, error);
        return;
      }
      if (got == 0) break;
      extractPiece(extractor, std::string_view(piece.data(), got), sink);
      if (check.baseKnown) continue;
      if (extractor.links.hasBase) {
        setFileBase(context, check, true, extractor.links.base, scratch);
      } else if (heldPastBound(check)) {
        // Too much to hold for a base that may never come: only such a
        // page is read twice.
        bool hasBase = false;
        std::string href;
        std::string lookAhead(kPieceSize, '\0');
        if (!lookAheadForBase(walk, index, &lookAhead, &hasBase, &href, &error)) {
          markUnreadable(context, index, error);
          return;
        }
        setFileBase(context, check, hasBase, href, scratch);
      }
    }
    finishExtraction(extractor, sink);
    endFileCheck(context, check, extractor.links, scratch);
    // A page with very many anchors gives their memory back.
    if (extractor.links.anchors.capacity() > 65536) extractor.links = PageLinks();
  } catch (const std::exception&) {  // out of memory on a huge file
    markUnreadable(context, index, std::strerror(ENOMEM));
  }
}

void printUsageError(const std::string& message) {
  printError(message);
  std::fputs(kTryHelp, stderr);
}

// Compiles the --ignore patterns into check->ignore: the command line's,
// then each ignore file's (the --ignore-file ones, else kDefaultIgnoreFile
// when there is one). *origins gets, for each pattern, where it came from:
// "" for the command line, "FILE:LINE" for a file's line. The status to end
// with at once, if any (the message printed), else kStatusClean.
int loadIgnorePatterns(FileSystem& fileSystem, const SiteOptions& options, CheckOptions* check,
                       std::vector<std::string>* origins) {
  std::vector<std::string> patterns = options.ignore;
  origins->assign(patterns.size(), std::string());
  std::vector<std::string> files = options.ignoreFiles;
  if (files.empty() && fileSystem.statPath(kDefaultIgnoreFile) != EntryKind::Missing)
    files.push_back(kDefaultIgnoreFile);
  std::string text, error;
  for (const std::string& file : files) {
    if (!readNamedFile(file, kMaxIgnoreFileBytes, &text, &error)) {
      printError("cannot read " + quoted(file) + ": " + error);
      return kStatusUnreadable;
    }
    for (IgnoreLine& line : ignoreFileLines(text)) {
      std::string origin = file + ":" + std::to_string(line.line);
      // Alone first, so that a pattern that does not compile is named with
      // its file and line.
      IgnoreList alone;
      if (!alone.compile({line.pattern}, &error)) {
        printUsageError(origin + ": " + error);
        return kStatusUsage;
      }
      patterns.push_back(std::move(line.pattern));
      origins->push_back(std::move(origin));
    }
  }
  auto ignore = std::make_shared<IgnoreList>();
  if (!ignore->compile(patterns, &error)) {
    printUsageError(error);
    return kStatusUsage;
  }
  check->ignore = std::move(ignore);
  return kStatusClean;
}

// After the run, each --ignore pattern that matched no reference, on the
// error stream: a typo must not pass silently.
void nameUnusedIgnorePatterns(const IgnoreList& ignore, const std::vector<std::string>& origins) {
  for (size_t i = 0; i < ignore.patterns().size(); ++i) {
    if (ignore.used(i)) continue;
    printError((origins[i].empty() ? "" : origins[i] + ": ") + "--ignore pattern " +
               quoted(ignore.patterns()[i]) + " matched nothing");
  }
}

// True when canonical (an absolute path, links resolved) lies in
// canonicalRoot or below it, with *relative the '/'-separated rest.
bool pathUnder(const std::string& canonical, const std::string& canonicalRoot,
               std::string* relative) {
  std::string prefix = canonicalRoot;
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  if (canonical == canonicalRoot) {
    relative->clear();
    return true;
  }
  if (canonical.compare(0, prefix.size(), prefix) != 0) return false;
  *relative = canonical.substr(prefix.size());
  return true;
}

// Makes the report's destination ready before the walk: standard output, or
// the file named by -o, created (emptied) now so that a name that cannot be
// written fails before any work. A file the walk would read as a page or
// style sheet is refused before it is touched, since writing the report
// would destroy what is being checked; any other file under ROOT is handed
// to the walk to be passed over. The status to end with at once, if any
// (the message printed), else kStatusClean.
int openOutput(FileSystem& fileSystem, const SiteOptions& options, ReportDestination* output,
               WalkOptions* walk) {
  if (options.output.empty()) return kStatusClean;
  std::string canonicalRoot, destination, relative;
  const bool rootKnown = fileSystem.canonicalPath(options.root, &canonicalRoot);
  if (rootKnown && destinationPath(fileSystem, options.output, &destination) &&
      pathUnder(destination, canonicalRoot, &relative)) {
    const NodeRole role = walkedRole(options.walk, relative);
    if (role != NodeRole::Other) {
      printUsageError("the report " + quoted(options.output) + " would be " +
                      (role == NodeRole::Page ? "a page" : "a style sheet") +
                      " of the site it checks");
      return kStatusUsage;
    }
  }
  std::string reason;
  if (!openReportFile(options.output, output, &reason)) {
    printError("cannot write " + quoted(options.output) + ": " + reason);
    return kStatusUnreadable;
  }
  // The walk compares each file with the report only when it may meet it:
  // the report lies under ROOT, or has another name that might.
  FileIdentity identity;
  bool otherNames = false;
  if (reportFileIdentity(*output, &identity, &otherNames) &&
      (otherNames || (rootKnown && fileSystem.canonicalPath(options.output, &destination) &&
                      pathUnder(destination, canonicalRoot, &relative)))) {
    walk->skipReportFile = true;
    walk->reportFile = identity;
  }
  return kStatusClean;
}

// Writes what write() hands its sink to output, a piece at a time, and
// closes output. A reader that closed the pipe early ends the writing
// without a word: it had what it wanted. False, with *error, on any other
// failure.
bool writeOutput(ReportDestination& output, const std::string& name,
                 const std::function<bool(ReportSink&)>& write, std::string* error) {
  bool readerGone = false;
  ReportSink sink([&](std::string_view bytes, std::string* reason) {
    const WriteOutcome outcome = writeReport(output, bytes, reason);
    readerGone = outcome == WriteOutcome::ReaderGone;
    return outcome == WriteOutcome::Written;
  });
  std::string reason;
  WriteOutcome outcome = WriteOutcome::Written;
  if (!write(sink)) {
    outcome = readerGone ? WriteOutcome::ReaderGone : WriteOutcome::Failed;
    reason = sink.error;
  }
  if (outcome == WriteOutcome::Written) outcome = closeReport(output, &reason);
  if (outcome != WriteOutcome::Failed) return true;
  *error = name.empty() ? "cannot write the report to standard output: " + reason
                        : "cannot write " + quoted(name) + ": " + reason;
  return false;
}

}  // namespace

std::string summaryLine(const Summary& summary) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f", summary.seconds);
  std::string line = counted(summary.pages, "page", "pages") + ", " +
                     counted(summary.files, "file", "files") + ", " +
                     counted(summary.references, "reference", "references") + " (" +
                     std::to_string(summary.external) + " external, ";
  if (summary.externalChecked) {
    line += counted(summary.externalUrls, "URL", "URLs") +
            " checked: " + std::to_string(summary.externalWorking) + " working, " +
            std::to_string(summary.externalFailed) + " failed, " +
            std::to_string(summary.externalCached) + " from the cache";
  } else {
    line += "not checked";
  }
  if (summary.ignored > 0) line += ", " + std::to_string(summary.ignored) + " ignored";
  return line + "): " + counted(summary.errors, "error", "errors") + ", " +
         counted(summary.warnings, "warning", "warnings") + " in " + seconds + " s";
}

int runSite(const std::vector<std::string>& args) {
  // A reader that closes the report's pipe early must not end the process.
  ignoreBrokenPipes();
  SiteOptions options;
  std::string error;
  const CommandLineResult parsed = parseCommandLine(args, &options, &error);
  switch (parsed) {
    case CommandLineResult::Help:
    case CommandLineResult::Version: {
      ReportDestination standardOutput;
      const std::string text = parsed == CommandLineResult::Help ? helpText() : versionText();
      auto write = [&](ReportSink& sink) {
        sink.write(text);
        return sink.flush();
      };
      if (writeOutput(standardOutput, "", write, &error)) return kStatusClean;
      printError(error);
      return kStatusUnreadable;
    }
    case CommandLineResult::UsageError:
      printUsageError(error);
      return kStatusUsage;
    case CommandLineResult::Run:
      break;
  }
  // The command line took only a format that has a writer.
  const ReportWriter writer = findReportWriter(options.format);
  assert(writer != nullptr);
  const auto start = std::chrono::steady_clock::now();
  int status = kStatusClean;

  FileSystem fileSystem;
  std::vector<std::string> ignoreOrigins;
  if (int early = loadIgnorePatterns(fileSystem, options, &options.check, &ignoreOrigins);
      early != kStatusClean)
    return early;
  ReportDestination output;
  if (int early = openOutput(fileSystem, options, &output, &options.walk); early != kStatusClean)
    return early;
  WalkResult walk;
  if (!walkSite(fileSystem, options.root, options.walk, &walk, &error)) {
    printError("cannot read " + quoted(options.root) + ": " + error);
    return kStatusUnreadable;
  }
  for (const WalkError& failure : walk.errors) {
    printError("cannot list " + quoted(reportPath(options.check.reportRoot, failure.path)) + ": " +
               failure.reason);
    status = kStatusUnreadable;
  }

  CheckContext context;
  initCheckContext(walk.tree, walk.files, options.check, &context);
  std::vector<uint32_t> toRead;  // file indexes, which the tree's node indexes bound
  size_t pagesFound = 0;
  for (size_t i = 0; i < walk.files.size(); ++i) {
    NodeRole role = walk.tree.nodes[walk.files[i].node].role;
    if (role != NodeRole::Other) toRead.push_back(uint32_t(i));
    if (role == NodeRole::Page) ++pagesFound;
  }
  const unsigned jobs = options.jobs != 0 ? options.jobs : usableCores();
  // The network runs while the pages are read: each external reference is
  // handed to the scheduler as it is met.
  std::unique_ptr<ExternalRun> external;
  if (options.external) {
    std::vector<std::string> messages;
    external = startExternalRun(fileSystem, options, &messages);
    for (const std::string& message : messages) printError(message);
    if (external == nullptr) return kStatusUnreadable;
    context.links = &external->scheduler;
  }
  std::atomic<size_t> pagesRead{0};
  const auto progressNow = [&](unsigned columns) {
    if (external == nullptr) return progressText(pagesRead.load(), pagesFound, columns);
    return progressText(pagesRead.load(), pagesFound, external->scheduler.linksDone.load(),
                        external->scheduler.linksFound.load(), columns);
  };
  ProgressLine progress;
  const bool showProgress = !options.quiet && standardErrorIsTerminal();
  runOnThreads(
      jobs, toRead.size(),
      [&](size_t k, ThreadBuffers& buffers) {
        readAndCheck(walk, context, toRead[k], buffers);
        if (walk.tree.nodes[walk.files[toRead[k]].node].role == NodeRole::Page) ++pagesRead;
      },
      showProgress ? &progress : nullptr, progressNow);
  if (external != nullptr) {
    closeLinkSubmissions(external->scheduler);
    if (showProgress) {
      showProgressUntil(
          &progress, [&] { return external->finished.load(); }, progressNow);
    }
    external->thread.join();
    if (external->failed) {
      printError("the external-link check ran out of memory; its findings are incomplete");
      status = kStatusUnreadable;
    }
  }
  clearProgress(&progress);
  // The fragments that waited for their pages, then the external references
  // that waited for their answers (in that order: the second keeps what
  // the first made).
  runOnThreads(
      jobs, toRead.size(),
      [&](size_t k, ThreadBuffers&) {
        checkPendingAnchors(context, toRead[k]);
        if (external != nullptr) checkExternalAnswers(context, toRead[k]);
      },
      nullptr, progressNow);
  for (size_t index : toRead) {
    const std::string* reason = context.outcomes[index].error.get();
    if (reason == nullptr || reason->empty()) continue;
    printError(
        "cannot read " +
        quoted(reportPath(options.check.reportRoot, nodePath(walk.tree, walk.files[index].node))) +
        ": " + *reason);
    status = kStatusUnreadable;
  }

  SiteReport report = finishReport(context);
  if (external != nullptr) {
    countExternal(external->scheduler, &report.summary);
    if (!options.cache.empty()) {
      updateLinkCache(external->scheduler, systemNetClock().wallSeconds(), &external->cache);
      std::string reason;
      if (!writeLinkCache(options.cache, external->cache, &reason)) {
        printError("cannot write the cache " + quoted(options.cache) + ": " + reason);
        status = kStatusUnreadable;
      }
    }
  }
  report.summary.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!writeOutput(
          output, options.output, [&](ReportSink& sink) { return writer(report, sink); }, &error)) {
    printError(error);
    status = kStatusUnreadable;
  }
  // A publishing job pointed at the wrong folder must not pass.
  if (pagesFound == 0) {
    std::string pages;
    for (const std::string& glob : options.walk.pages) pages += (pages.empty() ? "" : ",") + glob;
    printError("no page found in " + quoted(options.root) + " (--pages=" + pages + ")");
  }
  for (size_t i = 0; i < walk.excludeUsed.size(); ++i) {
    if (!walk.excludeUsed[i])
      printError("--exclude pattern " + quoted(options.walk.excludes[i]) + " matched nothing");
  }
  nameUnusedIgnorePatterns(*options.check.ignore, ignoreOrigins);
  if (!options.quiet) printError(summaryLine(report.summary));
  if (status == kStatusClean && (report.summary.errors > 0 || pagesFound == 0))
    status = kStatusFindings;
  return status;
}

}  // namespace site
