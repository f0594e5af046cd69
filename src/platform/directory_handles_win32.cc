// Held directories on Windows: handles, and NtCreateFile relative to a
// directory handle (its RootDirectory), which is what openat() is elsewhere;
// FILE_OPEN_REPARSE_POINT keeps a symbolic link or junction from being
// followed. Listing goes through the directory handle too. An identity is
// the volume serial number and the 64-bit file index.
#include <windows.h>
#include <winioctl.h>
#include <winternl.h>

#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "platform/directory_handles.h"
#include "platform/system_text_win32.h"

namespace {

constexpr NTSTATUS kObjectNameNotFound = NTSTATUS(0xC0000034L);
constexpr NTSTATUS kObjectPathNotFound = NTSTATUS(0xC000003AL);
constexpr NTSTATUS kNoSuchFile = NTSTATUS(0xC000000FL);
constexpr NTSTATUS kNotADirectory = NTSTATUS(0xC0000103L);
constexpr NTSTATUS kFileIsADirectory = NTSTATUS(0xC00000BAL);

HANDLE handleOf(const HeldHandle& held) {
  return reinterpret_cast<HANDLE>(held.native());
}

bool isLinkTag(DWORD tag) {
  return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT;
}

HeldKind kindOfAttributes(DWORD attributes, DWORD reparseTag) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && isLinkTag(reparseTag)) {
    return HeldKind::Link;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? HeldKind::Directory : HeldKind::File;
}

bool identityOfHandle(HANDLE handle, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return false;
  identity->device = info.dwVolumeSerialNumber;
  identity->inode =
      (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

// One component, as every relative open here takes it: a separator would
// reach further, and ':' would name a stream of the file.
bool isOneComponent(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\\:\0", 4)) == std::string::npos;
}

OpenOutcome fromStatus(NTSTATUS status, std::string* error) {
  *error = systemReason(RtlNtStatusToDosError(status));
  switch (status) {
    case kObjectNameNotFound:
    case kObjectPathNotFound:
    case kNoSuchFile:
      return OpenOutcome::Missing;
    case kNotADirectory:
    case kFileIsADirectory:
      return OpenOutcome::WrongKind;
    default:
      return OpenOutcome::Failed;
  }
}

// Opens entry name of dir without following a link there, into *out.
OpenOutcome openRelative(const HeldHandle& dir, const std::string& name, ACCESS_MASK access,
                         ULONG options, HeldHandle* out, std::string* error) {
  std::wstring wide;
  if (!isOneComponent(name) || !toWide(name, &wide) || wide.size() > 32767) {
    *error = systemReason(ERROR_INVALID_NAME);
    return OpenOutcome::Missing;
  }
  UNICODE_STRING unicodeName;
  unicodeName.Buffer = wide.data();
  unicodeName.Length = unicodeName.MaximumLength = USHORT(wide.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &unicodeName, OBJ_CASE_INSENSITIVE, handleOf(dir),
                             nullptr);
  IO_STATUS_BLOCK status;
  HANDLE handle = nullptr;
  const NTSTATUS result =
      NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &status, nullptr, 0,
                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                   options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (result < 0) return fromStatus(result, error);
  *out = HeldHandle(reinterpret_cast<std::intptr_t>(handle));
  return OpenOutcome::Opened;
}

// What the open handle holds, links included.
bool kindOfHandle(HANDLE handle, HeldKind* kind) {
  FILE_ATTRIBUTE_TAG_INFO info;
  if (!GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &info, sizeof info)) {
    return false;
  }
  *kind = kindOfAttributes(info.FileAttributes, info.ReparseTag);
  if (*kind == HeldKind::File && GetFileType(handle) != FILE_TYPE_DISK) *kind = HeldKind::Other;
  return true;
}

// Opens name of dir as a directory or a regular file and checks what came.
OpenOutcome openChild(const HeldHandle& dir, const std::string& name, bool directory,
                      HeldHandle* out, FileIdentity* identity, std::string* error) {
  HeldHandle held;
  const ACCESS_MASK access =
      directory ? FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES : GENERIC_READ;
  const ULONG options = directory ? FILE_DIRECTORY_FILE : FILE_NON_DIRECTORY_FILE;
  OpenOutcome outcome = openRelative(dir, name, access, options, &held, error);
  if (outcome != OpenOutcome::Opened) return outcome;
  HeldKind kind;
  if (!kindOfHandle(handleOf(held), &kind) || !identityOfHandle(handleOf(held), identity)) {
    *error = systemReason(GetLastError());
    return OpenOutcome::Failed;
  }
  if (kind == HeldKind::Link) {
    *error = systemReason(ERROR_CANT_ACCESS_FILE);
    return OpenOutcome::Link;
  }
  if (kind != (directory ? HeldKind::Directory : HeldKind::File)) {
    *error = systemReason(directory ? ERROR_DIRECTORY : ERROR_ACCESS_DENIED);
    return OpenOutcome::WrongKind;
  }
  *out = std::move(held);
  return OpenOutcome::Opened;
}

// The layout of the reparse data of a symbolic link or junction: the
// driver kit's REPARSE_DATA_BUFFER, which the SDK headers leave out.
struct ReparseData {
  DWORD tag;
  WORD dataLength;
  WORD reserved;
  WORD substituteOffset;
  WORD substituteLength;
  WORD printOffset;
  WORD printLength;
};
constexpr ULONG kSymlinkIsRelative = 1;

}  // namespace

