// Reading the command line into the run options, and the usage text.
#pragma once

#include <string>
#include <vector>

#include "app/run_options.h"

namespace tangler {

// The usage text, byte for byte, as it goes to standard output.
extern const char kUsageText[];

// Whether a switch turns its option on: only a '-' right after the letter
// turns it off, and anything else there is ignored, so '-hx' means '-h'.
bool flagValue(const std::string& arg);

// Reads the arguments (without the program name) into *options, left to
// right. Returns false when the usage text must be shown instead: an unknown
// option letter, a bad "-c" letter, or a '?' anywhere in any argument.
bool parseArguments(const std::vector<std::string>& args, RunOptions* options);

}  // namespace tangler
