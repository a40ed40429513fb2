#if !defined(_WIN32)
#include <dirent.h>
#include <stdlib.h>

#include <chrono>
#include <climits>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/process.h"

namespace qun_test {

namespace {

int32_t Entries(const char* folder) {
    DIR* directory = opendir(folder);
    if (directory == nullptr) return -1;
    int32_t count = 0;
    while (const dirent* entry = readdir(directory))
        if (entry->d_name[0] != '.') ++count;
    closedir(directory);
    return count;
}

}  // namespace

int32_t ThreadCount() { return Entries("/proc/self/task"); }

// Less the descriptor of the folder listing itself.
int32_t HandleCount() { return Entries("/proc/self/fd") - 1; }

int32_t OpenObjectCount(std::string* how) {
    *how = "file descriptors and threads";
    int32_t least = INT32_MAX;
    for (int sample = 0; sample < 3; ++sample) {
        const int32_t count = HandleCount() + ThreadCount();
        if (count < least) least = count;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return least;
}

MemoryUse Memory() {
    MemoryUse use;
    std::ifstream status("/proc/self/status");
    std::string key;
    int64_t kilobytes = 0;
    while (status >> key) {
        if (key == "VmRSS:" && status >> kilobytes) use.committedBytes = 1024 * kilobytes;
        if (key == "VmSize:" && status >> kilobytes) use.addressSpaceBytes = 1024 * kilobytes;
    }
    return use;
}

void SetEnvironment(const char* name, const char* value) { setenv(name, value, 1); }

}  // namespace qun_test
#endif
