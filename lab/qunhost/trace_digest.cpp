#include "lab/qunhost/trace_digest.h"

#include <algorithm>
#include <cmath>

#include "recorder/trace/card_routines.h"

namespace qunhost {

namespace {

using qtrace::Arguments;
using qtrace::Flow;
using qtrace::kCardRoutines;

constexpr size_t kMostThreads = 4096;

template <class T>
T& At(std::vector<T>& cells, int index) {
    if (cells.size() <= static_cast<size_t>(index)) cells.resize(static_cast<size_t>(index) + 1);
    return cells[static_cast<size_t>(index)];
}

// Halves a series: cell i of the result holds cells 2i and 2i+1.
template <class T, class Combine>
void MergePairs(std::vector<T>& cells, Combine combine) {
    std::vector<T> merged((cells.size() + 1) / 2);
    for (size_t i = 0; i < cells.size(); ++i) combine(merged[i / 2], cells[i]);
    cells.swap(merged);
}

void AddCounts(uint32_t& into, const uint32_t& from) { into += from; }

void AddCell(ValueCell& into, const ValueCell& from) {
    if (from.reads == 0) return;
    if (into.reads == 0) {
        into = from;
        return;
    }
    into.low = std::min(into.low, from.low);
    into.high = std::max(into.high, from.high);
    into.last = from.last;
    into.reads += from.reads;
}

void AddMicros(std::vector<float>& into, std::vector<float>& from) {
    into.insert(into.end(), from.begin(), from.end());
    std::vector<float>().swap(from);
}

// Marks of neighbouring buckets that now share one: the later write stands
// for both, the counts add up.
void MergeMarks(std::vector<WriteMark>& marks) {
    std::vector<WriteMark> merged;
    for (WriteMark mark : marks) {
        mark.bucket /= 2;
        if (!merged.empty() && merged.back().bucket == mark.bucket) {
            mark.writes += merged.back().writes;
            mark.failed += merged.back().failed;
            merged.back() = mark;
        } else {
            merged.push_back(mark);
        }
    }
    marks.swap(merged);
}

void AddMark(std::vector<Mark>& marks, uint64_t* total, size_t most, const Mark& mark) {
    ++*total;
    if (marks.size() < most) marks.push_back(mark);
}

}  // namespace

const char* const kCallKindNames[kCallKinds] = {
    "reads", "writes", "cyclic-function reads", "cyclic controls", "database", "initbus, exitbus",
};

CallKind KindOf(int routine) {
    if (routine < 0 || routine >= qtrace::kRoutineCount) return kBusCalls;
    const qtrace::CardRoutine& card = kCardRoutines[routine];
    switch (card.arguments) {
        case Arguments::kNetwork:
        case Arguments::kQuickBit:
            return card.flow == Flow::kIn ? kWriteCalls : kReadCalls;
        case Arguments::kDatabase:
            return kDatabaseCalls;
        case Arguments::kTransCyclic:
            return kCyclicReads;
        case Arguments::kCreateCyclic:
        case Arguments::kCyclic:
            return kCyclicControls;
        case Arguments::kNone:
            break;
    }
    return kBusCalls;
}

double SortedShare(const std::vector<float>& sorted, double share) {
    if (sorted.empty()) return 0;
    const size_t index = static_cast<size_t>(share * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

TraceDigest::TraceDigest(const TraceFilter& filter, const DigestLimits& limits)
    : filter_(filter), callFilter_(filter), limits_(limits) {
    callFilter_.fromSeconds = 0;
    callFilter_.toSeconds = -1;
    origin_ = std::max(0.0, filter.fromSeconds);
    const double window = filter.toSeconds > origin_ ? filter.toSeconds - origin_ : 0;
    width_ = std::max(window / limits_.buckets, 0.001);
}

int TraceDigest::Bucket(double seconds) {
    double place = (seconds - origin_) / width_;
    if (!(place >= 0)) return -1;  // before the window, or not a number
    while (place >= limits_.buckets) {
        Widen();
        place = (seconds - origin_) / width_;
    }
    const int bucket = static_cast<int>(place);
    used_ = std::max(used_, bucket + 1);
    return bucket;
}

void TraceDigest::Widen() {
    width_ *= 2;
    used_ = (used_ + 1) / 2;
    for (auto* series : {&ok, &failed})
        for (std::vector<uint32_t>& counts : *series) MergePairs(counts, AddCounts);
    for (auto& entry : gates) {
        MergePairs(entry.second.cells, AddCell);
        MergeMarks(entry.second.marks);
    }
    for (auto& entry : places) MergePairs(entry.second.micros, AddMicros);
    for (auto& entry : statuses) MergePairs(entry.second.buckets, AddCounts);
}

void TraceDigest::Add(const qtrace::Trace& trace, const qtrace::TraceRecord& record,
                      double seconds) {
    const bool inWindow =
        seconds >= filter_.fromSeconds && (filter_.toSeconds < 0 || seconds <= filter_.toSeconds);
    // Every createcyc, also outside the window, defines how later images read.
    bool write = false;
    const bool moved = decoder.Decode(record, &values_, &write);
    if (!inWindow) return;
    if (record.kind != qtrace::kCallRecord) {
        if (!Selected(trace, record, callFilter_)) return;
        if (record.kind == qtrace::kDroppedRecord) {
            // At the first lost call's time; older recorders gave no cause.
            const int64_t count = record.arguments.empty() ? 0 : record.arguments[0];
            const bool writeFailed =
                record.arguments.size() > 1 && record.arguments[1] == qtrace::kWriteFailed;
            droppedCalls += static_cast<uint64_t>(std::max<int64_t>(count, 0));
            AddMark(
                drops, &dropsTotal, limits_.marks,
                {seconds, static_cast<double>(std::max<int64_t>(count, 0)),
                 writeFailed ? "the file could not be written" : "the recorder's memory was full"});
        } else if (record.kind == qtrace::kNoteRecord) {
            AddMark(notes, &notesTotal, limits_.marks,
                    {seconds, 0, std::string(record.in.begin(), record.in.end())});
        } else {
            ++unknownRecords;
        }
        return;
    }
    if (record.routine >= qtrace::kRoutineCount) {
        ++unknownRecords;
        return;
    }
    const int bucket = Bucket(seconds);
    if (bucket < 0) return;
    if (Selected(trace, record, callFilter_)) AddCall(trace, record, seconds, bucket);
    if (!moved) return;
    for (const GateValue& value : values_) {
        if (!SelectedGate(record, value.key)) continue;
        auto found = gates.find(value.key);
        if (found == gates.end()) {
            if (gates.size() >= limits_.gates) {
                ++gatesLeftOut;
                continue;
            }
            found = gates.emplace(value.key, GateFigures()).first;
            found->second.key = value.key;
        }
        GateFigures& gate = found->second;
        gate.routines |= uint64_t(1) << record.routine;
        if (write)
            AddWrite(gate, value, record.status, seconds, bucket);
        else
            AddRead(gate, value, bucket);
    }
}

void TraceDigest::AddCall(const qtrace::Trace& trace, const qtrace::TraceRecord& record,
                          double seconds, int bucket) {
    const bool failure = record.status != 0;
    const float micros = static_cast<float>(1e6 * trace.Seconds(record.durationTicks));
    ++calls;
    failedCalls += failure;
    ++At(failure ? failed[KindOf(record.routine)] : ok[KindOf(record.routine)], bucket);
    if (firstSeconds < 0) firstSeconds = seconds;
    lastSeconds = std::max(lastSeconds, seconds);
    if (threads.size() < kMostThreads) threads.insert(record.thread);

    RoutineFigures& routine = routines[record.routine];
    ++routine.calls;
    routine.failed += failure;
    routine.micros.push_back(micros);

    const bool database = kCardRoutines[record.routine].arguments == Arguments::kDatabase;
    const PlaceKey key(database, ChannelOf(record), EquipmentOf(record));
    auto place = places.find(key);
    if (place == places.end() && places.size() < limits_.summaryPlaces) {
        size_t plotted = 0;
        for (const auto& entry : places) plotted += entry.second.plotted;
        place = places.emplace(key, PlaceFigures()).first;
        place->second.plotted = plotted < limits_.places;
    }
    if (place == places.end()) {
        ++placesLeftOut;
    } else {
        ++place->second.calls;
        place->second.failed += failure;
        ++place->second.routines[record.routine];
        if (place->second.plotted) At(place->second.micros, bucket).push_back(micros);
    }

    StatusFigures& status = statuses[record.status];
    if (status.calls == 0 && failure) {
        size_t plotted = 0;
        for (const auto& entry : statuses) plotted += entry.second.plotted;
        status.plotted = plotted < limits_.statuses;
    }
    ++status.calls;
    ++status.routines[record.routine];
    if (status.plotted) ++At(status.buckets, bucket);

    if (lastCallEnd_ >= 0 && seconds - lastCallEnd_ > filter_.gapSeconds)
        AddMark(pauses, &pausesTotal, limits_.marks, {lastCallEnd_, seconds - lastCallEnd_, ""});
    lastCallEnd_ = std::max(lastCallEnd_, seconds + trace.Seconds(record.durationTicks));
}

bool TraceDigest::SelectedGate(const qtrace::TraceRecord& record, const GateKey& key) const {
    // A block gate read through its cyclic function belongs to the equipment
    // the function was created for, not to the transcycpack call's channel alone.
    if (filter_.routine >= 0 && record.routine != filter_.routine) return false;
    if (filter_.channel >= 0 && key.channel != filter_.channel) return false;
    if (filter_.equipment >= 0 && key.equipment != filter_.equipment) return false;
    if (filter_.statusGiven && record.status != filter_.status) return false;
    return true;
}

void TraceDigest::AddRead(GateFigures& gate, const GateValue& value, int bucket) {
    if (!value.number) {
        ++gate.notNumbers;
        return;
    }
    const double v = value.value;
    if (gate.reads == 0) {
        gate.low = gate.high = gate.last = v;
    } else if (v != gate.last) {
        ++gate.changes;
        gate.largestStep = std::max(gate.largestStep, std::fabs(v - gate.last));
        gate.low = std::min(gate.low, v);
        gate.high = std::max(gate.high, v);
        gate.last = v;
    }
    ++gate.reads;
    if (gate.pending && v != gate.pendingValue) ++gate.unseenWrites;
    gate.pending = false;
    AddCell(At(gate.cells, bucket), ValueCell{v, v, v, 1});
}

void TraceDigest::AddWrite(GateFigures& gate, const GateValue& value, int16_t status,
                           double seconds, int bucket) {
    ++gate.writes;
    gate.failedWrites += status != 0;
    gate.pending = status == 0 && value.number;
    gate.pendingValue = value.value;
    if (gate.marks.empty() || gate.marks.back().bucket != bucket) {
        gate.marks.push_back(WriteMark());
        gate.marks.back().bucket = bucket;
    }
    WriteMark& mark = gate.marks.back();
    mark.seconds = seconds;
    mark.value = value.number ? value.value : 0;
    mark.status = status;
    ++mark.writes;
    mark.failed += status != 0;
}

}  // namespace qunhost
