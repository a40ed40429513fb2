#include "lab/card/softcard/settings.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <utility>

namespace softcard {
namespace {

constexpr int32_t kChannels = 32;
constexpr int32_t kEquipments = 256;

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return std::string();
    const size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A whole decimal number from low to high, or false.
bool Number(const std::string& text, int32_t low, int32_t high, int32_t* value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    const int32_t number = std::atoi(text.c_str());
    if (number < low || number > high) return false;
    *value = number;
    return true;
}

// One of the words a key takes (text already in lower case), as its value,
// or false.
template <typename T, size_t N>
bool Word(const std::string& text, const std::pair<const char*, T> (&words)[N], T* value) {
    for (const std::pair<const char*, T>& word : words) {
        if (text == word.first) {
            *value = word.second;
            return true;
        }
    }
    return false;
}

constexpr std::pair<const char*, Parity> kParities[] = {
    {"none", Parity::kNone}, {"even", Parity::kEven}, {"odd", Parity::kOdd}};
constexpr std::pair<const char*, Rts> kRtsModes[] = {
    {"none", Rts::kNone}, {"up", Rts::kUp}, {"down", Rts::kDown}};
constexpr std::pair<const char*, WordOrder> kWordOrders[] = {{"high-first", WordOrder::kHighFirst},
                                                             {"low-first", WordOrder::kLowFirst}};
constexpr std::pair<const char*, bool> kOnOff[] = {{"on", true}, {"off", false}};
constexpr std::pair<const char*, bool> kOwnConnection[] = {{"own", true}, {"shared", false}};

// The highest unit of the Modbus address range, and the broadcast-free
// value that TCP devices take as "the device itself".
constexpr int32_t kHighestUnit = 247;
constexpr int32_t kTcpUnit = 255;

// The [status] section.
constexpr int32_t kStatusSection = -2;

// "[channel C]", "[channel C equipment E]" or "[status]", blanks between the
// words; [status] sets *channel to kStatusSection.
bool Section(const std::string& inside, int32_t* channel, int32_t* equipment) {
    std::istringstream words(Lower(inside));
    std::string word, channelText, word2, equipmentText, rest;
    words >> word >> channelText >> word2 >> equipmentText >> rest;
    *equipment = -1;
    if (word == "status" && channelText.empty()) {
        *channel = kStatusSection;
        return true;
    }
    if (word != "channel" || !Number(channelText, 0, kChannels - 1, channel) || !rest.empty())
        return false;
    if (word2.empty() && equipmentText.empty()) return true;
    return word2 == "equipment" && Number(equipmentText, 0, kEquipments - 1, equipment);
}

class Parser {
public:
    explicit Parser(Settings* settings) : settings_(settings) {}

    bool Line(const std::string& raw) {
        std::string line = raw.substr(0, raw.find_first_of(";#"));
        line = Trim(line);
        if (line.empty()) return true;
        if (line.front() == '[') return StartSection(line);
        const size_t equals = line.find('=');
        if (equals == std::string::npos) return Fail("expected 'key = value' or a [section]");
        const std::string key = Lower(Trim(line.substr(0, equals)));
        const std::string value = Trim(line.substr(equals + 1));
        if (channel_ == kStatusSection) return StatusKey(key, value);
        if (channel_ < 0) return Fail("'" + key + "' outside a [channel] section");
        return equipment_ < 0 ? ChannelKey(key, value) : DeviceKey(key, value);
    }

    bool Finish() {
        line_ = 0;
        for (const auto& [channel, given] : lineKeys_)
            if (LineOf(*settings_, channel) == nullptr)
                return Fail("[channel " + std::to_string(channel) + "]: '" + given +
                            "' is a key of a modbus-rtu channel, and the channel has no"
                            " 'protocol = modbus-rtu'");
        for (const LineSettings& line : settings_->lines) {
            const std::string name = "[channel " + std::to_string(line.channel) + "]";
            if (line.device.empty()) return Fail(name + " has no device (its serial port)");
            for (const LineSettings& other : settings_->lines)
                if (other.channel < line.channel && other.device == line.device)
                    return Fail(name + ": device " + line.device + " is the line of channel " +
                                std::to_string(other.channel) + " (one line, one channel)");
        }
        for (size_t i = 0; i < settings_->devices.size(); ++i)
            if (!FinishDevice(settings_->devices[i], i)) return false;
        return true;
    }

    void NextLine() { ++line_; }
    const std::string& error() const { return error_; }

private:
    bool Fail(const std::string& what) {
        error_ = line_ > 0 ? "line " + std::to_string(line_) + ": " + what : what;
        return false;
    }

