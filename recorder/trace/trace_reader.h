// Reading a card-traffic trace back: every whole record of a file with a good
// checksum, and where the file is damaged, each stretch that was skipped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recorder/trace/trace_format.h"

namespace qtrace {

struct TraceRecord {
    uint64_t offset = 0;  // where the record begins in the file
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

// Bytes of a file that hold no readable record: torn by a write that failed,
// cut off at the end, or overwritten. Reading goes on at the next whole record
// with a good checksum.
struct DamagedStretch {
    uint64_t offset = 0;  // in the file
    uint64_t bytes = 0;
    std::string problem;  // what was wrong at offset: "a record cut off", ...
};

struct Trace {
    FileHeader header{};
    std::vector<TraceRecord> records;
    std::vector<DamagedStretch> damaged;  // in the order of the file
    uint64_t fileBytes = 0;

    uint64_t DamagedBytes() const {
        uint64_t bytes = 0;
        for (const DamagedStretch& stretch : damaged) bytes += stretch.bytes;
        return bytes;
    }

    double Seconds(uint64_t ticks) const {
        return header.ticksPerSecond != 0 ? static_cast<double>(ticks) / header.ticksPerSecond : 0;
    }
};

// Reads a trace held in memory. False with a message when it is no trace at
// all (no whole header, another magic or version); damaged stretches are
// skipped and listed in damaged.
bool ParseTrace(const uint8_t* bytes, size_t size, Trace* trace, std::string* error);

// Reads a trace file.
bool ReadTrace(const std::string& path, Trace* trace, std::string* error);

// A record as a recorder writes it, its checksum included: for tests and
// tools that make traces.
std::vector<uint8_t> EncodeRecord(const TraceRecord& record);

}  // namespace qtrace
