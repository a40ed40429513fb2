// Replay of a card-traffic trace of the tap: while it runs, the card answers
// each call with the status and data recorded for it, until the first call
// that asks something else than the recording; from then on the card
// answers by itself.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "lab/card/core/card_core.h"
#include "recorder/trace/trace_replay.h"

namespace apc {

namespace {

std::atomic<bool> replaying{false};

qtrace::TraceReplay& TheReplay() {
    static qtrace::TraceReplay* replay = new qtrace::TraceReplay;
    return *replay;
}

void CopyText(const std::string& text, char* out, int32_t size) {
    if (out == nullptr || size <= 0) return;
    const size_t n = std::min(text.size(), static_cast<size_t>(size) - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace

// The core's routine identifiers are the trace's (both come from the routine
// table), so a call is matched against the recording by its own identifier.
bool ReplayAnswer(int32_t routine, const int32_t* args, int32_t argCount, const void* in,
                  int32_t inBytes, void* data, int16_t* status, int16_t* outputs) {
    if (!replaying.load(std::memory_order_acquire)) return false;
    int16_t answer = 0;
    if (!TheReplay().Answer(CallerThreadId(), routine, args, argCount, in,
                            static_cast<uint32_t>(std::max(inBytes, 0)), data, &answer, outputs))
        return false;
    if (status != nullptr) *status = answer;
    return true;
}

}  // namespace apc

using namespace apc;

QUN_EXPORT int32_t ApcReplayStart(const char* path, char* message, int32_t size) {
    std::string error;
    if (path == nullptr || !TheReplay().Load(path, &error)) {
        CopyText(path == nullptr ? "no trace given" : error, message, size);
        return -1;
    }
    CopyText("", message, size);
    replaying.store(true, std::memory_order_release);
    return 0;
}

QUN_EXPORT int32_t ApcReplayFinish(char* text, int32_t size) {
    replaying.store(false, std::memory_order_release);
    const qtrace::TraceReplay::Outcome outcome = TheReplay().Finish();
    std::string description;
    char at[64];
    std::snprintf(at, sizeof at, "%.3f", outcome.seconds);
    if (!outcome.diverged) {
        description = "the run reproduced the recording: all " + std::to_string(outcome.answered) +
                      " calls answered as recorded";
    } else if (outcome.recorded.empty()) {
        description = "the run departed from the recording after " +
                      std::to_string(outcome.answered) +
                      " calls answered as recorded:\n  asked:    " + outcome.asked;
    } else {
        description =
            "the run departed from the recording at call " + std::to_string(outcome.callNumber) +
            " of " + std::to_string(outcome.recordedCalls) + " (" + at +
            " s into the recording), after " + std::to_string(outcome.answered) +
            " calls answered as recorded:\n  recorded: " + outcome.recorded + "\n  asked:    " +
            (outcome.asked.empty() ? "nothing more (the run ended)" : outcome.asked);
    }
    CopyText(description, text, size);
    return outcome.diverged ? 1 : 0;
}
