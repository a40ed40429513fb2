#include "lab/card/softcard/link.h"

#include <cerrno>
#include <cstdio>

namespace softcard {

Link::~Link() {
    if (context_ == nullptr) return;
    modbus_close(context_);
    modbus_free(context_);
}

bool Link::IsException(int error) { return error >= EMBXILFUN && error <= EMBXGTAR; }

int16_t Link::ExceptionStatus(int error) {
    switch (error) {
        case EMBXILFUN:  // the device has no such function or table
        case EMBXILADD:  // no such address
        case EMBXILVAL:  // a value it does not take
            return kStatusRefused;
        default:  // device failure, acknowledge, busy, parity, gateway path or target
            return kStatusRemote;
    }
}

bool Link::Broken(int error) {
    switch (error) {
        case ETIMEDOUT:
        case EMBBADCRC:
        case EMBBADDATA:
        case EMBBADEXC:
        case EMBUNKEXC:
        case EMBMDATA:
        case EMBBADSLAVE:
            return false;
        default:
            return true;
    }
}

bool Link::Connect(std::unique_lock<std::mutex>& lock) {
    if (connecting_) {
        if (away_) return false;
        connectionSettled_.wait(lock, [this] { return !connecting_; });
        return connected_;
    }
    const Clock::time_point now = Clock::now();
    if (now < nextAttempt_) return false;
    if (context_ == nullptr) {
        const std::string port = std::to_string(settings_.port);
        context_ = modbus_new_tcp_pi(settings_.host.c_str(), port.c_str());
        if (context_ == nullptr) {
            Say(std::string("cannot be set up: ") + modbus_strerror(errno));
            nextAttempt_ = now + std::chrono::milliseconds(settings_.reconnectMs);
            return false;
        }
        const uint32_t seconds = static_cast<uint32_t>(settings_.timeoutMs / 1000);
        const uint32_t micros = static_cast<uint32_t>(settings_.timeoutMs % 1000) * 1000;
        modbus_set_slave(context_, settings_.unit);
        modbus_set_response_timeout(context_, seconds, micros);
        modbus_set_byte_timeout(context_, seconds, micros);
    }
    connecting_ = true;
    lock.unlock();
    errno = 0;
    const int result = modbus_connect(context_);
    const int error = errno;
    lock.lock();
    connecting_ = false;
    connectionSettled_.notify_all();
    if (result == -1) {
        if (!away_) {
            away_ = true;
            awaySince_ = now;
            Say("no connection (" + Reason(error) +
                "); its requests answer status 70 until it answers");
        }
        nextAttempt_ = Clock::now() + std::chrono::milliseconds(settings_.reconnectMs);
        return false;
    }
    connected_ = true;
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
    return true;
}

void Link::Lose(int error, bool retryNow) {
    modbus_close(context_);
    connected_ = false;
    const Clock::time_point now = Clock::now();
    nextAttempt_ = retryNow ? now : now + std::chrono::milliseconds(settings_.reconnectMs);
    if (away_) return;
    away_ = true;
    awaySince_ = now;
    Say("connection lost (" + Reason(error) + ")");
}

// Sockets of some systems fail without setting errno, and their C library
// may not know the names of the socket errors: the common reasons are named
// here.
std::string Link::Reason(int error) const {
    const std::string timeout = std::to_string(settings_.timeoutMs) + " ms";
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

void Link::Say(const std::string& text) const {
    std::fprintf(stderr, "softcard: channel %d equipment %d (%s:%d unit %d): %s\n",
                 settings_.channel, settings_.equipment, settings_.host.c_str(), settings_.port,
                 settings_.unit, text.c_str());
    std::fflush(stderr);
}

}  // namespace softcard
