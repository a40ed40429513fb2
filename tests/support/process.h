// What the test programs and the soak need of the process itself: what it
// holds open, for checking that a library let go of its threads, handles and
// connections, and its environment, which child processes inherit.
#pragma once

#include <cstdint>
#include <string>

namespace qun_test {

// Threads of this process.
int32_t ThreadCount();

// Open handles: on Windows every handle of the process (threads', files',
// sockets'), natively its file descriptors.
int32_t HandleCount();

// What the process holds open, counted the system's way: on Windows its
// handles (threads hold handles there), natively its file descriptors and
// threads, the least of three counts a tenth of a second apart (threads of
// the system hold some for short whiles). *how names the count for reports.
int32_t OpenObjectCount(std::string* how);

// The memory of this process: on Windows the private memory committed and
// the address space taken (reserved or committed, the limit that counts in
// a 32-bit process), natively the resident set and the virtual size.
struct MemoryUse {
    int64_t committedBytes = 0;
    int64_t addressSpaceBytes = 0;
};
MemoryUse Memory();

// Sets an environment variable of this process.
void SetEnvironment(const char* name, const char* value);

}  // namespace qun_test
