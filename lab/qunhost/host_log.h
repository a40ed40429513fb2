// The driver's log as the host runtime keeps it, read back line by line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qunhost {

struct LogEntry {
    int32_t level = 0;
    std::string text;
};

class HostLog {
public:
    // The lines logged since the last call.
    std::vector<LogEntry> Poll();

    int64_t total() const { return total_; }
    int64_t traces() const { return traces_; }    // level 8 and below
    int64_t notable() const { return notable_; }  // above level 8: errors and notable events

private:
    int32_t next_ = 0;
    int64_t total_ = 0;
    int64_t traces_ = 0;
    int64_t notable_ = 0;
};

// Lines that the driver's supervisor thread logs on its own (it runs beside
// the host's calls, so its lines may fall inside any call).
bool IsSupervisorLine(const std::string& text);

// "[32] text", the level right-aligned in two places.
std::string FormatLogEntry(const LogEntry& entry);

}  // namespace qunhost
