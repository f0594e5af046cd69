// The letter-case checks that "-c" asks for. A site written where names
// ignore case may be served where they do not: "-cl" and "-cu" hold the
// references to one case, and "-cd" (also part of "-r") finds the ones that
// work only because case is ignored.
#pragma once

#include <string>

#include "app/run_options.h"
#include "platform/file_system.h"
#include "report/run_state.h"

namespace tangler {

// Runs the checks of options.caseMode on one whole reference value (scheme,
// directory and anchor included), complaining at the run state's current
// page and line. The stored name is looked up through fs.
void checkCase(const RunOptions& options, RunState& state, FileSystem& fs,
               const std::string& reference);

}  // namespace tangler
