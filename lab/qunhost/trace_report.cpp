#include "lab/qunhost/trace_report.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <tuple>

#include "recorder/trace/card_routines.h"

namespace qunhost {

namespace {

using qtrace::Arguments;
using qtrace::DescribeCall;
using qtrace::kCardRoutines;
using qtrace::Trace;
using qtrace::TraceRecord;

bool KnownRoutine(int routine) { return routine >= 0 && routine < qtrace::kRoutineCount; }

}  // namespace

int64_t ChannelOf(const TraceRecord& record) {
    if (!KnownRoutine(record.routine) || record.arguments.empty()) return -1;
    return kCardRoutines[record.routine].arguments == Arguments::kNone ? -1 : record.arguments[0];
}

int64_t EquipmentOf(const TraceRecord& record) {
    if (!KnownRoutine(record.routine)) return -1;
    const Arguments form = kCardRoutines[record.routine].arguments;
    if ((form == Arguments::kNetwork || form == Arguments::kQuickBit) &&
        record.arguments.size() > 1)
        return record.arguments[1];
    if (form == Arguments::kCreateCyclic && record.arguments.size() > 6) return record.arguments[6];
    return -1;
}

namespace {

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string PadRight(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}
std::string PadLeft(const std::string& text, size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string Hex(const std::vector<uint8_t>& bytes, size_t most) {
    std::string text;
    char pair[4];
    for (size_t i = 0; i < bytes.size() && i < most; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
        text += (i == 0 ? "" : " ") + std::string(pair);
    }
    if (bytes.size() > most) text += " ... (" + std::to_string(bytes.size()) + " bytes)";
    return text;
}

// A note's text as it may go to a terminal: a trace from elsewhere could
// carry escape sequences, so every byte outside printable ASCII is shown as
// \xHH.
std::string Printable(const std::vector<uint8_t>& text) {
    std::string shown;
    char escaped[8];
    for (uint8_t byte : text) {
        if (byte >= 0x20 && byte < 0x7F) {
            shown += static_cast<char>(byte);
        } else {
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        }
    }
    return shown;
}

// The microseconds below which the given share of the sorted durations lie.
double Percentile(const std::vector<double>& sorted, double share) {
    if (sorted.empty()) return 0;
    size_t index = static_cast<size_t>(share * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}

std::string WallTime(uint64_t microseconds) {
    const std::time_t seconds = static_cast<std::time_t>(microseconds / 1000000);
    std::tm parts{};
#if defined(_WIN32)
    gmtime_s(&parts, &seconds);
#else
    gmtime_r(&seconds, &parts);
#endif
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

// A dropped record: how many calls were lost, and whether because the file
// could not be written (else the recorder's memory was full).
uint64_t LostCalls(const TraceRecord& record) {
    return record.arguments.empty() ? 0 : static_cast<uint32_t>(record.arguments[0]);
}
bool WriteFailed(const TraceRecord& record) {
    return record.arguments.size() > 1 && record.arguments[1] == qtrace::kWriteFailed;
}

std::string Plural(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

bool Selected(const Trace& trace, const TraceRecord& record, const TraceFilter& filter) {
    const double at = trace.Seconds(record.ticks);
    if (at < filter.fromSeconds) return false;
    if (filter.toSeconds >= 0 && at > filter.toSeconds) return false;
    if (record.kind != qtrace::kCallRecord)
        return filter.routine < 0 && filter.channel < 0 && filter.equipment < 0 &&
               !filter.statusGiven;
    if (filter.routine >= 0 && record.routine != filter.routine) return false;
    if (filter.channel >= 0 && ChannelOf(record) != filter.channel) return false;
    if (filter.equipment >= 0 && EquipmentOf(record) != filter.equipment) return false;
    if (filter.statusGiven && record.status != filter.status) return false;
    return true;
}

std::vector<std::string> TraceSummary(const std::string& path, const Trace& trace,
                                      const TraceFilter& filter) {
    struct RoutineFigures {
        uint64_t calls = 0, failed = 0;
        std::vector<double> micros;
    };
    struct PlaceFigures {
        uint64_t calls = 0, failed = 0;
        std::map<std::string, uint64_t> routines;
    };
    std::map<int, RoutineFigures> byRoutine;
    // By card number (database routines) or channel, then equipment.
    std::map<std::tuple<bool, int64_t, int64_t>, PlaceFigures> byPlace;
    std::map<int16_t, std::map<std::string, uint64_t>> byStatus;
    std::map<uint32_t, uint64_t> byThread;
    std::vector<std::string> gaps, notes;
    uint64_t calls = 0, failed = 0, droppedMarks = 0;
    uint64_t dropped[2] = {0, 0};  // the recorder's memory full, the file not written
    bool haveLast = false;
    uint64_t lastTicks = 0;

    for (const TraceRecord& record : trace.records) {
        if (!Selected(trace, record, filter)) continue;
        if (record.kind == qtrace::kDroppedRecord) {
            ++droppedMarks;
            dropped[WriteFailed(record)] += LostCalls(record);
            continue;
        }
        if (record.kind == qtrace::kNoteRecord) {
            notes.push_back("  " + Fixed(trace.Seconds(record.ticks), 3) + " s  " +
                            Printable(record.in));
            continue;
        }
        if (record.kind != qtrace::kCallRecord || !KnownRoutine(record.routine)) continue;
        ++calls;
        const bool failure = record.status != 0;
        failed += failure;
        RoutineFigures& routine = byRoutine[record.routine];
        ++routine.calls;
        routine.failed += failure;
        routine.micros.push_back(1e6 * trace.Seconds(record.durationTicks));
        const bool database = kCardRoutines[record.routine].arguments == Arguments::kDatabase;
        PlaceFigures& place = byPlace[{database, ChannelOf(record), EquipmentOf(record)}];
        ++place.calls;
        place.failed += failure;
        ++place.routines[kCardRoutines[record.routine].name];
        ++byStatus[record.status][kCardRoutines[record.routine].name];
        ++byThread[record.thread];
        // Compared in seconds: a file's clock rate may be anything at all.
        if (haveLast && record.ticks > lastTicks &&
            trace.Seconds(record.ticks - lastTicks) > filter.gapSeconds)
            gaps.push_back("  at " + Fixed(trace.Seconds(lastTicks), 3) + " s for " +
                           Fixed(trace.Seconds(record.ticks - lastTicks), 3) + " s");
        lastTicks = std::max(lastTicks, record.ticks + record.durationTicks);
        haveLast = true;
    }

    std::vector<std::string> lines;
    const double span = trace.records.empty() ? 0 : trace.Seconds(trace.records.back().ticks);
    lines.push_back("trace " + path + ": version " + std::to_string(trace.header.version) +
                    ", started " + WallTime(trace.header.wallStartMicroseconds) + ", " +
                    Fixed(span, 3) + " s recorded, " +
                    Plural(trace.records.size(), "record", "records") + " in " +
                    std::to_string(trace.fileBytes) + " bytes");
    for (const qtrace::DamagedStretch& stretch : trace.damaged)
        lines.push_back("  skipped " + Plural(stretch.bytes, "byte", "bytes") + " at offset " +
                        std::to_string(stretch.offset) + ": " + stretch.problem);
    lines.push_back("calls       " + std::to_string(calls) + ", " + std::to_string(failed) +
                    " failed, on " + Plural(byThread.size(), "thread", "threads"));
    if (droppedMarks == 0) {
        lines.push_back("dropped     none");
    } else {
        std::string why;
        if (dropped[0] != 0) why = std::to_string(dropped[0]) + " as the tap's memory was full";
        if (dropped[1] != 0)
            why += (why.empty() ? "" : ", ") + std::to_string(dropped[1]) +
                   " as the file could not be written";
        lines.push_back("dropped     " + std::to_string(dropped[0] + dropped[1]) +
                        " calls not recorded, in " + Plural(droppedMarks, "stretch", "stretches") +
                        (why.empty() ? "" : ": " + why));
    }

    lines.push_back("");
    lines.push_back("per routine       calls  failed    p50 us    p90 us    p99 us    max us");
    for (auto& entry : byRoutine) {
        RoutineFigures& figures = entry.second;
        std::sort(figures.micros.begin(), figures.micros.end());
        lines.push_back("  " + PadRight(kCardRoutines[entry.first].name, 14) +
                        PadLeft(std::to_string(figures.calls), 8) +
                        PadLeft(std::to_string(figures.failed), 8) +
                        PadLeft(Fixed(Percentile(figures.micros, 0.50), 1), 10) +
                        PadLeft(Fixed(Percentile(figures.micros, 0.90), 1), 10) +
                        PadLeft(Fixed(Percentile(figures.micros, 0.99), 1), 10) +
                        PadLeft(Fixed(figures.micros.back(), 1), 10));
    }

    lines.push_back("");
    lines.push_back("per channel and equipment, and per card (its database)");
    for (const auto& entry : byPlace) {
        const bool database = std::get<0>(entry.first);
        const int64_t channel = std::get<1>(entry.first), equipment = std::get<2>(entry.first);
        std::string place = database      ? "card " + std::to_string(channel)
                            : channel < 0 ? "no channel"
                                          : "channel " + std::to_string(channel);
        if (equipment >= 0) place += " equipment " + std::to_string(equipment);
        std::string routines;
        for (const auto& routine : entry.second.routines)
            routines += (routines.empty() ? "" : ", ") + routine.first + " " +
                        std::to_string(routine.second);
        lines.push_back("  " + PadRight(place, 24) +
                        PadLeft(std::to_string(entry.second.calls), 8) + " calls" +
                        PadLeft(std::to_string(entry.second.failed), 7) + " failed  " + routines);
    }

    lines.push_back("");
    lines.push_back("statuses");
    for (const auto& entry : byStatus) {
        uint64_t count = 0;
        std::string routines;
        for (const auto& routine : entry.second) {
            count += routine.second;
            routines += (routines.empty() ? "" : ", ") + routine.first + " " +
                        std::to_string(routine.second);
        }
        lines.push_back("  " + PadLeft(std::to_string(entry.first), 6) +
                        PadLeft(std::to_string(count), 9) + "  " + routines);
    }

    lines.push_back("");
    if (gaps.empty()) {
        lines.push_back("pauses      no pause of the card longer than " +
                        Fixed(filter.gapSeconds, 3) + " s");
    } else {
        lines.push_back("pauses      the card was not called for more than " +
                        Fixed(filter.gapSeconds, 3) + " s " + Plural(gaps.size(), "time", "times") +
                        ":");
        lines.insert(lines.end(), gaps.begin(), gaps.end());
    }
    if (!notes.empty()) {
        lines.push_back("notes of the tap");
        lines.insert(lines.end(), notes.begin(), notes.end());
    }
    return lines;
}

std::vector<std::string> TraceListing(const Trace& trace, const TraceFilter& filter) {
    std::vector<std::string> lines;
    std::map<uint32_t, int> threads;  // thread identifiers as T1, T2, ... by first appearance
    for (const TraceRecord& record : trace.records) {
        if (record.kind == qtrace::kCallRecord && threads.count(record.thread) == 0) {
            const int number = static_cast<int>(threads.size()) + 1;
            threads[record.thread] = number;
            lines.push_back("thread T" + std::to_string(number) + " is system thread " +
                            std::to_string(record.thread));
        }
    }
    for (const TraceRecord& record : trace.records) {
        if (!Selected(trace, record, filter)) continue;
        const std::string at = PadLeft(Fixed(trace.Seconds(record.ticks), 6), 12);
        if (record.kind == qtrace::kNoteRecord) {
            lines.push_back(at + "  note: " + Printable(record.in));
        } else if (record.kind == qtrace::kDroppedRecord) {
            lines.push_back(at + "  dropped: " + std::to_string(LostCalls(record)) +
                            " calls not recorded" +
                            (WriteFailed(record) ? " (the file could not be written)"
                                                 : " (the tap's memory was full)"));
        } else if (record.kind == qtrace::kCallRecord) {
            std::string line = at + "  T" + std::to_string(threads[record.thread]) + "  " +
                               DescribeCall(record.routine, record.arguments) + " -> " +
                               std::to_string(record.status) + "  (" +
                               Fixed(1e6 * trace.Seconds(record.durationTicks), 1) + " us)";
            if (!record.in.empty()) line += "  in: " + Hex(record.in, 16);
            if (!record.out.empty()) line += "  out: " + Hex(record.out, 16);
            lines.push_back(line);
        }
    }
    return lines;
}

}  // namespace qunhost
