// The directory services on Windows, straight over the Win32 API. The file
// system already ignores letter case, takes both separators and folds "." and
// ".." away, and FindFirstFileA matches the wildcards by Windows' own rules,
// so nothing of that is done again here. A run-wide cache would save nothing
// either: the system keeps its own, so the cache arguments go unused.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/directory.h"

namespace {

// A path the system cannot even be asked about: the C string handed over
// would end at the first NUL and name some other file.
bool isUnusable(const std::string& path) {
  return path.empty() || path.find('\0') != std::string::npos;
}

// Closes a directory search on every way out.
class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  ~FindHandle() {
    if (valid()) FindClose(handle_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

constexpr DWORD kSkippedAttributes =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

}  // namespace

std::vector<std::string> findFiles(const std::string& pattern, DirectoryCache*) {
  std::vector<std::string> found;
  if (isUnusable(pattern)) return found;
  WIN32_FIND_DATAA entry;
  FindHandle search(FindFirstFileA(pattern.c_str(), &entry));
  if (!search.valid()) return found;
  do {
    if ((entry.dwFileAttributes & kSkippedAttributes) == 0) found.emplace_back(entry.cFileName);
  } while (FindNextFileA(search.get(), &entry));
  // In the order the system lists them: that is the order users see in their
  // own directory listings.
  return found;
}

bool pathExists(const std::string& path, DirectoryCache*) {
  if (isUnusable(path)) return false;
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool deleteFile(const std::string& path) {
  if (isUnusable(path)) return false;
  return DeleteFileA(path.c_str()) != 0;
}

std::string currentDirectory() {
  std::string buffer(MAX_PATH, '\0');
  // The directory may change between the two calls (another thread), so ask
  // again until the buffer is big enough.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const DWORD length = GetCurrentDirectoryA(DWORD(buffer.size()), buffer.data());
    if (length == 0) return std::string();
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(size_t(length) + 1);
  }
  return std::string();
}

bool resolvePath(const std::string& path, std::string* hostPath, DirectoryCache*) {
  hostPath->clear();
  if (isUnusable(path)) return false;
  *hostPath = path;
  return true;
}
