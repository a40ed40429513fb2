// Replay of a card-traffic trace: a card library answers each call with the
// status and data recorded for it, and notes where the run asks something
// else than the recording did.
//
// Calls are matched per thread, in order: a thread of the replay takes over
// the recorded thread whose next call it makes (or, when none fits, the
// first one not yet taken), so the host's and the supervisor's calls may
// interleave differently than when they were recorded. What is reported is
// the earliest departure in the recording's order: after a thread departs,
// the other threads' calls recorded before that point are still answered and
// compared.
//
// A trace is never trusted: a recorded call that delivers more data than its
// routine can with its arguments (the element format times the count, the
// 256-byte cyclic-function record, the cyclic function's image) is a
// departure, and none of its data is copied.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "recorder/trace/trace_reader.h"

namespace qtrace {

class TraceReplay {
public:
    bool Load(const std::string& path, std::string* error);
    // The same with a trace already read.
    void Load(Trace trace);
    bool loaded() const { return loaded_; }

    // Answers one call: true with *status and the data area (and, for
    // transcycpack, the two outputs) as recorded; false once the run has
    // departed from the recording at or before this call (the card then
    // answers by itself). arguments are the call's scalar arguments in the
    // trace's order, inputs only; in is what a write hands over.
    bool Answer(uint32_t thread, int routine, const int32_t* arguments, int argumentCount,
                const void* in, uint32_t inBytes, void* dataArea, int16_t* status,
                int16_t* outputs);

    struct Outcome {
        uint64_t recordedCalls = 0;
        uint64_t answered = 0;
        bool diverged = false;
        std::string recorded;  // the recorded call where the run departed (or the first not asked)
        std::string asked;     // what the run asked instead ("" when it asked nothing more)
        uint64_t callNumber = 0;  // 1-based position of that recorded call in the trace
        double seconds = 0;       // its time in the recording
    };
    // After the run: whether it reproduced the recording, and where not.
    Outcome Finish();

private:
    struct Thread {
        uint32_t recorded;
        std::vector<size_t> calls;  // indices into trace_.records
        size_t next = 0;
        bool taken = false;
    };
    bool Matches(const TraceRecord& record, int routine, const int32_t* arguments,
                 int argumentCount, const void* in, uint32_t inBytes) const;
    size_t ThreadFor(uint32_t thread, int routine, const int32_t* arguments, int argumentCount,
                     const void* in, uint32_t inBytes);
    size_t Unreached() const;
    // Notes a departure at position (a record's index) unless an earlier one
    // is known.
    void Diverge(size_t position, const TraceRecord* record, const std::string& recorded,
                 const std::string& asked);

    std::mutex lock_;
    bool loaded_ = false;
    Trace trace_;
    std::vector<uint32_t> mostOut_;  // per record: the data its call can deliver at most
    std::vector<Thread> threads_;    // by first appearance in the recording
    std::map<uint32_t, size_t> byReplayThread_;
    Outcome outcome_;
    size_t departure_ = 0;  // the departure's position, while outcome_.diverged
};

}  // namespace qtrace
