// qunhost --trace: what a support engineer reads of a card-traffic trace:
// a summary first, then (with --list) the calls one per line, both limited
// to the calls a filter selects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recorder/trace/trace_reader.h"

namespace qunhost {

struct TraceFilter {
    int routine = -1;      // -1: every routine
    int64_t channel = -1;  // -1: every channel (card number for database routines)
    int64_t equipment = -1;
    bool statusGiven = false;
    int16_t status = 0;
    double fromSeconds = 0;
    double toSeconds = -1;  // below 0: to the end
    double gapSeconds = 1;  // pauses of the card longer than this are listed
};

// Channel (card number for database routines) and equipment of a call; -1
// where the routine has none.
int64_t ChannelOf(const qtrace::TraceRecord& record);
int64_t EquipmentOf(const qtrace::TraceRecord& record);

// Whether a call record passes the filter.
bool Selected(const qtrace::Trace& trace, const qtrace::TraceRecord& record,
              const TraceFilter& filter);

// The summary: the file, calls and failures per routine and per channel and
// equipment, statuses with counts, latency percentiles, pauses of the card,
// dropped records and the tap's notes.
std::vector<std::string> TraceSummary(const std::string& path, const qtrace::Trace& trace,
                                      const TraceFilter& filter);

// One line per selected call (and per note and dropped-records mark).
std::vector<std::string> TraceListing(const qtrace::Trace& trace, const TraceFilter& filter);

}  // namespace qunhost
