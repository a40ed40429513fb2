#include "recorder/trace/trace_replay.h"

#include <cstring>

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

}  // namespace

bool TraceReplay::Load(const std::string& path, std::string* error) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!ReadTrace(path, &trace_, error)) return false;
    threads_.clear();
    byReplayThread_.clear();
    outcome_ = Outcome();
    std::map<uint32_t, size_t> byRecorded;
    for (size_t i = 0; i < trace_.records.size(); ++i) {
        const TraceRecord& record = trace_.records[i];
        if (record.kind != kCallRecord || record.routine >= kRoutineCount) continue;
        auto found = byRecorded.find(record.thread);
        if (found == byRecorded.end()) {
            found = byRecorded.emplace(record.thread, threads_.size()).first;
            threads_.push_back(Thread{record.thread, {}, 0, false});
        }
        threads_[found->second].calls.push_back(i);
        ++outcome_.recordedCalls;
    }
    loaded_ = true;
    return true;
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

void TraceReplay::Diverge(const TraceRecord* record, size_t index, const std::string& asked) {
    outcome_.diverged = true;
    outcome_.asked = asked;
    if (record != nullptr) {
        outcome_.recorded = DescribeCall(record->routine, record->arguments);
        if (!record->in.empty())
            outcome_.recorded += " with " + std::to_string(record->in.size()) + " bytes of data";
        outcome_.seconds = trace_.Seconds(record->ticks);
        size_t number = 0;  // the call's position among the recorded calls
        for (size_t i = 0; i <= index && i < trace_.records.size(); ++i)
            number += trace_.records[i].kind == kCallRecord;
        outcome_.callNumber = number;
    }
}

bool TraceReplay::Answer(uint32_t thread, int routine, const int32_t* arguments, int argumentCount,
                         const void* in, uint32_t inBytes, void* dataArea, int16_t* status,
                         int16_t* outputs) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!loaded_ || outcome_.diverged) return false;
    std::string asked = Asked(routine, arguments, InputCount(routine, argumentCount));
    if (inBytes != 0) asked += " with " + std::to_string(inBytes) + " bytes of data";

    auto mapped = byReplayThread_.find(thread);
    if (mapped == byReplayThread_.end()) {
        // A thread new to the replay takes the recorded thread whose next
        // call this is, else the first recorded thread not yet taken.
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
        if (chosen == threads_.size()) {
            Diverge(nullptr, 0, asked + " on a thread the recording does not have");
            return false;
        }
        threads_[chosen].taken = true;
        mapped = byReplayThread_.emplace(thread, chosen).first;
    }
    Thread& recorded = threads_[mapped->second];
    if (recorded.next >= recorded.calls.size()) {
        Diverge(nullptr, 0, asked + " after the recorded thread's last call");
        return false;
    }
    const size_t index = recorded.calls[recorded.next];
    const TraceRecord& record = trace_.records[index];
    if (!Matches(record, routine, arguments, argumentCount, in, inBytes)) {
        Diverge(&record, index, asked);
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
    if (!outcome_.diverged) {
        // Calls recorded but never asked: the earliest of them.
        const TraceRecord* first = nullptr;
        size_t firstIndex = 0;
        for (const Thread& thread : threads_) {
            if (thread.next >= thread.calls.size()) continue;
            const size_t index = thread.calls[thread.next];
            if (first == nullptr || index < firstIndex) {
                first = &trace_.records[index];
                firstIndex = index;
            }
        }
        if (first != nullptr) Diverge(first, firstIndex, "");
    }
    return outcome_;
}

}  // namespace qtrace
