#include "lab/qunhost/report.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace qunhost {

namespace {

// The rows of the driver's memory-type table, in the order the host
// interface fixes.
const char* const kMnemonics[] = {"PB",   "PIB",  "PQB", "QCKB", "BY", "IBY",  "QBY", "PBY",
                                  "PIBY", "PQBY", "W",   "IW",   "QW", "BCDW", "DW",  "FW",
                                  "TI",   "CO",   "MPB", "MB",   "MY", "MW",   "MD",  "MF"};
constexpr uint32_t kMnemonicCount = sizeof kMnemonics / sizeof kMnemonics[0];

// Word areas end below word 32000 and below the byte area, which lies in
// words 25000 + byte / 2.
constexpr int32_t kDatabaseSize = 32000;
constexpr int32_t kByteAreaWord = 25000;

std::string Pad(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string Range(const char* area, int32_t first, int32_t last) {
    if (first == last) return std::string(area) + " " + std::to_string(first);
    return std::string(area) + " " + std::to_string(first) + ".." + std::to_string(last);
}

std::string JoinNames(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
    return text;
}

std::string Plural(int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool HasCyclic(const GateRun& gate) {
    return gate.accepted && gate.plan.block && gate.address.bitOrCyclicNumber != kNoBitOrCyclic;
}

// The driver refuses two kinds of internal gates without a message: a
// channel that is no card number, and a block longer than the internal
// limit. Say which, from the address as written.
std::string SilentRefusal(const GateSpec& plan) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t end = plan.address.find('_', start);
        fields.push_back(plan.address.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (fields.size() < 3) return "";
    std::string mnemonic = fields[2];
    for (char& c : mnemonic) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    struct Internal {
        const char* mnemonic;
        int32_t blockLimit;
    };
    const Internal internals[] = {{"MPB", 256}, {"MB", 256}, {"MY", 256},
                                  {"MW", 128},  {"MD", 64},  {"MF", 64}};
    for (const Internal& internal : internals) {
        if (mnemonic != internal.mnemonic) continue;
        const long channel = std::strtol(fields[0].c_str(), nullptr, 10);
        if (channel < 1 || channel > 8)
            return "internal memory takes a card number 1 to 8 in the channel's place";
        if (plan.block && plan.count > internal.blockLimit)
            return "an internal " + mnemonic + " block holds at most " +
                   std::to_string(internal.blockLimit) + " elements";
    }
    return "";
}

std::string GateDetail(const GateRun& gate) {
    if (!gate.parsed) return "";
    if (!gate.accepted) {
        if (!gate.notes.empty()) return gate.notes.front();
        const std::string silent = SilentRefusal(gate.plan);
        if (gate.parseResult == 1)
            return "(the driver logged no reason" + (silent.empty() ? "" : ": " + silent) + ")";
        return "(the driver answered " + std::to_string(gate.parseResult) + ")";
    }
    const GateAddress& a = gate.address;
    std::string where = MnemonicOf(a.memoryType);
    if (gate.channel >= 0)
        where += ", slot " + std::to_string(a.stationIndex) + " (channel " +
                 std::to_string(gate.channel) + ", equipment " + std::to_string(gate.equipment) +
                 ")";
    if (!gate.plan.block) {
        if (a.bitOrCyclicNumber != kNoBitOrCyclic)
            where += ", bit " + std::to_string(a.bitOrCyclicNumber);
        return where;
    }
    if (a.bitOrCyclicNumber == kNoBitOrCyclic) {
        const std::string area = AreaTaken(gate);
        return where + ", read on demand" +
               (area.empty() ? "" : " (" + area + " taken, no cyclic function)");
    }
    std::string text = "cyclic function " + std::to_string(a.bitOrCyclicNumber);
    if (gate.channel >= 0) text += " on channel " + std::to_string(gate.channel);
    const std::string area = AreaTaken(gate);
    if (!area.empty()) text += ", " + area;
    return text + "; " + where;
}

}  // namespace

std::string MnemonicOf(uint32_t memoryType) {
    if (memoryType < kMnemonicCount) return kMnemonics[memoryType];
    return "row " + std::to_string(memoryType);
}

int32_t BitsLeft(const DatabaseMarks& marks) {
    // A block of n bits is refused when nextFreeBit + n reaches 32000.
    return std::max<int32_t>(0, kDatabaseSize - 1 - marks.nextFreeBit);
}

int32_t WordsLeft(const DatabaseMarks& marks) {
    // A block must end below word 32000 and below the byte area.
    const int32_t limit =
        std::min<int32_t>(kDatabaseSize, marks.lowestUsedByte / 2 + kByteAreaWord);
    return std::max<int32_t>(0, limit - 1 - marks.nextFreeWord);
}

int32_t BytesLeft(const DatabaseMarks& marks) {
    // s bytes fit when s < lowestUsedByte and the new lowest byte still lies
    // above the word area.
    for (int32_t s = marks.lowestUsedByte - 1; s > 0; --s)
        if ((marks.lowestUsedByte - s) / 2 + kByteAreaWord > marks.nextFreeWord) return s;
    return 0;
}

std::string AreaTaken(const GateRun& gate) {
    if (!gate.marksKnown) return "";
    const DatabaseMarks& b = gate.before;
    const DatabaseMarks& a = gate.after;
    if (a.nextFreeBit > b.nextFreeBit) return Range("bits", b.nextFreeBit, a.nextFreeBit - 1);
    if (a.nextFreeWord > b.nextFreeWord) {
        // A float area starts on an even word: the gap before it is not the gate's.
        int32_t first = b.nextFreeWord;
        if (gate.address.elementBits == 32 && gate.plan.count > 0 &&
            a.nextFreeWord - 2 * gate.plan.count >= b.nextFreeWord)
            first = a.nextFreeWord - 2 * gate.plan.count;
        return Range("words", first, a.nextFreeWord - 1);
    }
    if (a.lowestUsedByte < b.lowestUsedByte)
        return Range("bytes", a.lowestUsedByte, b.lowestUsedByte - 1);
    return "";
}

std::vector<std::string> GateTableLines(const std::vector<GateRun>& gates) {
    size_t nameWidth = 4, addressWidth = 7, typeWidth = 4;
    for (const GateRun& g : gates) {
        nameWidth = std::max(nameWidth, g.plan.name.size());
        addressWidth = std::max(addressWidth, g.plan.address.size());
        const std::string type =
            std::string(GateTypeName(g.plan.gateType)) +
            (g.plan.block ? " x" + std::to_string(g.plan.count) : std::string());
        typeWidth = std::max(typeWidth, type.size());
    }
    nameWidth = std::min<size_t>(nameWidth, 28);
    addressWidth = std::min<size_t>(addressWidth, 32);
    std::vector<std::string> lines;
    lines.push_back("  " + Pad("gate", nameWidth) + "  kind    " + Pad("address", addressWidth) +
                    "  " + Pad("type", typeWidth) + "  result    detail");
    for (const GateRun& g : gates) {
        const std::string type =
            std::string(GateTypeName(g.plan.gateType)) +
            (g.plan.block ? " x" + std::to_string(g.plan.count) : std::string());
        const char* result = !g.parsed ? "not parsed" : g.accepted ? "accepted  " : "REFUSED   ";
        lines.push_back("  " + Pad(g.plan.name, nameWidth) + "  " +
                        (g.plan.block ? "block   " : "single  ") +
                        Pad(g.plan.address, addressWidth) + "  " + Pad(type, typeWidth) + "  " +
                        result + GateDetail(g));
        // Further lines the driver logged about the gate.
        const size_t first = g.accepted ? 0 : 1;
        for (size_t i = first; i < g.notes.size(); ++i)
            lines.push_back("  " + std::string(nameWidth, ' ') + "          note: " + g.notes[i]);
    }
    return lines;
}

std::vector<std::string> PlanLines(const std::vector<GateRun>& gates, const DriverState* state) {
    std::vector<std::string> lines;

    // Refused gates, each with the driver's reason.
    std::vector<const GateRun*> refused;
    for (const GateRun& g : gates)
        if (g.parsed && !g.accepted) refused.push_back(&g);
    lines.push_back("refused gates: " +
                    (refused.empty() ? std::string("none") : std::to_string(refused.size())));
    for (const GateRun* g : refused) {
        lines.push_back("  " + g->plan.name + " (line " + std::to_string(g->plan.line) + ", " +
                        g->plan.address + ")");
        if (g->notes.empty()) lines.push_back("    " + GateDetail(*g));
        for (const std::string& note : g->notes) lines.push_back("    " + note);
    }

    if (state == nullptr) {
        lines.push_back("");
        lines.push_back("The driver's state block has a size this program does not know, so the");
        lines.push_back("card database, the registry and the station table cannot be shown.");
        return lines;
    }

    // The card database, by the allocation pointers of the state block.
    DatabaseMarks marks;
    marks.nextFreeBit = state->nextFreeBit;
    marks.nextFreeWord = state->nextFreeWord;
    marks.lowestUsedByte = state->lowestUsedByte;
    char text[160];
    lines.push_back("");
    lines.push_back("card database (areas of the cyclic functions):");
    std::snprintf(
        text, sizeof text, "  bits   %5u used%-22s %5d left",
        static_cast<unsigned>(marks.nextFreeBit),
        marks.nextFreeBit ? (" (0.." + std::to_string(marks.nextFreeBit - 1) + ")").c_str() : "",
        static_cast<int>(BitsLeft(marks)));
    lines.push_back(text);
    std::snprintf(
        text, sizeof text, "  words  %5u used%-22s %5d left (32-bit and float elements take two)",
        static_cast<unsigned>(marks.nextFreeWord),
        marks.nextFreeWord ? (" (0.." + std::to_string(marks.nextFreeWord - 1) + ")").c_str() : "",
        static_cast<int>(WordsLeft(marks)));
    lines.push_back(text);
    const int32_t bytesUsed = kInitialLowestByte - marks.lowestUsedByte;
    std::snprintf(text, sizeof text,
                  "  bytes  %5d used%-22s %5d left (BY, IBY, QBY elements take two)",
                  static_cast<int>(bytesUsed),
                  bytesUsed > 0 ? (" (" + std::to_string(marks.lowestUsedByte) + ".." +
                                   std::to_string(kInitialLowestByte - 1) + ")")
                                      .c_str()
                                : "",
                  static_cast<int>(BytesLeft(marks)));
    lines.push_back(text);
    lines.push_back(
        "  (words grow up from 0, bytes down from 13999; byte b lies in word 25000 + b/2)");

    // The registry of cyclic functions, per channel.
    const int32_t count = LoadCyclicCount(state);
    lines.push_back("");
    lines.push_back("cyclic functions: " + std::to_string(count) + " in the registry, of " +
                    std::to_string(kRegistryChannelPlaces) + " places");
    if (count > kRegistryChannelPlaces)
        lines.push_back("  WARNING: the registry holds more entries than its " +
                        std::to_string(kRegistryChannelPlaces) + " channel places");
    const int32_t listed = std::min<int32_t>(std::max<int32_t>(count, 0), kRegistryChannelPlaces);
    std::map<int32_t, std::vector<int32_t>> perChannel;
    for (int32_t i = 0; i < listed; ++i)
        perChannel[state->cyclicChannel[i]].push_back(state->cyclicNumber[i]);
    for (const auto& [channel, numbers] : perChannel) {
        std::string line = "  channel " + std::to_string(channel) + ":";
        for (int32_t n : numbers) {
            line += " " + std::to_string(n);
            for (const GateRun& g : gates)
                if (HasCyclic(g) && g.channel == channel && g.address.bitOrCyclicNumber == n)
                    line += " (" + g.plan.name + ")";
        }
        if (channel >= 0 && channel < kCounterChannels) {
            const int32_t last = state->channelLastCyc[channel];
            line += "; numbers given up to " + std::to_string(last) + ", " +
                    std::to_string(std::max(0, 255 - last)) + " left";
        }
        lines.push_back(line);
    }
    // Block gates that asked for a cyclic function and got none.
    std::vector<std::string> onDemand;
    for (const GateRun& g : gates)
        if (g.accepted && g.plan.block && !HasCyclic(g)) onDemand.push_back(g.plan.name);
    if (!onDemand.empty())
        lines.push_back("  block gates read on demand (no cyclic function): " +
                        JoinNames(onDemand));

    // The station table.
    int32_t taken = 0;
    for (const StationEntry& e : state->stations)
        if (!(e.channel == kFreeStation && e.equipment == kFreeStation)) ++taken;
    lines.push_back("");
    lines.push_back("station table: " + std::to_string(taken) + " of " +
                    std::to_string(kStationCount) + " slots taken, " +
                    std::to_string(kStationCount - taken) + " free");
    for (int32_t slot = 0; slot < kStationCount; ++slot) {
        const StationEntry& e = state->stations[slot];
        if (e.channel == kFreeStation && e.equipment == kFreeStation) continue;
        std::vector<std::string> names;
        for (const GateRun& g : gates)
            if (g.accepted && g.address.stationIndex == slot) names.push_back(g.plan.name);
        std::snprintf(text, sizeof text, "  slot %3d  channel %2u  equipment %3u  ", slot,
                      static_cast<unsigned>(e.channel), static_cast<unsigned>(e.equipment));
        lines.push_back(text + (names.empty()
                                    ? std::string("no accepted gate (set by the "
                                                  "initialisation file or a refused gate)")
                                    : JoinNames(names)));
    }
    return lines;
}

int64_t Tally::total() const {
    int64_t n = 0;
    for (const auto& entry : byResult) n += entry.second;
    return n;
}

int64_t Tally::failed() const {
    int64_t n = 0;
    for (const auto& entry : byResult)
        if (entry.first != 0) n += entry.second;
    return n;
}

std::string FormatTally(const Tally& tally) {
    if (tally.total() == 0) return "none";
    std::string text = std::to_string(tally.total()) + ":";
    bool first = true;
    const auto ok = tally.byResult.find(0);
    if (ok != tally.byResult.end()) {
        text += " " + std::to_string(ok->second) + " ok";
        first = false;
    }
    for (const auto& [result, n] : tally.byResult) {
        if (result == 0) continue;
        text += std::string(first ? " " : ", ") + std::to_string(n) + " result " +
                std::to_string(result);
        first = false;
    }
    return text;
}

std::vector<std::string> SummaryLines(const std::vector<GateRun>& gates, const RunTotals& totals,
                                      int32_t registryCount) {
    std::vector<std::string> lines;
    int64_t accepted = 0, refused = 0, blocks = 0, singles = 0;
    std::map<int32_t, std::vector<int32_t>> cyclic;
    int64_t cyclicCount = 0;
    for (const GateRun& g : gates) {
        if (!g.parsed) continue;
        if (!g.accepted) {
            ++refused;
            continue;
        }
        ++accepted;
        (g.plan.block ? blocks : singles) += 1;
        if (HasCyclic(g)) {
            cyclic[g.channel].push_back(g.address.bitOrCyclicNumber);
            ++cyclicCount;
        }
    }
    lines.push_back("summary");
    lines.push_back("  gates       " + std::to_string(gates.size()) + " declared: " +
                    std::to_string(accepted) + " accepted (" + std::to_string(blocks) + " block, " +
                    std::to_string(singles) + " single), " + std::to_string(refused) + " refused");
    std::string cyclicLine =
        "  cyclic      " + Plural(cyclicCount, "function", "functions") + " created";
    if (registryCount >= 0)
        cyclicLine += " (registry " + std::to_string(registryCount) + " of " +
                      std::to_string(kRegistryChannelPlaces) + " places)";
    std::string perChannel;
    for (const auto& [channel, numbers] : cyclic) {
        perChannel += perChannel.empty() ? ": " : "; ";
        perChannel +=
            (channel >= 0 ? "channel " + std::to_string(channel) : std::string("channel ?")) + ":";
        for (int32_t n : numbers) perChannel += " " + std::to_string(n);
    }
    lines.push_back(cyclicLine + perChannel);
    lines.push_back("  reads       " + FormatTally(totals.reads));
    std::string writes = "  writes      " + FormatTally(totals.writes);
    if (totals.writesSkipped > 0)
        writes += " (" + std::to_string(totals.writesSkipped) + " skipped: gate refused)";
    lines.push_back(writes);
    lines.push_back("  driver log  " + Plural(totals.logLines, "line", "lines") + ": " +
                    std::to_string(totals.logTraces) + " traces, " +
                    std::to_string(totals.logNotable) + " errors and notable events");
    if (!totals.softcard.empty()) lines.push_back("  softcard    " + totals.softcard);
    if (totals.errors.empty()) {
        lines.push_back("  errors      none");
    } else {
        lines.push_back("  errors      " + std::to_string(totals.errors.size()));
        for (const std::string& e : totals.errors) lines.push_back("    " + e);
    }
    if (totals.interrupted) lines.push_back("  interrupted before the end of the time line");
    const int64_t problems = ProblemCount(gates, totals);
    lines.push_back(problems == 0 ? "result: OK"
                                  : "result: " + Plural(problems, "problem", "problems"));
    return lines;
}

int64_t ProblemCount(const std::vector<GateRun>& gates, const RunTotals& totals) {
    int64_t problems = 0;
    for (const GateRun& g : gates)
        if (g.parsed && !g.accepted) ++problems;
    problems +=
        totals.reads.failed() + totals.writes.failed() + static_cast<int64_t>(totals.errors.size());
    if (totals.interrupted) ++problems;
    return problems;
}

}  // namespace qunhost