    bool FinishDevice(const DeviceSettings& device, size_t index) {
        const std::string name = "[channel " + std::to_string(device.channel) + " equipment " +
                                 std::to_string(device.equipment) + "]";
        if ((settings_->channels & (1u << device.channel)) == 0)
            return Fail(name + ": channel " + std::to_string(device.channel) +
                        " has no 'protocol = modbus-tcp' or 'protocol = modbus-rtu'");
        const auto tcpKey = tcpKeys_.find(index);
        if (LineOf(*settings_, device.channel) == nullptr) {
            if (device.host.empty()) return Fail(name + " has no host");
            return true;
        }
        if (tcpKey != tcpKeys_.end())
            return Fail(name + ": '" + tcpKey->second +
                        "' is a key of a modbus-tcp equipment; on a serial line an equipment"
                        " has unit, timeout, reconnect, word_order");
        // 255 is a TCP device's "the device itself"; a line has no such unit.
        if (device.unit > kHighestUnit)
            return Fail(name + ": unit " + std::to_string(device.unit) +
                        " on a serial line: 1 to 247, or 0 for the broadcast");
        return true;
    }

    bool StartSection(const std::string& line) {
        if (line.back() != ']') return Fail("a section ends with ']'");
        int32_t channel = -1, equipment = -1;
        if (!Section(line.substr(1, line.size() - 2), &channel, &equipment))
            return Fail("unknown section " + line +
                        " (use [channel C], [channel C equipment E], C 0 to 31, E 0 to 255,"
                        " or [status])");
        const int32_t key = channel * kEquipments + equipment;
        if (std::find(seen_.begin(), seen_.end(), key) != seen_.end())
            return Fail("section " + line + " given twice");
        seen_.push_back(key);
        channel_ = channel;
        equipment_ = equipment;
        if (equipment < 0) pendingLine_ = LineSettings{};
        if (equipment >= 0) {
            settings_->devices.emplace_back();
            settings_->devices.back().channel = channel;
            settings_->devices.back().equipment = equipment;
        }
        return true;
    }

    bool ChannelKey(const std::string& key, const std::string& value) {
        if (key == "protocol") {
            const std::string protocol = Lower(value);
            if (protocol == "modbus-rtu") {
                MakeLine();
            } else if (protocol != "modbus-tcp") {
                return Fail("protocol '" + value + "': modbus-tcp or modbus-rtu");
            }
            settings_->channels |= 1u << channel_;
            return true;
        }
        if (!LineKey(key, value)) return false;
        lineKeys_.emplace(channel_, key);
        return true;
    }

    // The channel's line, made when its protocol says modbus-rtu; the keys
    // given before the protocol are kept until then.
    void MakeLine() {
        for (LineSettings& line : settings_->lines)
            if (line.channel == channel_) return;
        pendingLine_.channel = channel_;
        settings_->lines.push_back(pendingLine_);
    }

    LineSettings& CurrentLine() {
        for (LineSettings& line : settings_->lines)
            if (line.channel == channel_) return line;
        return pendingLine_;
    }

    bool LineKey(const std::string& key, const std::string& value) {
        LineSettings& line = CurrentLine();
        const std::string lower = Lower(value);
        if (key == "device") {
            // One word without control characters: the name reaches the
            // system as a C string, where a zero byte would cut it short.
            const bool visible = std::all_of(value.begin(), value.end(),
                                             [](unsigned char c) { return c > ' ' && c != 0x7F; });
            if (value.empty() || !visible)
                return Fail("device '" + value + "' is not a serial port's name");
            line.device = value;
        } else if (key == "baud") {
            static const int32_t kRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
            int32_t baud = 0;
            if (!Number(value, 1, 115200, &baud) ||
                std::find(std::begin(kRates), std::end(kRates), baud) == std::end(kRates))
                return Fail("baud " + value +
                            ": 1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200");
            line.baud = baud;
        } else if (key == "parity") {
            if (!Word(lower, kParities, &line.parity)) return Fail("parity none, even or odd");
        } else if (key == "data_bits") {
            if (!Number(value, 7, 8, &line.dataBits)) return Fail("data_bits 7 or 8");
        } else if (key == "stop_bits") {
            if (!Number(value, 1, 2, &line.stopBits)) return Fail("stop_bits 1 or 2");
        } else if (key == "rs485") {
            if (!Word(lower, kOnOff, &line.rs485)) return Fail("rs485 on or off");
        } else if (key == "rts") {
            if (!Word(lower, kRtsModes, &line.rts)) return Fail("rts none, up or down");
        } else if (key == "rts_delay") {
            if (value == "-1")
                line.rtsDelayUs = -1;
            else if (!Number(value, 0, 1000000, &line.rtsDelayUs))
                return Fail("rts_delay 0 to 1000000 (microseconds), or -1");
        } else if (key == "turnaround") {
            if (!Number(value, 0, 10000, &line.turnaroundMs))
                return Fail("turnaround 0 to 10000 (milliseconds)");
        } else {
            return Fail("unknown key '" + key +
                        "' (a channel has: protocol; a modbus-rtu channel also device, baud,"
                        " parity, data_bits, stop_bits, rs485, rts, rts_delay, turnaround)");
        }
        return true;
    }

