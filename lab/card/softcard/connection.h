// A connection to Modbus devices — a TCP connection to a device or a
// gateway, or a serial line — and the units reached through it: the software
// card's unit of independence. The equipments with the same host and port
// share one TCP connection (unless one asks for its own), and the units of a
// modbus-rtu channel share its line. What differs between the two is in a
// small table of functions (Transport, in connection.cpp).
//
// * Requests on a connection go one at a time, whichever thread asks, each
//   to its unit; requests on other connections never wait for them.
// * The connection's own worker thread runs the cyclic functions' polls of
//   its units (Post), so that a connection that is slow or silent holds up
//   its own polls only. It starts with the first poll and ends with the
//   connection.
// * The connection is made when a request first needs it (a line when the
//   card opens), and made again by itself after it was away.
// * A request that fails with a Modbus exception keeps the connection:
//   exceptions 1 to 3 (illegal function, address or value) answer 4, the
//   others (device failure, busy, gateway path or target) 70.
// * A unit that does not answer within its timeout, or of which a gateway
//   answers exception 10 or 11, is away by itself: its requests answer 70 at
//   once for its reconnect time, then the next one tries again, while the
//   connection goes on carrying the other units. Each attempt holds the
//   connection for the unit's timeout, so on a shared connection or a line
//   the attempts come four timeouts apart at least: a silent unit holds the
//   connection a fifth of the time at most, and a request of another unit
//   waits one such timeout at most. (A TCP connection is made again at once
//   after the silence, since a late answer would be read as the next
//   request's; a line is flushed.)
// * A whole answer that is not the answer to the request (another
//   transaction, unit, function or quantity, a CRC error, an exception code
//   outside the table) answers 70 and keeps the connection: what else came
//   is dropped (on a line after a frame's time), and over TCP a second such
//   answer in a row makes the connection again, which leaves no stray bytes
//   behind.
// * A connection that cannot be made (refused, no answer within the
//   timeout; a line that cannot be opened or set up) answers 70; no further
//   attempt is made for the reconnect time, and requests of all its units
//   answer 70 at once meanwhile: the connection is away.
// * A connection that breaks under a request (the device closed or reset it,
//   the serial port went) is made again at once and the request repeated
//   once.
// * While one thread makes the connection again, requests of other threads
//   answer 70 at once instead of waiting for it (a refused connection may
//   take the whole timeout on some systems); the first connection they wait
//   for.
// Each change between answering and away, of the connection and of each
// unit, is written to the standard error stream with the reason, once.
#pragma once

#include <modbus.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "lab/card/softcard/device_stats.h"
#include "lab/card/softcard/platform.h"
#include "lab/card/softcard/settings.h"

namespace softcard {

constexpr int16_t kStatusUnsupported = 2;    // no Modbus counterpart (timers, counters, ...)
constexpr int16_t kStatusNotConfigured = 3;  // the channel or equipment is not in the settings
constexpr int16_t kStatusRefused = 4;        // the device refused the request, or bad data
constexpr int16_t kStatusNoSettings = 47;    // initbus: the settings file is missing or wrong
constexpr int16_t kStatusRemote = 70;        // the device does not answer

// Where a connection goes and how long it waits.
struct Endpoint {
    bool serial = false;  // a line (line), else TCP (host, port)
    std::string host;
    int32_t port = 502;
    LineSettings line;
    int32_t timeoutMs = 1000;    // to connect: the longest of its units'
    int32_t reconnectMs = 1000;  // between attempts: the shortest of its units'
    int32_t units = 1;           // the equipments that share it
};

// A unit on a connection, as an equipment reaches it.
struct Unit {
    int32_t number = 1;
    int32_t timeoutMs = 1000;
    int32_t reconnectMs = 1000;
    std::string label;  // names it in messages
};

// A unit's state as the status file shows it: the connection's, and the
// unit's own where the connection is there.
struct ConnectionState {
    enum class Kind { kNotYet, kConnected, kAway, kClosed };
    Kind kind = Kind::kNotYet;
    std::time_t since = 0;          // of the last change
    std::string reason;             // why it went away, while away
    int32_t losses = 0;             // times the unit or its connection went away
    double nextAttemptSeconds = 0;  // while away
    bool line = false;              // a serial line
};

class Connection {
public:
    // label names the connection in messages ("channel 0 equipment 1
    // (host:port unit 1)", "127.0.0.1:502 (channel 0 equipments 1, 2)",
    // "line COM3 of channel 2").
    Connection(const Endpoint& endpoint, std::string label);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Runs request(context) for unit: request is a libmodbus call that
    // answers -1 with errno set on failure. Answers the card status; *error
    // receives the failure's errno (0 for none), stats the latency of each
    // answer. On a line, the broadcast unit is written to without an answer
    // and the line kept quiet for its turnaround time.
    template <typename Request>
    int16_t Exchange(const Unit& unit, DeviceStats& stats, int* error, Request request) {
        *error = 0;
        if (!TakeTurn(unit.number, error)) return kStatusRemote;
        int16_t status = kStatusRemote;
        for (int attempt = 0;; ++attempt) {
            if (!Ready(unit, error)) break;
            const Clock::time_point start = Clock::now();
            errno = 0;
            const int result = request(context_);
            *error = result >= 0 ? 0 : errno;
            if (!Again(unit, result, attempt, start, stats, error, &status)) break;
        }
        GiveTurn();
        return status;
    }

