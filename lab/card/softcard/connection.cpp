#include "lab/card/softcard/connection.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace softcard {
namespace {

// What differs between a TCP connection and a serial line, the libmodbus
// way: the context each makes, what is set up once it is there, and what a
// silence leaves behind.
struct Transport {
    const char* noun;
    modbus_t* (*make)(const Endpoint& endpoint);
    // After modbus_connect: 0, or -1 with errno and *what naming the setting.
    int (*setUp)(modbus_t* context, const Endpoint& endpoint, std::string* what);
    // A late answer would be read as the next request's (TCP): the
    // connection is made again after a silence. A line is flushed instead.
    bool reopenAfterSilence;
    // The context has a socket that Stop can shut down under a request.
    bool breakable;
};

modbus_t* MakeTcp(const Endpoint& endpoint) {
    return modbus_new_tcp_pi(endpoint.host.c_str(), std::to_string(endpoint.port).c_str());
}

modbus_t* MakeLine(const Endpoint& endpoint) {
    const LineSettings& line = endpoint.line;
    return modbus_new_rtu(SerialPortName(line.device).c_str(), line.baud, ParityLetter(line.parity),
                          line.dataBits, line.stopBits);
}

int NothingToSetUp(modbus_t*, const Endpoint&, std::string*) { return 0; }

// The RS-485 modes that libmodbus offers on Linux; elsewhere they fail with
// ENOTSUP, and the line is not used rather than used without them.
int SetUpLine(modbus_t* context, const Endpoint& endpoint, std::string* what) {
    const LineSettings& line = endpoint.line;
    if (line.rs485 && modbus_rtu_set_serial_mode(context, MODBUS_RTU_RS485) == -1) {
        *what = "rs485 = on";
        return -1;
    }
    if (line.rts != Rts::kNone &&
        modbus_rtu_set_rts(context,
                           line.rts == Rts::kUp ? MODBUS_RTU_RTS_UP : MODBUS_RTU_RTS_DOWN) == -1) {
        *what = line.rts == Rts::kUp ? "rts = up" : "rts = down";
        return -1;
    }
    if (line.rtsDelayUs >= 0 && modbus_rtu_set_rts_delay(context, line.rtsDelayUs) == -1) {
        *what = "rts_delay = " + std::to_string(line.rtsDelayUs);
        return -1;
    }
    return 0;
}

const Transport kTcp{"connection", &MakeTcp, &NothingToSetUp, true, true};
const Transport kLine{"line", &MakeLine, &SetUpLine, false, false};

const Transport& TransportOf(const Endpoint& endpoint) { return endpoint.serial ? kLine : kTcp; }

void SetTimeout(modbus_t* context, int32_t ms) {
    const uint32_t seconds = static_cast<uint32_t>(ms / 1000);
    const uint32_t micros = static_cast<uint32_t>(ms % 1000) * 1000;
    modbus_set_response_timeout(context, seconds, micros);
    modbus_set_byte_timeout(context, seconds, micros);
}

std::string Seconds(std::chrono::steady_clock::duration time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(time).count());
    return text;
}

}  // namespace

Connection::Connection(const Endpoint& endpoint, std::string label)
    : endpoint_(endpoint), label_(std::move(label)) {}

Connection::~Connection() {
    Close();
    if (context_ != nullptr) modbus_free(context_);
}

bool Connection::IsException(int error) { return error >= EMBXILFUN && error <= EMBXGTAR; }

int16_t Connection::ExceptionStatus(int error) {
    switch (error) {
        case EMBXILFUN:  // the device has no such function or table
        case EMBXILADD:  // no such address
        case EMBXILVAL:  // a value it does not take
            return kStatusRefused;
        default:  // device failure, acknowledge, busy, parity, gateway path or target
            return kStatusRemote;
    }
}

// The library read a whole answer, and it is not the answer to the request.
bool Connection::Garbled(int error) {
    switch (error) {
        case EMBBADDATA:
        case EMBBADEXC:
        case EMBUNKEXC:
        case EMBBADCRC:
        case EMBBADSLAVE:
        case EMBMDATA:
            return true;
        default:
            return false;
    }
}

// Sockets and serial ports of some systems fail without setting errno: what
// is neither an answer nor a timeout is a broken connection.
bool Connection::Broken(int error) { return error != ETIMEDOUT && !Garbled(error); }

