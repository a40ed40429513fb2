#include "lab/card/softcard/connection.h"

#include <cstdio>
#include <utility>

namespace softcard {

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

// Sockets of some systems fail without setting errno: what is neither an
// answer nor a timeout is a broken connection.
bool Connection::Broken(int error) { return error != ETIMEDOUT && !Garbled(error); }

bool Connection::TakeTurn(int* error) {
    std::unique_lock<Lock> state(state_);
    for (;;) {
        if (closing_) return false;
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

bool Connection::Ready(int32_t unit, int* error) {
    if (!connected_ && !Connect(error)) return false;
    // The settings allow only units the library sends.
    if (modbus_set_slave(context_, unit) == 0) return true;
    *error = errno;
    return false;
}

bool Connection::Connect(int* error) {
    const Clock::time_point now = Clock::now();
    {
        std::lock_guard<Lock> state(state_);
        if (closing_) return false;
        if (now < nextAttempt_) {
            *error = lastError_;
            return false;
        }
        connecting_ = true;
        // Who waits for the turn answers at once now, when the device is away.
        if (away_) turnFreed_.NotifyAll();
    }
    if (context_ == nullptr) {
        const std::string port = std::to_string(endpoint_.port);
        context_ = modbus_new_tcp_pi(endpoint_.host.c_str(), port.c_str());
        if (context_ != nullptr) {
            const uint32_t seconds = static_cast<uint32_t>(endpoint_.timeoutMs / 1000);
            const uint32_t micros = static_cast<uint32_t>(endpoint_.timeoutMs % 1000) * 1000;
            modbus_set_response_timeout(context_, seconds, micros);
            modbus_set_byte_timeout(context_, seconds, micros);
        }
    }
    errno = 0;
    const int result = context_ == nullptr ? -1 : modbus_connect(context_);
    *error = errno;
    std::lock_guard<Lock> state(state_);
    connecting_ = false;
    if (result == -1) {
        if (context_ == nullptr) {
            Say(std::string("cannot be set up: ") + modbus_strerror(*error));
        } else if (!away_ && !closing_) {
            away_ = true;
            awaySince_ = now;
            changedAt_ = std::time(nullptr);
            ++losses_;
            Say("no connection (" + Reason(*error) +
                "); its requests answer status 70 until it answers");
        }
        lastError_ = *error;
        nextAttempt_ = Clock::now() + std::chrono::milliseconds(endpoint_.reconnectMs);
        return false;
    }
    connected_ = true;
    socket_ = modbus_get_socket(context_);
    garbledInARow_ = 0;
    if (away_) {
        const double seconds = std::chrono::duration<double>(Clock::now() - awaySince_).count();
        char text[64];
        std::snprintf(text, sizeof text, "connected again after %.1f s", seconds);
        Say(text);
    } else if (!everConnected_) {
        Say("connected");
    }
    away_ = false;
    everConnected_ = true;
    changedAt_ = std::time(nullptr);
    return true;
}

bool Connection::Again(int result, int attempt, Clock::time_point start, DeviceStats& stats,
                       int* error, int16_t* status) {
    const auto micros = [start] {
        return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    };
    if (result >= 0) {
        stats.Answered(micros());
        garbledInARow_ = 0;
        *status = 0;
        return false;
    }
    *status = kStatusRemote;
    if (IsException(*error)) {
        stats.Answered(micros());
        garbledInARow_ = 0;
        *status = ExceptionStatus(*error);
        return false;
    }
    if (Garbled(*error)) {
        stats.Answered(micros());
        if (++garbledInARow_ < 2)
            modbus_flush(context_);
        else
            Lose(*error, true, false);
        return false;
    }
    // A broken connection is made again at once, and the request repeated
    // once; a silent device waits its reconnect time.
    const bool broken = Broken(*error);
    Lose(*error, broken && attempt == 0, true);
    return broken && attempt == 0;
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
            Say("connection lost (" + Reason(error) + ")");
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
    // No thread uses the context now: the worker has ended, and the
    // equipment side lets nobody else in while it closes.
    std::lock_guard<Lock> state(state_);
    if (connected_ && context_ != nullptr) modbus_close(context_);
    connected_ = false;
    socket_ = -1;
}

ConnectionState Connection::State() const {
    std::lock_guard<Lock> state(state_);
    ConnectionState result;
    result.since = changedAt_;
    result.losses = losses_;
    if (closing_) {
        result.kind = ConnectionState::Kind::kClosed;
    } else if (connected_) {
        result.kind = ConnectionState::Kind::kConnected;
    } else if (away_) {
        result.kind = ConnectionState::Kind::kAway;
        result.reason = Reason(lastError_);
        const double left = std::chrono::duration<double>(nextAttempt_ - Clock::now()).count();
        result.nextAttemptSeconds = left > 0 ? left : 0;
    }
    return result;
}

// Sockets of some systems fail without setting errno, and their C library
// may not know the names of the socket errors: the common reasons are named
// here.
std::string Connection::Reason(int error) const {
    const std::string timeout = std::to_string(endpoint_.timeoutMs) + " ms";
    switch (error) {
        case 0:
            return "refused, closed or no answer within " + timeout;
        case ETIMEDOUT:
            return "no answer within " + timeout;
        case ECONNREFUSED:
            return "refused";
        case ECONNRESET:
            return "closed or reset by the device";
        default:
            return modbus_strerror(error);
    }
}

void Connection::Say(const std::string& text) const {
    std::fprintf(stderr, "softcard: %s: %s\n", label_.c_str(), text.c_str());
    std::fflush(stderr);
}

}  // namespace softcard