    // Makes the connection now (a line, when the card opens: a line that
    // cannot be opened is said at once). Answers whether it is there.
    bool OpenNow();

    // Runs job on the connection's worker thread, starting it if needed.
    // False when the connection closes or the system gives no thread.
    bool Post(std::function<void()> job);

    // Stops the connection without waiting: polls not yet begun are dropped,
    // a request under way on a socket is broken off (one on a line ends
    // within its timeout), and requests answer 70 from then on. A card closes
    // all its connections this way before it waits for any, so that it waits
    // for the slowest only.
    void Stop();
    // Stops, waits for the worker's end and closes the connection.
    void Close();

    // The state of unit on this connection.
    ConnectionState State(int32_t unit) const;
    // Text for a failure's errno, as the messages and the status file say it.
    // timeoutMs: the unit's, else the connection's.
    std::string Reason(int error, int32_t timeoutMs = -1) const;
    bool serial() const { return endpoint_.serial; }

private:
    using Clock = std::chrono::steady_clock;

    struct UnitState {
        bool asked = false;  // a request has gone to it
        bool away = false;   // it was said to be silent and has not answered since
        int error = 0;
        std::string reason;  // while away
        Clock::time_point awaySince{};
        Clock::time_point nextAttempt{};
        std::time_t changedAt = 0;
        int32_t losses = 0;
    };

    static bool IsException(int error);
    static int16_t ExceptionStatus(int error);
    static bool Garbled(int error);
    static bool Broken(int error);
    static void WorkerMain(void* self);

    // The right to use the context; false (with *error) when the unit or the
    // connection is away and not due for another attempt, or when closing.
    bool TakeTurn(int32_t unit, int* error);
    void GiveTurn();
    // Connected, or connects; the unit and its timeout set for the request.
    bool Ready(const Unit& unit, int* error);
    bool Connect(int* error);
    // After a request: whether to repeat it, with *status set otherwise.
    bool Again(const Unit& unit, int result, int attempt, Clock::time_point start,
               DeviceStats& stats, int* error, int16_t* status);
    // The unit answered, or did not (it is away for its reconnect time).
    void Answered(const Unit& unit);
    void Silent(const Unit& unit, int error);
    // The time from a silence to the unit's next attempt.
    int32_t RetryMs(const Unit& unit) const;
    // A silent unit on a shared connection waits this many of its timeouts
    // at least before it is tried again.
    static constexpr int32_t kSilentShare = 4;
    // Drops what else came after an answer that was not the one asked for.
    void DropTheRest(int error);
    // Closes the connection after a failure; retryNow allows a new one at
    // once. away: the connection is away (said once) until it is made again.
    void Lose(int error, bool retryNow, bool away);
    void Say(const std::string& label, const std::string& text) const;

    const Endpoint endpoint_;
    const std::string label_;

    // Used only by the thread that holds the turn.
    modbus_t* context_ = nullptr;
    bool connected_ = false;
    int32_t garbledInARow_ = 0;
    int32_t timeoutSetMs_ = -1;  // the response timeout set in the context

    mutable Lock state_;  // guards what follows; never held during a request
    bool busy_ = false;   // a thread holds the turn
    Condition turnFreed_;
    bool closing_ = false;
    bool connecting_ = false;
    bool everConnected_ = false;
    bool away_ = false;  // a loss was reported and the connection is not back
    int socket_ = -1;    // of the connection made, for breaking a request off
    int lastError_ = 0;
    std::string awayReason_;
    Clock::time_point awaySince_{};
    Clock::time_point nextAttempt_{};
    std::time_t changedAt_ = 0;
    int32_t losses_ = 0;
    std::map<int32_t, UnitState> units_;

    std::deque<std::function<void()>> jobs_;
    Condition work_;
    SmallThread worker_;
};

}  // namespace softcard
