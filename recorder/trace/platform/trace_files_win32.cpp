// The recorder's file layer on Windows: a file being written is shared for
// reading only, so that no other program (or recorder) can rename, delete or
// truncate it while it is written; renames never replace a file.
#include <windows.h>

#include "recorder/trace/trace_files.h"

namespace qtrace {

namespace {

std::string ErrorText(DWORD code) {
    char text[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == '.')) --n;
    return std::string(text, n) + (n > 0 ? " " : "") + "(error " + std::to_string(code) + ")";
}

void* Create(const char* path, std::string* error) {
    const HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = ErrorText(GetLastError());
        return nullptr;
    }
    return file;
}

size_t Write(void* file, const void* bytes, size_t size, std::string* error) {
    size_t done = 0;
    while (done < size) {
        DWORD n = 0;
        const DWORD chunk = size - done > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size - done);
        if (!WriteFile(static_cast<HANDLE>(file), static_cast<const char*>(bytes) + done, chunk, &n,
                       nullptr) ||
            n == 0) {
            *error = ErrorText(GetLastError());
            break;
        }
        done += n;
    }
    return done;
}

bool Truncate(void* file, uint64_t size) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(static_cast<HANDLE>(file), at, nullptr, FILE_BEGIN) &&
           SetEndOfFile(static_cast<HANDLE>(file));
}

void Close(void* file) { CloseHandle(static_cast<HANDLE>(file)); }

bool Rename(const char* from, const char* to, std::string* error) {
    if (MoveFileExA(from, to, 0)) return true;
    *error = ErrorText(GetLastError());
    return false;
}

bool Remove(const char* path, std::string* error) {
    if (DeleteFileA(path)) return true;
    *error = ErrorText(GetLastError());
    return false;
}

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// A file another recorder writes cannot be renamed: the rename itself says so.
bool InUse(const char*) { return false; }

const TraceFiles kSystemFiles = {Create, Write, Truncate, Close, Rename, Remove, Exists, InUse};

}  // namespace

const TraceFiles& SystemFiles() { return kSystemFiles; }

}  // namespace qtrace
