// An argument vector through the command-line parser. The input is split at
// NUL bytes into arguments. Beyond not crashing, the parse must keep the
// rules every run depends on: a '?' anywhere always asks for the usage text,
// and an accepted command line yields options within their ranges, with
// every pattern taken from the arguments in order.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/run_options.h"

using namespace tangler;

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args;
  const std::string text(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start <= text.size() && args.size() < 64) {
    size_t end = text.find('\0', start);
    if (end == std::string::npos) end = text.size();
    args.push_back(text.substr(start, end - start));
    start = end + 1;
  }

  bool anyQuestionMark = false;
  for (const std::string& a : args) anyQuestionMark |= a.find('?') != std::string::npos;

  RunOptions options;
  const bool accepted = parseArguments(args, &options);
  if (anyQuestionMark) check(!accepted);
  if (!accepted) return 0;

  check(options.caseMode == CaseMode::None || options.caseMode == CaseMode::Different ||
        options.caseMode == CaseMode::Lower || options.caseMode == CaseMode::Upper);
  if (!options.hasReportFile) check(options.reportFileName.empty());

  // The patterns are exactly the arguments that do not begin with the switch
  // character, which turns to '/' for good at the first argument beginning
  // with '/'.
  std::vector<std::string> expected;
  char switchChar = '-';
  for (const std::string& a : args) {
    if (!a.empty() && a[0] == '/') switchChar = '/';
    if (a.empty() || a[0] != switchChar) expected.push_back(a);
  }
  check(options.patterns == expected);
  return 0;
}
