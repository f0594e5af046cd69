// The run's own files on POSIX hosts: plain descriptors for a file, the C
// library's stream for standard output, SIGPIPE ignored so that a closed
// pipe shows as EPIPE.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/run_files.h"
#include "platform/system_text_posix.h"

namespace {

WriteOutcome failure(int error, std::string* reason) {
  if (error == EPIPE) return WriteOutcome::ReaderGone;
  *reason = systemReason(error);
  return WriteOutcome::Failed;
}

}  // namespace

ReportDestination::~ReportDestination() {
  if (file >= 0) ::close(int(file));
}

void ignoreBrokenPipes() {
  signal(SIGPIPE, SIG_IGN);
}

bool openReportFile(const std::string& hostPath, ReportDestination* output, std::string* error) {
  if (holdsNul(hostPath)) {
    *error = systemReason(EINVAL);
    return false;
  }
  int fd;
  do {
    fd = ::open(hostPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);  // a FIFO's open waits, and a signal may cut it short
  if (fd < 0) {
    *error = systemReason(errno);
    return false;
  }
  output->file = fd;
  return true;
}

bool reportFileIdentity(const ReportDestination& output, FileIdentity* identity, bool* otherNames) {
  struct stat st;
  if (output.file < 0 || fstat(int(output.file), &st) != 0) return false;
  identity->device = static_cast<unsigned long long>(st.st_dev);
  identity->inode = static_cast<unsigned long long>(st.st_ino);
  *otherNames = st.st_nlink > 1;
  return true;
}

WriteOutcome writeReport(ReportDestination& output, std::string_view bytes, std::string* error) {
  if (output.file < 0) {
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size())
      return WriteOutcome::Written;
    return failure(errno, error);
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(int(output.file), bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    // A write that takes nothing would repeat for ever.
    if (wrote <= 0) return failure(wrote < 0 ? errno : EIO, error);
    done += static_cast<size_t>(wrote);
  }
  return WriteOutcome::Written;
}

WriteOutcome closeReport(ReportDestination& output, std::string* error) {
  if (output.file < 0) {
    return std::fflush(stdout) == 0 ? WriteOutcome::Written : failure(errno, error);
  }
  const int fd = int(output.file);
  output.file = -1;
  // After EINTR the descriptor is gone all the same on Linux; nothing to retry.
  if (::close(fd) != 0 && errno != EINTR) return failure(errno, error);
  return WriteOutcome::Written;
}

bool destinationPath(FileSystem& fileSystem, const std::string& hostPath, std::string* canonical) {
  std::string path = hostPath;
  // A link that leads nowhere yet: the file would be created where it leads.
  // Bounded, as the system bounds a chain of links.
  for (int links = 0; links < 40; ++links) {
    if (fileSystem.canonicalPath(path, canonical)) return true;
    struct stat st;
    if (holdsNul(path) || lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::string target(size_t(st.st_size > 0 ? st.st_size : 256) + 1, '\0');
    const ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length <= 0 || size_t(length) >= target.size()) return false;
    target.resize(size_t(length));
    if (target[0] != '/') {
      const size_t slash = path.rfind('/');
      if (slash != std::string::npos) target = path.substr(0, slash + 1) + target;
    }
    path = target;
  }
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string dir = slash == std::string::npos ? std::string(".")
                          : slash == 0               ? "/"
                                                     : path.substr(0, slash);
  return canonicalEntryPath(fileSystem, dir, name, canonical);
}

bool readNamedFile(const std::string& hostPath, size_t maxBytes, std::string* bytes,
                   std::string* error) {
  bytes->clear();
  if (holdsNul(hostPath)) {
    *error = systemReason(EINVAL);
    return false;
  }
  int fd;
  do {
    fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    *error = systemReason(errno);
    return false;
  }
  ReportDestination closer;  // closes fd on every way out
  closer.file = fd;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *error = systemReason(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *error = systemReason(EISDIR);
    return false;
  }
  char buffer[16 * 1024];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 || bytes->size() + size_t(got) > maxBytes) {
      *error = systemReason(got < 0 ? errno : EFBIG);
      bytes->clear();
      return false;
    }
    bytes->append(buffer, size_t(got));
  }
}

std::string slashSeparated(std::string path) {
  return path;
}
