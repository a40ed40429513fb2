// One Modbus TCP device that answers for an equipment: its connection, made
// when a request needs it and made again by itself after the device was away,
// and the card status of each request.
//
// * A request that fails with a Modbus exception keeps the connection:
//   exceptions 1 to 3 (illegal function, address or value) answer 4, the
//   others (device failure, busy, gateway path or target) 70.
// * A connection that cannot be made (refused, no answer within the timeout)
//   answers 70; no further attempt is made for the reconnect time, and
//   requests answer 70 at once meanwhile.
// * A connection that breaks under a request (the device closed or reset it)
//   is made again at once and the request repeated once; a request without
//   an answer within the timeout, or with a garbled one, closes the
//   connection and answers 70.
// * While one thread makes the connection to a device that is away, requests
//   of other threads answer 70 at once instead of waiting for it (a refused
//   connection may take the whole timeout on some systems); the first
//   connection to a device they wait for.
// Each change between connected and not is written to the standard error
// stream with the reason, once.
#pragma once

#include <modbus.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "lab/card/softcard/settings.h"

namespace softcard {

constexpr int16_t kStatusUnsupported = 2;    // no Modbus counterpart (timers, counters, ...)
constexpr int16_t kStatusNotConfigured = 3;  // the channel or equipment is not in the settings
constexpr int16_t kStatusRefused = 4;        // the device refused the request, or bad data
constexpr int16_t kStatusNoSettings = 47;    // initbus: the settings file is missing or wrong
constexpr int16_t kStatusRemote = 70;        // the device does not answer

class Link {
public:
    explicit Link(const DeviceSettings& settings) : settings_(settings) {}
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // Runs request(context) on the device: request is a libmodbus call that
    // answers -1 with errno set on failure. Answers the card status.
    template <typename Request>
    int16_t Exchange(Request request) {
        std::unique_lock<std::mutex> lock(lock_);
        for (int attempt = 0;; ++attempt) {
            if (!connected_ && !Connect(lock)) return kStatusRemote;
            errno = 0;
            if (request(context_) >= 0) return 0;
            const int error = errno;
            if (IsException(error)) return ExceptionStatus(error);
            // A broken connection is made again at once, and the request
            // repeated once; a silent or garbled device waits its reconnect time.
            const bool broken = Broken(error);
            Lose(error, broken && attempt == 0);
            if (!broken || attempt > 0) return kStatusRemote;
        }
    }

    const DeviceSettings& settings() const { return settings_; }

private:
    using Clock = std::chrono::steady_clock;

    static bool IsException(int error);
    static int16_t ExceptionStatus(int error);
    static bool Broken(int error);

    // Makes the connection without holding lock, which the caller holds.
    bool Connect(std::unique_lock<std::mutex>& lock);
    // Closes the connection after a failure; retryNow allows a new one at once.
    void Lose(int error, bool retryNow);
    std::string Reason(int error) const;
    void Say(const std::string& text) const;

    const DeviceSettings settings_;
    std::mutex lock_;
    modbus_t* context_ = nullptr;
    bool connected_ = false;
    bool connecting_ = false;  // a thread makes the connection; nobody else uses context_
    std::condition_variable connectionSettled_;
    bool everConnected_ = false;
    bool away_ = false;  // a loss was reported and the device has not come back
    Clock::time_point awaySince_{};
    Clock::time_point nextAttempt_{};
};

}  // namespace softcard
