#include "lab/card/softcard/platform.h"

#if defined(_WIN32)
// winsock2.h comes first, or windows.h brings the old winsock.h.
// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on
#else
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <thread>
#endif

#include <cstdio>

namespace softcard {

#if defined(_WIN32)

static_assert(sizeof(SRWLOCK) == sizeof(void*), "Lock holds an SRWLOCK");
static_assert(sizeof(CONDITION_VARIABLE) == sizeof(void*), "Condition holds a CONDITION_VARIABLE");

// Both start as zero, which is their initial state.
void Lock::lock() { AcquireSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock_)); }
void Lock::unlock() { ReleaseSRWLockExclusive(reinterpret_cast<PSRWLOCK>(&lock_)); }

void Condition::Wait(std::unique_lock<Lock>& lock) {
    SleepConditionVariableSRW(reinterpret_cast<PCONDITION_VARIABLE>(&condition_),
                              reinterpret_cast<PSRWLOCK>(&lock.mutex()->lock_), INFINITE, 0);
}

bool Condition::WaitFor(std::unique_lock<Lock>& lock, std::chrono::milliseconds time) {
    const DWORD ms = time.count() <= 0 ? 0 : static_cast<DWORD>(time.count());
    return SleepConditionVariableSRW(reinterpret_cast<PCONDITION_VARIABLE>(&condition_),
                                     reinterpret_cast<PSRWLOCK>(&lock.mutex()->lock_), ms, 0) != 0;
}

void Condition::NotifyOne() {
    WakeConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&condition_));
}

void Condition::NotifyAll() {
    WakeAllConditionVariable(reinterpret_cast<PCONDITION_VARIABLE>(&condition_));
}

unsigned long __stdcall SmallThread::Trampoline(void* self) {
    SmallThread* thread = static_cast<SmallThread*>(self);
    thread->body_(thread->argument_);
    return 0;
}

bool SmallThread::Start(void (*body)(void*), void* argument) {
    if (running_) return false;
    body_ = body;
    argument_ = argument;
    // Without the flag the size would be the first commitment, and the
    // reservation the program's default.
    handle_ = CreateThread(nullptr, kStackBytes, &SmallThread::Trampoline, this,
                           STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    running_ = handle_ != nullptr;
    return running_;
}

void SmallThread::Join() {
    if (!running_) return;
    WaitForSingleObject(handle_, INFINITE);
    CloseHandle(handle_);
    handle_ = nullptr;
    running_ = false;
}

void ShutDownSocket(int socket) { shutdown(static_cast<SOCKET>(socket), SD_BOTH); }

std::string SerialPortName(const std::string& device) {
    const bool com = device.size() > 3 && (device[0] == 'C' || device[0] == 'c') &&
                     (device[1] == 'O' || device[1] == 'o') &&
                     (device[2] == 'M' || device[2] == 'm') &&
                     device.find_first_not_of("0123456789", 3) == std::string::npos;
    return com ? "\\\\.\\" + device : device;
}

std::string LastSystemError() {
    const DWORD code = GetLastError();
    char text[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, text, sizeof text, nullptr);
    std::string why(text, n);
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == '.'))
        why.pop_back();
    return (why.empty() ? "system error" : why) + " (" + std::to_string(code) + ")";
}

void SleepFor(std::chrono::microseconds time) {
    Sleep(static_cast<DWORD>((time.count() + 999) / 1000));
}

bool ReplaceFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::tm LocalTime(std::time_t moment) {
    std::tm local{};
    localtime_s(&local, &moment);
    return local;
}

#else

void Lock::lock() { mutex_.lock(); }
void Lock::unlock() { mutex_.unlock(); }

// The lock's own mutex is waited with, and stays locked by the caller.
void Condition::Wait(std::unique_lock<Lock>& lock) {
    std::unique_lock<std::mutex> inner(lock.mutex()->mutex_, std::adopt_lock);
    condition_.wait(inner);
    inner.release();
}

bool Condition::WaitFor(std::unique_lock<Lock>& lock, std::chrono::milliseconds time) {
    std::unique_lock<std::mutex> inner(lock.mutex()->mutex_, std::adopt_lock);
    const bool woken = condition_.wait_for(inner, time) == std::cv_status::no_timeout;
    inner.release();
    return woken;
}

void Condition::NotifyOne() { condition_.notify_one(); }
void Condition::NotifyAll() { condition_.notify_all(); }

void* SmallThread::Trampoline(void* self) {
    SmallThread* thread = static_cast<SmallThread*>(self);
    thread->body_(thread->argument_);
    return nullptr;
}

bool SmallThread::Start(void (*body)(void*), void* argument) {
    if (running_) return false;
    body_ = body;
    argument_ = argument;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_attr_setstacksize(&attributes, kStackBytes);
    running_ = pthread_create(&id_, &attributes, &SmallThread::Trampoline, this) == 0;
    pthread_attr_destroy(&attributes);
    return running_;
}

void SmallThread::Join() {
    if (!running_) return;
    pthread_join(id_, nullptr);
    running_ = false;
}

void ShutDownSocket(int socket) { shutdown(socket, SHUT_RDWR); }

std::string SerialPortName(const std::string& device) { return device; }

std::string LastSystemError() { return std::strerror(errno); }

void SleepFor(std::chrono::microseconds time) { std::this_thread::sleep_for(time); }

bool ReplaceFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

std::tm LocalTime(std::time_t moment) {
    std::tm local{};
    localtime_r(&moment, &local);
    return local;
}

#endif

SmallThread::~SmallThread() { Join(); }

}  // namespace softcard
