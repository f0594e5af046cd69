// The exact-spelling face of the file system on POSIX hosts: plain system
// calls on the path as given.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace {

// strerror() may share one buffer between threads; strerror_r() does not,
// but comes in two shapes (GNU returns the text, XSI fills the buffer).
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

// The C calls would stop at the first NUL and look up some other name.
bool holdsNul(const std::string& path) {
  return path.find('\0') != std::string::npos;
}

EntryKind kindOf(mode_t mode) {
  if (S_ISREG(mode)) return EntryKind::File;
  if (S_ISDIR(mode)) return EntryKind::Directory;
  return EntryKind::Other;
}

// Closes a descriptor on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

bool FileSystem::listEntries(const std::string& hostDir, std::vector<DirectoryEntry>* entries,
                             std::string* error) {
  entries->clear();
  if (holdsNul(hostDir)) {
    *error = systemReason(EINVAL);
    return false;
  }
  DIR* handle = opendir(hostDir.c_str());
  if (handle == nullptr) {
    *error = systemReason(errno);
    return false;
  }
  const int dirFd = dirfd(handle);
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(handle);
    if (entry == nullptr) break;
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    DirectoryEntry out{name, EntryKind::Other, false};
    // The listing's own type settles plain entries without a system call; a
    // link, or a file system that does not say, is asked about.
    struct stat st;
    switch (entry->d_type) {
      case DT_REG:
        out.kind = EntryKind::File;
        break;
      case DT_DIR:
        out.kind = EntryKind::Directory;
        break;
      case DT_LNK:
      case DT_UNKNOWN:
        if (entry->d_type == DT_UNKNOWN) {
          out.symlink = fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
        } else {
          out.symlink = true;
        }
        out.kind = fstatat(dirFd, name, &st, 0) == 0 ? kindOf(st.st_mode) : EntryKind::Missing;
        break;
      default:
        break;
    }
    entries->push_back(std::move(out));
  }
  const int readError = errno;
  closedir(handle);
  if (readError != 0) {
    entries->clear();
    *error = systemReason(readError);
    return false;
  }
  return true;
}

EntryKind FileSystem::statPath(const std::string& hostPath, FileIdentity* identity) {
  struct stat st;
  if (holdsNul(hostPath) || stat(hostPath.c_str(), &st) != 0) return EntryKind::Missing;
  if (identity != nullptr) {
    identity->device = static_cast<unsigned long long>(st.st_dev);
    identity->inode = static_cast<unsigned long long>(st.st_ino);
  }
  return kindOf(st.st_mode);
}

bool FileSystem::canonicalPath(const std::string& hostPath, std::string* canonical) {
  if (holdsNul(hostPath)) return false;
  char* resolved = realpath(hostPath.c_str(), nullptr);
  if (resolved == nullptr) return false;
  canonical->assign(resolved);
  free(resolved);
  return true;
}

bool FileSystem::readWholeFile(const std::string& hostPath, std::string* bytes,
                               std::string* error) {
  bytes->clear();
  if (holdsNul(hostPath)) {
    *error = systemReason(EINVAL);
    return false;
  }
  // Non-blocking, so that a FIFO cannot hold the caller up in open().
  Descriptor file(::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) {
    *error = systemReason(errno);
    return false;
  }
  struct stat st;
  if (fstat(file.get(), &st) != 0) {
    *error = systemReason(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = "Not a regular file";
    return false;
  }
  try {
    if (st.st_size > 0) bytes->reserve(static_cast<size_t>(st.st_size));
    char buffer[64 * 1024];
    for (;;) {
      const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
      if (got == 0) return true;
      if (got < 0) {
        if (errno == EINTR) continue;
        *error = systemReason(errno);
        bytes->clear();
        return false;
      }
      bytes->append(buffer, static_cast<size_t>(got));
    }
  } catch (const std::exception&) {  // bad_alloc, or length_error past max_size()
    *error = systemReason(ENOMEM);
    bytes->clear();
    return false;
  }
}

bool FileSystem::writeWholeFile(const std::string& hostPath, const std::string& bytes,
                                std::string* error) {
  if (holdsNul(hostPath)) {
    *error = systemReason(EINVAL);
    return false;
  }
  const int fd = ::open(hostPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = systemReason(errno);
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      // A write that takes nothing would repeat for ever.
      *error = systemReason(wrote < 0 ? errno : EIO);
      ::close(fd);
      return false;
    }
    done += static_cast<size_t>(wrote);
  }
  // Some file systems (NFS) report a failed write only when it is closed.
  if (::close(fd) != 0 && errno != EINTR) {
    *error = systemReason(errno);
    return false;
  }
  return true;
}
