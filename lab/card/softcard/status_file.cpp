#include "lab/card/softcard/status_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <utility>

namespace softcard {
namespace {

std::string DateAndTime(std::time_t moment) {
    const std::tm local = LocalTime(moment);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// The time of day, and the date too when it is not today's.
std::string TimeOf(std::time_t moment, std::time_t now) {
    const std::tm local = LocalTime(moment);
    const std::tm today = LocalTime(now);
    if (local.tm_year != today.tm_year || local.tm_yday != today.tm_yday)
        return DateAndTime(moment);
    char text[32];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

std::string Duration(std::time_t from, std::time_t to) {
    const long long seconds = to > from ? static_cast<long long>(to - from) : 0;
    const auto two = [](long long big, const char* bigUnit, long long small,
                        const char* smallUnit) {
        return std::to_string(big) + bigUnit + " " + std::to_string(small) + smallUnit;
    };
    if (seconds < 60) return std::to_string(seconds) + " s";
    if (seconds < 3600) return two(seconds / 60, " min", seconds % 60, " s");
    if (seconds < 86400) return two(seconds / 3600, " h", seconds / 60 % 60, " min");
    return two(seconds / 86400, " d", seconds / 3600 % 24, " h");
}

std::string Fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Name(const DeviceView& device) {
    return "channel " + std::to_string(device.channel) + " equipment " +
           std::to_string(device.equipment);
}

// "310: 300 ok, 10 status 70", or named "310 requests: ..."
std::string Statuses(int64_t total, const std::map<int16_t, int64_t>& byStatus, bool named) {
    std::string text = std::to_string(total);
    if (named) text += total == 1 ? " request" : " requests";
    if (total == 0) return text;
    const char* separator = ": ";
    const auto ok = byStatus.find(0);
    if (ok != byStatus.end()) {
        text += separator + std::to_string(ok->second) + " ok";
        separator = ", ";
    }
    for (const auto& [status, n] : byStatus) {
        if (status == 0) continue;
        text += separator + std::to_string(n) + " status " + std::to_string(status);
        separator = ", ";
    }
    return text;
}

std::string StateLine(const DeviceView& device, std::time_t now) {
    const ConnectionState& state = device.connection;
    const std::string since =
        " since " + TimeOf(state.since, now) + " (" + Duration(state.since, now) + ")";
    std::string text;
    switch (state.kind) {
        case ConnectionState::Kind::kNotYet:
            return "not connected yet: no request has needed it";
        case ConnectionState::Kind::kConnected:
            text = "connected" + since;
            break;
        case ConnectionState::Kind::kAway:
            text = "away" + since + ": " + state.reason + "; next attempt " +
                   (state.nextAttemptSeconds > 0 ? "in " + Fixed(state.nextAttemptSeconds, 1) + " s"
                                                 : std::string("with the next request"));
            break;
        case ConnectionState::Kind::kClosed:
            return "closed (exitbus)";
    }
    if (state.losses > 0)
        text += "; away " + std::to_string(state.losses) +
                (state.losses == 1 ? " time" : " times") + " in all";
    return text;
}

void DeviceBlock(const DeviceView& device, std::time_t now, std::string* out) {
    const DeviceStats::Snapshot& stats = device.stats;
    *out += "\n" + Name(device) + ": " + device.endpoint + " unit " + std::to_string(device.unit) +
            "\n";
    *out += "  state       " + StateLine(device, now) + "\n";
    if (device.sharedWith > 0)
        *out += "  shares      its " +
                std::string(device.connection.line ? "line" : "TCP connection") + " with " +
                std::to_string(device.sharedWith) +
                (device.sharedWith == 1 ? " other equipment\n" : " other equipments\n");
    *out += "  requests    " + Statuses(stats.polls + stats.requests, stats.byStatus, false) +
            " (" + std::to_string(stats.polls) + " cyclic polls, " +
            std::to_string(stats.requests) + " on demand)\n";
    *out += "  latency     ";
    if (stats.samples == 0)
        *out += "no answer yet\n";
    else
        *out += "median " + Fixed(stats.medianMs, 2) + " ms, 99th percentile " +
                Fixed(stats.p99Ms, 2) + " ms (the last " + std::to_string(stats.samples) +
                " answers)\n";
    *out += "  last error  ";
    if (stats.lastError.empty())
        *out += "none\n";
    else
        *out += TimeOf(stats.lastErrorAt, now) + " " + stats.lastError + "\n";
    if (device.maskWriteRefused)
        *out +=
            "  note        the device has no mask write (function 22): lone bytes are read"
            " and written back whole (3, then 6), not atomically\n";
}

}  // namespace

std::string SummaryLine(const CardView& card) {
    int32_t connected = 0, away = 0;
    std::string awayNames;
    int64_t total = 0;
    std::map<int16_t, int64_t> byStatus;
    for (const DeviceView& device : card.devices) {
        if (device.connection.kind == ConnectionState::Kind::kConnected) ++connected;
        if (device.connection.kind == ConnectionState::Kind::kAway) {
            if (++away <= 3) awayNames += (awayNames.empty() ? "" : ", ") + Name(device);
        }
        total += device.stats.polls + device.stats.requests;
        for (const auto& [status, n] : device.stats.byStatus) byStatus[status] += n;
    }
    const size_t n = card.devices.size();
    std::string text = std::to_string(n) + (n == 1 ? " device: " : " devices: ") +
                       std::to_string(connected) + " connected, " + std::to_string(away) + " away";
    if (away > 0) text += " (" + awayNames + (away > 3 ? ", ..." : "") + ")";
    return text + "; " + Statuses(total, byStatus, true);
}

std::string StatusText(const CardView& card) {
    std::string text = "softcard status " + DateAndTime(card.now) + ", rewritten every " +
                       std::to_string(card.periodSeconds) + " s while the card is open\n";
    text += "settings    " + card.settingsPath + "\n";
    text += "card        open since " + TimeOf(card.openedAt, card.now);
    if (card.closedAt != 0) text += ", closed (exitbus) at " + TimeOf(card.closedAt, card.now);
    text += "\n";
    // Before the devices' states are taken apart: the state at exitbus.
    text += "devices     " + SummaryLine(card) + "\n";
    for (const DeviceView& device : card.devices) DeviceBlock(device, card.now, &text);
    return text;
}

void StatusWriter::Start(const std::string& path, int32_t periodSeconds,
                         std::function<std::string()> compose) {
    Stop();
    path_ = path;
    periodSeconds_ = periodSeconds;
    compose_ = std::move(compose);
    {
        std::lock_guard<Lock> guard(lock_);
        stop_ = false;
    }
    thread_.Start(&StatusWriter::Main, this);
}

void StatusWriter::Stop() {
    {
        std::lock_guard<Lock> guard(lock_);
        stop_ = true;
        wake_.NotifyAll();
    }
    thread_.Join();
}

void StatusWriter::Main(void* self) {
    StatusWriter& writer = *static_cast<StatusWriter*>(self);
    std::unique_lock<Lock> guard(writer.lock_);
    while (!writer.stop_) {
        guard.unlock();
        writer.Write(writer.compose_());
        guard.lock();
        writer.wake_.WaitFor(guard, std::chrono::seconds(writer.periodSeconds_),
                             [&writer] { return writer.stop_; });
    }
}

std::string StatusWriter::Write(const std::string& text) {
    const std::string temporary = path_ + ".new";
    std::string problem;
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << text;
        file.close();
        if (!file) problem = "cannot be written (" + std::string(std::strerror(errno)) + ")";
    }
    // A reader that holds the file unshared keeps it from being replaced:
    // then it is written over in place.
    if (problem.empty() && !ReplaceFile(temporary, path_)) {
        std::remove(temporary.c_str());
        std::ofstream file(path_, std::ios::binary | std::ios::trunc);
        file << text;
        file.close();
        if (!file) problem = "cannot be replaced (" + std::string(std::strerror(errno)) + ")";
    }
    std::lock_guard<Lock> guard(lock_);
    if (problem != lastProblem_) {
        std::fprintf(stderr, "softcard: status file %s: %s\n", path_.c_str(),
                     problem.empty() ? "written again" : problem.c_str());
        std::fflush(stderr);
        lastProblem_ = problem;
    }
    return problem;
}

}  // namespace softcard
