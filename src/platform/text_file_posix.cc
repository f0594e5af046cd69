// Text files on POSIX hosts: plain descriptors. Lines end with a bare line
// feed here, so writeText() writes the bytes as they are.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "platform/directory.h"
#include "platform/host_file.h"

namespace host_file {
namespace {

// Opens with O_NONBLOCK so that a FIFO (or a device) cannot hold the run up
// in open(); the caller checks what it got and then switches blocking back on.
int openNonBlocking(const std::string& hostPath, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(hostPath.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool clearNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

// True when the host would read path as Windows does, so that where its exact
// spelling exists it is the file the case-blind look-up would find: no '\',
// no drive letter, no "." or ".." to fold away.
bool readsAsWritten(const std::string& path) {
  if (path.empty() || path.find('\\') != std::string::npos ||
      path.find('\0') != std::string::npos) {
    return false;
  }
  if (path.size() >= 2 && path[1] == ':') return false;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string_view part(path.data() + start, end - start);
    if (part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

int openForReading(const std::string& path, DirectoryCache* cache) {
  // Pages are mostly opened by the name they are stored under: try that first
  // and look the name up ignoring case only when it is not there.
  int fd = -1;
  if (readsAsWritten(path)) {
    fd = openNonBlocking(path, O_RDONLY);
    if (fd < 0 && errno != ENOENT && errno != ENOTDIR) return -1;
  }
  if (fd < 0) {
    std::string host;
    if (!resolvePath(path, &host, cache)) return -1;
    fd = openNonBlocking(host, O_RDONLY);
  }
  if (fd < 0) return -1;
  // Only regular files are read, and on those O_NONBLOCK changes nothing, so
  // it stays set: one system call fewer for every page opened.
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int createForWriting(const std::string& path) {
  std::string host;
  if (!resolvePath(path, &host)) return -1;
  // Without O_NONBLOCK, opening a FIFO that nobody reads would wait forever;
  // with it the open fails at once (ENXIO).
  const int fd = openNonBlocking(host, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) return -1;
  if (!clearNonBlocking(fd)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int standardOutput() {
  return STDOUT_FILENO;
}

int standardError() {
  return STDERR_FILENO;
}

std::ptrdiff_t readSome(int fd, unsigned char* data, size_t size) {
  ssize_t n;
  do {
    n = ::read(fd, data, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

bool writeText(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n > 0) {
      data += n;
      size -= size_t(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A standard stream inherited in non-blocking mode: wait until it drains.
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, -1) < 0 && errno != EINTR) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool rewind(int fd) {
  return lseek(fd, 0, SEEK_SET) == 0;
}

bool close(int fd) {
  return ::close(fd) == 0 || errno == EINTR;
}

}  // namespace host_file
