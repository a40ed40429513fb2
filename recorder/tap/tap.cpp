#include "recorder/tap/tap.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "recorder/tap/platform/tap_system.h"

namespace tap {

namespace {

const char kSettingsFile[] = "cardtap.ini";

std::string Trimmed(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

bool IsAbsolute(const std::string& path) {
    return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
           (path.size() > 1 && path[1] == ':');
}

std::string FromFolder(const std::string& folder, const std::string& path) {
    return path.empty() || IsAbsolute(path) ? path : folder + path;
}

std::string ReadFile(const std::string& path) {
    std::string text;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, n);
        std::fclose(file);
    }
    return text;
}

// With the writer still running, it is stopped and everything written;
// where it was stopped half-way, what it left is written unless it held the
// file then.
void FlushAtProcessEnd(bool threadsAlive) { Tap::Instance().End(threadsAlive); }

}  // namespace

Settings ReadSettings(const std::string& text, const std::string& folder, std::string* problems) {
    Settings settings;
    size_t start = 0;
    int line = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string content = text.substr(start, end - start);
        start = end + 1;
        ++line;
        const size_t comment = content.find_first_of(";#");
        if (comment != std::string::npos) content.erase(comment);
        content = Trimmed(content);
        if (content.empty()) continue;
        const size_t equals = content.find('=');
        const std::string key = Trimmed(content.substr(0, equals));
        const std::string value =
            equals == std::string::npos ? "" : Trimmed(content.substr(equals + 1));
        const unsigned long long number = std::strtoull(value.c_str(), nullptr, 10);
        if (key == "library") {
            settings.library = FromFolder(folder, value);
        } else if (key == "trace") {
            settings.trace = value == "off" ? value : FromFolder(folder, value);
        } else if (key == "file_limit_mb" && number > 0) {
            settings.fileLimitMb = number;
        } else if (key == "files" && number > 0 && number < 100) {
            settings.files = static_cast<int>(number);
        } else if (key == "ring_kb" && number >= 64) {
            settings.ringKb = number;
        } else {
            *problems += "line " + std::to_string(line) + ": '" + content + "' ignored; ";
        }
    }
    return settings;
}

Tap& Tap::Instance() {
    // Made once and never destroyed: callers may come until the process ends.
    static Tap* const tap = new Tap();
    return *tap;
}

void Tap::Say(const std::string& line) {
    Complain("cardtap: " + line);
    if (recording_) recorder_.Note(line);
}

Tap::Tap() {
    const std::string folder = OwnFolder();
    std::string settingsPath = Environment("QUN_TAP_SETTINGS");
    if (settingsPath.empty()) settingsPath = folder + kSettingsFile;
    std::string problems;
    const std::string text = ReadFile(settingsPath);
    settings_ = ReadSettings(text, folder, &problems);
    settings_.source = text.empty() ? "no settings file (" + settingsPath + ")" : settingsPath;
    if (!Environment("QUN_TAP_LIBRARY").empty()) settings_.library = Environment("QUN_TAP_LIBRARY");
    if (!Environment("QUN_TAP_TRACE").empty()) settings_.trace = Environment("QUN_TAP_TRACE");
    if (settings_.library.empty()) settings_.library = DefaultRealLibrary();
    if (settings_.trace.empty()) settings_.trace = folder + "cardtrace.qtr";

    if (settings_.trace != "off") {
        qtrace::RecorderSettings recorder;
        recorder.path = settings_.trace;
        recorder.fileLimitBytes = settings_.fileLimitMb << 20;
        recorder.files = settings_.files;
        recorder.ringBytes = static_cast<size_t>(settings_.ringKb) << 10;
        recorder.ticksPerSecond = TicksPerSecond();
        recorder.ticks = Ticks;
        recorder.wallStartMicroseconds = WallMicroseconds();
        std::string error;
        recording_ = recorder_.Start(recorder, &error);
        if (!recording_) Complain("cardtap: " + error + ": calls are forwarded, not recorded");
    }
    if (recording_) {
        recorder_.Note("tap: settings from " + settings_.source + "; real library " +
                       settings_.library);
        if (!problems.empty()) recorder_.Note("tap: settings " + problems);
        AtProcessEnd(FlushAtProcessEnd);
    }

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

void* Tap::Real(int routine) { return routines_[routine]; }

void Tap::Missing(int routine) {
    if (realModule_ == nullptr || missingSaid_[routine].exchange(true)) return;
    Say(std::string(qtrace::kCardRoutines[routine].name) + " is missing in " + settings_.library +
        ": it answers " + std::to_string(kMissingRoutine));
}

void Tap::RememberCyclic(int32_t channel, int32_t number, int32_t databaseKind, int32_t count) {
    if (channel < 0 || channel >= kChannels || number < 0 || number >= kNumbers) return;
    cyclic_[channel][number].store((static_cast<uint32_t>(databaseKind & 0xFFFF) << 16) |
                                       static_cast<uint32_t>(count & 0xFFFF),
                                   std::memory_order_relaxed);
}

uint32_t Tap::CyclicImageBytes(int32_t channel, int32_t number) const {
    if (channel < 0 || channel >= kChannels || number < 0 || number >= kNumbers)
        return qtrace::CyclicImageBytes(0, 0);
    const uint32_t definition = cyclic_[channel][number].load(std::memory_order_relaxed);
    if (definition == 0) return qtrace::CyclicImageBytes(0, 0);
    return qtrace::CyclicImageBytes(static_cast<int32_t>(definition >> 16),
                                    static_cast<int16_t>(definition & 0xFFFF));
}

}  // namespace tap
