#include "lab/qunhost/trace_timeline.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace qunhost {

namespace {

// The header and the first record are all that ordering needs: at most this
// many bytes from the start of a file.
constexpr size_t kPrefixBytes = qtrace::kFileHeaderBytes + qtrace::kMostRecordBytes;

bool ReadPrefix(const std::string& path, qtrace::Trace* trace, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = "cannot open the trace " + path;
        return false;
    }
    std::vector<uint8_t> bytes(kPrefixBytes);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    std::fclose(file);
    if (!qtrace::ParseTrace(bytes.data(), bytes.size(), trace, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

}  // namespace

bool Timeline::Open(const std::vector<std::string>& paths, std::string* error) {
    struct Opened {
        TimelineFile file;
        uint64_t ticksPerSecond;
        bool hasFirst;
        uint64_t firstTicks;
        uint32_t firstThread;
        double firstOnOwnClock;
    };
    std::vector<Opened> opened;
    for (const std::string& path : paths) {
        qtrace::Trace prefix;
        if (!ReadPrefix(path, &prefix, error)) return false;
        Opened o{};
        o.file.path = path;
        o.file.wallStartMicroseconds = prefix.header.wallStartMicroseconds;
        o.ticksPerSecond = prefix.header.ticksPerSecond;
        o.hasFirst = !prefix.records.empty();
        if (o.hasFirst) {
            o.firstTicks = prefix.records[0].ticks;
            o.firstThread = prefix.records[0].thread;
            o.firstOnOwnClock = prefix.Seconds(o.firstTicks);
        }
        opened.push_back(o);
    }
    files_.clear();
    damaged_.clear();
    if (opened.empty()) return true;
    wallStart_ = opened[0].file.wallStartMicroseconds;
    for (const Opened& o : opened) wallStart_ = std::min(wallStart_, o.file.wallStartMicroseconds);
    std::vector<uint64_t> starts;
    for (Opened& o : opened) {
        o.file.offsetSeconds = static_cast<double>(o.file.wallStartMicroseconds - wallStart_) / 1e6;
        o.file.firstSeconds = o.hasFirst ? o.file.offsetSeconds + o.firstOnOwnClock : -1;
        starts.push_back(o.file.wallStartMicroseconds);
        // Two files of one recording never begin with the same record.
        for (const Opened& earlier : opened) {
            if (&earlier == &o) break;
            o.file.duplicate =
                o.file.duplicate ||
                (earlier.file.wallStartMicroseconds == o.file.wallStartMicroseconds &&
                 earlier.ticksPerSecond == o.ticksPerSecond && earlier.hasFirst && o.hasFirst &&
                 earlier.firstTicks == o.firstTicks && earlier.firstThread == o.firstThread);
        }
    }
    std::sort(starts.begin(), starts.end());
    recordings_ = static_cast<int>(std::unique(starts.begin(), starts.end()) - starts.begin());
    // Files without a record go last; the order given decides ties.
    std::stable_sort(opened.begin(), opened.end(), [](const Opened& a, const Opened& b) {
        if (a.hasFirst != b.hasFirst) return a.hasFirst;
        return a.hasFirst && a.file.firstSeconds < b.file.firstSeconds;
    });
    for (const Opened& o : opened) files_.push_back(o.file);
    return true;
}

bool Timeline::Read(const Visit& visit, std::string* error) {
    damaged_.clear();
    for (TimelineFile& file : files_) {
        if (file.duplicate) continue;
        qtrace::Trace trace;
        if (!qtrace::ReadTrace(file.path, &trace, error)) return false;
        file.records = trace.records.size();
        file.wholeBytes = trace.fileBytes - trace.DamagedBytes();
        double last = file.offsetSeconds;
        // A stretch the reader skipped lies between the records around it.
        size_t stretch = 0;
        const auto damagedBefore = [&](uint64_t offset) {
            for (; stretch < trace.damaged.size() && trace.damaged[stretch].offset < offset;
                 ++stretch) {
                const qtrace::DamagedStretch& d = trace.damaged[stretch];
                damaged_.push_back({last, d.offset, d.bytes, file.path, d.problem});
            }
        };
        for (const qtrace::TraceRecord& record : trace.records) {
            damagedBefore(record.offset);
            const double seconds = file.offsetSeconds + trace.Seconds(record.ticks);
            last = std::max(last, seconds);
            visit(trace, record, seconds);
        }
        damagedBefore(UINT64_MAX);
        file.lastSeconds = trace.records.empty() ? -1 : last;
    }
    return true;
}

}  // namespace qunhost
