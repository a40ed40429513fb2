#include "lab/qunhost/host_log.h"

#include <cstdio>

#include "lab/korvex/korvex_control.h"

namespace qunhost {

namespace {

// Lines kept by the host runtime before the host program lets it forget
// those it has read, so that a run of hours does not grow without end.
constexpr int32_t kForgetAfter = 20000;

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

}  // namespace

std::vector<LogEntry> HostLog::Poll() {
    std::vector<LogEntry> entries;
    const int32_t count = KvxLogCount();
    for (; next_ < count; ++next_) {
        LogEntry entry;
        char text[512];
        const int32_t length = KvxLogLine(next_, &entry.level, text, sizeof text);
        if (length < 0) break;
        if (length >= static_cast<int32_t>(sizeof text)) {
            std::string whole(static_cast<size_t>(length) + 1, '\0');
            KvxLogLine(next_, &entry.level, &whole[0], length + 1);
            whole.resize(static_cast<size_t>(length));
            entry.text = whole;
        } else {
            entry.text = text;
        }
        ++total_;
        if (entry.level <= 8)
            ++traces_;
        else
            ++notable_;
        entries.push_back(entry);
    }
    // Every kept line has been read: let the runtime drop them. A line that
    // the supervisor thread logs between the count and the clear would be
    // lost, so this happens only when the count has not moved.
    if (next_ >= kForgetAfter && KvxLogCount() == next_) {
        KvxLogClear();
        next_ = 0;
    }
    return entries;
}

bool IsSupervisorLine(const std::string& text) {
    return StartsWith(text, "RIREVI Thread: ") || StartsWith(text, "VUROR: ") ||
           StartsWith(text, "RIREVI: StopCyclicFunctions()") ||
           StartsWith(text, "RIREVI: StartCyclicFunctions()");
}

std::string FormatLogEntry(const LogEntry& entry) {
    char level[16];
    std::snprintf(level, sizeof level, "[%2d] ", static_cast<int>(entry.level));
    return level + entry.text;
}

}  // namespace qunhost
