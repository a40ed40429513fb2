// Several trace files read as one timeline: the rotated files of a recording
// carry the recording's start in their headers and time stamps counted from
// it, so they only need to be put in order; files of other recordings (the
// host restarted) are placed by the wall clock of their start. Files are read
// one at a time, so that four full files never sit in memory together.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "recorder/trace/trace_reader.h"

namespace qunhost {

struct TimelineFile {
    std::string path;
    uint64_t wallStartMicroseconds = 0;  // of its recording
    double offsetSeconds = 0;            // of its recording's start on the timeline
    double firstSeconds = -1;            // of its first record on the timeline; -1: none
    double lastSeconds = -1;
    uint64_t records = 0;
    uint64_t wholeBytes = 0;  // of its records, damaged stretches left out
    bool duplicate = false;   // the same file given twice: read once
};

// A stretch of a file the reader skipped, placed on the timeline.
struct DamageMark {
    double seconds = 0;   // of the last record read before it (the file's start if none)
    uint64_t offset = 0;  // in the file
    uint64_t bytes = 0;
    std::string file;
    std::string problem;
};

class Timeline {
public:
    // Reads each file's header and first record, and puts the files in order.
    // False with a message when one of them is no trace.
    bool Open(const std::vector<std::string>& paths, std::string* error);

    // Calls back every record of every file in timeline order, with its time
    // on the timeline (seconds since the earliest recording's start). The
    // file's trace is the one the record came from.
    using Visit = std::function<void(const qtrace::Trace& trace, const qtrace::TraceRecord& record,
                                     double seconds)>;
    bool Read(const Visit& visit, std::string* error);

    // In timeline order; complete after Read.
    const std::vector<TimelineFile>& files() const { return files_; }
    const std::vector<DamageMark>& damaged() const { return damaged_; }
    // The wall clock of the timeline's zero (microseconds since 1970).
    uint64_t wallStartMicroseconds() const { return wallStart_; }
    // How many recordings the files belong to.
    int recordings() const { return recordings_; }

private:
    std::vector<TimelineFile> files_;
    std::vector<DamageMark> damaged_;
    uint64_t wallStart_ = 0;
    int recordings_ = 0;
};

}  // namespace qunhost
