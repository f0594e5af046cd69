// tangler-site's command line: GNU-style options (parsed by CLI11) into the
// settings of one run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "site/check/site_check.h"
#include "site/net/link_options.h"
#include "site/net/link_scheduler.h"
#include "site/walk/walk.h"

namespace site {

struct SiteOptions {
  std::string root = ".";  // as the user named it
  std::string format = "text";
  std::string output;  // empty: standard output ("-o -" too)
  bool quiet = false;
  unsigned jobs = 0;                     // 0: one per core
  std::vector<std::string> ignore;       // --ignore patterns, in order given
  std::vector<std::string> ignoreFiles;  // --ignore-file names; none: kDefaultIgnoreFile
  WalkOptions walk;
  CheckOptions check;  // check.reportRoot is derived from root; check.siteUrl from --site-url
  // The external-link check.
  bool external = false;         // --external
  LinkCheckOptions links;        // the scheduler's limits, --accept, --remote-anchors, --cache-age
  uint32_t timeoutSeconds = 20;  // --timeout
  std::vector<HeaderOption> headers;  // --header, in order given
  std::string userAgent;              // --user-agent; empty: tangler-site/VERSION
  bool insecure = false;              // --insecure
  std::string cache;                  // --cache; empty: none
};

// The ignore file read from the working directory when it is there and no
// --ignore-file is given.
constexpr char kDefaultIgnoreFile[] = ".tangler-site-ignore";

enum class CommandLineResult { Run, Help, Version, UsageError };

// Reads the arguments after the program's name into *options. UsageError
// comes with *error, one line naming the problem.
CommandLineResult parseCommandLine(const std::vector<std::string>& args, SiteOptions* options,
                                   std::string* error);

// One pattern of an ignore file, with the number of its line (from 1).
struct IgnoreLine {
  uint32_t line = 0;
  std::string pattern;
};

// The patterns of an ignore file's text: each line trimmed of blanks around
// it; blank lines and lines whose first character is '#' skipped. Lines end
// at CR LF, CR or LF; a UTF-8 byte-order mark at the start is dropped.
std::vector<IgnoreLine> ignoreFileLines(std::string_view text);

// What --help and --version print.
std::string helpText();
std::string versionText();

}  // namespace site
