// Reference-file bytes through the reference reader and the check phase, and
// every page look-up the pass makes answered again by the straightforward
// re-reading oracle: the two answers must agree, and the pass shared among
// threads must report what the pass on one thread reports. The first input
// byte picks the options; the rest is the reference file. The check runs in
// a directory of its own, made once, holding a few files so that disk
// lookups and case checks find something.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/run_options.h"
#include "check/page_lookup.h"
#include "check/reference_checker.h"
#include "platform/file_system.h"
#include "platform/text_file.h"
#include "reffile/reference_file.h"
#include "report/run_state.h"
#include "straightforward.h"

using namespace tangler;

namespace {

void makeFile(const std::string& name) {
  std::ofstream out(name, std::ios::binary);
  out << "<a href=\"index.htm\">\n";
}

std::string g_site;

void removeSite() {
  std::error_code ec;
  std::filesystem::remove_all(g_site, ec);
}

void makeSite() {
  char templ[] = "/tmp/tangler-fuzz-check-XXXXXX";
  if (mkdtemp(templ) == nullptr || chdir(templ) != 0) {
    std::perror("tangler fuzz: temporary directory");
    std::abort();
  }
  g_site = templ;
  std::atexit(removeSite);
  mkdir("Pics", 0755);
  mkdir("sub", 0755);
  makeFile("index.htm");
  makeFile("a.gif");
  makeFile("Pics/Logo.GIF");
  makeFile("sub/Page.htm");
  makeFile("Read Me.txt");
}

struct Outcome {
  std::string report;
  std::string errors;
  long long count = 0;
};

// The whole check pass; then each ref record's page look-up made again by
// re-reading the file, aborting where the answers differ.
Outcome runCheck(const RunOptions& options, const std::string& refFile, unsigned helpers) {
  auto state = std::make_unique<RunState>();
  Outcome outcome;
  state->report.attachMemory(&outcome.report);
  state->errors.attachMemory(&outcome.errors);
  auto reader1 = std::make_unique<TextReader>();
  auto reader2 = std::make_unique<TextReader>();
  reader1->openMemory(refFile);
  reader2->openMemory(refFile);
  PageLookup pages;
  FileSystem fs;
  fs.setCaching(true);
  if (!buildPageLookup(*reader2, &pages)) std::abort();
  CheckContext cx{options, *state, pages, fs};
  if (!checkReferences(cx, *reader1, helpers)) std::abort();
  state->report.flush();
  state->errors.flush();
  outcome.count = state->complaintCount;

  reader1->rewind();
  std::string line;
  std::string page;
  while (reader1->readLine(&line)) {
    const Record record = parseRecord(line);
    if (record.kind == RecordKind::Page) page = record.value;
    if (record.kind != RecordKind::Ref) continue;
    const PageTarget t = splitPageTarget(page, record.value);
    if (findPage(pages, t.page, t.hasAnchor, t.anchor) !=
        findPageByScanning(*reader2, t.page, t.hasAnchor, t.anchor)) {
      std::fprintf(stderr, "fast and straightforward lookups differ for %s\n",
                   record.value.c_str());
      std::abort();
    }
  }
  return outcome;
}

}  // namespace

// The check runs in its own directory, so the corpus directories and the
// artifact prefix named on the command line, when relative, are made absolute
// first: libFuzzer reads its arguments only after this returns.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static std::vector<std::string> arguments;
  static std::vector<char*> pointers;
  const std::string here = FileSystem().currentDirectory();
  bool hasArtifactPrefix = false;
  for (int i = 0; i < *argc; ++i) {
    std::string arg = (*argv)[i];
    if (arg.rfind("-artifact_prefix=", 0) == 0) {
      hasArtifactPrefix = true;
      const std::string prefix = arg.substr(17);
      if (prefix.empty() || prefix[0] != '/') arg = "-artifact_prefix=" + here + "/" + prefix;
    } else if (i > 0 && !arg.empty() && arg[0] != '-' && arg[0] != '/') {
      arg = here + "/" + arg;
    }
    arguments.push_back(arg);
  }
  if (!hasArtifactPrefix) arguments.push_back("-artifact_prefix=" + here + "/");
  for (std::string& arg : arguments) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  *argc = static_cast<int>(arguments.size());
  *argv = pointers.data();
  makeSite();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  RunOptions options;
  const uint8_t pick = data[0];
  options.failHttp = pick & 1;
  options.failOtherSchemes = pick & 2;
  constexpr CaseMode kModes[] = {CaseMode::None, CaseMode::Different, CaseMode::Lower,
                                 CaseMode::Upper};
  options.caseMode = kModes[(pick >> 2) & 3];
  options.indentColumn = (pick >> 4) * 4 - 8;
  const std::string refFile(reinterpret_cast<const char*>(data + 1), size - 1);

  const Outcome fast = runCheck(options, refFile, 0);
  // Shared among threads, the pass must report the same, byte for byte.
  const Outcome shared = runCheck(options, refFile, 2);
  if (shared.report != fast.report || shared.errors != fast.errors || shared.count != fast.count) {
    std::fprintf(stderr, "the pass on threads reports differently\n");
    std::abort();
  }
  // Every counted complaint is one report line; the uncounted "file:"
  // warnings only add to them.
  long long lines = 0;
  for (char c : fast.report) lines += c == '\n' ? 1 : 0;
  if (lines < fast.count) std::abort();
  return 0;
}
