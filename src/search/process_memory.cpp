#include "search/process_memory.h"

#if defined(_WIN32)
#define PSAPI_VERSION 2
#include <windows.h>
// windows.h first
#include <psapi.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstdio>

namespace tovan::search {

int64_t resident_bytes() {
#if defined(_WIN32)
  PROCESS_MEMORY_COUNTERS counters{};
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) return 0;
  return static_cast<int64_t>(counters.WorkingSetSize);
#else
  // The second field of statm: resident pages. Read with plain system calls, since the
  // search threads look at it while they search.
  const int file = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
  if (file < 0) return 0;
  char text[128];
  const ssize_t length = read(file, text, sizeof(text) - 1);
  close(file);
  if (length <= 0) return 0;
  text[length] = '\0';
  long long size = 0;
  long long resident = 0;
  if (std::sscanf(text, "%lld %lld", &size, &resident) != 2) return 0;
  return resident * sysconf(_SC_PAGESIZE);
#endif
}

void release_free_memory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace tovan::search
