// Scenario files: what qunhost runs against the driver.
//
// A scenario names the driver instance and its settings, the gates the host
// sets up, the plant behind the simulated card and a time line of steps. This
// file holds the parsed form and the parser; it knows nothing of Win32 or of
// the driver, so it is tested on its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lab/card/simulated/applicom_control.h"
#include "lab/qunhost/values.h"

namespace qunhost {

// A type word of a scenario: a name or a code 0 to 6. False when unknown.
bool ParseGateTypeWord(const std::string& word, int32_t* code);

struct GateSpec {
    std::string name;
    bool block = false;
    std::string address;  // handed to the driver as written
    int32_t gateType = kTypeU16;
    int32_t count = 1;  // elements; 1 for a single gate
    int line = 0;
};

// The areas of an equipment (ApcArea) and the waves of a plant signal
// (ApcWave) by the words a scenario uses: "word", "ramp". False when unknown.
const char* PlantAreaName(int32_t area);
bool ParsePlantArea(const std::string& word, int32_t* area);
const char* PlantWaveName(int32_t wave);
bool ParsePlantWave(const std::string& word, int32_t* wave);

enum class StepKind {
    // The time line.
    Wait,      // ms
    Read,      // every ms for totalMs; totalMs 0: one read of every gate
    Write,     // gate, values
    Backup,    // passive (1) or active (0)
    Shutdown,  // the host's shut-down message
    End,       // EndQun
    Note,      // text, printed as it stands
    // The plant and the card; allowed before the time line too.
    Signal,  // channel, equipment, area, address, wave, low, high, periodS, seed
    Set,     // channel, equipment, area, address, numbers
    DbSet,   // card, bits (area 0) or words (area 3), address, numbers
    ClearSignals,
    Cards,      // mask of installed cards
    Fail,       // routine, statuses
    FailRate,   // rate, seed, statuses
    Delay,      // routine ("" = every routine), microseconds
    ResetCard,  // a card reset: routines answer 45 until initbus
};

// Whether a step belongs to the time line only.
bool IsTimelineOnly(StepKind kind);
const char* StepKeyword(StepKind kind);

struct Step {
    StepKind kind = StepKind::Wait;
    int line = 0;
    std::string statement;            // the words of the line, joined by single blanks
    int64_t ms = 0;                   // Wait: pause; Read: period
    int64_t totalMs = 0;              // Read: duration (0: once)
    std::string gate;                 // Write
    std::vector<std::string> values;  // Write: as written
    int32_t mode = 0;                 // Backup
    std::string text;                 // Note; Fail, Delay: routine name
    int32_t channel = 0, equipment = 0, area = 0, address = 0, wave = 0;
    double low = 0, high = 0, periodS = 0, rate = 0;
    uint32_t seed = 0;
    uint32_t mask = 0;  // Cards
    int32_t microseconds = 0;
    std::vector<double> numbers;    // Set, DbSet
    std::vector<int32_t> statuses;  // Fail, FailRate
};

struct Scenario {
    std::string path;  // as given
    uint32_t instance = 1;
    int32_t openFlag = 1;  // ColdStart's open flag
    int32_t timeout = 50;  // ColdStart's timeout, in 10 ms
    bool backupStation = false;
    int32_t initialMode = 0;  // 0 active, 1 passive
    std::vector<GateSpec> gates;
    std::vector<Step> prelude;  // plant and card statements before the time line
    std::vector<Step> timeline;

    // Index of the gate with this name, or -1.
    int FindGate(const std::string& name) const;
};

// The file name the driver reads at cold start for an instance.
std::string InitFileName(uint32_t instance);

struct ParseError {
    int line = 0;  // 0: the file as a whole
    std::string message;
};

// Parses scenario text. path is used in messages only. On failure returns
// false and the first error; the text is not read further.
bool ParseScenario(const std::string& text, const std::string& path, Scenario* scenario,
                   ParseError* error);

// "plant.scn:12: message", or "plant.scn: message" for line 0.
std::string FormatParseError(const std::string& path, const ParseError& error);

// Durations as written in scenarios: "500ms", "2s", "1.5s". False when the
// text is not a non-negative number followed by a unit.
bool ParseDuration(const std::string& text, int64_t* ms);
std::string FormatDuration(int64_t ms);

// Whether a number fits an element of a plant area (bits 0 or 1, words
// -32768 to 65535, double words -2^31 to 2^32 - 1, floats any). False with
// a message otherwise.
bool CheckAreaValue(int32_t area, double value, std::string* message);

// Splits one line into words: blanks separate, "..." keeps blanks and '#',
// '#' outside quotes starts a comment. False on an unterminated quote.
bool SplitWords(const std::string& line, std::vector<std::string>* words);

}  // namespace qunhost