HeldHandle::~HeldHandle() {
  if (native_ != -1) CloseHandle(reinterpret_cast<HANDLE>(native_));
}

HeldHandle& HeldHandle::operator=(HeldHandle&& other) noexcept {
  if (this != &other) {
    if (native_ != -1) CloseHandle(reinterpret_cast<HANDLE>(native_));
    native_ = other.native_;
    other.native_ = -1;
  }
  return *this;
}

OpenOutcome openHeldDirectory(const std::string& hostPath, HeldHandle* dir, FileIdentity* identity,
                              std::string* error) {
  std::wstring path;
  if (hostPath.empty() || !toWide(hostPath, &path)) {
    *error = systemReason(ERROR_INVALID_NAME);
    return OpenOutcome::Missing;
  }
  const HANDLE handle = CreateFileW(
      path.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    *error = systemReason(code);
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? OpenOutcome::Missing
                                                                        : OpenOutcome::Failed;
  }
  HeldHandle held(reinterpret_cast<std::intptr_t>(handle));
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) {
    *error = systemReason(GetLastError());
    return OpenOutcome::Failed;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    *error = systemReason(ERROR_DIRECTORY);
    return OpenOutcome::WrongKind;
  }
  identity->device = info.dwVolumeSerialNumber;
  identity->inode =
      (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  *dir = std::move(held);
  return OpenOutcome::Opened;
}

bool listHeldDirectory(const HeldHandle& dir, std::vector<HeldEntry>* entries, std::string* error) {
  entries->clear();
  FileIdentity own;
  if (!identityOfHandle(handleOf(dir), &own)) {
    *error = systemReason(GetLastError());
    return false;
  }
  // 64 KiB, aligned as the records in it must be.
  std::vector<LONGLONG> buffer(8192);
  FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
  for (;;) {
    if (!GetFileInformationByHandleEx(handleOf(dir), request, buffer.data(),
                                      DWORD(buffer.size() * sizeof(LONGLONG)))) {
      const DWORD code = GetLastError();
      if (code == ERROR_NO_MORE_FILES) return true;
      entries->clear();
      *error = systemReason(code);
      return false;
    }
    request = FileIdBothDirectoryInfo;
    const char* at = reinterpret_cast<const char*>(buffer.data());
    for (;;) {
      const auto* record = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
      const size_t length = record->FileNameLength / sizeof(wchar_t);
      const std::wstring name(record->FileName, length);
      if (name != L"." && name != L"..") {
        HeldEntry entry;
        entry.name = toUtf8(name.data(), name.size());
        // For a reparse point, the listing puts its tag where the size of
        // the extended attributes would be.
        entry.kind = kindOfAttributes(record->FileAttributes, record->EaSize);
        entry.identity.device = own.device;
        entry.identity.inode = static_cast<unsigned long long>(record->FileId.QuadPart);
        entries->push_back(std::move(entry));
      }
      if (record->NextEntryOffset == 0) break;
      at += record->NextEntryOffset;
    }
  }
}

OpenOutcome inspectEntry(const HeldHandle& dir, const std::string& name, HeldKind* kind,
                         FileIdentity* identity, std::string* error) {
  HeldHandle held;
  const OpenOutcome outcome = openRelative(dir, name, FILE_READ_ATTRIBUTES, 0, &held, error);
  if (outcome != OpenOutcome::Opened) return outcome;
  if (!kindOfHandle(handleOf(held), kind) || !identityOfHandle(handleOf(held), identity)) {
    *error = systemReason(GetLastError());
    return OpenOutcome::Failed;
  }
  return OpenOutcome::Opened;
}

