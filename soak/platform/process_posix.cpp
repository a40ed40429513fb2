#include <dirent.h>
#include <dlfcn.h>
#include <limits.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "soak/platform/process.h"

namespace soak {

namespace {

uint32_t Entries(const char* folder) {
    DIR* directory = opendir(folder);
    if (directory == nullptr) return 0;
    uint32_t count = 0;
    while (const dirent* entry = readdir(directory))
        if (entry->d_name[0] != '.') ++count;
    closedir(directory);
    return count;
}

}  // namespace

Entry LoadDriver(std::string* error) {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    std::string file(path, length > 0 ? static_cast<size_t>(length) : 0);
    file.erase(file.rfind('/') + 1);
    file += "libMORDALIX.so";
    void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* reason = dlerror();
        *error = "cannot load " + file + " (" + (reason != nullptr ? reason : "dlopen") + ")";
        return nullptr;
    }
    const Entry entry = reinterpret_cast<Entry>(dlsym(module, "QunMain"));
    if (entry == nullptr) *error = file + " has no QunMain";
    return entry;
}

void PauseMs(uint32_t milliseconds) {
    timespec delay{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
}

// The least of three counts, as threads come and go for short whiles.
uint32_t OpenObjectCount(std::string* how) {
    *how = "file descriptors and threads";
    uint32_t least = ~uint32_t{0};
    for (int sample = 0; sample < 3; ++sample) {
        // The folder listing holds a descriptor of its own while it is read.
        const uint32_t count = Entries("/proc/self/fd") - 1 + Entries("/proc/self/task");
        if (count < least) least = count;
        PauseMs(100);
    }
    return least;
}

}  // namespace soak
