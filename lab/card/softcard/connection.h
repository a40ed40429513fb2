// A connection to a Modbus TCP endpoint, and the units reached through it:
// the software card's unit of independence. Today each equipment has its
// own; a gateway or a serial line would carry several units on one.
//
// * Requests on a connection go one at a time, whichever thread asks, each
//   to its unit; requests on other connections never wait for them.
// * The connection's own worker thread runs the cyclic functions' polls of
//   its units (Post), so that a connection that is slow or silent holds up
//   its own polls only. It starts with the first poll and ends with the
//   connection.
// * The connection is made when a request first needs it, and made again by
//   itself after the device was away.
// * A request that fails with a Modbus exception keeps the connection:
//   exceptions 1 to 3 (illegal function, address or value) answer 4, the
//   others (device failure, busy, gateway path or target) 70.
// * A whole answer that is not the answer to the request (another
//   transaction, function or quantity, an exception code outside the table)
//   answers 70 and keeps the connection: what else the device sent is
//   dropped, and a second such answer in a row makes the connection again
//   (at once), which leaves no stray bytes of the device behind.
// * A connection that cannot be made (refused, no answer within the
//   timeout) answers 70; no further attempt is made for the reconnect time,
//   and requests answer 70 at once meanwhile: the device is away.
// * A connection that breaks under a request (the device closed or reset it)
//   is made again at once and the request repeated once; a request without
//   an answer within the timeout closes the connection and the device is
//   away.
// * While one thread makes the connection to a device that is away, requests
//   of other threads answer 70 at once instead of waiting for it (a refused
//   connection may take the whole timeout on some systems); the first
//   connection to a device they wait for.
// Each change between connected and away is written to the standard error
// stream with the reason, once.
#pragma once

#include <modbus.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "lab/card/softcard/device_stats.h"
#include "lab/card/softcard/platform.h"

namespace softcard {

constexpr int16_t kStatusUnsupported = 2;    // no Modbus counterpart (timers, counters, ...)
constexpr int16_t kStatusNotConfigured = 3;  // the channel or equipment is not in the settings
constexpr int16_t kStatusRefused = 4;        // the device refused the request, or bad data
constexpr int16_t kStatusNoSettings = 47;    // initbus: the settings file is missing or wrong
constexpr int16_t kStatusRemote = 70;        // the device does not answer

// Where a connection goes and how long it waits.
struct Endpoint {
    std::string host;
    int32_t port = 502;
    int32_t timeoutMs = 1000;
    int32_t reconnectMs = 1000;
};

// A connection's state as the status file shows it.
struct ConnectionState {
    enum class Kind { kNotYet, kConnected, kAway, kClosed };
    Kind kind = Kind::kNotYet;
    std::time_t since = 0;          // of the last change
    std::string reason;             // why it went away, while away
    int32_t losses = 0;             // times it went away
    double nextAttemptSeconds = 0;  // while away
};

class Connection {
public:
    // label names the connection in messages ("channel 0 equipment 1
    // (host:port unit 1)").
    Connection(const Endpoint& endpoint, std::string label);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Runs request(context) for unit: request is a libmodbus call that
    // answers -1 with errno set on failure. Answers the card status; *error
    // receives the failure's errno (0 for none), stats the latency of each
    // answer.
    template <typename Request>
    int16_t Exchange(int32_t unit, DeviceStats& stats, int* error, Request request) {
        *error = 0;
        if (!TakeTurn(error)) return kStatusRemote;
        int16_t status = kStatusRemote;
        for (int attempt = 0;; ++attempt) {
            if (!Ready(unit, error)) break;
            const Clock::time_point start = Clock::now();
            errno = 0;
            const int result = request(context_);
            *error = result >= 0 ? 0 : errno;
            if (!Again(result, attempt, start, stats, error, &status)) break;
        }
        GiveTurn();
        return status;
    }

    // Runs job on the connection's worker thread, starting it if needed.
    // False when the connection closes or the system gives no thread.
    bool Post(std::function<void()> job);

    // Stops the connection without waiting: polls not yet begun are dropped,
    // the request under way is broken off, and requests answer 70 from then
    // on. A card closes all its connections this way before it waits for
    // any, so that it waits for the slowest only.
    void Stop();
    // Stops, waits for the worker's end and closes the connection.
    void Close();

    ConnectionState State() const;
    // Text for a failure's errno, as the messages and the status file say it.
    std::string Reason(int error) const;

private:
    using Clock = std::chrono::steady_clock;

    static bool IsException(int error);
    static int16_t ExceptionStatus(int error);
    static bool Garbled(int error);
    static bool Broken(int error);
    static void WorkerMain(void* self);

    // The right to use the context; false (with *error) when the device is
    // away and another thread is trying to reach it, or when closing.
    bool TakeTurn(int* error);
    void GiveTurn();
    // Connected, or connects; the unit set for the next request.
    bool Ready(int32_t unit, int* error);
    bool Connect(int* error);
    // After a request: whether to repeat it, with *status set otherwise.
    bool Again(int result, int attempt, Clock::time_point start, DeviceStats& stats, int* error,
               int16_t* status);
    // Closes the connection after a failure; retryNow allows a new one at
    // once. away: the device is away (said once) until a connection is made.
    void Lose(int error, bool retryNow, bool away);
    void Say(const std::string& text) const;

    const Endpoint endpoint_;
    const std::string label_;

    // Used only by the thread that holds the turn.
    modbus_t* context_ = nullptr;
    bool connected_ = false;
    int32_t garbledInARow_ = 0;

    mutable Lock state_;  // guards what follows; never held during a request
    bool busy_ = false;   // a thread holds the turn
    Condition turnFreed_;
    bool closing_ = false;
    bool connecting_ = false;
    bool everConnected_ = false;
    bool away_ = false;  // a loss was reported and the device has not come back
    int socket_ = -1;    // of the connection made, for breaking a request off
    int lastError_ = 0;
    Clock::time_point awaySince_{};
    Clock::time_point nextAttempt_{};
    std::time_t changedAt_ = 0;
    int32_t losses_ = 0;

    std::deque<std::function<void()>> jobs_;
    Condition work_;
    SmallThread worker_;
};

}  // namespace softcard
