// The arguments a program was started with, as text inside the program
// holds it: bytes as given on POSIX hosts, UTF-8 on Windows.
#pragma once

#include <string>
#include <vector>

// The arguments after the program's own name. argc and argv are main()'s; a
// Windows build reads the system's UTF-16 command line instead, which holds
// names that the ANSI code page of argv cannot, and uses argv only when that
// cannot be had.
std::vector<std::string> programArguments(int argc, char** argv);
