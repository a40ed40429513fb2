// The recorder's file layer on Linux: plain descriptors. A file being written
// carries an advisory lock, so that a second recorder (another host on the
// same path) sees it is in use; renames never replace a file.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "recorder/trace/trace_files.h"

namespace qtrace {

namespace {

std::string ErrnoText(int code) {
    return std::string(std::strerror(code)) + " (errno " + std::to_string(code) + ")";
}

int Descriptor(void* file) { return static_cast<int>(reinterpret_cast<intptr_t>(file)) - 1; }

void* Create(const char* path, std::string* error) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = ErrnoText(errno);
        return nullptr;
    }
    flock(fd, LOCK_EX | LOCK_NB);
    return reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1);
}

size_t Write(void* file, const void* bytes, size_t size, std::string* error) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n =
            write(Descriptor(file), static_cast<const char*>(bytes) + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = n < 0 ? ErrnoText(errno) : "nothing written";
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

bool Truncate(void* file, uint64_t size) {
    return ftruncate(Descriptor(file), static_cast<off_t>(size)) == 0 &&
           lseek(Descriptor(file), static_cast<off_t>(size), SEEK_SET) >= 0;
}

void Close(void* file) { close(Descriptor(file)); }

bool Rename(const char* from, const char* to, std::string* error) {
#if defined(RENAME_NOREPLACE)
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) {
        *error = ErrnoText(errno);
        return false;
    }
#endif
    // A file system without the flag: link fails where to exists.
    if (link(from, to) != 0) {
        *error = ErrnoText(errno);
        return false;
    }
    unlink(from);
    return true;
}

bool Remove(const char* path, std::string* error) {
    if (unlink(path) == 0) return true;
    *error = ErrnoText(errno);
    return false;
}

bool Exists(const char* path) {
    struct stat info;
    return stat(path, &info) == 0;
}

bool InUse(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool locked = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return locked;
}

const TraceFiles kSystemFiles = {Create, Write, Truncate, Close, Rename, Remove, Exists, InUse};

}  // namespace

const TraceFiles& SystemFiles() { return kSystemFiles; }

}  // namespace qtrace