    bool DeviceKey(const std::string& key, const std::string& value) {
        DeviceSettings& device = settings_->devices.back();
        if (key == "host") {
            // One word of visible characters: the name reaches the resolver as
            // a C string, where a zero byte would cut it to another host's name.
            const bool visible = std::all_of(value.begin(), value.end(),
                                             [](unsigned char c) { return c > ' ' && c != 0x7F; });
            if (value.empty() || !visible)
                return Fail("host '" + value + "' is not a name or an address");
            device.host = value;
            TcpKey(key);
        } else if (key == "port") {
            if (!Number(value, 1, 65535, &device.port)) return Fail("port 1 to 65535");
            TcpKey(key);
        } else if (key == "connection") {
            if (!Word(Lower(value), kOwnConnection, &device.ownConnection))
                return Fail("connection shared or own");
            TcpKey(key);
        } else if (key == "unit") {
            int32_t unit = -1;
            if (!Number(value, 0, kTcpUnit, &unit) || (unit > kHighestUnit && unit != kTcpUnit))
                return Fail("unit " + value +
                            ": 0 to 247, or 255 over TCP (248 to 254 are reserved in Modbus, and"
                            " the Modbus library refuses to address them)");
            device.unit = unit;
        } else if (key == "timeout") {
            if (!Number(value, 1, 60000, &device.timeoutMs))
                return Fail("timeout 1 to 60000 (milliseconds)");
        } else if (key == "reconnect") {
            if (!Number(value, 0, 600000, &device.reconnectMs))
                return Fail("reconnect 0 to 600000 (milliseconds)");
        } else if (key == "word_order") {
            if (!Word(Lower(value), kWordOrders, &device.wordOrder))
                return Fail("word_order high-first or low-first");
        } else {
            return Fail("unknown key '" + key +
                        "' (an equipment has: host, port, unit, timeout, word_order, reconnect,"
                        " connection)");
        }
        return true;
    }

    bool StatusKey(const std::string& key, const std::string& value) {
        StatusSettings& status = settings_->status;
        if (key == "file") {
            // No control characters: a zero byte would cut the name short.
            const bool printable = std::all_of(
                value.begin(), value.end(), [](unsigned char c) { return c >= ' ' && c != 0x7F; });
            if (value.empty() || !printable) return Fail("file: a file name, or off");
            status.file = Lower(value) == "off" ? std::string() : value;
        } else if (key == "period") {
            if (!Number(value, 1, 3600, &status.periodSeconds))
                return Fail("period 1 to 3600 (seconds)");
        } else {
            return Fail("unknown key '" + key + "' (the status has: file, period)");
        }
        return true;
    }

    // The first key of a Modbus TCP equipment that each equipment was given
    // (by its index), for the check that its channel is no serial line.
    void TcpKey(const std::string& key) { tcpKeys_.emplace(settings_->devices.size() - 1, key); }

    Settings* settings_;
    // A line's keys given before its channel's protocol, and which they were.
    LineSettings pendingLine_;
    std::map<int32_t, std::string> lineKeys_;
    std::map<size_t, std::string> tcpKeys_;
    int32_t line_ = 0;
    int32_t channel_ = -1;
    int32_t equipment_ = -1;
    std::vector<int32_t> seen_;
    std::string error_;
};

}  // namespace

bool ParseSettings(const std::string& text, Settings* settings, std::string* error) {
    *settings = Settings{};
    Parser parser(settings);
    // A byte order mark, as some editors write one, is not part of the first line.
    const bool mark = text.compare(0, 3, "\xEF\xBB\xBF") == 0;
    std::istringstream lines(mark ? text.substr(3) : text);
    std::string line;
    while (std::getline(lines, line)) {
        parser.NextLine();
        if (!parser.Line(line)) {
            *error = parser.error();
            return false;
        }
    }
    if (!parser.Finish()) {
        *error = parser.error();
        return false;
    }
    return true;
}

const LineSettings* LineOf(const Settings& settings, int32_t channel) {
    for (const LineSettings& line : settings.lines)
        if (line.channel == channel) return &line;
    return nullptr;
}

char ParityLetter(Parity parity) {
    switch (parity) {
        case Parity::kNone:
            return 'N';
        case Parity::kEven:
            return 'E';
        case Parity::kOdd:
            return 'O';
    }
    return 'N';
}

std::string SettingsPath(const std::string& folder) {
    const char* named = std::getenv(kSettingsVariable);
    if (named != nullptr && named[0] != '\0') return named;
    return folder + kSettingsFileName;
}

std::string StatusPath(const std::string& settingsPath, const StatusSettings& status) {
    const std::string& name = status.file;
    if (name.empty()) return name;
    const bool full = name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':');
    if (full) return name;
    const size_t slash = settingsPath.find_last_of("\\/");
    return slash == std::string::npos ? name : settingsPath.substr(0, slash + 1) + name;
}

bool LoadSettings(const std::string& path, Settings* settings, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = path + ": cannot be read";
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (!ParseSettings(text.str(), settings, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

}  // namespace softcard
