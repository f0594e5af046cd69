// The run driver: the phases of one check in their fixed order.
#pragma once

#include <string>
#include <vector>

// Runs tangler with the given arguments (without the program name) in the
// current directory and returns the exit status: 0 when nothing counted was
// written, 1 when something was, 3 when a file could not be opened or
// written, 17 after the usage text.
int runTangler(const std::vector<std::string>& args);
