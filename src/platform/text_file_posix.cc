// Text files on POSIX hosts: plain descriptors. Lines end with a bare line
// feed here, so writeText() writes the bytes as they are.
#include <errno.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_system.h"
#include "platform/host_file.h"

namespace host_file {

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

bool identity(int fd, FileIdentity* id) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  id->device = static_cast<unsigned long long>(st.st_dev);
  id->inode = static_cast<unsigned long long>(st.st_ino);
  return true;
}

bool close(int fd) {
  return ::close(fd) == 0 || errno == EINTR;
}

}  // namespace host_file
