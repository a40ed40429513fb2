// tap_bench: the cost of one request through the driver module at a given
// path, whatever card library it loads beside it: the simulated card, or the
// recording tap in front of it. scripts/bench.sh runs it for both and sets the
// two medians side by side; a process can hold only one module of the card
// library's name, so the two cannot share one.
//
//   tap_bench DRIVER [--quick]
//
// Prints one line: "<median ns> ns per request (<card library>)", the median
// of 101 batches of 2000 requests made one after the other.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver/address/gate_address.h"
#include "driver/entry/driver_state.h"
#include "driver/entry/qun_info.h"
#include "driver/entry/request.h"
#include "driver/exchange/gate_transfer.h"
#include "driver/platform/abi.h"
#include "lab/card/simulated/applicom_control.h"
#include "lab/korvex/korvex_control.h"
#include "lab/qunhost/platform/system.h"

namespace {

using Clock = std::chrono::steady_clock;
using Entry = int32_t(QUN_CDECL*)(QunRequest*);

constexpr uint16_t kWordType = 10;  // W in the driver's memory-type table
constexpr int kBatch = 2000;

template <typename Function>
Function Find(void* module, const char* name) {
    return reinterpret_cast<Function>(qunhost::sys::FindFunction(module, name));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tap_bench DRIVER [--quick]\n");
        return 2;
    }
    const int repetitions = argc > 2 && std::strcmp(argv[2], "--quick") == 0 ? 5 : 101;
    std::string error;
    void* driver = qunhost::sys::LoadModule(qunhost::sys::FullPath(argv[1]), &error);
    const Entry qunMain = Find<Entry>(driver, "QunMain");
    if (qunMain == nullptr) {
        std::printf("tap_bench: cannot load %s: %s\n", argv[1], error.c_str());
        return 2;
    }
    // The simulated card's controls: in the card library, or behind the tap.
    void* card = qunhost::sys::LoadedModule(qunhost::sys::kCardLibraryName);
    std::string cardName = "the simulated card";
    using RealModule = void*(QUN_CDECL*)();
    if (auto real = Find<RealModule>(card, "TapRealModule")) {
        card = real();
        cardName = "the simulated card behind the tap";
    }
    const auto reset = Find<decltype(&ApcReset)>(card, "ApcReset");
    const auto journalLimit = Find<decltype(&ApcSetJournalLimit)>(card, "ApcSetJournalLimit");
    const auto callDelay = Find<decltype(&ApcSetCallDelay)>(card, "ApcSetCallDelay");
    const auto poke = Find<decltype(&ApcPoke)>(card, "ApcPoke");
    if (reset == nullptr || journalLimit == nullptr || callDelay == nullptr || poke == nullptr) {
        std::printf("tap_bench: the card library is not the simulated card\n");
        return 2;
    }
    KvxReset();
    reset();
    journalLimit(0);
    callDelay(-1, 0);
    KvxLogDiscard(1);

    // The instance as the host keeps it; the cold start opens the card.
    std::vector<uint64_t> block((sizeof(DriverState) + 7) / 8);
    DriverState& state = *reinterpret_cast<DriverState*>(block.data());
    QunRequest request{};
    request.state = &state;
    request.instance = 1;
    ColdStartParams cold{};
    cold.openFlag = 1;
    request.functionCode = 1;
    request.parameters = &cold;
    qunMain(&request);
    KvxPostShutdown();
    state.stations[0] = {2, 7};
    const uint32_t word = 1234;
    poke(2, 7, APC_AREA_WORD, 100, &word, 1);

    // A single read of a W gate at address 100.
    uint8_t value[16] = {};
    GateTransfer transfer{};
    transfer.tagName = "BENCH.TAG";
    transfer.address = GateAddress{0, kWordType, 1, 100, kNoBitOrCyclic, 16};
    transfer.count = 1;
    transfer.value = value;
    request.functionCode = 5;
    request.parameters = &transfer;
    int failed = 0;
    std::vector<double> ns;
    for (int r = 0; r <= repetitions; ++r) {
        const auto start = Clock::now();
        for (int i = 0; i < kBatch; ++i) failed += qunMain(&request) != 0;
        const double batch = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        if (r > 0) ns.push_back(batch / kBatch);  // the first batch warms up
    }
    std::sort(ns.begin(), ns.end());
    if (failed != 0) {
        std::printf("tap_bench: %d requests failed\n", failed);
        return 1;
    }
    std::printf("%.0f ns per request (%s)\n", ns[ns.size() / 2], cardName.c_str());
    return 0;
}