bool Connection::TakeTurn(int32_t unit, int* error) {
    std::unique_lock<Lock> state(state_);
    UnitState& asked = units_[unit];
    asked.asked = true;
    for (;;) {
        if (closing_) return false;
        if (asked.away && Clock::now() < asked.nextAttempt) {
            *error = asked.error;
            return false;
        }
        if (!busy_) {
            busy_ = true;
            return true;
        }
        if (connecting_ && away_) {
            *error = lastError_;
            return false;
        }
        turnFreed_.Wait(state);
    }
}

void Connection::GiveTurn() {
    std::lock_guard<Lock> state(state_);
    busy_ = false;
    turnFreed_.NotifyAll();
}

bool Connection::Ready(const Unit& unit, int* error) {
    if (!connected_ && !Connect(error)) return false;
    // The settings allow only units the library sends.
    if (modbus_set_slave(context_, unit.number) != 0) {
        *error = errno;
        return false;
    }
    // Nothing answers a broadcast: the wait for its answer is the quiet that
    // the line's devices need after it.
    const bool broadcast = endpoint_.serial && unit.number == kBroadcastUnit;
    const int32_t timeoutMs = broadcast ? std::max(1, endpoint_.line.turnaroundMs) : unit.timeoutMs;
    if (timeoutMs != timeoutSetMs_) {
        SetTimeout(context_, timeoutMs);
        timeoutSetMs_ = timeoutMs;
    }
    return true;
}

bool Connection::OpenNow() {
    int error = 0;
    if (!TakeTurn(kBroadcastUnit, &error)) return false;
    const bool open = connected_ || Connect(&error);
    {
        // The broadcast unit was not asked: it shows no state of its own.
        std::lock_guard<Lock> state(state_);
        units_.erase(kBroadcastUnit);
    }
    GiveTurn();
    return open;
}

bool Connection::Connect(int* error) {
    const Transport& transport = TransportOf(endpoint_);
    const Clock::time_point now = Clock::now();
    {
        std::lock_guard<Lock> state(state_);
        if (closing_) return false;
        if (now < nextAttempt_) {
            *error = lastError_;
            return false;
        }
        connecting_ = true;
        // Who waits for the turn answers at once now, when the connection is away.
        if (away_) turnFreed_.NotifyAll();
    }
    if (context_ == nullptr) context_ = transport.make(endpoint_);
    std::string failed;  // the line's setting that the system refused
    errno = 0;
    int result = -1;
    if (context_ != nullptr) {
        // The connection is made within the longest of its units' timeouts.
        SetTimeout(context_, endpoint_.timeoutMs);
        timeoutSetMs_ = endpoint_.timeoutMs;
        result = modbus_connect(context_);
        if (result == 0 && transport.setUp(context_, endpoint_, &failed) == -1) {
            const int refused = errno;
            modbus_close(context_);
            errno = refused;
            result = -1;
        }
    }
    *error = errno;
    std::string why = Reason(*error);
    // A serial port of Windows fails without errno: the system says why.
    if (result == -1 && endpoint_.serial && *error == 0) why = LastSystemError();
    if (!failed.empty()) why = failed + ": " + why;
    std::lock_guard<Lock> state(state_);
    connecting_ = false;
    if (result == -1) {
        if (context_ == nullptr) {
            Say(label_, "cannot be set up: " + why);
        } else if (!away_ && !closing_) {
            away_ = true;
            awaySince_ = now;
            changedAt_ = std::time(nullptr);
            ++losses_;
            Say(label_, std::string(endpoint_.serial ? "cannot be opened" : "no connection") +
                            " (" + why + "); its requests answer status 70 until it is there");
        }
        lastError_ = *error;
        awayReason_ = endpoint_.serial ? "cannot be opened: " + why : why;
        nextAttempt_ = Clock::now() + std::chrono::milliseconds(endpoint_.reconnectMs);
        return false;
    }
    connected_ = true;
    socket_ = transport.breakable ? modbus_get_socket(context_) : -1;
    garbledInARow_ = 0;
    const char* made = endpoint_.serial ? "opened" : "connected";
    if (away_)
        Say(label_, std::string(made) + " again after " + Seconds(Clock::now() - awaySince_));
    else if (!everConnected_)
        Say(label_, made);
    away_ = false;
    everConnected_ = true;
    changedAt_ = std::time(nullptr);
    return true;
}

