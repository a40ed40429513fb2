// What the software card needs of the operating system beyond the standard
// library: locks that leave nothing behind, threads with a small stack,
// breaking off a socket's request, serial ports' names and errors, and
// replacing a file at once.
#pragma once

#if !defined(_WIN32)
#include <pthread.h>

#include <condition_variable>
#endif

#include <chrono>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>

namespace softcard {

// A lock for objects that come and go with the card (connections, devices).
// The thread library of the Windows build gives a std::mutex that two
// threads have met at a system event, and std::mutex never gives it back:
// each initbus and exitbus would leave handles behind in the host. This one
// holds no system object (on Windows a slim reader/writer lock).
class Lock {
public:
    void lock();
    void unlock();

private:
    friend class Condition;
#if defined(_WIN32)
    void* lock_ = nullptr;  // SRWLOCK
#else
    std::mutex mutex_;
#endif
};

// A condition variable for Lock, holding no system object either.
class Condition {
public:
    void Wait(std::unique_lock<Lock>& lock);
    // False when the time ran out first.
    bool WaitFor(std::unique_lock<Lock>& lock, std::chrono::milliseconds time);
    void NotifyOne();
    void NotifyAll();

    template <typename Predicate>
    void Wait(std::unique_lock<Lock>& lock, Predicate ready) {
        while (!ready()) Wait(lock);
    }
    // Whether ready() held before time ran out.
    template <typename Predicate>
    bool WaitFor(std::unique_lock<Lock>& lock, std::chrono::milliseconds time, Predicate ready) {
        const auto end = std::chrono::steady_clock::now() + time;
        while (!ready()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return ready();
            WaitFor(lock, left);
        }
        return true;
    }

private:
#if defined(_WIN32)
    void* condition_ = nullptr;  // CONDITION_VARIABLE
#else
    std::condition_variable condition_;
#endif
};

// A thread with a small stack. The card runs one per connection inside the
// host, a 32-bit process: with the system's default (1 or 2 MB reserved a
// thread), 256 connections would take a quarter of its address space.
class SmallThread {
public:
    SmallThread() = default;
    ~SmallThread();  // joins a thread still running
    SmallThread(const SmallThread&) = delete;
    SmallThread& operator=(const SmallThread&) = delete;

    // Runs body(argument); false when the system gives no thread.
    bool Start(void (*body)(void*), void* argument);
    // Waits for the thread's end.
    void Join();
    bool running() const { return running_; }

    static constexpr uint32_t kStackBytes = 256 * 1024;

private:
#if defined(_WIN32)
    static unsigned long __stdcall Trampoline(void* self);
#else
    static void* Trampoline(void* self);
#endif

    void (*body_)(void*) = nullptr;
    void* argument_ = nullptr;
    bool running_ = false;
#if defined(_WIN32)
    void* handle_ = nullptr;
#else
    pthread_t id_{};
#endif
};

// Shuts a connected socket down both ways, so that a thread waiting on it
// for an answer wakes at once.
void ShutDownSocket(int socket);

// The name under which the system opens a serial port: on Windows COM10 and
// above only as \\.\COM10, which names COM1 to COM9 too.
std::string SerialPortName(const std::string& device);

// Why the system's last call failed, where it sets no errno (Windows).
std::string LastSystemError();

void SleepFor(std::chrono::microseconds time);

// Puts the file from in place of the file to, which may exist, at once:
// readers see the old file or the new one, never a part. False when the
// system refuses (on Windows, while a reader holds the file unshared).
bool ReplaceFile(const std::string& from, const std::string& to);

// The local time of a moment, as the system's clock gives it.
std::tm LocalTime(std::time_t moment);

}  // namespace softcard
