#include "site/app/site_run.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <thread>

#include "platform/file_system.h"
#include "platform/terminal.h"
#include "site/app/command_line.h"
#include "site/check/site_check.h"
#include "site/extract/page_links.h"
#include "site/report/writers.h"
#include "site/walk/walk.h"

namespace site {

namespace {

void printError(const std::string& message) {
  std::string line = "tangler-site: " + message + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

std::string quoted(const std::string& text) {
  return "'" + text + "'";
}

std::string hostPathOf(const std::string& hostRoot, const std::string& path) {
  std::string out = hostRoot;
  if (out.back() != '/') out += '/';
  out += path;
  return out;
}

std::string counted(uint64_t count, const char* singular, const char* plural) {
  return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

std::string summaryLine(const Summary& summary) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f", summary.seconds);
  return counted(summary.pages, "page", "pages") + ", " + counted(summary.files, "file", "files") +
         ", " + counted(summary.references, "reference", "references") + " (" +
         std::to_string(summary.external) +
         " external, not checked): " + counted(summary.errors, "error", "errors") + ", " +
         counted(summary.warnings, "warning", "warnings") + " in " + seconds + " s";
}

// What the reading threads share.
struct ReadWork {
  FileSystem* fileSystem;
  const std::string* hostRoot;
  const std::vector<WalkedFile>* files;
  const std::vector<size_t>* toRead;  // indexes into *files: pages and style sheets
  CheckContext* context;
  std::vector<FileOutcome>* outcomes;
  std::atomic<size_t> next{0};
  std::atomic<size_t> pagesRead{0};
  std::atomic<size_t> running{0};
};

void readFiles(ReadWork* work) {
  ResolveScratch scratch;
  std::string bytes, error;
  const SiteTree& tree = *work->context->tree;
  for (;;) {
    size_t k = work->next.fetch_add(1);
    if (k >= work->toRead->size()) break;
    size_t index = (*work->toRead)[k];
    const WalkedFile& file = (*work->files)[index];
    FileOutcome& outcome = (*work->outcomes)[index];
    const bool page = tree.nodes[file.node].role == NodeRole::Page;
    try {
      if (!work->fileSystem->readWholeFile(hostPathOf(*work->hostRoot, file.path), &bytes,
                                           &error)) {
        outcome.error = error;
      } else {
        PageLinks links = page ? extractHtml(bytes) : extractCss(bytes);
        checkFile(*work->context, index, links, &scratch, &outcome);
      }
    } catch (const std::exception&) {  // out of memory on a huge file
      outcome = FileOutcome();
      outcome.error = std::strerror(ENOMEM);
    }
    if (page) work->pagesRead.fetch_add(1);
  }
  work->running.fetch_sub(1);
}

// Reads and checks every page and style sheet on up to jobs threads; with
// progress, redraws "N of M pages read" on the error stream meanwhile.
void readAll(ReadWork* work, unsigned jobs, bool progress, size_t pagesFound) {
  size_t wanted = std::max<size_t>(1, std::min<size_t>(jobs, work->toRead->size()));
  std::vector<std::thread> threads;
  work->running = wanted;
  for (size_t i = 0; i < wanted; ++i) {
    try {
      threads.emplace_back(readFiles, work);
    } catch (const std::exception&) {  // the system gives no more threads
      work->running.fetch_sub(wanted - i);
      break;
    }
  }
  if (threads.empty()) {
    work->running = 1;
    readFiles(work);
  }
  if (progress) {
    size_t shownWidth = 0;
    while (work->running.load() > 0) {
      std::string line = "\rtangler-site: " + std::to_string(work->pagesRead.load()) + " of " +
                         std::to_string(pagesFound) + " pages read";
      shownWidth = line.size();
      std::fwrite(line.data(), 1, line.size(), stderr);
      std::fflush(stderr);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (shownWidth > 0) {
      std::string clear = "\r" + std::string(shownWidth - 1, ' ') + "\r";
      std::fwrite(clear.data(), 1, clear.size(), stderr);
      std::fflush(stderr);
    }
  }
  for (std::thread& thread : threads) thread.join();
}

// Writes the report to FILE, or to standard output when output is empty.
bool writeOutput(const std::string& output, const std::string& text, std::string* error) {
  if (output.empty()) {
    bool ok = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    ok = std::fflush(stdout) == 0 && ok;
    if (!ok)
      *error = "cannot write the report to standard output: " + std::string(std::strerror(errno));
    return ok;
  }
  errno = 0;
  std::FILE* file = std::fopen(output.c_str(), "wb");
  if (file == nullptr) {
    *error = "cannot write " + quoted(output) + ": " + std::strerror(errno);
    return false;
  }
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  int reason = errno;
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    reason = errno;
  }
  if (!ok) *error = "cannot write " + quoted(output) + ": " + std::strerror(reason);
  return ok;
}

}  // namespace

int runSite(const std::vector<std::string>& args) {
  SiteOptions options;
  std::string error;
  switch (parseCommandLine(args, &options, &error)) {
    case CommandLineResult::Help:
      std::fputs(helpText().c_str(), stdout);
      return std::fflush(stdout) == 0 ? kStatusClean : kStatusUnreadable;
    case CommandLineResult::Version:
      std::fputs(versionText().c_str(), stdout);
      return std::fflush(stdout) == 0 ? kStatusClean : kStatusUnreadable;
    case CommandLineResult::UsageError:
      printError(error);
      std::fputs("Try 'tangler-site --help'.\n", stderr);
      return kStatusUsage;
    case CommandLineResult::Run:
      break;
  }
  ReportWriter writer = findReportWriter(options.format);
  if (writer == nullptr) {
    printError("the " + options.format + " format is not part of this build; use --format=text");
    return kStatusUsage;
  }
  const auto start = std::chrono::steady_clock::now();
  int status = kStatusClean;

  FileSystem fileSystem;
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
  std::vector<size_t> toRead;
  size_t pagesFound = 0;
  for (size_t i = 0; i < walk.files.size(); ++i) {
    NodeRole role = walk.tree.nodes[walk.files[i].node].role;
    if (role != NodeRole::Other) toRead.push_back(i);
    if (role == NodeRole::Page) ++pagesFound;
  }
  std::vector<FileOutcome> outcomes(walk.files.size());
  ReadWork work;
  work.fileSystem = &fileSystem;
  work.hostRoot = &options.root;
  work.files = &walk.files;
  work.toRead = &toRead;
  work.context = &context;
  work.outcomes = &outcomes;
  unsigned jobs =
      options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
  readAll(&work, jobs, !options.quiet && standardErrorIsTerminal(), pagesFound);
  for (size_t index : toRead) {
    if (outcomes[index].error.empty()) continue;
    printError("cannot read " +
               quoted(reportPath(options.check.reportRoot, walk.files[index].path)) + ": " +
               outcomes[index].error);
    status = kStatusUnreadable;
  }

  SiteReport report = finishReport(context, &outcomes);
  report.summary.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!writeOutput(options.output, writer(report), &error)) {
    printError(error);
    status = kStatusUnreadable;
  }
  if (!options.quiet) printError(summaryLine(report.summary));
  if (status == kStatusClean && report.summary.errors > 0) status = kStatusFindings;
  return status;
}

}  // namespace site
