// The driver's own cost per request, measured against the work it cannot
// avoid. MORDALIX is loaded as the host loads it and called through QunMain;
// the simulated card answers at once (no journal, no delays, cyclic functions
// stepped by hand) and the host log formats every line and drops it.
//
// For each case the floor is the same card calls and the same log calls with
// the same arguments, made here directly, plus the copy into the value buffer.
// Request and floor batches alternate, so both see the same machine.
//
//   bench [--quick]     --quick: few repetitions (a smoke run)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "driver/address/gate_address.h"
#include "driver/address/memory_types.h"
#include "driver/address/parse_block.h"
#include "driver/entry/driver_state.h"
#include "driver/entry/qun_info.h"
#include "driver/entry/request.h"
#include "driver/exchange/gate_transfer.h"
#include "driver/platform/card.h"
#include "driver/platform/host.h"
#include "lab/card/simulated/applicom_control.h"
#include "lab/korvex/korvex_control.h"
#include "tests/support/module_loader.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int16_t kChannel = 2;
constexpr int16_t kEquipment = 7;
constexpr int16_t kOtherChannel = 5;  // no cyclic functions on it
constexpr int kCyclicOnChannel = 32;
constexpr int kCoveringFunction = 17;  // the one whose block holds the written word

int gBatch = 2000;       // requests per timed batch
int gRepetitions = 101;  // batches per case; the median is reported

qun_test::QunMainFunction gQunMain = nullptr;

// Keeps the compiler from dropping work whose result nobody reads.
volatile uint32_t gSink = 0;
// The length of a block's copy, known to the floor only at run time as it is
// to the driver (from the gate's count): a constant would let the compiler
// inline a copy the driver cannot.
volatile uint32_t gBlockBytes = 200;

