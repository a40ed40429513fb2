// The software card's settings file: which channels speak Modbus TCP or
// Modbus RTU, and for each equipment on them the unit that answers for it.
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
//   connection = shared      ; shared with the other units of host:port, or own
//
//   [channel 2]
//   protocol = modbus-rtu
//   device = /dev/ttyUSB0    ; the serial port (COM3, \\.\COM10 on Windows); required
//   baud = 19200             ; 1200 to 115200, the standard rates
//   parity = even            ; none, even or odd
//   data_bits = 8            ; 7 or 8
//   stop_bits = 1            ; 1 or 2
//   rs485 = off              ; on: the serial driver's RS-485 mode (Linux)
//   rts = none               ; none, up or down: RTS drives the transmitter (Linux)
//   rts_delay = -1           ; us around the frame with RTS; -1: one character's time
//   turnaround = 100         ; ms of quiet after a broadcast, 0 to 10000
//
//   [channel 2 equipment 1]
//   unit = 1                 ; 1 to 247; 0 is the broadcast, written to only
//   timeout, reconnect, word_order as above
//
//   [status]
//   file = softcard-status.txt  ; each device's state, beside this file; off: none
//   period = 5                  ; seconds between rewrites, 1 to 3600
//
// Section names and keys are case-insensitive; ';' and '#' start comments.
// Every key but host and device has the default shown. Units 248 to 254 are
// reserved in Modbus, and libmodbus (3.1.6) refuses to address them: they
// are refused here rather than sent to another unit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace softcard {

enum class WordOrder { kHighFirst, kLowFirst };
enum class Parity { kNone, kEven, kOdd };
enum class Rts { kNone, kUp, kDown };

struct DeviceSettings {
    int32_t channel = 0;
    int32_t equipment = 0;
    std::string host;  // empty on a serial line
    int32_t port = 502;
    int32_t unit = 1;
    int32_t timeoutMs = 1000;
    WordOrder wordOrder = WordOrder::kHighFirst;
    int32_t reconnectMs = 1000;
    // A connection of its own rather than the one that the equipments with
    // the same host and port share (a gateway's).
    bool ownConnection = false;
};

// The unit that Modbus RTU sends to every device of a line, which none answers.
constexpr int32_t kBroadcastUnit = 0;

// A modbus-rtu channel's serial line. 19200 baud, 8 data bits, even parity
// and one stop bit are the Modbus default.
struct LineSettings {
    int32_t channel = 0;
    std::string device;
    int32_t baud = 19200;
    Parity parity = Parity::kEven;
    int32_t dataBits = 8;
    int32_t stopBits = 1;
    bool rs485 = false;
    Rts rts = Rts::kNone;
    int32_t rtsDelayUs = -1;  // -1: the library's, one character's time
    int32_t turnaroundMs = 100;
};

// The letter that libmodbus and the status file give a parity.
char ParityLetter(Parity parity);

// The status file: each device's state for the plant's engineer.
struct StatusSettings {
    std::string file = "softcard-status.txt";  // empty: none; relative to the settings' folder
    int32_t periodSeconds = 5;
};

struct Settings {
    uint32_t channels = 0;            // bit c: channel c speaks Modbus (TCP or RTU)
    std::vector<LineSettings> lines;  // the modbus-rtu channels, in the file's order
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

// The line of a channel, or null when the channel speaks Modbus TCP.
const LineSettings* LineOf(const Settings& settings, int32_t channel);

// The status file's path: its name as the settings give it, taken from the
// settings file's folder unless it is a full path; empty for none.
std::string StatusPath(const std::string& settingsPath, const StatusSettings& status);

}  // namespace softcard
