// Reading a card-traffic trace back: the records of a file, up to the last
// whole one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recorder/trace/trace_format.h"

namespace qtrace {

struct TraceRecord {
    uint8_t kind = 0;
    uint8_t routine = 0;
    uint32_t thread = 0;
    uint64_t ticks = 0;  // since the recording started
    uint32_t durationTicks = 0;
    int16_t status = 0;
    std::vector<int32_t> arguments;
    std::vector<uint8_t> in;   // data in; the text of a note
    std::vector<uint8_t> out;  // data out
};

struct Trace {
    FileHeader header{};
    std::vector<TraceRecord> records;
    uint64_t wholeBytes = 0;      // header and whole records
    uint64_t trailingBytes = 0;   // after them: a record cut off or damaged
    std::string trailingProblem;  // why the trailing bytes were not read

    double Seconds(uint64_t ticks) const {
        return header.ticksPerSecond != 0 ? static_cast<double>(ticks) / header.ticksPerSecond : 0;
    }
};

// Reads a trace held in memory. False with a message when it is no trace at
// all (no whole header, another magic or version); a damaged or cut-off tail
// ends the records and is described in trailingProblem.
bool ParseTrace(const uint8_t* bytes, size_t size, Trace* trace, std::string* error);

// Reads a trace file.
bool ReadTrace(const std::string& path, Trace* trace, std::string* error);

}  // namespace qtrace
