// Block reads: from the gate's cyclic function when it has one, otherwise
// on demand from the equipment (the wait-mode read).
#include <cstring>

#include "driver/address/memory_types.h"
#include "driver/entry/driver_functions.h"
#include "driver/entry/driver_state.h"
#include "driver/exchange/read.h"
#include "driver/exchange/transfer.h"
#include "driver/platform/card.h"
#include "driver/platform/host.h"

namespace {

constexpr int32_t kHighestCyclicNumber = 255;

}  // namespace

int32_t BlockRead(QunRequest* request) {
    const GateTransfer* transfer = ParametersOf<GateTransfer>(request);
    if (transfer == nullptr) {
        err(kLogError, "RIREVI: BlockRead() no parameter block");
        return 2;
    }
    // Any other negative number is no cyclic function's either.
    if (transfer->address.bitOrCyclicNumber < kNoBitOrCyclic) {
        err(kLogError, "RIREVI: BlockRead() illegal cyclic function number %d. Tag '%s'",
            transfer->address.bitOrCyclicNumber, TagName(*transfer));
        return 2;
    }
    if (transfer->address.bitOrCyclicNumber != kNoBitOrCyclic) return CyclFuncRead(request);
    return ReadAttempts(request, function_code::kBlockRead);
}

int32_t CyclFuncRead(QunRequest* request) {
    DriverState& state = *request->state;
    GateTransfer& transfer = *ParametersOf<GateTransfer>(request);
    if (!IsValidMemoryType(transfer.address.memoryType)) {
        err(kLogError, "RIREVI: CyclFuncRead() illegal memtype '%s'", TagName(transfer));
        return 2;
    }
    const MemoryType& type = MemoryTypeAt(transfer.address.memoryType);
    if (CheckTransfer(state, transfer, type, false, "CyclFuncRead") != 0) return 2;
    // The card numbers a channel's cyclic functions 0 to 255; the number is
    // the host's copy of what the parser gave and may have been damaged.
    if (transfer.address.bitOrCyclicNumber > kHighestCyclicNumber) {
        err(kLogError, "RIREVI: CyclFuncRead() illegal cyclic function number %d. Tag '%s'",
            transfer.address.bitOrCyclicNumber, TagName(transfer));
        return 2;
    }

    int16_t channel = StationOf(state, transfer.address).channel;
    int16_t number = static_cast<int16_t>(transfer.address.bitOrCyclicNumber);
    const uint32_t functionNumber = static_cast<uint16_t>(number);  // as the traces show it
    int16_t out1 = 0;
    int16_t out2 = 0;
    int16_t status = 0;
    const uint32_t attempts = ReadAttemptCount(state);
    uint32_t failures = 0;

    // Bytes the card does not deliver reach the host as zeros. Only the bytes
    // handed over are ever read back, so only those need clearing.
    const uint32_t bytes = BlockBytes(type.elementBits, transfer.count);
    std::memset(state.cardBuffer, 0, bytes);
    for (;;) {
        transcycpack(&channel, &number, &out1, &out2, state.cardBuffer, &status);
        if (status == kCardNotInitialised) {
            initbus(&status);
            transcycpack(&channel, &number, &out1, &out2, state.cardBuffer, &status);
        }
        if (status == kCardOk) break;

        ++failures;
        err(kLogTrace, "RIREVI: CyclFuncRead() func. %u error retry %d", functionNumber,
            static_cast<int32_t>(failures));
        PauseMs(state.timeoutMs);
        switch (status) {
            case kCardCyclicNotReadYet:
                err(kLogTrace,
                    "RIREVI: CyclFuncRead() transycpack(func.%u) data not read yet, stat. %d",
                    functionNumber, status);
                break;
            case kCardRemoteError:
                err(kLogTrace, "RIREVI: COMM_ERR_BY_REMOTE Sleeping for %d ms", state.timeoutMs);
                break;
            case kCardBusy:
                PauseMs(state.timeoutMs);
                break;
            case kCardCyclicInactive:
                err(kLogTrace,
                    "RIREVI: CyclFuncRead() func. %u not active anymore => calling wait-mode read",
                    functionNumber);
                return DoRead(request, function_code::kBlockRead);
            default:
                err(kLogTrace, "RIREVI: CyclFuncRead() transycpack(func.%u) stat. %d",
                    functionNumber, status);
                break;
        }
        if (failures >= attempts || status == kCardBusy) break;
    }

    switch (status) {
        case kCardOk:
            if (failures != 0)
                err(kLogTrace,
                    "RIREVI: CyclFuncRead() transycpack(func.%u) succeeded after %u retries",
                    functionNumber, failures);
            std::memcpy(transfer.value, state.cardBuffer, bytes);
            return 0;
        case 2:
        case 3:
        case 4:
        case kCardCyclicNotReadYet:
        case kCardRemoteError:
            return 1;
        default:
            return 2;
    }
}
