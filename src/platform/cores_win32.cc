#include <windows.h>

#include "platform/ordered_work.h"

unsigned usableCores() {
  // The process's affinity mask says what it may use, which "start
  // /affinity" or a job object may have narrowed.
  DWORD_PTR processMask = 0;
  DWORD_PTR systemMask = 0;
  unsigned count = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &processMask, &systemMask)) {
    for (; processMask != 0; processMask &= processMask - 1) ++count;
  }
  if (count > 0) return count;
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<unsigned>(info.dwNumberOfProcessors) : 1u;
}
