// Text the POSIX platform files share: the system's words for an error
// number, and the test for a name the C calls would cut short. Included by
// the *_posix.cc files of this folder only.
#pragma once

#include <string>

// strerror_r's text for error, safe from any thread.
std::string systemReason(int error);

// True when path holds a NUL byte: the C calls would stop there and look up
// some other name.
inline bool holdsNul(const std::string& path) {
  return path.find('\0') != std::string::npos;
}
