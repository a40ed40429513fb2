#include "recorder/trace/trace_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace qtrace {

namespace {

// The length of the whole record with a good checksum that begins at at, or
// 0 with what is wrong there.
size_t RecordAt(const uint8_t* bytes, size_t size, size_t at, const char** problem) {
    const size_t left = size - at;
    if (left < kRecordHeaderBytes + kChecksumBytes) {
        *problem = "a record cut off";
        return 0;
    }
    RecordHeader header;
    std::memcpy(&header, bytes + at, sizeof header);
    const size_t body =
        4 * static_cast<size_t>(header.argumentCount) + header.inBytes + header.outBytes;
    if (header.bytes != kRecordHeaderBytes + body + kChecksumBytes ||
        header.argumentCount > kMostArguments || header.inBytes > kMostDataBytes ||
        header.outBytes > kMostDataBytes) {
        *problem = "a damaged record";
        return 0;
    }
    if (left < header.bytes) {
        *problem = "a record cut off";
        return 0;
    }
    uint32_t sum;
    std::memcpy(&sum, bytes + at + header.bytes - kChecksumBytes, kChecksumBytes);
    if (sum != Checksum(bytes + at, header.bytes - kChecksumBytes)) {
        *problem = "a record with a wrong checksum";
        return 0;
    }
    return header.bytes;
}

TraceRecord Decode(const uint8_t* at, uint64_t offset) {
    RecordHeader header;
    std::memcpy(&header, at, sizeof header);
    TraceRecord record;
    record.offset = offset;
    record.kind = header.kind;
    record.routine = header.routine;
    record.thread = header.thread;
    record.ticks = header.ticks;
    record.durationTicks = header.durationTicks;
    record.status = header.status;
    const uint8_t* p = at + kRecordHeaderBytes;
    record.arguments.resize(header.argumentCount);
    if (header.argumentCount != 0)
        std::memcpy(record.arguments.data(), p, 4 * header.argumentCount);
    p += 4 * header.argumentCount;
    record.in.assign(p, p + header.inBytes);
    p += header.inBytes;
    record.out.assign(p, p + header.outBytes);
    return record;
}

}  // namespace

bool ParseTrace(const uint8_t* bytes, size_t size, Trace* trace, std::string* error) {
    *trace = Trace();
    trace->fileBytes = size;
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
        const char* problem = "";
        if (const size_t length = RecordAt(bytes, size, at, &problem)) {
            trace->records.push_back(Decode(bytes + at, at));
            at += length;
            continue;
        }
        // A write torn by a full disk, a cut, a few bytes overwritten: the
        // records after it are as good as those before.
        const char* ignored;
        size_t next = at + 1;
        while (next < size && RecordAt(bytes, size, next, &ignored) == 0) ++next;
        trace->damaged.push_back(DamagedStretch{at, next - at, problem});
        at = next;
    }
    return true;
}

std::vector<uint8_t> EncodeRecord(const TraceRecord& record) {
    RecordHeader header{};
    header.kind = record.kind;
    header.routine = record.routine;
    header.thread = record.thread;
    header.ticks = record.ticks;
    header.durationTicks = record.durationTicks;
    header.status = record.status;
    header.argumentCount = static_cast<uint8_t>(record.arguments.size());
    header.inBytes = static_cast<uint16_t>(record.in.size());
    header.outBytes = static_cast<uint16_t>(record.out.size());
    header.bytes = static_cast<uint16_t>(kRecordHeaderBytes + 4 * record.arguments.size() +
                                         record.in.size() + record.out.size() + kChecksumBytes);
    std::vector<uint8_t> bytes(header.bytes);
    uint8_t* at = bytes.data();
    std::memcpy(at, &header, sizeof header);
    at += sizeof header;
    if (!record.arguments.empty())
        std::memcpy(at, record.arguments.data(), 4 * record.arguments.size());
    at += 4 * record.arguments.size();
    if (!record.in.empty()) std::memcpy(at, record.in.data(), record.in.size());
    at += record.in.size();
    if (!record.out.empty()) std::memcpy(at, record.out.data(), record.out.size());
    const uint32_t sum = Checksum(bytes.data(), bytes.size() - kChecksumBytes);
    std::memcpy(bytes.data() + bytes.size() - kChecksumBytes, &sum, kChecksumBytes);
    return bytes;
}

bool ReadTrace(const std::string& path, Trace* trace, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = "cannot open the trace " + path;
        return false;
    }
    // A recorder never writes a file past kMostFileBytes; a larger one is
    // read that far, so that a file of any size cannot exhaust memory.
    std::vector<uint8_t> bytes;
    uint64_t beyond = 0;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        const size_t kept = std::min<size_t>(n, kMostFileBytes - bytes.size());
        bytes.insert(bytes.end(), chunk, chunk + kept);
        beyond += n - kept;
    }
    std::fclose(file);
    if (!ParseTrace(bytes.data(), bytes.size(), trace, error)) {
        *error = path + ": " + *error;
        return false;
    }
    if (beyond != 0) {
        trace->damaged.push_back(DamagedStretch{
            bytes.size(), beyond,
            "past the " + std::to_string(kMostFileBytes >> 20) + " MB a trace file has at most"});
        trace->fileBytes += beyond;
    }
    return true;
}

}  // namespace qtrace
