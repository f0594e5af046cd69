// Held directories on POSIX hosts: descriptors, and the *at() calls relative
// to them with O_NOFOLLOW; on Linux, openat2() where the kernel has it.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/syscall.h>
#if __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#endif
#endif

#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "platform/directory_handles.h"
#include "platform/system_text_posix.h"

namespace {

int fdOf(const HeldHandle& handle) {
  return static_cast<int>(handle.native());
}

FileIdentity identityOf(const struct stat& st) {
  return {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino)};
}

HeldKind kindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return HeldKind::File;
  if (S_ISDIR(mode)) return HeldKind::Directory;
  if (S_ISLNK(mode)) return HeldKind::Link;
  return HeldKind::Other;
}

// One component, as every *at() call here takes it: anything else would let
// a name reach somewhere other than an entry of the directory.
bool isOneComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

OpenOutcome failure(int code, std::string* error) {
  *error = systemReason(code);
  switch (code) {
    case ENOENT:
      return OpenOutcome::Missing;
    case ELOOP:
    case EMLINK:  // what some BSDs answer O_NOFOLLOW with
      return OpenOutcome::Link;
    case ENOTDIR:
    case EISDIR:
      return OpenOutcome::WrongKind;
    default:
      return OpenOutcome::Failed;
  }
}

// After an open of name with O_NOFOLLOW failed with code: whether a link
// stands there (systems disagree on the code they give for it).
OpenOutcome classifyFailure(int dir, const std::string& name, int code, std::string* error) {
  struct stat st;
  if ((code == ELOOP || code == EMLINK || code == ENOTDIR) &&
      fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    *error = systemReason(code);
    return S_ISLNK(st.st_mode) ? OpenOutcome::Link : OpenOutcome::WrongKind;
  }
  return failure(code, error);
}

// Takes over a freshly opened descriptor: checks that it holds what was
// asked for and tells its identity.
OpenOutcome adopt(int fd, bool directory, HeldHandle* out, FileIdentity* identity,
                  std::string* error) {
  HeldHandle held(fd);
  struct stat st;
  if (fstat(fd, &st) != 0) return failure(errno, error);
  const bool fits = directory ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode);
  if (!fits) {
    *error = systemReason(directory ? ENOTDIR : EINVAL);
    return OpenOutcome::WrongKind;
  }
  *identity = identityOf(st);
  *out = std::move(held);
  return OpenOutcome::Opened;
}

}  // namespace

HeldHandle::~HeldHandle() {
  if (native_ != -1) ::close(static_cast<int>(native_));
}

HeldHandle& HeldHandle::operator=(HeldHandle&& other) noexcept {
  if (this != &other) {
    if (native_ != -1) ::close(static_cast<int>(native_));
    native_ = other.native_;
    other.native_ = -1;
  }
  return *this;
}

