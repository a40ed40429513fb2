// What the trace report shows, gathered in one pass over a timeline: figures
// per time bucket (calls by kind, failures, statuses, durations per channel
// and equipment, the values of every gate and the writes to them) and the
// summary's tables. The time axis starts with fine buckets and doubles their
// width, merging neighbours, whenever a call lies past the last one, so the
// window is never known in advance and memory stays bounded by the number of
// buckets, whatever the length of the recording.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "lab/qunhost/trace_gates.h"
#include "lab/qunhost/trace_report.h"
#include "lab/qunhost/trace_timeline.h"
#include "recorder/trace/trace_reader.h"

namespace qunhost {

// Kinds of routines, as the calls plot tells them apart.
enum CallKind : int {
    kReadCalls,
    kWriteCalls,
    kCyclicReads,
    kCyclicControls,
    kDatabaseCalls,
    kBusCalls,
    kCallKinds
};
extern const char* const kCallKindNames[kCallKinds];
CallKind KindOf(int routine);

// Bounds that keep a forged or enormous trace from taking the machine.
struct DigestLimits {
    int buckets = 2000;           // across the window
    size_t gates = 1000;          // plotted; more are counted
    size_t places = 256;          // channel and equipment pairs with duration plots
    size_t statuses = 32;         // non-zero statuses with a series of their own
    size_t marks = 10000;         // pauses, drops and notes listed
    size_t summaryPlaces = 4096;  // rows of the summary's table of places
};

// One time bucket of a gate: the range of what its reads delivered.
struct ValueCell {
    double low = 0, high = 0;
    double last = 0;  // read last in the bucket
    uint32_t reads = 0;
};

// The last write to a gate within a bucket.
struct WriteMark {
    int bucket = 0;
    double seconds = 0;
    double value = 0;
    int16_t status = 0;
    uint32_t writes = 0;  // in the bucket
    uint32_t failed = 0;
};

struct GateFigures {
    GateKey key;
    uint64_t routines = 0;  // a bit per routine that read or wrote it
    uint64_t reads = 0, changes = 0, notNumbers = 0;
    uint64_t writes = 0, failedWrites = 0;
    // Writes that succeeded and the next read showed another value.
    uint64_t unseenWrites = 0;
    double low = 0, high = 0, largestStep = 0, last = 0;
    std::vector<ValueCell> cells;
    std::vector<WriteMark> marks;
    bool pending = false;  // a write the next read should show
    double pendingValue = 0;
};

using PlaceKey = std::tuple<bool, int64_t, int64_t>;  // database, channel (card), equipment

struct PlaceFigures {
    uint64_t calls = 0, failed = 0;
    std::map<int, uint64_t> routines;
    std::vector<std::vector<float>> micros;  // per bucket, when it has a plot
    bool plotted = false;
};

struct RoutineFigures {
    uint64_t calls = 0, failed = 0;
    std::vector<float> micros;
};

struct StatusFigures {
    uint64_t calls = 0;
    std::map<int, uint64_t> routines;
    std::vector<uint32_t> buckets;  // when it has a series of its own
    bool plotted = false;
};

struct Mark {
    double seconds = 0, length = 0;  // a pause's length; a drop's count
    std::string text;
};

class TraceDigest {
public:
    TraceDigest(const TraceFilter& filter, const DigestLimits& limits = DigestLimits());

    // One record, at its time on the timeline.
    void Add(const qtrace::Trace& trace, const qtrace::TraceRecord& record, double seconds);

    // The time axis: bucket i covers origin + i * width for width.
    double origin() const { return origin_; }
    double width() const { return width_; }
    int buckets() const { return used_; }

    const TraceFilter& filter() const { return filter_; }
    const DigestLimits& limits() const { return limits_; }

    // Per kind: calls that succeeded and failed, per bucket.
    std::array<std::vector<uint32_t>, kCallKinds> ok, failed;
    std::map<GateKey, GateFigures> gates;
    uint64_t gatesLeftOut = 0;  // elements of gates past the limit
    std::map<PlaceKey, PlaceFigures> places;
    uint64_t placesLeftOut = 0;  // calls
    std::map<int, RoutineFigures> routines;
    std::map<int16_t, StatusFigures> statuses;
    std::vector<Mark> pauses, drops, notes;
    uint64_t pausesTotal = 0, dropsTotal = 0, droppedCalls = 0, notesTotal = 0;
    uint64_t calls = 0, failedCalls = 0, unknownRecords = 0;
    std::set<uint32_t> threads;
    double firstSeconds = -1, lastSeconds = -1;  // of the selected calls
    GateDecoder decoder;

private:
    int Bucket(double seconds);
    void Widen();
    void AddCall(const qtrace::Trace& trace, const qtrace::TraceRecord& record, double seconds,
                 int bucket);
    void AddValues(const qtrace::TraceRecord& record, double seconds, int bucket);
    void AddRead(GateFigures& gate, const GateValue& value, int bucket);
    void AddWrite(GateFigures& gate, const GateValue& value, int16_t status, double seconds,
                  int bucket);
    bool SelectedGate(const qtrace::TraceRecord& record, const GateKey& key) const;

    TraceFilter filter_;
    TraceFilter callFilter_;  // the filter without its window (times are the timeline's)
    DigestLimits limits_;
    double origin_ = 0, width_ = 0;
    int used_ = 0;
    double lastCallEnd_ = -1;
    std::vector<GateValue> values_;
};

// The nearest-rank share of sorted values (0 for none).
double SortedShare(const std::vector<float>& sorted, double share);

}  // namespace qunhost
