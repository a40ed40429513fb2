// qunhost's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lab/qunhost/trace_report.h"

namespace qunhost {

struct Options {
    std::string scenario;  // the scenario file; empty with --info or --browse alone
    bool check = false;    // cold start and parsing only, then the plan
    bool info = false;     // the driver's information record in full
    bool browse = false;   // the "Tag Format" dialog
    bool plain = false;    // no live table even on a terminal
    bool help = false;
    bool version = false;         // the release's version, and nothing else
    int32_t logLevel = 32;        // driver log lines shown from this level up
    int64_t tableEveryMs = 2000;  // plain output: a table of values this often (0: per step)
    std::string driverPath;       // empty: MORDALIX.DLL beside qunhost.exe
    std::string logFile;          // the whole driver log, every level, to this file
    std::string traceFile;        // --trace: read this card-traffic trace, run nothing
    std::vector<std::string> traceFiles;  // it and the files that follow it
    std::string reportFile;               // --report: the traces as an HTML page
    bool traceList = false;       // --list: every selected call, after the summary
    TraceFilter traceFilter;  // --routine, --channel, --equipment, --status, --from, --to, --gap
    std::string replayFile;   // --replay: the simulated card answers from this trace
};

// False with a message for a command line that cannot be run.
bool ParseOptions(const std::vector<std::string>& arguments, Options* options, std::string* error);

// The text of --help.
std::string UsageText();

}  // namespace qunhost
