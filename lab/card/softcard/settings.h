// The software card's settings file: which channels speak Modbus TCP, and
// for each equipment on them the device that answers for it.
//
//   [channel 0]
//   protocol = modbus-tcp
//
//   [channel 0 equipment 1]
//   host = 192.0.2.10        ; name or address of the device (or gateway)
//   port = 502               ; 1 to 65535
//   unit = 1                 ; unit identifier, 0 to 247 or 255
//   timeout = 1000           ; ms to wait for a connection or an answer, 1 to 60000
//   word_order = high-first  ; 32-bit values: high-first or low-first
//   reconnect = 1000         ; ms between attempts while a device is away, 0 to 600000
//
//   [status]
//   file = softcard-status.txt  ; each device's state, beside this file; off: none
//   period = 5                  ; seconds between rewrites, 1 to 3600
//
// Section names and keys are case-insensitive; ';' and '#' start comments.
// Every key but host has the default shown. Units 248 to 254 are reserved
// in Modbus, and libmodbus (3.1.6) refuses to address them over TCP: they
// are refused here rather than sent to another unit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace softcard {

enum class WordOrder { kHighFirst, kLowFirst };

struct DeviceSettings {
    int32_t channel = 0;
    int32_t equipment = 0;
    std::string host;
    int32_t port = 502;
    int32_t unit = 1;
    int32_t timeoutMs = 1000;
    WordOrder wordOrder = WordOrder::kHighFirst;
    int32_t reconnectMs = 1000;
};

// The status file: each device's state for the plant's engineer.
struct StatusSettings {
    std::string file = "softcard-status.txt";  // empty: none; relative to the settings' folder
    int32_t periodSeconds = 5;
};

struct Settings {
    uint32_t channels = 0;  // bit c: channel c speaks Modbus TCP
    std::vector<DeviceSettings> devices;
    StatusSettings status;
};

// The file's name beside the library, and the variable that names another.
constexpr const char* kSettingsFileName = "softcard.ini";
constexpr const char* kSettingsVariable = "SOFTCARD_INI";

// Reads settings from the text of a file. On a mistake answers false, with
// "line N: what is wrong" in error.
bool ParseSettings(const std::string& text, Settings* settings, std::string* error);

// The settings file in use: the one $SOFTCARD_INI names, else softcard.ini in
// folder (the library's).
std::string SettingsPath(const std::string& folder);

// Reads and parses the file; on failure error says "PATH: what is wrong".
bool LoadSettings(const std::string& path, Settings* settings, std::string* error);

// The status file's path: its name as the settings give it, taken from the
// settings file's folder unless it is a full path; empty for none.
std::string StatusPath(const std::string& settingsPath, const StatusSettings& status);

}  // namespace softcard
