// What the process holds in memory, as the operating system counts it, and giving back
// what the heap holds free.
#pragma once

#include <cstdint>

namespace tovan::search {

// The process's resident bytes now; 0 where the system does not say.
int64_t resident_bytes();

// Gives the heap's free pages back to the system (glibc); elsewhere does nothing.
void release_free_memory();

}  // namespace tovan::search
