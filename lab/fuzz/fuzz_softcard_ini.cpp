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

std::string Write(const softcard::Settings& settings) {
    std::string text;
    for (int32_t channel = 0; channel < 32; ++channel)
        if (settings.channels & (1u << channel))
            text += "[channel " + std::to_string(channel) + "]\nprotocol = modbus-tcp\n";
    for (const softcard::DeviceSettings& d : settings.devices) {
        text += "[channel " + std::to_string(d.channel) + " equipment " +
                std::to_string(d.equipment) + "]\nhost = " + d.host +
                "\nport = " + std::to_string(d.port) + "\nunit = " + std::to_string(d.unit) +
                "\ntimeout = " + std::to_string(d.timeoutMs) +
                "\nreconnect = " + std::to_string(d.reconnectMs) + "\nword_order = " +
                (d.wordOrder == softcard::WordOrder::kLowFirst ? "low-first" : "high-first") + "\n";
    }
    text += "[status]\nfile = " + (settings.status.file.empty() ? "off" : settings.status.file) +
            "\nperiod = " + std::to_string(settings.status.periodSeconds) + "\n";
    return text;
}

bool Same(const softcard::Settings& a, const softcard::Settings& b) {
    if (a.channels != b.channels || a.devices.size() != b.devices.size() ||
        a.status.file != b.status.file || a.status.periodSeconds != b.status.periodSeconds)
        return false;
    for (size_t i = 0; i < a.devices.size(); ++i) {
        const softcard::DeviceSettings &x = a.devices[i], &y = b.devices[i];
        if (x.channel != y.channel || x.equipment != y.equipment || x.host != y.host ||
            x.port != y.port || x.unit != y.unit || x.timeoutMs != y.timeoutMs ||
            x.wordOrder != y.wordOrder || x.reconnectMs != y.reconnectMs)
            return false;
    }
    return true;
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
    for (size_t i = 0; i < settings.devices.size(); ++i) {
        const softcard::DeviceSettings& d = settings.devices[i];
        Check(InRange(d.channel, 0, 31) && InRange(d.equipment, 0, 255));
        Check((settings.channels & (1u << d.channel)) != 0);
        // The host goes to the resolver as it stands: one word of visible
        // characters (no zero byte to cut it short), never empty.
        Check(!d.host.empty());
        for (unsigned char c : d.host) Check(c > ' ' && c != 0x7F);
        // Units 248 to 254 would reach another unit: the library refuses them.
        Check(InRange(d.port, 1, 65535) && (InRange(d.unit, 0, 247) || d.unit == 255));
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
