#include "platform/system_text_posix.h"

#include <cstring>

namespace {

// strerror() may share one buffer between threads; strerror_r() does not,
// but comes in two shapes (GNU returns the text, XSI fills the buffer).
[[maybe_unused]] const char* reasonText(int, const char* buffer) {
  return buffer;
}
[[maybe_unused]] const char* reasonText(const char* text, const char*) {
  return text;
}

}  // namespace

std::string systemReason(int error) {
  char buffer[256] = {};
  return reasonText(strerror_r(error, buffer, sizeof buffer), buffer);
}
