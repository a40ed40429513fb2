// The station initialisation file: fixed station numbers, read attempts,
// clearing of the card's cyclic functions, the first cyclic-function number
// and the balance-free mechanism of the writes.
#include "driver/config/init_file.h"

#include <cstdio>
#include <cstring>

#include "driver/address/decimal.h"
#include "driver/entry/driver_state.h"
#include "driver/platform/host.h"

namespace {

constexpr int kShortestLastLine = 10;
constexpr uint32_t kHighestChannel = 31;
constexpr uint32_t kHighestEquipment = 255;

const char* SkipBlanks(const char* p) {
    while (*p == ' ') ++p;
    return p;
}

// "STATION %3u = %2u %3u": station number, channel, equipment. Without the
// blanks the field widths alone separate the numbers.
bool ScanStation(const char* line, uint32_t* station, uint32_t* channel, uint32_t* equipment) {
    if (std::strncmp(line, "STATION", 7) != 0) return false;
    const Decimal number = ReadUnsigned(line + 7, 3);
    if (number.status != DecimalStatus::Ok) return false;
    const char* p = SkipBlanks(number.end);
    if (*p != '=') return false;
    const Decimal first = ReadUnsigned(p + 1, 2);
    if (first.status != DecimalStatus::Ok) return false;
    const Decimal second = ReadUnsigned(first.end, 3);
    if (second.status != DecimalStatus::Ok) return false;
    *station = number.value;
    *channel = first.value;
    *equipment = second.value;
    return true;
}

// "OFF" anywhere after the key.
bool SaysOff(const char* key, size_t keyLength) {
    return std::strstr(key + keyLength, "OFF") != nullptr;
}

void ApplyStation(DriverState* state, uint32_t station, uint32_t channel, uint32_t equipment,
                  uint32_t lineNumber, const char* fileName) {
    if (station >= kStationCount) {
        err(kLogError, "RIREVI: ReadIntFile() ill. station nr. %u line %u in '%s'", station,
            lineNumber, fileName);
    } else if (channel > kHighestChannel) {
        err(kLogError, "RIREVI: ReadIntFile() ill. channel nr. %u line %u in '%s'", channel,
            lineNumber, fileName);
    } else if (equipment > kHighestEquipment) {
        err(kLogError, "RIREVI: ReadIntFile() ill. equipment nr. %u line %u in '%s'", equipment,
            lineNumber, fileName);
    } else {
        state->stations[station].channel = static_cast<uint8_t>(channel);
        state->stations[station].equipment = static_cast<uint8_t>(equipment);
    }
}

void ApplyCycNo(DriverState* state, const char* afterKey, uint32_t lineNumber,
                const char* fileName) {
    // "= %d" right after the key: the "=" must follow it at once (blanks
    // after a comma are kept, and "CYC_NO = 10" there fails the scan), while
    // blanks between the "=" and the number are skipped.
    if (*afterKey == '=') {
        const Decimal number = ReadSigned(afterKey + 1);
        if (number.status == DecimalStatus::Ok) {
            state->firstCycNo = static_cast<uint8_t>(number.value);
        } else if (number.status == DecimalStatus::TooLarge) {
            err(kLogError, "RIREVI: ReadIntFile() ill. CYC number line %u in '%s'", lineNumber,
                fileName);
        }
    }
    err(kLogError, "RIREVI: First CYC number set to %d", state->firstCycNo);
    for (int channel = 0; channel < kCounterChannels; ++channel)
        state->channelLastCyc[channel] = state->firstCycNo;
}

void ApplyLine(DriverState* state, const char* line, uint32_t lineNumber, const char* fileName) {
    if (line[0] == '/' && line[1] == '/') return;

    uint32_t station = 0, channel = 0, equipment = 0;
    if (ScanStation(line, &station, &channel, &equipment)) {
        ApplyStation(state, station, channel, equipment, lineNumber, fileName);
        return;
    }

    if (std::strncmp(line, "RETRY=", 6) == 0) {
        const Decimal retry = ReadUnsigned(line + 6);
        if (retry.status == DecimalStatus::Ok) {
            state->retryCount = retry.value;
            err(kLogError, "RIREVI: ReadIntFile() Retry number is set to %d",
                static_cast<int32_t>(state->retryCount));
            return;
        }
        if (retry.status == DecimalStatus::TooLarge) {
            err(kLogError, "RIREVI: ReadIntFile() ill. retry number line %u in '%s'", lineNumber,
                fileName);
            return;
        }
    }

    if (const char* clear = std::strstr(line, "CLEAR")) {
        if (SaysOff(clear, 5)) {
            state->clearCyclic = 0;
            err(kLogError, "RIREVI: Set clear Cyclic to OFF");
        } else {
            state->clearCyclic = 1;
            err(kLogError, "RIREVI: Set clear Cyclic to ON");
        }
        return;
    }

    if (const char* cycNo = std::strstr(line, "CYC_NO")) {
        ApplyCycNo(state, cycNo + 6, lineNumber, fileName);
        return;
    }

    if (const char* balance = std::strstr(line, "BALANCE_FREE")) {
        if (SaysOff(balance, 12)) {
            state->balanceFree = 0;
            err(kLogError, "RIREVI: Balance Free mechanism is deactivated");
        } else {
            state->balanceFree = 1;
            err(kLogError, "RIREVI: Balance Free mechanism is activated");
        }
    }
}

}  // namespace

bool ReadIniLine(IniFile& file, char (&line)[kIniLineLength + 1]) {
    int stored = 0;
    int commas = 0;
    for (;;) {
        const int c = file.Next();
        if (c < 0) break;
        if (c == '\n') {
            line[stored] = '\0';
            return true;
        }
        if (c < 0x20 || c >= 0x80) continue;
        if (c == ' ' && commas == 0) continue;
        if (c == ',') ++commas;
        if (stored < kIniLineLength) line[stored++] = static_cast<char>(c);
    }
    line[stored] = '\0';
    return stored >= kShortestLastLine;
}

void ReadIntFile(QunRequest* request) {
    DriverState* state = request->state;
    state->retryCount = kDefaultRetryCount;
    state->balanceFree = 1;

    char fileName[32];
    std::snprintf(fileName, sizeof fileName, "qunDOZ%02d.INT",
                  static_cast<int32_t>(request->instance));
    IniFile file;
    if (!file.Open(fileName)) {
        err(kLogError, "RIREVI: ColdStart() Warning, no initfile found: defaults used");
        return;
    }

    char line[kIniLineLength + 1];
    uint32_t lineNumber = 0;
    while (ReadIniLine(file, line)) {
        ++lineNumber;
        for (char* p = line; *p != '\0'; ++p) {
            if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
        }
        ApplyLine(state, line, lineNumber, fileName);
    }
    file.Close();
}
