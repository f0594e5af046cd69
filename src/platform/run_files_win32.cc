// The run's own files on Windows: files through the wide calls, so that any
// name can be reached; standard output through the C library's
// stream, which keeps its text mode. A pipe whose reader has gone answers
// ERROR_BROKEN_PIPE, ERROR_NO_DATA or ERROR_PIPE_NOT_CONNECTED, and the C
// library turns those into EPIPE or (msvcrt) EINVAL.
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/run_files.h"
#include "platform/system_text_win32.h"

namespace {

bool pipeClosed(DWORD code) {
  return code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA || code == ERROR_PIPE_NOT_CONNECTED;
}

HANDLE handleOf(const ReportDestination& output) {
  return reinterpret_cast<HANDLE>(output.file);
}

// A failure of the C library's stream: errno, and the system's code that
// lay under it.
WriteOutcome streamFailure(int error, DWORD code, std::string* reason) {
  if (error == EPIPE || error == EINVAL || pipeClosed(code)) return WriteOutcome::ReaderGone;
  // Only the main thread writes the report, so strerror's buffer is its own.
  *reason = std::strerror(error);
  return WriteOutcome::Failed;
}

}  // namespace

ReportDestination::~ReportDestination() {
  if (file != -1) CloseHandle(handleOf(*this));
}

void ignoreBrokenPipes() {}

bool openReportFile(const std::string& hostPath, ReportDestination* output, std::string* error) {
  std::wstring path;
  if (!toWide(hostPath, &path)) {
    *error = "Invalid name";
    return false;
  }
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = systemReason(GetLastError());
    return false;
  }
  output->file = reinterpret_cast<intptr_t>(handle);
  return true;
}

bool reportFileIdentity(const ReportDestination& output, FileIdentity* identity, bool* otherNames) {
  BY_HANDLE_FILE_INFORMATION info;
  if (output.file == -1 || !GetFileInformationByHandle(handleOf(output), &info)) return false;
  identity->device = info.dwVolumeSerialNumber;
  identity->inode =
      (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  *otherNames = info.nNumberOfLinks > 1;
  return true;
}

WriteOutcome writeReport(ReportDestination& output, std::string_view bytes, std::string* error) {
  if (output.file == -1) {
    errno = 0;
    SetLastError(ERROR_SUCCESS);
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size())
      return WriteOutcome::Written;
    return streamFailure(errno, GetLastError(), error);
  }
  size_t done = 0;
  while (done < bytes.size()) {
    // WriteFile takes at most a DWORD's worth at a time.
    const DWORD chunk = DWORD(std::min<size_t>(bytes.size() - done, 1u << 30));
    DWORD wrote = 0;
    if (!WriteFile(handleOf(output), bytes.data() + done, chunk, &wrote, nullptr)) {
      const DWORD code = GetLastError();
      if (pipeClosed(code)) return WriteOutcome::ReaderGone;
      *error = systemReason(code);
      return WriteOutcome::Failed;
    }
    if (wrote == 0) {
      *error = systemReason(ERROR_WRITE_FAULT);
      return WriteOutcome::Failed;
    }
    done += wrote;
  }
  return WriteOutcome::Written;
}

WriteOutcome closeReport(ReportDestination& output, std::string* error) {
  if (output.file == -1) {
    errno = 0;
    SetLastError(ERROR_SUCCESS);
    if (std::fflush(stdout) == 0) return WriteOutcome::Written;
    return streamFailure(errno, GetLastError(), error);
  }
  const HANDLE handle = handleOf(output);
  output.file = -1;
  if (!CloseHandle(handle)) {
    *error = systemReason(GetLastError());
    return WriteOutcome::Failed;
  }
  return WriteOutcome::Written;
}

bool destinationPath(FileSystem& fileSystem, const std::string& hostPath, std::string* canonical) {
  if (fileSystem.canonicalPath(hostPath, canonical)) return true;
  // Either separator ends the directory part; "C:name" is a name in the
  // current directory of drive C.
  size_t cut = hostPath.find_last_of("/\\");
  std::string dir, name;
  if (cut != std::string::npos) {
    dir = hostPath.substr(0, cut == 0 || (cut == 2 && hostPath[1] == ':') ? cut + 1 : cut);
    name = hostPath.substr(cut + 1);
  } else if (hostPath.size() > 2 && hostPath[1] == ':') {
    dir = hostPath.substr(0, 2);
    name = hostPath.substr(2);
  } else {
    dir = ".";
    name = hostPath;
  }
  return canonicalEntryPath(fileSystem, dir, name, canonical);
}

bool readNamedFile(const std::string& hostPath, size_t maxBytes, std::string* bytes,
                   std::string* error) {
  bytes->clear();
  std::wstring path;
  if (!toWide(hostPath, &path)) {
    *error = "Invalid name";
    return false;
  }
  ReportDestination closer;  // closes the handle on every way out
  const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = systemReason(GetLastError());
    return false;
  }
  closer.file = reinterpret_cast<intptr_t>(handle);
  char buffer[16 * 1024];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(handle, buffer, sizeof buffer, &got, nullptr)) {
      const DWORD code = GetLastError();
      if (code == ERROR_BROKEN_PIPE) return true;  // a pipe's writer closed it: its end
      *error = systemReason(code);
      bytes->clear();
      return false;
    }
    if (got == 0) return true;
    if (bytes->size() + got > maxBytes) {
      *error = systemReason(ERROR_FILE_TOO_LARGE);
      bytes->clear();
      return false;
    }
    bytes->append(buffer, got);
  }
}

std::string slashSeparated(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}