bool Connection::Again(const Unit& unit, int result, int attempt, Clock::time_point start,
                       DeviceStats& stats, int* error, int16_t* status) {
    const auto micros = [start] {
        return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    };
    *status = kStatusRemote;
    if (result >= 0 || IsException(*error)) {
        stats.Answered(micros());
        garbledInARow_ = 0;
        if (result >= 0) {
            *status = 0;
        } else {
            *status = ExceptionStatus(*error);
            // A gateway's exceptions 10 and 11: the unit behind it is out of
            // reach, the gateway is not.
            if (*error == EMBXGPATH || *error == EMBXGTAR) {
                Silent(unit, *error);
                return false;
            }
        }
        Answered(unit);
        return false;
    }
    if (endpoint_.serial && unit.number == kBroadcastUnit && *error == ETIMEDOUT) {
        *status = 0;  // written to every device of the line, and no answer is its answer
        return false;
    }
    if (Garbled(*error)) {
        stats.Answered(micros());
        DropTheRest(*error);
        return false;
    }
    if (*error == ETIMEDOUT) {
        Silent(unit, *error);
        if (TransportOf(endpoint_).reopenAfterSilence)
            Lose(*error, true, false);
        else
            modbus_flush(context_);
        return false;
    }
    // A broken connection is made again at once, and the request repeated once.
    Lose(*error, attempt == 0, true);
    return attempt == 0;
}

void Connection::Answered(const Unit& unit) {
    std::lock_guard<Lock> state(state_);
    UnitState& answered = units_[unit.number];
    if (answered.away) {
        Say(unit.label, "answers again after " + Seconds(Clock::now() - answered.awaySince));
        answered.away = false;
        answered.changedAt = std::time(nullptr);
    } else if (answered.changedAt == 0) {
        answered.changedAt = std::time(nullptr);
    }
}

void Connection::Silent(const Unit& unit, int error) {
    std::lock_guard<Lock> state(state_);
    UnitState& silent = units_[unit.number];
    const Clock::time_point now = Clock::now();
    silent.error = error;
    silent.reason = Reason(error, unit.timeoutMs);
    const int32_t retryMs = RetryMs(unit);
    silent.nextAttempt = now + std::chrono::milliseconds(retryMs);
    if (silent.away || closing_) return;
    silent.away = true;
    silent.awaySince = now;
    silent.changedAt = std::time(nullptr);
    ++silent.losses;
    Say(unit.label, "no answer (" + silent.reason +
                        "); its requests answer status 70 at once, one attempt every " +
                        std::to_string(retryMs) + " ms");
}

// Each attempt on a silent unit holds the connection for the unit's timeout.
// Where other units share the connection, the attempts are spaced so that
// they hold it a fifth of the time at most, whatever the reconnect time.
int32_t Connection::RetryMs(const Unit& unit) const {
    if (endpoint_.units < 2) return unit.reconnectMs;
    return std::max(unit.reconnectMs, kSilentShare * unit.timeoutMs);
}

void Connection::DropTheRest(int error) {
    if (endpoint_.serial) {
        // The rest of the frame may still be on its way: a whole frame's
        // time at the line's rate (256 characters), then it is dropped.
        const LineSettings& line = endpoint_.line;
        const int32_t bits =
            1 + line.dataBits + (line.parity == Parity::kNone ? 0 : 1) + line.stopBits;
        const int64_t frameUs = int64_t{MODBUS_RTU_MAX_ADU_LENGTH} * bits * 1000000 / line.baud;
        SleepFor(std::chrono::microseconds(std::min<int64_t>(frameUs, 1000000)));
        modbus_flush(context_);
        return;
    }
    if (++garbledInARow_ < 2)
        modbus_flush(context_);
    else
        Lose(error, true, false);
}

void Connection::Lose(int error, bool retryNow, bool away) {
    {
        std::lock_guard<Lock> state(state_);
        // Cleared first: a closing thread never shuts down a number the
        // system has given to another socket meanwhile.
        socket_ = -1;
        connected_ = false;
        garbledInARow_ = 0;
        const Clock::time_point now = Clock::now();
        nextAttempt_ = retryNow ? now : now + std::chrono::milliseconds(endpoint_.reconnectMs);
        lastError_ = error;
        if (away && !away_ && !closing_) {
            away_ = true;
            awaySince_ = now;
            changedAt_ = std::time(nullptr);
            ++losses_;
            awayReason_ = Reason(error);
            Say(label_, std::string(TransportOf(endpoint_).noun) + " lost (" + awayReason_ + ")");
        }
    }
    modbus_close(context_);
}

