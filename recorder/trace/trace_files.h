// What the recorder needs of the file system, as a small table of functions:
// one implementation per system (platform/), and in the tests one that fails
// where a test wants it to (a full disk, a file another program holds open).
//
// The recorder never truncates or replaces a file that exists: it creates its
// files afresh, renames only onto names that are free, and keeps others from
// renaming or deleting a file while it writes it (they may read it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qtrace {

struct TraceFiles {
    // Creates path for writing, only when no such file exists; null with the
    // system's message in *error.
    void* (*create)(const char* path, std::string* error);
    // Writes size bytes at the end; the bytes written, fewer on a failure
    // (with the system's message in *error).
    size_t (*write)(void* file, const void* bytes, size_t size, std::string* error);
    // Cuts the file back to size bytes (a write torn by a failure).
    bool (*truncate)(void* file, uint64_t size);
    void (*close)(void* file);
    // Renames from to to, never onto a file that exists; false with the
    // system's message.
    bool (*rename)(const char* from, const char* to, std::string* error);
    bool (*remove)(const char* path, std::string* error);
    bool (*exists)(const char* path);
    // Whether a recorder (of this process or another) writes path right now.
    bool (*inUse)(const char* path);
};

// The system's file layer.
const TraceFiles& SystemFiles();

}  // namespace qtrace
