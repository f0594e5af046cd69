// Replacing a file whole with POSIX calls: write, fsync, rename.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "platform/file_replace.h"

namespace {

// strerror_r() comes in two shapes (GNU returns the text, XSI fills the
// buffer).
[[maybe_unused]] const char* reasonText(int, const char* buffer) {
  return buffer;
}
[[maybe_unused]] const char* reasonText(const char* text, const char*) {
  return text;
}

std::string systemReason(int error) {
  char buffer[256] = {};
  return reasonText(strerror_r(error, buffer, sizeof buffer), buffer);
}

}  // namespace

bool replaceFileContents(const std::string& hostPath, const std::string& bytes,
                         std::string* error) {
  if (hostPath.empty() || hostPath.find('\0') != std::string::npos) {
    *error = systemReason(EINVAL);
    return false;
  }
  // Unique among the runs and threads that might write it at once.
  static std::atomic<unsigned> counter{0};
  const std::string temporary =
      hostPath + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = systemReason(errno);
    return false;
  }
  size_t done = 0;
  int failure = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      failure = wrote < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(wrote);
  }
  // The bytes reach the disk before the name does, so that a crash leaves
  // the old file or the new one, never an empty one.
  if (failure == 0 && ::fsync(fd) != 0) failure = errno;
  if (::close(fd) != 0 && failure == 0 && errno != EINTR) failure = errno;
  if (failure == 0 && ::rename(temporary.c_str(), hostPath.c_str()) != 0) failure = errno;
  if (failure != 0) {
    ::unlink(temporary.c_str());
    *error = systemReason(failure);
    return false;
  }
  return true;
}
