// The software card's settings file (softcard.ini) with arbitrary contents.
// Whatever the file holds, the parser either refuses it with a line-numbered
// message or gives settings the card can use as they stand; and what it
// accepted, written out again, reads back the same.
#include <cstdint>
#include <string>

#include "lab/card/softcard/settings.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

bool InRange(int32_t value, int32_t low, int32_t high) { return value >= low && value <= high; }

const char* ParityName(softcard::Parity parity) {
    return parity == softcard::Parity::kNone  ? "none"
           : parity == softcard::Parity::kOdd ? "odd"
                                              : "even";
}

const char* RtsName(softcard::Rts rts) {
    return rts == softcard::Rts::kUp ? "up" : rts == softcard::Rts::kDown ? "down" : "none";
}

std::string Write(const softcard::Settings& settings) {
    std::string text;
    for (int32_t channel = 0; channel < 32; ++channel) {
        if ((settings.channels & (1u << channel)) == 0) continue;
        text += "[channel " + std::to_string(channel) + "]\n";
        const softcard::LineSettings* line = softcard::LineOf(settings, channel);
        if (line == nullptr) {
            text += "protocol = modbus-tcp\n";
            continue;
        }
        text += "protocol = modbus-rtu\ndevice = " + line->device +
                "\nbaud = " + std::to_string(line->baud) +
                "\nparity = " + ParityName(line->parity) +
                "\ndata_bits = " + std::to_string(line->dataBits) +
                "\nstop_bits = " + std::to_string(line->stopBits) +
                "\nrs485 = " + (line->rs485 ? "on" : "off") + "\nrts = " + RtsName(line->rts) +
                "\nrts_delay = " + std::to_string(line->rtsDelayUs) +
                "\nturnaround = " + std::to_string(line->turnaroundMs) + "\n";
    }
    for (const softcard::DeviceSettings& d : settings.devices) {
        text += "[channel " + std::to_string(d.channel) + " equipment " +
                std::to_string(d.equipment) + "]\nunit = " + std::to_string(d.unit) +
                "\ntimeout = " + std::to_string(d.timeoutMs) +
                "\nreconnect = " + std::to_string(d.reconnectMs) + "\nword_order = " +
                (d.wordOrder == softcard::WordOrder::kLowFirst ? "low-first" : "high-first") + "\n";
        if (softcard::LineOf(settings, d.channel) == nullptr)
            text += "host = " + d.host + "\nport = " + std::to_string(d.port) +
                    "\nconnection = " + (d.ownConnection ? "own" : "shared") + "\n";
    }
    text += "[status]\nfile = " + (settings.status.file.empty() ? "off" : settings.status.file) +
            "\nperiod = " + std::to_string(settings.status.periodSeconds) + "\n";
    return text;
}

bool SameLine(const softcard::LineSettings& x, const softcard::LineSettings& y) {
    return x.channel == y.channel && x.device == y.device && x.baud == y.baud &&
           x.parity == y.parity && x.dataBits == y.dataBits && x.stopBits == y.stopBits &&
           x.rs485 == y.rs485 && x.rts == y.rts && x.rtsDelayUs == y.rtsDelayUs &&
           x.turnaroundMs == y.turnaroundMs;
}

bool Same(const softcard::Settings& a, const softcard::Settings& b) {
    if (a.channels != b.channels || a.devices.size() != b.devices.size() ||
        a.lines.size() != b.lines.size() || a.status.file != b.status.file ||
        a.status.periodSeconds != b.status.periodSeconds)
        return false;
    for (const softcard::LineSettings& x : a.lines) {
        const softcard::LineSettings* y = softcard::LineOf(b, x.channel);
        if (y == nullptr || !SameLine(x, *y)) return false;
    }
    for (size_t i = 0; i < a.devices.size(); ++i) {
        const softcard::DeviceSettings &x = a.devices[i], &y = b.devices[i];
        if (x.channel != y.channel || x.equipment != y.equipment || x.host != y.host ||
            x.port != y.port || x.unit != y.unit || x.timeoutMs != y.timeoutMs ||
            x.wordOrder != y.wordOrder || x.reconnectMs != y.reconnectMs ||
            x.ownConnection != y.ownConnection)
            return false;
    }
    return true;
}

// A name that reaches the system as a C string: one word of visible
// characters (no zero byte to cut it short), never empty.
void CheckName(const std::string& name) {
    Check(!name.empty());
    for (unsigned char c : name) Check(c > ' ' && c != 0x7F);
}

void CheckLine(const softcard::Settings& settings, size_t i) {
    const softcard::LineSettings& line = settings.lines[i];
    Check(InRange(line.channel, 0, 31) && (settings.channels & (1u << line.channel)) != 0);
    CheckName(line.device);
    const int32_t rates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    bool standard = false;
    for (int32_t rate : rates) standard = standard || rate == line.baud;
    Check(standard);
    Check(InRange(line.dataBits, 7, 8) && InRange(line.stopBits, 1, 2));
    Check(InRange(line.rtsDelayUs, -1, 1000000) && InRange(line.turnaroundMs, 0, 10000));
    // One line, one channel: two channels on one port would interleave frames.
    for (size_t j = 0; j < i; ++j)
        Check(settings.lines[j].channel != line.channel && settings.lines[j].device != line.device);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    softcard::Settings settings;
    std::string error;
    if (!softcard::ParseSettings(text, &settings, &error)) {
        // A refusal always says what is wrong, and where when it is one line.
        Check(!error.empty());
        Check(error.compare(0, 5, "line ") == 0 || error.compare(0, 9, "[channel ") == 0);
        return 0;
    }
    Check(error.empty());
    Check(InRange(settings.status.periodSeconds, 1, 3600));
    for (size_t i = 0; i < settings.lines.size(); ++i) CheckLine(settings, i);
    for (size_t i = 0; i < settings.devices.size(); ++i) {
        const softcard::DeviceSettings& d = settings.devices[i];
        Check(InRange(d.channel, 0, 31) && InRange(d.equipment, 0, 255));
        Check((settings.channels & (1u << d.channel)) != 0);
        if (softcard::LineOf(settings, d.channel) != nullptr) {
            // On a line a unit is 1 to 247, or the broadcast.
            Check(d.host.empty() && InRange(d.unit, 0, 247));
        } else {
            CheckName(d.host);
            // Units 248 to 254 would reach another unit: the library refuses them.
            Check(InRange(d.port, 1, 65535) && (InRange(d.unit, 0, 247) || d.unit == 255));
        }
        Check(InRange(d.timeoutMs, 1, 60000) && InRange(d.reconnectMs, 0, 600000));
        for (size_t j = 0; j < i; ++j)
            Check(settings.devices[j].channel != d.channel ||
                  settings.devices[j].equipment != d.equipment);
    }
    softcard::Settings again;
    std::string againError;
    Check(softcard::ParseSettings(Write(settings), &again, &againError));
    Check(Same(settings, again));
    return 0;
}