OpenOutcome openHeldDirectory(const std::string& hostPath, HeldHandle* dir, FileIdentity* identity,
                              std::string* error) {
  if (hostPath.empty() || hostPath.find('\0') != std::string::npos) {
    return failure(ENOENT, error);
  }
  const int fd = ::open(hostPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return failure(errno, error);
  return adopt(fd, true, dir, identity, error);
}

bool listHeldDirectory(const HeldHandle& dir, std::vector<HeldEntry>* entries, std::string* error) {
  entries->clear();
  // A descriptor of its own: readdir() moves the one it reads through, and
  // closedir() closes it.
  const int fd = openat(fdOf(dir), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *error = systemReason(errno);
    return false;
  }
  DIR* listing = fdopendir(fd);
  if (listing == nullptr) {
    *error = systemReason(errno);
    ::close(fd);
    return false;
  }
  // A regular file's identity is read from the listing itself (its inode
  // number, on the directory's device) once the first one there is seen to
  // agree with what the file tells of itself: a look-up per file is most of
  // a big walk's time. A file system whose listing disagrees (some overlay
  // and FUSE ones) has every entry looked up.
  struct stat dirStat;
  const bool dirKnown = fstat(fd, &dirStat) == 0;
  bool listingAgrees = false;
  bool listingTried = false;
  int code = 0;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(listing);
    if (entry == nullptr) {
      code = errno;
      break;
    }
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
#if defined(_DIRENT_HAVE_D_TYPE)
    const FileIdentity listed{static_cast<unsigned long long>(dirStat.st_dev),
                              static_cast<unsigned long long>(entry->d_ino)};
    if (entry->d_type == DT_REG && listingAgrees) {
      entries->push_back({name, HeldKind::File, listed});
      continue;
    }
    if (entry->d_type == DT_FIFO || entry->d_type == DT_SOCK || entry->d_type == DT_CHR ||
        entry->d_type == DT_BLK) {
      entries->push_back({name, HeldKind::Other, FileIdentity()});
      continue;
    }
#endif
    struct stat st;
    if (fstatat(fdOf(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;  // gone since it was listed
      entries->push_back({name, HeldKind::Other, FileIdentity()});
      continue;
    }
    entries->push_back({name, kindOfMode(st.st_mode), identityOf(st)});
#if defined(_DIRENT_HAVE_D_TYPE)
    if (entry->d_type == DT_REG && S_ISREG(st.st_mode) && !listingTried) {
      listingTried = true;
      listingAgrees = dirKnown && identityOf(st) == listed;
    }
#endif
  }
  closedir(listing);
  if (code != 0) {
    *error = systemReason(code);
    entries->clear();
    return false;
  }
  return true;
}

OpenOutcome inspectEntry(const HeldHandle& dir, const std::string& name, HeldKind* kind,
                         FileIdentity* identity, std::string* error) {
  if (!isOneComponent(name)) return failure(ENOENT, error);
  struct stat st;
  if (fstatat(fdOf(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return failure(errno, error);
  }
  *kind = kindOfMode(st.st_mode);
  *identity = identityOf(st);
  return OpenOutcome::Opened;
}

OpenOutcome openChildDirectory(const HeldHandle& dir, const std::string& name, HeldHandle* child,
                               FileIdentity* identity, std::string* error) {
  if (!isOneComponent(name)) return failure(ENOENT, error);
  const int fd =
      openat(fdOf(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return classifyFailure(fdOf(dir), name, errno, error);
  return adopt(fd, true, child, identity, error);
}

OpenOutcome openChildFile(const HeldHandle& dir, const std::string& name, HeldHandle* file,
                          FileIdentity* identity, std::string* error) {
  if (!isOneComponent(name)) return failure(ENOENT, error);
  // Non-blocking, so that a FIFO put in the file's place cannot hold the run
  // up in open(); on a regular file the flag changes nothing.
  const int fd =
      openat(fdOf(dir), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return classifyFailure(fdOf(dir), name, errno, error);
  return adopt(fd, false, file, identity, error);
}

OpenOutcome openFileBeneath(const HeldHandle& dir, const std::string& relativePath,
                            HeldHandle* file, FileIdentity* identity, std::string* error) {
#if defined(__linux__) && defined(SYS_openat2) && defined(RESOLVE_BENEATH)
  if (relativePath.empty() || relativePath.find('\0') != std::string::npos) {
    return failure(ENOENT, error);
  }
  struct open_how how;
  std::memset(&how, 0, sizeof how);
  how.flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const long fd = syscall(SYS_openat2, fdOf(dir), relativePath.c_str(), &how, sizeof how);
  if (fd >= 0) return adopt(static_cast<int>(fd), false, file, identity, error);
  const int code = errno;
  switch (code) {
    // No openat2 in this kernel, or a sandbox that forbids it; a path too
    // long for one call; a rename elsewhere that the kernel could not rule
    // out (it asks for a retry): one name at a time settles each.
    case ENOSYS:
    case EPERM:
    case E2BIG:
    case EINVAL:
    case ENAMETOOLONG:
    case EAGAIN:
      *error = systemReason(code);
      return OpenOutcome::Unsupported;
    case EXDEV:
      *error = systemReason(code);
      return OpenOutcome::Escapes;
    default:
      return failure(code, error);
  }
#else
  (void)dir;
  (void)relativePath;
  (void)file;
  (void)identity;
  *error = systemReason(ENOSYS);
  return OpenOutcome::Unsupported;
#endif
}

bool readLinkTarget(const HeldHandle& dir, const std::string& name, std::string* target) {
  if (!isOneComponent(name)) return false;
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t got = readlinkat(fdOf(dir), name.c_str(), buffer.data(), buffer.size());
    if (got < 0) return false;
    if (static_cast<size_t>(got) < buffer.size()) {
      buffer.resize(static_cast<size_t>(got));
      *target = std::move(buffer);
      return true;
    }
    if (buffer.size() >= (size_t(1) << 20)) return false;
    buffer.resize(buffer.size() * 4);
  }
}

size_t absoluteTargetRoot(const std::string& target) {
  return !target.empty() && target[0] == '/' ? 1 : 0;
}

bool readHeldFile(const HeldHandle& file, std::string* bytes, std::string* error) {
  bytes->clear();
  const int fd = fdOf(file);
  try {
    char buffer[64 * 1024];
    for (;;) {
      const ssize_t got = ::read(fd, buffer, sizeof buffer);
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

bool readHeldPiece(const HeldHandle& file, char* data, size_t size, size_t* got,
                   std::string* error) {
  *got = 0;
  for (;;) {
    const ssize_t read = ::read(fdOf(file), data, size);
    if (read >= 0) {
      *got = static_cast<size_t>(read);
      return true;
    }
    if (errno == EINTR) continue;
    *error = systemReason(errno);
    return false;
  }
}
