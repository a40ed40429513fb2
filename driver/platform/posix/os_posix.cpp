// The operating-system layer on POSIX systems, for native builds of the driver
// (the native module, sanitizers, fuzzing). Thread and semaphore objects come
// from pools, the way a kernel keeps its objects, so the driver's requests
// never reach the C heap.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <new>

#include "driver/platform/os.h"

namespace os {

namespace {

// Each object starts with its kind, so a handle is recognised whatever copy
// of this layer made it (a test program and the driver module each have one,
// and a handle crosses between them as a kernel handle would).
enum Kind : uint32_t { kSemaphoreKind = 0x53454D41, kThreadKind = 0x54485244 };

// A counting semaphore with a maximum, as the driver needs it.
struct Semaphore {
    const Kind kind = kSemaphoreKind;
    std::atomic<bool> used{false};
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t signalled = PTHREAD_COND_INITIALIZER;
    int32_t count = 0;
    int32_t maximum = 0;
};

struct Thread {
    const Kind kind = kThreadKind;
    std::atomic<bool> used{false};
    // Held while the identifier is stored: the new thread may close its own
    // handle before pthread_create has returned in its creator.
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    pthread_t thread{};
};

// Objects come from pools of blocks of kBlockObjects. A pool starts with one
// block in static storage and grows by blocks mapped straight from the system
// when every object is taken: the driver never closes the semaphore of a cold
// start (as on Windows, the handle stays), so a host that cold-starts an
// instance again and again needs one more each time. Blocks are never
// returned; an object whose handle is closed is used again.
constexpr int kBlockObjects = 64;

template <typename Object>
struct Block {
    Object objects[kBlockObjects];
    std::atomic<Block*> next{nullptr};
};

template <typename Object>
struct Pool {
    Block<Object> first;
};

Pool<Semaphore> semaphores;
Pool<Thread> threads;

template <typename Object>
Object* TakeFrom(Block<Object>& block) {
    for (Object& object : block.objects) {
        bool expected = false;
        if (object.used.compare_exchange_strong(expected, true)) return &object;
    }
    return nullptr;
}

template <typename Object>
Object* Take(Pool<Object>& pool) {
    Block<Object>* block = &pool.first;
    for (;;) {
        if (Object* object = TakeFrom(*block)) return object;
        Block<Object>* next = block->next.load(std::memory_order_acquire);
        if (next == nullptr) {
            void* memory = mmap(nullptr, sizeof(Block<Object>), PROT_READ | PROT_WRITE,
                                MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (memory == MAP_FAILED) return nullptr;
            Block<Object>* grown = new (memory) Block<Object>;
            // Another thread may have grown the pool meanwhile: then its block
            // is used and this one is given back.
            if (block->next.compare_exchange_strong(next, grown, std::memory_order_acq_rel)) {
                next = grown;
            } else {
                grown->~Block<Object>();
                munmap(memory, sizeof(Block<Object>));
            }
        }
        block = next;
    }
}

bool IsKind(Handle handle, Kind kind) {
    return handle != nullptr && *static_cast<const Kind*>(handle) == kind;
}

}  // namespace

void SleepMs(uint32_t milliseconds) {
    timespec delay{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
}

Handle SemaphoreCreate(int32_t initialCount, int32_t maximumCount) {
    Semaphore* semaphore = Take(semaphores);
    if (semaphore == nullptr) return nullptr;
    semaphore->count = initialCount;
    semaphore->maximum = maximumCount;
    return semaphore;
}

void SemaphoreRelease(Handle handle) {
    if (!IsKind(handle, kSemaphoreKind)) return;
    auto* semaphore = static_cast<Semaphore*>(handle);
    pthread_mutex_lock(&semaphore->lock);
    if (semaphore->count < semaphore->maximum) {
        ++semaphore->count;
        pthread_cond_signal(&semaphore->signalled);
    }
    pthread_mutex_unlock(&semaphore->lock);
}

bool SemaphoreWait(Handle handle, uint32_t timeoutMs) {
    if (!IsKind(handle, kSemaphoreKind)) return false;
    auto* semaphore = static_cast<Semaphore*>(handle);
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&semaphore->lock);
    // Any error ends the wait as a timeout does: a deadline the system refuses
    // would otherwise spin here for ever.
    int result = 0;
    while (semaphore->count == 0 && result == 0)
        result = pthread_cond_timedwait(&semaphore->signalled, &semaphore->lock, &deadline);
    const bool taken = semaphore->count > 0;
    if (taken) --semaphore->count;
    pthread_mutex_unlock(&semaphore->lock);
    return taken;
}

Handle ThreadCreate(ThreadProc procedure, void* argument, uint32_t* threadId) {
    Thread* thread = Take(threads);
    if (thread == nullptr) return nullptr;
    pthread_mutex_lock(&thread->lock);
    const bool started = pthread_create(&thread->thread, nullptr, procedure, argument) == 0;
    if (started) *threadId = static_cast<uint32_t>(thread->thread);
    pthread_mutex_unlock(&thread->lock);
    if (!started) {
        thread->used.store(false);
        return nullptr;
    }
    return thread;
}

void HandleClose(Handle handle) {
    if (IsKind(handle, kThreadKind)) {
        auto* thread = static_cast<Thread*>(handle);
        // The thread may still run (a thread closes its own handle): it ends
        // by itself and its resources go with it.
        pthread_mutex_lock(&thread->lock);
        pthread_detach(thread->thread);
        pthread_mutex_unlock(&thread->lock);
        thread->used.store(false);
    } else if (IsKind(handle, kSemaphoreKind)) {
        static_cast<Semaphore*>(handle)->used.store(false);
    }
}

bool ThreadIsCurrent(Handle handle) {
    if (!IsKind(handle, kThreadKind)) return false;
    auto* thread = static_cast<Thread*>(handle);
    // The identifier is stored under the lock while the thread may already run.
    pthread_mutex_lock(&thread->lock);
    const bool current = thread->used.load() && pthread_equal(thread->thread, pthread_self()) != 0;
    pthread_mutex_unlock(&thread->lock);
    return current;
}

// The low 32 bits of the thread's pthread identifier, as ThreadCreate reports it.
uint32_t CurrentThreadId() { return static_cast<uint32_t>(pthread_self()); }

// A file's handle is its descriptor plus one, so that descriptor 0 is not null.
Handle TextFileOpen(const char* name) {
    int descriptor;
    do {
        descriptor = open(name, O_RDONLY | O_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) return nullptr;
    return reinterpret_cast<Handle>(static_cast<intptr_t>(descriptor) + 1);
}

uint32_t TextFileRead(Handle file, void* buffer, uint32_t size) {
    if (file == nullptr) return 0;
    const int descriptor = static_cast<int>(reinterpret_cast<intptr_t>(file) - 1);
    ssize_t got;
    do {
        got = read(descriptor, buffer, size);
    } while (got < 0 && errno == EINTR);
    return got > 0 ? static_cast<uint32_t>(got) : 0;
}

void TextFileClose(Handle file) {
    if (file != nullptr) close(static_cast<int>(reinterpret_cast<intptr_t>(file) - 1));
}

}  // namespace os