bool Connection::Post(std::function<void()> job) {
    std::lock_guard<Lock> state(state_);
    if (closing_) return false;
    if (!worker_.running() && !worker_.Start(&Connection::WorkerMain, this)) return false;
    jobs_.push_back(std::move(job));
    work_.NotifyOne();
    return true;
}

void Connection::WorkerMain(void* self) {
    Connection& connection = *static_cast<Connection*>(self);
    std::unique_lock<Lock> state(connection.state_);
    for (;;) {
        connection.work_.Wait(
            state, [&connection] { return connection.closing_ || !connection.jobs_.empty(); });
        if (connection.closing_) return;
        std::function<void()> job = std::move(connection.jobs_.front());
        connection.jobs_.pop_front();
        state.unlock();
        job();
        state.lock();
    }
}

void Connection::Stop() {
    std::lock_guard<Lock> state(state_);
    if (closing_) return;
    closing_ = true;
    jobs_.clear();
    if (socket_ >= 0) ShutDownSocket(socket_);
    work_.NotifyAll();
    turnFreed_.NotifyAll();
}

void Connection::Close() {
    Stop();
    worker_.Join();
    // The worker has ended, and the equipment side lets nobody else in
    // while it closes; a thread of the driver's may still be ending a
    // request on a line, and the turn is waited for.
    std::unique_lock<Lock> state(state_);
    turnFreed_.Wait(state, [this] { return !busy_; });
    if (connected_ && context_ != nullptr) modbus_close(context_);
    connected_ = false;
    socket_ = -1;
}

ConnectionState Connection::State(int32_t unit) const {
    std::lock_guard<Lock> state(state_);
    ConnectionState result;
    result.line = endpoint_.serial;
    const auto found = units_.find(unit);
    const UnitState none;
    const UnitState& seen = found == units_.end() ? none : found->second;
    result.since = std::max(changedAt_, seen.changedAt);
    result.losses = losses_ + seen.losses;
    const auto left = [](Clock::time_point when) {
        const double seconds = std::chrono::duration<double>(when - Clock::now()).count();
        return seconds > 0 ? seconds : 0;
    };
    if (closing_) {
        result.kind = ConnectionState::Kind::kClosed;
    } else if (away_) {
        result.kind = ConnectionState::Kind::kAway;
        result.since = changedAt_;
        result.reason = awayReason_;
        result.nextAttemptSeconds = left(nextAttempt_);
    } else if (!seen.asked) {
        result.kind = ConnectionState::Kind::kNotYet;
    } else if (seen.away) {
        result.kind = ConnectionState::Kind::kAway;
        result.since = seen.changedAt;
        result.reason = seen.reason;
        result.nextAttemptSeconds = left(seen.nextAttempt);
    } else if (everConnected_ && seen.changedAt != 0) {
        result.kind = ConnectionState::Kind::kConnected;
    }
    return result;
}

// Sockets of some systems fail without setting errno, and their C library
// may not know the names of the socket errors: the common reasons are named
// here.
std::string Connection::Reason(int error, int32_t timeoutMs) const {
    const std::string timeout =
        std::to_string(timeoutMs >= 0 ? timeoutMs : endpoint_.timeoutMs) + " ms";
    switch (error) {
        case 0:
            return endpoint_.serial ? "the serial port failed"
                                    : "refused, closed or no answer within " + timeout;
        case ETIMEDOUT:
            return "no answer within " + timeout;
        case ECONNREFUSED:
            return "refused";
        case ECONNRESET:
            return "closed or reset by the device";
        case EMBXGPATH:
            return "the gateway's exception 10 (no path to the unit)";
        case EMBXGTAR:
            return "the gateway's exception 11 (the unit did not respond to it)";
        default:
            return modbus_strerror(error);
    }
}

void Connection::Say(const std::string& label, const std::string& text) const {
    std::fprintf(stderr, "softcard: %s: %s\n", label.c_str(), text.c_str());
    std::fflush(stderr);
}

}  // namespace softcard
