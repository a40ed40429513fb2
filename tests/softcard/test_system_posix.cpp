#include <dirent.h>

#include <cstdlib>

#include "tests/softcard/test_system.h"

namespace softcard_test {
namespace {

int32_t Entries(const char* folder) {
    DIR* dir = opendir(folder);
    if (dir == nullptr) return -1;
    int32_t count = 0;
    while (const dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    closedir(dir);
    return count;
}

}  // namespace

int32_t ThreadCount() { return Entries("/proc/self/task"); }
// Less the descriptor of the folder listing itself.
int32_t HandleCount() { return Entries("/proc/self/fd") - 1; }

void SetVariable(const char* name, const char* value) { setenv(name, value, 1); }

}  // namespace softcard_test
