// What qunhost prints about gates, the card database, the cyclic functions
// and the run: built from plain records, so that it is tested without the
// driver.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "driver/address/gate_address.h"
#include "driver/entry/driver_state.h"
#include "lab/qunhost/scenario.h"

namespace qunhost {

// The allocation pointers of the card database, as the state block holds them.
struct DatabaseMarks {
    uint16_t nextFreeBit = 0;
    uint16_t nextFreeWord = 0;
    uint16_t lowestUsedByte = kInitialLowestByte;
};

// A gate as the run knows it: the declaration and what the driver made of it.
struct GateRun {
    GateSpec plan;
    bool parsed = false;
    int32_t parseResult = 0;
    bool accepted = false;
    std::vector<std::string> notes;  // level-32 lines the driver logged while parsing
    GateAddress address{};
    int32_t channel = -1;  // through the station slot, when the state is known
    int32_t equipment = -1;
    bool marksKnown = false;
    DatabaseMarks before, after;  // around the block parse
    // Reads and writes.
    bool hasValue = false;
    int32_t lastResult = -1;
    int64_t reads = 0, readFailures = 0;
};

// Mnemonic of a memoryType row ("W"), or "row N" outside the 24 rows.
std::string MnemonicOf(uint32_t memoryType);

// The largest block each area can still take by the driver's allocation
// rules: n bits, n 16-bit words, s bytes.
int32_t BitsLeft(const DatabaseMarks& marks);
int32_t WordsLeft(const DatabaseMarks& marks);
int32_t BytesLeft(const DatabaseMarks& marks);

// The area a block parse took: "words 0..15", "bits 0..99", "bytes
// 13980..13999", or "" when it took none.
std::string AreaTaken(const GateRun& gate);

// One line per gate after parsing: name, kind, address, type, result and
// what the driver made of it.
std::vector<std::string> GateTableLines(const std::vector<GateRun>& gates);

// The check-mode report beyond the gate table. state may be null when the
// driver's state block has a layout this program does not know.
std::vector<std::string> PlanLines(const std::vector<GateRun>& gates, const DriverState* state);

// Tallies of request results: result code -> count.
struct Tally {
    std::map<int32_t, int64_t> byResult;
    int64_t total() const;
    int64_t failed() const;  // results other than 0
    void Add(int32_t result) { ++byResult[result]; }
};
// "264: 262 ok, 2 result 1" or "none".
std::string FormatTally(const Tally& tally);

struct RunTotals {
    Tally reads, writes;
    int64_t writesSkipped = 0;
    int64_t logLines = 0, logTraces = 0, logNotable = 0;
    std::vector<std::string> errors;
    bool interrupted = false;
    std::string softcard;  // the software card's devices, when it is the card library
};

// The closing summary. registryCount is -1 when the state is unknown.
std::vector<std::string> SummaryLines(const std::vector<GateRun>& gates, const RunTotals& totals,
                                      int32_t registryCount);

// Problems that make the exit status 1.
int64_t ProblemCount(const std::vector<GateRun>& gates, const RunTotals& totals);

}  // namespace qunhost
