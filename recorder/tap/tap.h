// The tap: a card library that forwards every call to the real one and
// records it in a card-traffic trace.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "recorder/tap/settings.h"
#include "recorder/trace/card_routines.h"
#include "recorder/trace/trace_recorder.h"

namespace tap {

// What a routine answers when the real library lacks it or cannot be loaded.
constexpr int16_t kMissingRoutine = -100;

class Tap {
public:
    // The one tap of the process, set up on its first use. Setting it up
    // never throws: whatever fails, calls are at least forwarded.
    static Tap& Instance();

    // The real routine, or null when there is none.
    void* Real(int routine) { return routines_[routine]; }
    // Said once per routine: it is missing in the real library.
    void Missing(int routine);
    void* realModule() const { return realModule_; }

    bool recording() const { return recording_; }
    void Record(const qtrace::CallRecord& call) { recorder_.Record(call); }
    // At exitbus: what is recorded so far is written, waited for a short
    // while at most, so that a slow disk never holds up the host's end.
    void Flush();
    // At the process's end: the writer stopped and everything written, or
    // where the writer was stopped wherever it was, what is left written
    // unless it held the file then.
    void End(bool writerAlive) {
        if (writerAlive)
            recorder_.Stop();
        else
            recorder_.TryDrain();
    }

    // The image of each cyclic function the real library created, so that
    // transcycpack's image is recorded with its size.
    void RememberCyclic(const int32_t* createcycArguments);
    uint32_t CyclicImageBytes(int32_t channel, int32_t number) const;

private:
    Tap() noexcept;
    void ReadOwnSettings(std::string* problems);
    void StartRecording(const std::string& problems);
    void LoadRealLibrary();
    void Say(const std::string& line) noexcept;

    Settings settings_;
    void* realModule_ = nullptr;
    void* routines_[qtrace::kRoutineCount] = {};
    std::atomic<bool> missingSaid_[qtrace::kRoutineCount] = {};
    bool recording_ = false;
    qtrace::TraceRecorder recorder_;
    static constexpr int kChannels = 32;
    static constexpr int kNumbers = 256;
    std::atomic<uint32_t> cyclic_[kChannels][kNumbers] = {};  // image bytes + 1; 0 not known
};

}  // namespace tap