OpenOutcome openChildDirectory(const HeldHandle& dir, const std::string& name, HeldHandle* child,
                               FileIdentity* identity, std::string* error) {
  return openChild(dir, name, true, child, identity, error);
}

OpenOutcome openChildFile(const HeldHandle& dir, const std::string& name, HeldHandle* file,
                          FileIdentity* identity, std::string* error) {
  return openChild(dir, name, false, file, identity, error);
}

OpenOutcome openFileBeneath(const HeldHandle&, const std::string&, HeldHandle*, FileIdentity*,
                            std::string* error) {
  // Windows has no call that refuses every link on a path of several names:
  // they are opened one at a time.
  *error = systemReason(ERROR_NOT_SUPPORTED);
  return OpenOutcome::Unsupported;
}

bool readLinkTarget(const HeldHandle& dir, const std::string& name, std::string* target) {
  HeldHandle link;
  std::string error;
  if (openRelative(dir, name, FILE_READ_ATTRIBUTES, 0, &link, &error) != OpenOutcome::Opened) {
    return false;
  }
  std::vector<LONGLONG> buffer(MAXIMUM_REPARSE_DATA_BUFFER_SIZE / sizeof(LONGLONG) + 1);
  DWORD got = 0;
  if (!DeviceIoControl(handleOf(link), FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                       DWORD(buffer.size() * sizeof(LONGLONG)), &got, nullptr) ||
      got < sizeof(ReparseData)) {
    return false;
  }
  ReparseData data;
  std::memcpy(&data, buffer.data(), sizeof data);
  const char* bytes = reinterpret_cast<const char*>(buffer.data());
  size_t pathsAt = sizeof data;
  bool relative = false;
  if (data.tag == IO_REPARSE_TAG_SYMLINK) {
    ULONG flags;
    if (got < pathsAt + sizeof flags) return false;
    std::memcpy(&flags, bytes + pathsAt, sizeof flags);
    relative = (flags & kSymlinkIsRelative) != 0;
    pathsAt += sizeof flags;
  } else if (data.tag != IO_REPARSE_TAG_MOUNT_POINT) {
    return false;
  }
  if (pathsAt + data.substituteOffset + data.substituteLength > got) return false;
  std::wstring path(data.substituteLength / sizeof(wchar_t), L'\0');
  std::memcpy(path.data(), bytes + pathsAt + data.substituteOffset, data.substituteLength);
  if (!relative) {
    // "\??\C:\dir" or "\??\UNC\server\share\dir"; a volume by its GUID or a
    // device path cannot be matched with ROOT, and is not followed.
    if (path.compare(0, 8, L"\\??\\UNC\\") == 0) {
      path.replace(0, 8, L"\\\\");
    } else if (path.compare(0, 4, L"\\??\\") == 0 && path.size() >= 6 && path[5] == L':') {
      path.erase(0, 4);
    } else {
      return false;
    }
  }
  for (wchar_t& c : path) {
    if (c == L'\\') c = L'/';
  }
  *target = toUtf8(path.data(), path.size());
  return !target->empty();
}

size_t absoluteTargetRoot(const std::string& target) {
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (target.size() >= 3 && letter(target[0]) && target[1] == ':' && target[2] == '/') return 3;
  if (target.compare(0, 2, "//") == 0) {
    // "//server/share/": the share is the top.
    size_t end = target.find('/', 2);
    if (end != std::string::npos) end = target.find('/', end + 1);
    return end == std::string::npos ? target.size() : end + 1;
  }
  return !target.empty() && target[0] == '/' ? 1 : 0;
}

bool readHeldFile(const HeldHandle& file, std::string* bytes, std::string* error) {
  bytes->clear();
  try {
    char buffer[64 * 1024];
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(handleOf(file), buffer, sizeof buffer, &got, nullptr)) {
        *error = systemReason(GetLastError());
        bytes->clear();
        return false;
      }
      if (got == 0) return true;
      bytes->append(buffer, got);
    }
  } catch (const std::exception&) {  // bad_alloc, or length_error past max_size()
    *error = systemReason(ERROR_NOT_ENOUGH_MEMORY);
    bytes->clear();
    return false;
  }
}

bool readHeldPiece(const HeldHandle& file, char* data, size_t size, size_t* got,
                   std::string* error) {
  *got = 0;
  DWORD read = 0;
  // ReadFile takes at most a DWORD's worth at a time.
  if (!ReadFile(handleOf(file), data, DWORD(std::min<size_t>(size, 1u << 30)), &read, nullptr)) {
    *error = systemReason(GetLastError());
    return false;
  }
  *got = read;
  return true;
}
