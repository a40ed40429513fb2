// A card-traffic trace from anywhere: the reader, the summary and listing of
// qunhost --trace, and the replay's loader with every recorded call asked
// back. Each record's checksum is made good first, so that the fuzzer gets
// past them to what they guard; the file's header is made a trace's.
#include <cstring>
#include <string>
#include <vector>

#include "lab/qunhost/trace_report.h"
#include "recorder/trace/card_routines.h"
#include "recorder/trace/trace_reader.h"
#include "recorder/trace/trace_replay.h"

namespace {

using namespace qtrace;

void MakeGood(std::vector<uint8_t>& bytes) {
    if (bytes.size() < kFileHeaderBytes) return;
    FileHeader header;
    std::memcpy(&header, bytes.data(), sizeof header);
    std::memcpy(header.magic, kMagic, sizeof header.magic);
    header.version = kVersion;
    header.headerBytes = kFileHeaderBytes;
    std::memcpy(bytes.data(), &header, sizeof header);
    for (size_t at = kFileHeaderBytes; at + kRecordHeaderBytes + kChecksumBytes <= bytes.size();) {
        RecordHeader record;
        std::memcpy(&record, bytes.data() + at, sizeof record);
        const size_t size = kRecordHeaderBytes + 4 * static_cast<size_t>(record.argumentCount) +
                            record.inBytes + record.outBytes + kChecksumBytes;
        if (record.bytes != size || record.argumentCount > kMostArguments ||
            record.inBytes > kMostDataBytes || record.outBytes > kMostDataBytes ||
            at + size > bytes.size()) {
            ++at;
            continue;
        }
        const uint32_t sum = Checksum(bytes.data() + at, size - kChecksumBytes);
        std::memcpy(bytes.data() + at + size - kChecksumBytes, &sum, kChecksumBytes);
        at += size;
    }
}

// Records and damaged stretches, in the order of the file, cover it exactly.
void CheckCovered(const Trace& trace, size_t size) {
    uint64_t at = kFileHeaderBytes;
    size_t r = 0, d = 0;
    while (r < trace.records.size() || d < trace.damaged.size()) {
        if (r < trace.records.size() && trace.records[r].offset == at) {
            const TraceRecord& record = trace.records[r++];
            at += kRecordHeaderBytes + 4 * record.arguments.size() + record.in.size() +
                  record.out.size() + kChecksumBytes;
        } else if (d < trace.damaged.size() && trace.damaged[d].offset == at &&
                   trace.damaged[d].bytes != 0) {
            at += trace.damaged[d++].bytes;
        } else {
            __builtin_trap();
        }
    }
    if (at != size) __builtin_trap();
}

// The data area the driver hands over for a call: its 256-byte record to
// AppGetCycParam, else its 1024-byte card buffer; the bytes a call may fill
// at most, where that follows from the call alone.
size_t AreaBytes(int id) { return id == routine::AppGetCycParam ? 256 : 1024; }
size_t MostFilled(const TraceRecord& record) {
    const CardRoutine& routine = kCardRoutines[record.routine];
    const std::vector<int32_t>& a = record.arguments;
    if (routine.flow != Flow::kOut) return 0;
    if (routine.arguments == Arguments::kNetwork && a.size() == 4)
        return DataBytes(routine.format, a[2]);
    if (routine.arguments == Arguments::kDatabase && a.size() == 3)
        return DataBytes(routine.format, a[1]);
    return AreaBytes(record.routine);
}

void Replay(const Trace& trace) {
    TraceReplay replay;
    replay.Load(trace);
    for (const TraceRecord& record : trace.records) {
        if (record.kind != kCallRecord || record.routine >= kRoutineCount) continue;
        std::vector<uint8_t> area(AreaBytes(record.routine), 0xA5);
        const int inputs = record.routine == routine::transcycpack && record.arguments.size() > 2
                               ? 2
                               : static_cast<int>(record.arguments.size());
        int16_t status = 0, outputs[2] = {0, 0};
        replay.Answer(record.thread, record.routine, record.arguments.data(), inputs,
                      record.in.data(), static_cast<uint32_t>(record.in.size()), area.data(),
                      &status, outputs);
        for (size_t i = MostFilled(record); i < area.size(); ++i)
            if (area[i] != 0xA5) __builtin_trap();
    }
    replay.Finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    MakeGood(bytes);
    Trace trace;
    std::string error;
    if (!ParseTrace(bytes.data(), bytes.size(), &trace, &error)) return 0;
    CheckCovered(trace, bytes.size());

    qunhost::TraceFilter filter;
    qunhost::TraceSummary("fuzz.qtr", trace, filter);
    filter.gapSeconds = 0;
    filter.channel = 0;
    qunhost::TraceListing(trace, filter);
    Replay(trace);
    return 0;
}
