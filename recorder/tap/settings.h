// The tap's settings: the settings file beside the tap ("cardtap.ini"), then
// the environment. Every number is held to limits that a 32-bit host can
// afford and a reader can read.
#pragma once

#include <cstdint>
#include <string>

namespace tap {

struct Settings {
    std::string library;  // the real card library, full path
    std::string trace;    // the trace file; "" or "off": no recording
    uint64_t fileLimitMb = 64;
    int files = 4;
    uint64_t ringKb = 1024;
    std::string source;  // where the settings came from, for the trace's first note
};

// The limits of each number, both included.
struct Limit {
    const char* key;
    uint64_t least;
    uint64_t most;
};
constexpr Limit kFileLimitMb = {"file_limit_mb", 1, 128};  // a reader reads files up to 128 MB
constexpr Limit kFiles = {"files", 1, 99};
constexpr Limit kRingKb = {"ring_kb", 64, 16384};  // memory of the host's own

// Reads "key = value" lines; ';' and '#' begin comments. Relative paths are
// taken from folder. What was ignored or held to a limit is said in
// *problems, line by line.
Settings ReadSettings(const std::string& text, const std::string& folder, std::string* problems);

}  // namespace tap
