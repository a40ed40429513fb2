// The operating-system layer on Win32.
#include <windows.h>

#include "driver/platform/os.h"

namespace os {

void SleepMs(uint32_t milliseconds) { ::Sleep(milliseconds); }

Handle SemaphoreCreate(int32_t initialCount, int32_t maximumCount) {
    return ::CreateSemaphoreA(nullptr, initialCount, maximumCount, nullptr);
}

void SemaphoreRelease(Handle semaphore) { ::ReleaseSemaphore(semaphore, 1, nullptr); }

bool SemaphoreWait(Handle semaphore, uint32_t timeoutMs) {
    return ::WaitForSingleObject(semaphore, timeoutMs) == WAIT_OBJECT_0;
}

Handle ThreadCreate(ThreadProc procedure, void* argument, uint32_t* threadId) {
    DWORD id = 0;
    HANDLE thread = ::CreateThread(nullptr, 0, procedure, argument, 0, &id);
    *threadId = id;
    return thread;
}

void HandleClose(Handle handle) {
    if (handle != nullptr) ::CloseHandle(handle);
}

bool ThreadIsCurrent(Handle thread) {
    return thread != nullptr && ::GetThreadId(thread) == ::GetCurrentThreadId();
}

uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

Handle TextFileOpen(const char* name) {
    HANDLE file = ::CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

uint32_t TextFileRead(Handle file, void* buffer, uint32_t size) {
    if (file == nullptr) return 0;
    DWORD got = 0;
    if (!::ReadFile(file, buffer, size, &got, nullptr)) return 0;
    // Ctrl-Z ends a text file: what follows it is never delivered.
    const char* bytes = static_cast<const char*>(buffer);
    for (DWORD i = 0; i < got; ++i) {
        if (bytes[i] == 0x1A) {
            ::SetFilePointer(file, 0, nullptr, FILE_END);
            return i;
        }
    }
    return got;
}

void TextFileClose(Handle file) {
    if (file != nullptr) ::CloseHandle(file);
}

}  // namespace os
