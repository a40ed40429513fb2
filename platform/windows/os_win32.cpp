// The operating-system layer on Win32.
#include <windows.h>

#include "platform/os.h"

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

uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

}  // namespace os
