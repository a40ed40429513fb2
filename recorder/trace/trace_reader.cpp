#include "recorder/trace/trace_reader.h"

#include <cstdio>
#include <cstring>

namespace qtrace {

bool ParseTrace(const uint8_t* bytes, size_t size, Trace* trace, std::string* error) {
    *trace = Trace();
    if (size < kFileHeaderBytes) {
        *error = "shorter than a trace's header (" + std::to_string(size) + " bytes)";
        return false;
    }
    std::memcpy(&trace->header, bytes, kFileHeaderBytes);
    if (std::memcmp(trace->header.magic, kMagic, sizeof kMagic) != 0) {
        *error = "not a card-traffic trace";
        return false;
    }
    if (trace->header.version != kVersion || trace->header.headerBytes != kFileHeaderBytes) {
        *error = "a trace of version " + std::to_string(trace->header.version) +
                 ", this reader knows version " + std::to_string(kVersion);
        return false;
    }
    size_t at = kFileHeaderBytes;
    while (at < size) {
        const size_t left = size - at;
        if (left < kRecordHeaderBytes + kChecksumBytes) {
            trace->trailingProblem = "a record cut off";
            break;
        }
        RecordHeader header;
        std::memcpy(&header, bytes + at, sizeof header);
        const size_t body =
            4 * static_cast<size_t>(header.argumentCount) + header.inBytes + header.outBytes;
        if (header.bytes != kRecordHeaderBytes + body + kChecksumBytes ||
            header.argumentCount > kMostArguments || header.inBytes > kMostDataBytes ||
            header.outBytes > kMostDataBytes) {
            trace->trailingProblem = "a damaged record";
            break;
        }
        if (left < header.bytes) {
            trace->trailingProblem = "a record cut off";
            break;
        }
        uint32_t sum;
        std::memcpy(&sum, bytes + at + header.bytes - kChecksumBytes, kChecksumBytes);
        if (sum != Checksum(bytes + at, header.bytes - kChecksumBytes)) {
            trace->trailingProblem = "a record with a wrong checksum";
            break;
        }
        TraceRecord record;
        record.kind = header.kind;
        record.routine = header.routine;
        record.thread = header.thread;
        record.ticks = header.ticks;
        record.durationTicks = header.durationTicks;
        record.status = header.status;
        const uint8_t* p = bytes + at + kRecordHeaderBytes;
        record.arguments.resize(header.argumentCount);
        if (header.argumentCount != 0)
            std::memcpy(record.arguments.data(), p, 4 * header.argumentCount);
        p += 4 * header.argumentCount;
        record.in.assign(p, p + header.inBytes);
        p += header.inBytes;
        record.out.assign(p, p + header.outBytes);
        trace->records.push_back(std::move(record));
        at += header.bytes;
    }
    trace->wholeBytes = at;
    trace->trailingBytes = size - at;
    return true;
}

bool ReadTrace(const std::string& path, Trace* trace, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = "cannot open the trace " + path;
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(file);
    if (!ParseTrace(bytes.data(), bytes.size(), trace, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

}  // namespace qtrace
