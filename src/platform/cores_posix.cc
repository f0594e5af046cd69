#include <sched.h>
#include <unistd.h>

#include "platform/ordered_work.h"

unsigned usableCores() {
  // The affinity mask says what this process may use, which "taskset" or a
  // container may have narrowed; the count of online processors is the
  // fallback when it cannot be read.
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
  const long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? static_cast<unsigned>(online) : 1u;
}
