// tangler-site's command line: GNU-style options (parsed by CLI11) into the
// settings of one run.
#pragma once

#include <string>
#include <vector>

#include "site/check/site_check.h"
#include "site/walk/walk.h"

namespace site {

struct SiteOptions {
  std::string root = ".";  // as the user named it
  std::string format = "text";
  std::string output;  // empty: standard output ("-o -" too)
  bool quiet = false;
  unsigned jobs = 0;  // 0: one per core
  WalkOptions walk;
  CheckOptions check;  // check.reportRoot is derived from root
};

enum class CommandLineResult { Run, Help, Version, UsageError };

// Reads the arguments after the program's name into *options. UsageError
// comes with *error, one line naming the problem.
CommandLineResult parseCommandLine(const std::vector<std::string>& args, SiteOptions* options,
                                   std::string* error);

// What --help and --version print.
std::string helpText();
std::string versionText();

}  // namespace site
