// Text files on Windows: the system's file handles, wrapped in C run-time
// descriptors (by FileSystem) only to be numbered. The C run-time's text mode is not used:
// it would keep a lone carriage return and stop at 0x1A only on some calls;
// text_file.cc applies the text-mode rules itself, and writeText() turns
// each line feed into CR LF.
#include <io.h>
#include <windows.h>

#include "platform/file_system.h"
#include "platform/host_file.h"

namespace host_file {
namespace {

// The standard streams go by numbers that no C run-time descriptor takes,
// so that a file created while a stream is missing (a process started
// without one) can never be mistaken for it.
constexpr int kStdout = 0x7FFFFFF1;
constexpr int kStderr = 0x7FFFFFF2;

HANDLE handleOf(int fd) {
  if (fd == kStdout) return GetStdHandle(STD_OUTPUT_HANDLE);
  if (fd == kStderr) return GetStdHandle(STD_ERROR_HANDLE);
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

bool isUsable(HANDLE handle) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

bool writeAll(HANDLE handle, const char* data, size_t size) {
  while (size > 0) {
    const DWORD chunk = size > 0x10000000 ? DWORD(0x10000000) : DWORD(size);
    DWORD written = 0;
    if (!WriteFile(handle, data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

}  // namespace

int standardOutput() {
  return kStdout;
}

int standardError() {
  return kStderr;
}

std::ptrdiff_t readSome(int fd, unsigned char* data, size_t size) {
  const HANDLE handle = handleOf(fd);
  if (!isUsable(handle)) return -1;
  const DWORD chunk = size > 0x10000000 ? DWORD(0x10000000) : DWORD(size);
  DWORD got = 0;
  if (!ReadFile(handle, data, chunk, &got, nullptr)) {
    // The writer of a pipe has gone: that is the end, not an error.
    return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
  }
  return std::ptrdiff_t(got);
}

bool writeText(int fd, const char* data, size_t size) {
  const HANDLE handle = handleOf(fd);
  if (!isUsable(handle)) return false;
  // Line feeds become CR LF on the way out, a block at a time.
  char block[8192];
  size_t used = 0;
  for (size_t i = 0; i < size; ++i) {
    if (used + 2 > sizeof block) {
      if (!writeAll(handle, block, used)) return false;
      used = 0;
    }
    if (data[i] == '\n') block[used++] = '\r';
    block[used++] = data[i];
  }
  return writeAll(handle, block, used);
}

bool rewind(int fd) {
  const HANDLE handle = handleOf(fd);
  LARGE_INTEGER zero{};
  return isUsable(handle) && SetFilePointerEx(handle, zero, nullptr, FILE_BEGIN) != 0;
}

bool identity(int fd, FileIdentity* id) {
  const HANDLE handle = handleOf(fd);
  BY_HANDLE_FILE_INFORMATION info;
  if (!isUsable(handle) || !GetFileInformationByHandle(handle, &info)) return false;
  id->device = info.dwVolumeSerialNumber;
  id->inode = (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

bool close(int fd) {
  if (fd == kStdout || fd == kStderr) return true;
  return _close(fd) == 0;
}

}  // namespace host_file
