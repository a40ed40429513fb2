#include "recorder/tap/tap.h"

#include <cstdio>
#include <exception>
#include <new>

#include "recorder/tap/platform/tap_system.h"

namespace tap {

namespace {

const char kSettingsFile[] = "cardtap.ini";
// How long exitbus waits for the writer at most.
constexpr std::chrono::milliseconds kFlushWait{200};

std::string ReadFile(const std::string& path) {
    std::string text;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        size_t n;
        // A settings file is a few lines; anything past 64 KB is no settings file.
        while (text.size() < 65536 && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
            text.append(chunk, n);
        std::fclose(file);
    }
    return text;
}

// With the writer still running, it is stopped and everything written;
// where it was stopped half-way, what it left is written unless it held the
// file then.
void FlushAtProcessEnd(bool threadsAlive) { Tap::Instance().End(threadsAlive); }

// What the recorder cannot put into the trace (no file to write to).
void SayOnStandardError(const std::string& line) {
    try {
        Complain("cardtap: " + line);
    } catch (...) {
    }
}

}  // namespace

Tap& Tap::Instance() {
    // Made once, in place, and never destroyed: callers may come until the
    // process ends, and no allocation can fail before the first call is
    // forwarded.
    alignas(Tap) static unsigned char place[sizeof(Tap)];
    static Tap* const tap = new (place) Tap();
    return *tap;
}

void Tap::Say(const std::string& line) noexcept {
    try {
        Complain("cardtap: " + line);
        if (recording_) recorder_.Note(line);
    } catch (...) {
    }
}

Tap::Tap() noexcept {
    try {
        std::string problems;
        ReadOwnSettings(&problems);
        if (settings_.trace != "off") StartRecording(problems);
    } catch (const std::exception& exception) {
        // Calls are forwarded all the same, unrecorded.
        Say(std::string("the recorder cannot start (") + exception.what() +
            "): calls are forwarded, not recorded");
        if (recording_) recorder_.Stop();
        recording_ = false;
    } catch (...) {
        Say("the recorder cannot start: calls are forwarded, not recorded");
        if (recording_) recorder_.Stop();
        recording_ = false;
    }
    try {
        LoadRealLibrary();
    } catch (...) {
        realModule_ = nullptr;
        Say("the real library cannot be loaded: every routine answers " +
            std::to_string(kMissingRoutine));
    }
}

void Tap::ReadOwnSettings(std::string* problems) {
    const std::string folder = OwnFolder();
    std::string settingsPath = Environment("QUN_TAP_SETTINGS");
    if (settingsPath.empty()) settingsPath = folder + kSettingsFile;
    const std::string text = ReadFile(settingsPath);
    settings_ = ReadSettings(text, folder, problems);
    settings_.source = text.empty() ? "no settings file (" + settingsPath + ")" : settingsPath;
    if (!Environment("QUN_TAP_LIBRARY").empty()) settings_.library = Environment("QUN_TAP_LIBRARY");
    if (!Environment("QUN_TAP_TRACE").empty()) settings_.trace = Environment("QUN_TAP_TRACE");
    if (settings_.library.empty()) settings_.library = DefaultRealLibrary();
    if (settings_.trace.empty()) settings_.trace = folder + "cardtrace.qtr";
}

void Tap::StartRecording(const std::string& problems) {
    qtrace::RecorderSettings recorder;
    recorder.path = settings_.trace;
    recorder.fileLimitBytes = settings_.fileLimitMb << 20;
    recorder.files = settings_.files;
    recorder.ringBytes = static_cast<size_t>(settings_.ringKb) << 10;
    recorder.ticks = Ticks;
    recorder.ticksPerSecond = TicksPerSecond;
    recorder.wallStartMicroseconds = WallMicroseconds();
    recorder.say = SayOnStandardError;
    std::string error;
    if (!recorder_.Start(recorder, &error)) {
        Complain("cardtap: " + error + ": calls are forwarded, not recorded");
        return;
    }
    recording_ = true;
    // The writer runs in this module: a host that frees its driver modules
    // must not unmap the code under it.
    PinOwnModule();
    AtProcessEnd(FlushAtProcessEnd);
    recorder_.Note("tap: settings from " + settings_.source + "; real library " +
                   settings_.library);
    if (!problems.empty()) recorder_.Note("tap: settings " + problems);
}

void Tap::LoadRealLibrary() {
    std::string error;
    if (IsOwnModule(settings_.library)) {
        Say("the real library " + settings_.library + " is the tap itself: every routine answers " +
            std::to_string(kMissingRoutine));
        return;
    }
    realModule_ = LoadLibraryAt(settings_.library, &error);
    if (realModule_ == nullptr) {
        Say("cannot load the real library " + settings_.library + " (" + error +
            "): every routine answers " + std::to_string(kMissingRoutine));
        return;
    }
    for (int i = 0; i < qtrace::kRoutineCount; ++i)
        routines_[i] = FindFunction(realModule_, qtrace::kCardRoutines[i].name);
}

void Tap::Flush() {
    if (recording_) recorder_.Flush(kFlushWait);
}

void Tap::Missing(int routine) {
    if (realModule_ == nullptr || missingSaid_[routine].exchange(true)) return;
    Say(std::string(qtrace::kCardRoutines[routine].name) + " is missing in " + settings_.library +
        ": it answers " + std::to_string(kMissingRoutine));
}

void Tap::RememberCyclic(const int32_t* createcyc) {
    const int32_t channel = createcyc[0], number = createcyc[1];
    if (channel < 0 || channel >= kChannels || number < 0 || number >= kNumbers) return;
    const uint32_t bytes = qtrace::CyclicImageBytes(createcyc[4], createcyc[5], createcyc[7]);
    cyclic_[channel][number].store(bytes + 1, std::memory_order_relaxed);
}

uint32_t Tap::CyclicImageBytes(int32_t channel, int32_t number) const {
    const uint32_t remembered =
        channel >= 0 && channel < kChannels && number >= 0 && number < kNumbers
            ? cyclic_[channel][number].load(std::memory_order_relaxed)
            : 0;
    return remembered != 0 ? remembered - 1 : static_cast<uint32_t>(qtrace::kMostDataBytes);
}

}  // namespace tap
