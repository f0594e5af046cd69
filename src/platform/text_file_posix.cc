// Text files on POSIX hosts: plain descriptors. Lines end with a bare line
// feed here, so writeText() writes the bytes as they are.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace

int openForReading(const std::string& path, DirectoryCache* cache) {
  std::string host;
  if (!resolvePath(path, &host, cache)) return -1;
  const int fd = openNonBlocking(host, O_RDONLY);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !clearNonBlocking(fd)) {
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
