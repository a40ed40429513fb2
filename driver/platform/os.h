// The operating-system services the driver uses, behind one small interface.
//
// Only the files under driver/platform/ (and the browse dialog) include the system's
// own headers, so the driver's core compiles for any system that implements
// this page.
#pragma once

#include <cstdint>

namespace os {

// An opaque handle of a thread or a semaphore, as the driver keeps it in its
// state block.
using Handle = void*;

#if defined(_WIN32)
using ThreadResult = unsigned long;
#define OS_THREAD_CALL __stdcall
#else
using ThreadResult = void*;
#define OS_THREAD_CALL
#endif

// A thread procedure: one pointer in, a result the driver does not examine.
using ThreadProc = ThreadResult(OS_THREAD_CALL*)(void* argument);

// Pauses the calling thread.
void SleepMs(uint32_t milliseconds);

// Creates an unnamed semaphore; null when it cannot be made.
Handle SemaphoreCreate(int32_t initialCount, int32_t maximumCount);

// Adds one count; a release beyond the maximum is dropped.
void SemaphoreRelease(Handle semaphore);

// Waits for one count at most timeoutMs; true when a count was taken.
bool SemaphoreWait(Handle semaphore, uint32_t timeoutMs);

// Starts a thread at once with the default stack size; null when it cannot be
// made. threadId receives the system's identifier of the new thread.
Handle ThreadCreate(ThreadProc procedure, void* argument, uint32_t* threadId);

// Closes a handle of ThreadCreate or SemaphoreCreate. Null is ignored.
void HandleClose(Handle handle);

// Whether a handle of ThreadCreate names the calling thread; false for null
// and for anything else.
bool ThreadIsCurrent(Handle thread);

// Identifier of the calling thread.
uint32_t CurrentThreadId();

// Opens an existing file for reading as text; null when it cannot be opened.
// Reading goes straight to the system, through no buffer of the C library.
Handle TextFileOpen(const char* name);

// Reads up to size bytes; the number read, 0 at the end of the file or on an
// error. On Windows a Ctrl-Z byte ends the file, as in the C library's text
// mode; line ends are delivered as they are stored.
uint32_t TextFileRead(Handle file, void* buffer, uint32_t size);

// Closes a file of TextFileOpen. Null is ignored.
void TextFileClose(Handle file);

}  // namespace os
