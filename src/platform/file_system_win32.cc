// The file system on Windows. tangler's face goes straight to the ANSI calls:
// the system already ignores letter case, takes both separators, folds "."
// and ".." away and matches wildcards by its own rules, and keeps its own
// cache, so nothing of that is done again here and caching is left off. The
// exact-spelling face uses the wide (UTF-16) calls, so that any name the file
// system holds can be reached; its paths and names cross this seam as UTF-8.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "platform/directory_handles.h"
#include "platform/file_system.h"
#include "platform/system_text_win32.h"

namespace {

const char kUnusableName[] = "Invalid name";

// Closes a handle on every way out.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

class FindHandle {
 public:
  explicit FindHandle(HANDLE handle) : handle_(handle) {}
  ~FindHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) FindClose(handle_);
  }
  FindHandle(const FindHandle&) = delete;
  FindHandle& operator=(const FindHandle&) = delete;
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// Opens path, following links, for asking about it rather than reading it;
// directories open too.
HANDLE openForQuery(const std::wstring& path) {
  return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

EntryKind kindOfHandle(HANDLE handle, BY_HANDLE_FILE_INFORMATION* info) {
  if (!GetFileInformationByHandle(handle, info)) return EntryKind::Missing;
  if (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::Directory;
  return GetFileType(handle) == FILE_TYPE_DISK ? EntryKind::File : EntryKind::Other;
}

// A path the system cannot even be asked about: the C string handed over
// would end at the first NUL and name some other file.
bool isUnusable(const std::string& path) {
  return path.empty() || path.find('\0') != std::string::npos;
}

constexpr DWORD kSkippedAttributes =
    FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Hands the handle over to a C run-time descriptor (numbered for
// host_file.h's calls), or closes it if none can be had.
int toDescriptor(HANDLE handle, int flags) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
  if (fd < 0) CloseHandle(handle);
  return fd;
}

}  // namespace

void FileSystem::setCaching(bool on) {
  caching_ = on;
}

std::vector<std::string> FileSystem::findFiles(const std::string& pattern) {
  std::vector<std::string> found;
  if (isUnusable(pattern)) return found;
  WIN32_FIND_DATAA entry;
  FindHandle search(FindFirstFileA(pattern.c_str(), &entry));
  if (search.get() == INVALID_HANDLE_VALUE) return found;
  do {
    if ((entry.dwFileAttributes & kSkippedAttributes) == 0) found.emplace_back(entry.cFileName);
  } while (FindNextFileA(search.get(), &entry));
  // In the order the system lists them: that is the order users see in their
  // own directory listings.
  return found;
}

bool FileSystem::findFirstFile(const std::string& pattern, std::string* storedName) {
  std::vector<std::string> names = findFiles(pattern);
  if (names.empty()) return false;
  *storedName = std::move(names.front());
  return true;
}

void FileSystem::prefetchExists(std::string_view, int) const {}

bool FileSystem::pathExists(const std::string& path) {
  if (isUnusable(path)) return false;
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FileSystem::resolvePath(const std::string& path, std::string* hostPath) {
  hostPath->clear();
  if (isUnusable(path)) return false;
  *hostPath = path;
  return true;
}

int FileSystem::openForReading(const std::string& path) {
  if (isUnusable(path)) return -1;
  // Others may go on writing or deleting: the orphan search reads the report
  // file while it is still open for writing.
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return -1;
  // A directory does not open at all; a device ("con", "nul") or a named
  // pipe does, and is no page.
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    return -1;
  }
  return toDescriptor(handle, _O_RDONLY);
}

int FileSystem::createForWriting(const std::string& path) {
  if (isUnusable(path)) return -1;
  // CREATE_ALWAYS keeps the stored name of a file that differs only in case.
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return -1;
  return toDescriptor(handle, _O_WRONLY);
}

bool FileSystem::deleteFile(const std::string& path) {
  if (isUnusable(path)) return false;
  return DeleteFileA(path.c_str()) != 0;
}

std::string FileSystem::currentDirectory() {
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

bool FileSystem::listEntries(const std::string& hostDir, std::vector<DirectoryEntry>* entries,
                             std::string* error) {
  entries->clear();
  if (hostDir.empty()) {
    *error = systemReason(ERROR_PATH_NOT_FOUND);
    return false;
  }
  std::wstring dir;
  // Where a linked entry's own path begins.
  std::string prefix = hostDir;
  if (!prefix.empty() && prefix.back() != '/' && prefix.back() != '\\') prefix.push_back('/');
  if (!toWide(prefix, &dir)) {
    *error = kUnusableName;
    return false;
  }
  WIN32_FIND_DATAW found;
  FindHandle search(FindFirstFileExW((dir + L"*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0));
  if (search.get() == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    // Only a drive's root lacks "." and "..", and so can be empty.
    if (code == ERROR_FILE_NOT_FOUND) return true;
    *error = systemReason(code);
    return false;
  }
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    DirectoryEntry entry{toUtf8(name.data(), name.size()), EntryKind::File, false};
    // A junction leads elsewhere as a directory link does, and is as often
    // made to: callers that keep to a tree must see both.
    entry.symlink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                    (found.dwReserved0 == IO_REPARSE_TAG_SYMLINK ||
                     found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
    if (entry.symlink) {
      entry.kind = statPath(prefix + entry.name);
    } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      entry.kind = EntryKind::Directory;
    }
    entries->push_back(std::move(entry));
  } while (FindNextFileW(search.get(), &found));
  const DWORD code = GetLastError();
  if (code != ERROR_NO_MORE_FILES) {
    entries->clear();
    *error = systemReason(code);
    return false;
  }
  return true;
}

EntryKind FileSystem::statPath(const std::string& hostPath, FileIdentity* identity) {
  std::wstring path;
  if (hostPath.empty() || !toWide(hostPath, &path)) return EntryKind::Missing;
  Handle file(openForQuery(path));
  if (!file.valid()) return EntryKind::Missing;
  BY_HANDLE_FILE_INFORMATION info;
  const EntryKind kind = kindOfHandle(file.get(), &info);
  if (kind != EntryKind::Missing && identity != nullptr) {
    identity->device = info.dwVolumeSerialNumber;
    identity->inode =
        (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  }
  return kind;
}

bool FileSystem::canonicalPath(const std::string& hostPath, std::string* canonical) {
  std::wstring path;
  if (hostPath.empty() || !toWide(hostPath, &path)) return false;
  Handle file(openForQuery(path));
  if (!file.valid()) return false;
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD length = GetFinalPathNameByHandleW(file.get(), buffer.data(), DWORD(buffer.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return false;
    if (length < buffer.size()) {
      buffer.resize(length);
      // "\\?\C:\dir" for a drive path, "\\?\UNC\server\share" for a share.
      if (buffer.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        buffer.replace(0, 8, L"\\\\");
      } else if (buffer.compare(0, 4, L"\\\\?\\") == 0) {
        buffer.erase(0, 4);
      }
      for (wchar_t& c : buffer) {
        if (c == L'\\') c = L'/';
      }
      *canonical = toUtf8(buffer.data(), buffer.size());
      return !canonical->empty();
    }
    buffer.resize(length);
  }
  return false;
}

bool FileSystem::readWholeFile(const std::string& hostPath, std::string* bytes,
                               std::string* error) {
  bytes->clear();
  std::wstring path;
  if (hostPath.empty() || !toWide(hostPath, &path)) {
    *error = kUnusableName;
    return false;
  }
  const HeldHandle file(reinterpret_cast<std::intptr_t>(CreateFileW(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)));
  if (!file.valid()) {
    *error = systemReason(GetLastError());
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (kindOfHandle(reinterpret_cast<HANDLE>(file.native()), &info) != EntryKind::File) {
    *error = "Not a regular file";
    return false;
  }
  return readHeldFile(file, bytes, error);
}
