#include "recorder/trace/trace_replay.h"

#include <cstring>
#include <utility>

#include "recorder/trace/card_routines.h"

namespace qtrace {

namespace {

// The arguments a call asks with: transcycpack's last two are its answers.
int InputCount(int routine, int argumentCount) {
    if (routine == routine::transcycpack && argumentCount > 2) return 2;
    return argumentCount;
}

std::string Asked(int routine, const int32_t* arguments, int argumentCount) {
    return DescribeCall(routine, std::vector<int32_t>(arguments, arguments + argumentCount));
}

using Images = std::map<std::pair<int32_t, int32_t>, uint32_t>;

// The most data a recorded call can deliver: by its routine's format and
// count, or for transcycpack by its cyclic function as the recording created
// it (the whole data area when the recording does not show it).
uint32_t MostOut(const TraceRecord& record, const Images& images) {
    if (record.routine >= kRoutineCount) return 0;
    const CardRoutine& routine = kCardRoutines[record.routine];
    const std::vector<int32_t>& a = record.arguments;
    if (routine.flow != Flow::kOut) return 0;
    if (routine.format == Format::kCycParam || routine.format == Format::kQuickBits)
        return DataBytes(routine.format, 1);
    if (routine.format == Format::kCyclicImage) {
        if (a.size() < 2) return 0;
        const auto found = images.find({a[0], a[1]});
        return found != images.end() ? found->second : static_cast<uint32_t>(kMostDataBytes);
    }
    const size_t count = routine.arguments == Arguments::kNetwork ? 2 : 1;
    return a.size() > count ? DataBytes(routine.format, a[count]) : 0;
}

}  // namespace

bool TraceReplay::Load(const std::string& path, std::string* error) {
    Trace trace;
    if (!ReadTrace(path, &trace, error)) return false;
    Load(std::move(trace));
    return true;
}

void TraceReplay::Load(Trace trace) {
    std::lock_guard<std::mutex> hold(lock_);
    trace_ = std::move(trace);
    threads_.clear();
    byReplayThread_.clear();
    outcome_ = Outcome();
    mostOut_.assign(trace_.records.size(), 0);
    std::map<uint32_t, size_t> byRecorded;
    Images images;
    for (size_t i = 0; i < trace_.records.size(); ++i) {
        const TraceRecord& record = trace_.records[i];
        if (record.kind != kCallRecord || record.routine >= kRoutineCount) continue;
        mostOut_[i] = MostOut(record, images);
        const std::vector<int32_t>& a = record.arguments;
        if (record.routine == routine::createcyc && record.status == 0 && a.size() >= 11)
            images[{a[0], a[1]}] = CyclicImageBytes(a[4], a[5], a[7]);
        auto found = byRecorded.find(record.thread);
        if (found == byRecorded.end()) {
            found = byRecorded.emplace(record.thread, threads_.size()).first;
            threads_.push_back(Thread{record.thread, {}, 0, false});
        }
        threads_[found->second].calls.push_back(i);
        ++outcome_.recordedCalls;
    }
    loaded_ = true;
}

bool TraceReplay::Matches(const TraceRecord& record, int routine, const int32_t* arguments,
                          int argumentCount, const void* in, uint32_t inBytes) const {
    if (record.routine != routine) return false;
    const int inputs = InputCount(routine, argumentCount);
    if (InputCount(record.routine, static_cast<int>(record.arguments.size())) != inputs)
        return false;
    for (int i = 0; i < inputs; ++i)
        if (record.arguments[i] != arguments[i]) return false;
    if (record.in.size() != inBytes) return false;
    return inBytes == 0 || std::memcmp(record.in.data(), in, inBytes) == 0;
}

void TraceReplay::Diverge(size_t position, const TraceRecord* record, const std::string& recorded,
                          const std::string& asked) {
    if (outcome_.diverged && departure_ <= position) return;
    outcome_.diverged = true;
    departure_ = position;
    outcome_.asked = asked;
    outcome_.recorded = recorded;
    outcome_.callNumber = 0;
    outcome_.seconds = 0;
    if (record == nullptr) return;
    outcome_.seconds = trace_.Seconds(record->ticks);
    size_t number = 0;  // the call's position among the recorded calls
    for (size_t i = 0; i <= position && i < trace_.records.size(); ++i)
        number += trace_.records[i].kind == kCallRecord;
    outcome_.callNumber = number;
}

namespace {

std::string Recorded(const TraceRecord& record) {
    std::string text = DescribeCall(record.routine, record.arguments);
    if (!record.in.empty()) text += " with " + std::to_string(record.in.size()) + " bytes of data";
    return text;
}

}  // namespace

// The earliest recorded call that no thread has reached yet.
size_t TraceReplay::Unreached() const {
    size_t earliest = trace_.records.size();
    for (const Thread& thread : threads_)
        if (thread.next < thread.calls.size() && thread.calls[thread.next] < earliest)
            earliest = thread.calls[thread.next];
    return earliest;
}

// The recorded thread a thread of the replay stands for: the one it took
// over, or for a thread new to the replay, the recorded thread whose next
// call this is, else the first one not yet taken; threads_.size() for none.
size_t TraceReplay::ThreadFor(uint32_t thread, int routine, const int32_t* arguments,
                              int argumentCount, const void* in, uint32_t inBytes) {
    const auto mapped = byReplayThread_.find(thread);
    if (mapped != byReplayThread_.end()) return mapped->second;
    size_t chosen = threads_.size();
    for (size_t t = 0; t < threads_.size(); ++t) {
        const Thread& candidate = threads_[t];
        if (candidate.taken || candidate.calls.empty()) continue;
        if (chosen == threads_.size()) chosen = t;
        if (Matches(trace_.records[candidate.calls[0]], routine, arguments, argumentCount, in,
                    inBytes)) {
            chosen = t;
            break;
        }
    }
    if (chosen == threads_.size()) return chosen;
    threads_[chosen].taken = true;
    byReplayThread_.emplace(thread, chosen);
    return chosen;
}

bool TraceReplay::Answer(uint32_t thread, int routine, const int32_t* arguments, int argumentCount,
                         const void* in, uint32_t inBytes, void* dataArea, int16_t* status,
                         int16_t* outputs) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!loaded_) return false;
    std::string asked = Asked(routine, arguments, InputCount(routine, argumentCount));
    if (inBytes != 0) asked += " with " + std::to_string(inBytes) + " bytes of data";

    const size_t t = ThreadFor(thread, routine, arguments, argumentCount, in, inBytes);
    if (t == threads_.size()) {
        Diverge(Unreached(), nullptr, "", asked + " on a thread the recording does not have");
        return false;
    }
    Thread& recorded = threads_[t];
    if (recorded.next >= recorded.calls.size()) {
        Diverge(recorded.calls.back() + 1, nullptr, "",
                asked + " after the recorded thread's last call");
        return false;
    }
    const size_t index = recorded.calls[recorded.next];
    // Past the departure the card answers by itself.
    if (outcome_.diverged && index >= departure_) return false;
    const TraceRecord& record = trace_.records[index];
    if (!Matches(record, routine, arguments, argumentCount, in, inBytes)) {
        Diverge(index, &record, Recorded(record), asked);
        return false;
    }
    if (record.out.size() > mostOut_[index]) {
        Diverge(index, &record,
                Recorded(record) + " delivering " + std::to_string(record.out.size()) +
                    " bytes, more than it can (" + std::to_string(mostOut_[index]) + ")",
                asked);
        return false;
    }
    ++recorded.next;
    ++outcome_.answered;
    *status = record.status;
    if (!record.out.empty() && dataArea != nullptr)
        std::memcpy(dataArea, record.out.data(), record.out.size());
    if (outputs != nullptr && record.routine == routine::transcycpack &&
        record.arguments.size() >= 4) {
        outputs[0] = static_cast<int16_t>(record.arguments[2]);
        outputs[1] = static_cast<int16_t>(record.arguments[3]);
    }
    return true;
}

TraceReplay::Outcome TraceReplay::Finish() {
    std::lock_guard<std::mutex> hold(lock_);
    // Calls recorded but never asked, before any departure: the earliest.
    const size_t unasked = Unreached();
    if (unasked < trace_.records.size())
        Diverge(unasked, &trace_.records[unasked], Recorded(trace_.records[unasked]), "");
    return outcome_;
}

}  // namespace qtrace
