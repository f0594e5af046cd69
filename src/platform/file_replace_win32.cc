// Replacing a file whole with Win32 calls: write, flush, MoveFileEx with
// MOVEFILE_REPLACE_EXISTING. Paths cross this seam as UTF-8.
#include <windows.h>

#include <atomic>
#include <string>

#include "platform/file_replace.h"
#include "platform/system_text_win32.h"

bool replaceFileContents(const std::string& hostPath, const std::string& bytes,
                         std::string* error) {
  static std::atomic<unsigned> counter{0};
  const std::string temporary = hostPath + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" +
                                std::to_string(counter.fetch_add(1));
  std::wstring wideTarget;
  std::wstring wideTemporary;
  if (!toWide(hostPath, &wideTarget) || !toWide(temporary, &wideTemporary)) {
    *error = systemReason(ERROR_INVALID_NAME);
    return false;
  }
  HANDLE file = CreateFileW(wideTemporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = systemReason(GetLastError());
    return false;
  }
  DWORD failure = 0;
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = DWORD(bytes.size() - done > 0x10000000 ? 0x10000000 : bytes.size() - done);
    DWORD wrote = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &wrote, nullptr) || wrote == 0) {
      failure = GetLastError();
      if (failure == 0) failure = ERROR_WRITE_FAULT;
      break;
    }
    done += wrote;
  }
  if (failure == 0 && !FlushFileBuffers(file)) failure = GetLastError();
  if (!CloseHandle(file) && failure == 0) failure = GetLastError();
  if (failure == 0 && !MoveFileExW(wideTemporary.c_str(), wideTarget.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    failure = GetLastError();
  }
  if (failure != 0) {
    DeleteFileW(wideTemporary.c_str());
    *error = systemReason(failure);
    return false;
  }
  return true;
}
