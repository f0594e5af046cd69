// The run driver: the phases of one check in their fixed order.
#pragma once

#include <string>
#include <vector>

namespace tangler {

// One whole run in the current directory; args leave out the program name.
// Returns the exit status for main() to hand back: 0 clean, 1 when anything
// counted was written, 3 after a fatal file failure (its message already
// out), 17 after the usage text.
int runTangler(const std::vector<std::string>& args);

}  // namespace tangler