// Nanoseconds per call of one batch of work().
template <typename Work>
double BatchNs(Work&& work) {
    const auto start = Clock::now();
    for (int i = 0; i < gBatch; ++i) work();
    const auto stop = Clock::now();
    return std::chrono::duration<double, std::nano>(stop - start).count() / gBatch;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Row {
    std::string name;
    double requestNs;
    double floorNs;
};

// What one run of work() did: its card calls with their arguments and the
// log lines, for checking that a floor does what its request does.
std::vector<std::string> Trace(const std::function<void()>& work) {
    ApcSetJournalLimit(1000);
    ApcJournalClear();
    KvxLogDiscard(0);
    KvxLogClear();
    work();
    std::vector<std::string> trace;
    for (int32_t i = 0; i < ApcJournalCount(); ++i) {
        ApcCall call{};
        ApcJournalGet(i, &call);
        std::string line = ApcRoutineName(call.routine);
        for (int32_t a = 0; a < call.argCount; ++a) line += " " + std::to_string(call.args[a]);
        trace.push_back(line + " -> " + std::to_string(call.status));
    }
    char text[1024];
    for (int32_t i = 0; i < KvxLogCount(); ++i) {
        int32_t level = 0;
        KvxLogLine(i, &level, text, sizeof text);
        trace.push_back("log " + std::to_string(level) + " " + text);
    }
    KvxLogDiscard(1);
    ApcSetJournalLimit(0);
    return trace;
}

bool gMismatch = false;
int gFailedRequests = 0;

inline void Expect0(int32_t result) {
    if (result != 0) ++gFailedRequests;
}

// Alternates batches of the request and of its floor, after a check that
// both make the same calls and a warm-up.
template <typename Request, typename Floor>
Row Compare(const char* name, Request&& request, Floor&& floor) {
    const std::vector<std::string> byRequest = Trace(request);
    const std::vector<std::string> byFloor = Trace(floor);
    if (byRequest != byFloor) {
        gMismatch = true;
        std::printf("bench: %s: the floor's calls differ from the request's\n", name);
        for (const std::string& line : byRequest) std::printf("  request: %s\n", line.c_str());
        for (const std::string& line : byFloor) std::printf("  floor:   %s\n", line.c_str());
    }
    BatchNs(request);
    BatchNs(floor);
    std::vector<double> requestNs, floorNs;
    for (int r = 0; r < gRepetitions; ++r) {
        requestNs.push_back(BatchNs(request));
        floorNs.push_back(BatchNs(floor));
    }
    return Row{name, Median(requestNs), Median(floorNs)};
}

// The driver instance as the host keeps it: state block and one request.
struct Instance {
    // 2796 bytes on the 32-bit target; native builds have wider handles.
    alignas(8) uint8_t stateBytes[sizeof(DriverState)] = {};
    QunRequest request{};
    DriverState& state() { return *reinterpret_cast<DriverState*>(stateBytes); }
    int32_t Call(uint32_t code, void* parameters) {
        request.state = &state();
        request.functionCode = code;
        request.instance = 1;
        request.parameters = parameters;
        return gQunMain(&request);
    }
};

GateTransfer Gate(uint16_t type, int16_t byteness, uint32_t elementAddress, int32_t bitOrCyclic,
                  int32_t count, int32_t stationIndex, void* value) {
    GateTransfer transfer{};
    transfer.tagName = "BENCH.TAG";
    transfer.address = GateAddress{stationIndex,   type,        byteness,
                                   elementAddress, bitOrCyclic, kMemoryTypes[type].elementBits};
    transfer.count = count;
    transfer.value = value;
    return transfer;
}

// A running cyclic function of (kChannel, kEquipment) on the card, its image
// filled by one manual cycle.
void CreateCyclic(int16_t number, uint16_t type, int16_t count, int32_t address,
                  int16_t databaseAddress) {
    int16_t channel = kChannel, period = 0, one = 1, minusOne = -1, status = -1;
    int16_t code = static_cast<int16_t>(kMemoryTypes[type].cyclicFunctionCode);
    int16_t kind = static_cast<int16_t>(kMemoryTypes[type].databaseKind);
    int16_t equipment = kEquipment;
    createcyc(&channel, &number, &period, &one, &code, &kind, &equipment, &count, &address,
              &databaseAddress, &minusOne, &status);
    if (status != 0) std::printf("bench: createcyc %d answered %d\n", number, status);
}

// The address strings of the parse measurement: every memory type, single
// gates with and without options, block gates with sample rates.
struct MixEntry {
    std::string text;
    int32_t gateType;  // the host type a single gate of this address needs
};

std::vector<MixEntry> AddressMix() {
    std::vector<MixEntry> mix;
    char text[64];
    for (int i = 0; mix.size() < 10000; ++i) {
        const MemoryType& type = kMemoryTypes[i % kMemoryTypeCount];
        const bool internal = i % kMemoryTypeCount >= kFirstInternalType;
        const int channel = internal ? 1 + i % 8 : i % 32;
        const int equipment = internal ? 0 : i % 16;
        const int address = type.form == RoutineForm::QuickBit ? i % 16 : i % 100;
        const bool block = i % 2 == 1;
        const bool bitGate = !block && type.bitNumberAllowed && i % 4 == 0;
        int32_t gateType = 0;
        if (type.elementBits == 1 || bitGate)
            gateType = kGateTypeDigital;
        else if (type.isFloat)
            gateType = kGateTypeFloat;
        else if (type.elementBits == 32)
            gateType = 4;
        if (block) {
            std::snprintf(text, sizeof text, "%d_%d_%s_%d_S%d", channel, equipment, type.mnemonic,
                          address, (i % 3) * 100);
        } else if (bitGate) {
            std::snprintf(text, sizeof text, "%d_%d_%s_%d_B%d", channel, equipment, type.mnemonic,
                          address, i % 8);
        } else {
            std::snprintf(text, sizeof text, "%d_%d_%s_%d", channel, equipment, type.mnemonic,
                          address);
        }
        mix.push_back({text, gateType});
    }
    return mix;
}

void PrintTable(const std::vector<Row>& rows, double addressesPerSecond, double coldStartMs) {
    std::printf("Build: %s\n\n", qun_test::RuntimeDescription().c_str());
    std::printf("| Case | Request | Floor | Ratio |\n|---|---:|---:|---:|\n");
    for (const Row& row : rows)
        std::printf("| %s | %.0f ns | %.0f ns | %.2f |\n", row.name.c_str(), row.requestNs,
                    row.floorNs, row.requestNs / row.floorNs);
    std::printf("\n| Measurement | Result |\n|---|---:|\n");
    std::printf(
        "| Address strings parsed (10000 single and block gates, all types) | %.2f million/s |\n",
        addressesPerSecond / 1e6);
    std::printf("| Cold start, clearing scan answered at once | %.2f ms |\n", coldStartMs);
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    if (quick) {
        gBatch = 200;
        gRepetitions = 5;
    }
    gQunMain = qun_test::LoadDriverEntry();
    if (gQunMain == nullptr) {
        std::printf("bench: the driver module could not be loaded\n");
        return 1;
    }
    KvxReset();
    ApcReset();
    ApcSetJournalLimit(0);
    ApcSetCallDelay(-1, 0);
    ApcSetCyclicManual(1);
    KvxLogDiscard(1);

    // ---- Cold start: card opened, supervisor started, clearing scan --------
    Instance instance;
    ColdStartParams cold{};
    cold.openFlag = 1;
    cold.timeout = 0;
    std::vector<double> coldMs;
    const int coldRepetitions = quick ? 3 : 31;
    for (int r = 0; r < coldRepetitions; ++r) {
        const auto start = Clock::now();
        instance.Call(1, &cold);
        coldMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        KvxPostShutdown();  // the supervisor of this start ends at its next poll
    }
    const double coldStartMs = Median(coldMs);
    // The supervisors of the measured starts end before the requests run.
    for (int i = 0; i < 300 && KvxClientCount() > 0; ++i) {
        KvxPostShutdown();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    // ---- The plant: station 0 on a channel with 32 cyclic functions --------
    DriverState& state = instance.state();
    state.stations[0] = {kChannel, kEquipment};
    state.stations[1] = {kOtherChannel, kEquipment};
    state.retryCount = 3;
    state.timeoutMs = 0;
    state.balanceFree = 1;
    state.firstCycNo = 0;
    state.channelFirstCyc[kChannel] = 1;
    state.channelLastCyc[kChannel] = kCyclicOnChannel;
    // Function n reads W 1000 + 10 (n - 1) onwards, 10 words, into database
    // words 10 (n - 1) onwards; function 40 reads W 300 to 399.
    for (int16_t n = 1; n <= kCyclicOnChannel; ++n)
        CreateCyclic(n, kW, 10, 1000 + 10 * (n - 1), static_cast<int16_t>(10 * (n - 1)));
    CreateCyclic(40, kW, 100, 300, 400);
    for (int16_t n = 1; n <= kCyclicOnChannel; ++n) {
        int16_t channel = kChannel, number = n, status = 0;
        startcyc(&channel, &number, &status);
    }
    {
        int16_t channel = kChannel, number = 40, status = 0;
        startcyc(&channel, &number, &status);
    }
    ApcCyclicStep();
    for (int a = 0; a < 2000; ++a) {
        const uint32_t word = static_cast<uint32_t>(a * 7);
        ApcPoke(kChannel, kEquipment, APC_AREA_WORD, a, &word, 1);
        ApcPoke(kChannel, kEquipment, APC_AREA_DWORD, a, &word, 1);
        ApcPoke(kOtherChannel, kEquipment, APC_AREA_WORD, a, &word, 1);
    }

    uint8_t value[1100] = {};
    uint8_t card[kCardBufferSize] = {};
    const char* tag = "BENCH.TAG";
    std::vector<Row> rows;

    // Single read of a W gate.
    {
        GateTransfer t = Gate(kW, 1, 100, kNoBitOrCyclic, 1, 0, value);
        rows.push_back(Compare(
            "Single read, W", [&] { Expect0(instance.Call(5, &t)); },
            [&] {
                err(kLogTrace, "RIREVI: SingleRead() entered. Tag '%s'", tag);
                int16_t ch = kChannel, eq = kEquipment, count = 1, status = 0;
                int32_t address = 100;
                readword(&ch, &eq, &count, &address, card, &status);
                std::memcpy(value + 2, card, 2);
                err(kLogTrace, "RIREVI: SingleRead() OK");
                err(kLogTrace, "RIREVI: SingleRead() exited. Tag '%s' rc = %d", tag, 0);
            }));
    }
    // Single read of bit 17 of a DW gate.
    {
        GateTransfer t = Gate(kDW, 1, 200, 17, 1, 0, value);
        rows.push_back(Compare(
            "Single read, DW bit 17", [&] { Expect0(instance.Call(5, &t)); },
            [&] {
                err(kLogTrace, "RIREVI: SingleRead() entered. Tag '%s'", tag);
                int16_t ch = kChannel, eq = kEquipment, count = 1, status = 0;
                int32_t address = 200;
                readdword(&ch, &eq, &count, &address, card, &status);
                uint32_t element;
                std::memcpy(&element, card, 4);
                std::memcpy(value, &element, 4);
                const uint16_t bit = static_cast<uint16_t>((element >> 17) & 1u);
                std::memcpy(value + 2, &bit, 2);
                err(kLogTrace, "RIREVI: SingleRead() OK");
                err(kLogTrace, "RIREVI: SingleRead() exited. Tag '%s' rc = %d", tag, 0);
            }));
    }
    // Block read of 100 W through cyclic function 40.
    {
        GateTransfer t = Gate(kW, 1, 300, 40, 100, 0, value);
        rows.push_back(Compare(
            "Block read, 100 W, cyclic function", [&] { Expect0(instance.Call(6, &t)); },
            [&] {
                int16_t ch = kChannel, number = 40, out1 = 0, out2 = 0, status = 0;
                transcycpack(&ch, &number, &out1, &out2, card, &status);
                std::memcpy(value, card, gBlockBytes);
            }));
    }
    // Block read of 100 W on demand.
    {
        GateTransfer t = Gate(kW, 1, 300, kNoBitOrCyclic, 100, 0, value);
        rows.push_back(Compare(
            "Block read, 100 W, on demand", [&] { Expect0(instance.Call(6, &t)); },
            [&] {
                int16_t ch = kChannel, eq = kEquipment, count = 100, status = 0;
                int32_t address = 300;
                readword(&ch, &eq, &count, &address, card, &status);
                std::memcpy(value, card, gBlockBytes);
            }));
    }
    // Single write of a W gate on a channel without cyclic functions.
    {
        GateTransfer t = Gate(kW, 1, 500, kNoBitOrCyclic, 1, 1, value);
        rows.push_back(Compare(
            "Single write, W, not covered", [&] { Expect0(instance.Call(7, &t)); },
            [&] {
                err(kLogTrace, "SingleWrite() entered. Writing to tag '%s'", tag);
                std::memcpy(card, value + 2, 2);
                int16_t ch = kOtherChannel, eq = kEquipment, count = 1, status = 0;
                int32_t address = 500;
                writeword(&ch, &eq, &count, &address, card, &status);
                err(kLogTrace, "SingleWrite() Writing to tag '%s' completed. rc = %d", tag, 0);
            }));
    }
    // Single write of a W gate covered by function 17 of 32, balance-free on.
    {
        const int32_t written = 1000 + 10 * (kCoveringFunction - 1) + 3;
        GateTransfer t = Gate(kW, 1, written, kNoBitOrCyclic, 1, 0, value);
        uint8_t record[256];
        rows.push_back(Compare(
            "Single write, W, covered by 1 of 32 cyclic functions, balance-free",
            [&] { Expect0(instance.Call(7, &t)); },
            [&] {
                err(kLogTrace, "SingleWrite() entered. Writing to tag '%s'", tag);
                // The walk goes on past the covering function.
                for (int16_t n = 1; n <= kCyclicOnChannel; ++n) {
                    int16_t ch = kChannel, number = n, status = 0;
                    AppGetCycParam(&ch, &number, record, &status);
                    if (n == kCoveringFunction) stopcyc(&ch, &number, &status);
                }
                int16_t ch = kChannel, number = kCoveringFunction, status = 0;
                std::memcpy(card, value + 2, 2);
                int16_t eq = kEquipment, count = 1;
                int32_t address = written;
                writeword(&ch, &eq, &count, &address, card, &status);
                int16_t cardNumber = 1;
                int32_t mirror = 10 * (kCoveringFunction - 1) + 3;
                setword(&cardNumber, &count, &mirror, card, &status);
                startcyc(&ch, &number, &status);
                err(kLogTrace, "SingleWrite() Writing to tag '%s' completed. rc = %d", tag, 0);
            }));
    }

    // ---- Address strings parsed per second -----------------------------------
    const std::vector<MixEntry> mix = AddressMix();
    std::vector<ParseBlock> blocks(mix.size());
    for (size_t i = 0; i < mix.size(); ++i) {
        blocks[i].addressText = mix[i].text.c_str();
        blocks[i].gateType = mix[i].gateType;
        blocks[i].elementCount = i % 2 == 1 ? 10 : 0;
    }
    // Pure parsing: block gates get no cyclic function here.
    state.cyclicAllowed = 0;
    int refused = 0;
    for (size_t i = 0; i < blocks.size(); ++i)
        refused += instance.Call(i % 2 == 1 ? 4 : 3, &blocks[i]) != 0;
    if (refused != 0) std::printf("bench: %d of the parse mix refused\n", refused);
    std::vector<double> perSecond;
    for (int r = 0; r < (quick ? 3 : 41); ++r) {
        const auto start = Clock::now();
        for (size_t i = 0; i < blocks.size(); ++i)
            gSink = gSink + instance.Call(i % 2 == 1 ? 4 : 3, &blocks[i]);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        perSecond.push_back(static_cast<double>(blocks.size()) / seconds);
    }

    PrintTable(rows, Median(perSecond), coldStartMs);
    if (gFailedRequests != 0) std::printf("bench: %d requests did not answer 0\n", gFailedRequests);
    return gMismatch || gFailedRequests != 0 ? 1 : 0;
}
