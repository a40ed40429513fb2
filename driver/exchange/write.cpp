// Writes: the conversion of the host's value into card data, the write
// routine of the gate's memory type, and for field-bus gates the balance-free
// steps around it: the cyclic functions whose block covers the written
// address are stopped, the written data are mirrored into their database
// image, and they are started again.
#include "driver/exchange/write.h"

#include <cstring>

#include "driver/address/memory_types.h"
#include "driver/entry/driver_functions.h"
#include "driver/entry/driver_state.h"
#include "driver/exchange/gate_transfer.h"
#include "driver/exchange/read.h"
#include "driver/exchange/transfer.h"
#include "driver/platform/card.h"
#include "driver/platform/host.h"
#include "driver/platform/os.h"

namespace {

// The card was busy with the write: give it this long.
constexpr uint32_t kWriteBusyPauseMs = 200;

// Numbers of cyclic functions on a channel run from 1 to this.
constexpr uint32_t kMostCyclicNumber = 255;

// A special digital gate whose element read answered busy: nothing is written.
constexpr int32_t kElementNotDelivered = 2;

// The float pattern 0x80800000 (-1.1754944e-38) is written as 0.
constexpr uint32_t kRefusedFloatPattern = 0x80800000u;

// Logs the refusal of a type that cannot be written (an input type or no
// type at all) and returns 1; 0 when the gate's type can be written.
int32_t RefuseUnwritable(const GateTransfer& transfer) {
    const uint16_t memoryType = transfer.address.memoryType;
    if (IsValidMemoryType(memoryType) && IsWritable(MemoryTypeAt(memoryType))) return 0;
    err(kLogError, "RIREVI> PutData() illegal memtype '%s'", TagName(transfer));
    return 1;
}

// Calls the type's write routine in the type's argument form.
void CallWrite(const MemoryType& type, CardCall& call, uint8_t* data, int16_t* status) {
    if (type.form == RoutineForm::Database)
        type.databaseWrite(&call.channel, &call.count, &call.address, data, status);
    else
        type.networkWrite(&call.channel, &call.equipment, &call.count, &call.address, data, status);
}

int32_t WriteResult(int16_t status) {
    switch (status) {
        case kCardOk:
            return 0;
        case 2:
        case 3:
        case 4:
            return 1;
        case kCardBusy:
            os::SleepMs(kWriteBusyPauseMs);
            return 0;
        default:
            return 2;
    }
}

inline uint32_t BitMask(int32_t bit) { return static_cast<uint32_t>(bit) < 32 ? 1u << bit : 0; }

inline void PutWord(uint8_t* data, uint16_t word) { std::memcpy(data, &word, sizeof word); }
inline void PutDoubleWord(uint8_t* data, uint32_t value) {
    std::memcpy(data, &value, sizeof value);
}

// Whether the cyclic function of this record keeps the gate's element: one of
// its size elements from its start address. The element just past its end is
// not its own; mirroring it would write into the next area of the database.
bool Covers(const CycleParams& params, uint8_t equipment, int32_t cardAddress,
            uint16_t functionCode) {
    return params.equipment == equipment && params.startAddress <= cardAddress &&
           static_cast<int64_t>(cardAddress) <
               static_cast<int64_t>(params.startAddress) + params.size &&
           params.state == 1 && params.typeCode == functionCode;
}

}  // namespace

int32_t PutData(QunRequest* request, uint32_t functionCode) {
    DriverState& state = *request->state;
    GateTransfer& transfer = *ParametersOf<GateTransfer>(request);
    if (const int32_t refused = RefuseUnwritable(transfer)) return refused;
    const MemoryType& type = MemoryTypeAt(transfer.address.memoryType);
    uint8_t* card = state.cardBuffer;

    if (functionCode == function_code::kBlockWrite) {
        std::memcpy(card, transfer.value, BlockBytes(type.elementBits, transfer.count));
        return 0;
    }

    const int32_t bit = transfer.address.bitOrCyclicNumber;
    const bool specialDigital = bit != kNoBitOrCyclic;
    bool setBit = false;
    if (specialDigital) {
        // Read the whole element, then change the one bit in it.
        setBit = Value16(transfer) != 0;
        transfer.address.bitOrCyclicNumber = kNoBitOrCyclic;
        bool delivered = false;
        const int32_t result = SingleRead(request, &delivered);
        transfer.address.bitOrCyclicNumber = bit;
        if (result != 0) {
            err(kLogTrace, "RIREVI> PutData() read for spec. dig. gate failed");
            return result;
        }
        if (!delivered) {
            // A busy card answered the read without the element: the buffer
            // holds the host's value, not the element, and writing it back
            // would overwrite the element's other bits.
            err(kLogError, "RIREVI> PutData() element read busy, bit not written. Tag '%s'",
                TagName(transfer));
            return kElementNotDelivered;
        }
        const uint32_t mask = BitMask(bit);
        if (type.elementBits == 32) {
            const uint32_t element = Value32(transfer);
            SetValue32(transfer, setBit ? element | mask : element & ~mask);
        } else {
            const uint16_t element = Value16(transfer);
            SetValue16(transfer, static_cast<uint16_t>(setBit ? element | mask : element & ~mask));
        }
    }

    const uint16_t value16 = Value16(transfer);
    switch (ValueKindOf(type)) {
        case ValueKind::Bit:
            if (value16 != 0) {
                SetValue16(transfer, 1);  // the host keeps the normalised value
                PutWord(card, 1);
            } else {
                PutWord(card, 0);
            }
            break;
        case ValueKind::Byte16:
            if (transfer.gateType == 1) {
                // A signed byte: the element's high byte carries its sign, so
                // that the element holds the same number as the gate.
                card[0] = static_cast<uint8_t>(value16);
                card[1] = (value16 & 0x80u) != 0 ? 0xFF : 0x00;
            } else {
                PutWord(card, value16);
            }
            break;
        case ValueKind::Byte8:
            card[0] = static_cast<uint8_t>(value16);
            break;
        case ValueKind::Word:
            PutWord(card, value16);
            break;
        case ValueKind::DoubleWord:
            PutDoubleWord(card, Value32(transfer));
            break;
        case ValueKind::Float: {
            const uint32_t pattern = Value32(transfer);
            PutDoubleWord(card, pattern == kRefusedFloatPattern ? 0 : pattern);
            break;
        }
        case ValueKind::QuickBit:  // never writable: refused above
            break;
    }

    if (specialDigital) SetValue16(transfer, setBit ? 1 : 0);
    return 0;
}

int32_t StopCyclicFunctionsDuringWrite(QunRequest* request, int16_t* mirrorCount) {
    DriverState& state = *request->state;
    if (state.balanceFree == 0) return 0;
    const GateTransfer& transfer = *ParametersOf<GateTransfer>(request);
    const MemoryType& type = MemoryTypeAt(transfer.address.memoryType);
    // Timers and counters (type code 0) have no database area, so the block
    // parser never makes a cyclic function for them. A function with code 0 on
    // the card is the clearing's empty definition (equipment 0, address 0),
    // which a number whose creation then failed keeps, or one the driver did
    // not make: it holds no image of the timer or counter, and judging it by
    // the covering test could stop it for a write it has nothing to do with.
    if (type.cyclicFunctionCode == 0) return 0;
    const StationEntry& station = StationOf(state, transfer.address);
    if (station.channel >= kCounterChannels) return 0;  // no cyclic functions there

    // The numbers created on the channel: from its first created one to the
    // last one given out. A first number that is not above CYC_NO (0 among
    // them) or beyond the last means none was created.
    const uint32_t first = state.channelFirstCyc[station.channel];
    uint32_t last = state.channelLastCyc[station.channel];
    if (last > kMostCyclicNumber) last = kMostCyclicNumber;
    if (first <= state.firstCycNo || first > last) return 0;

    const int32_t cardAddress = CardAddress(transfer.address);
    const int16_t requested = *mirrorCount;
    bool stopped = false;
    CycleParams params;
    std::memset(&params, 0, sizeof params);
    for (uint32_t n = first; n <= last; ++n) {
        int16_t channel = station.channel;
        int16_t number = static_cast<int16_t>(n);
        int16_t status = 0;
        AppGetCycParam(&channel, &number, &params, &status);
        // A record the card did not fill may still hold the previous function's.
        if (status != kCardOk) continue;
        if (!Covers(params, station.equipment, cardAddress, type.cyclicFunctionCode)) continue;
        stopcyc(&channel, &number, &status);
        if (state.stoppedCount < kStoppedPlaces) state.stoppedCyclic[state.stoppedCount++] = n;
        // The gate's place in the image: its offset in the block, in the
        // database's units (a double word or float takes two words).
        const uint32_t offset = static_cast<uint32_t>(cardAddress - params.startAddress);
        state.mirrorAddress = static_cast<uint16_t>(offset * DatabaseUnitsPerElement(type) +
                                                    static_cast<uint32_t>(params.databaseAddress));
        // A block write may reach past the function's block: only its own
        // elements go into its image.
        const int64_t inside = static_cast<int64_t>(params.size) - offset;
        *mirrorCount = inside < requested ? static_cast<int16_t>(inside) : requested;
        stopped = true;
    }
    return stopped ? 1 : 0;
}

int32_t RestartCyclicFunctionsDuringWrite(QunRequest* request) {
    DriverState& state = *request->state;
    if (state.balanceFree == 0) return 1;
    const GateTransfer& transfer = *ParametersOf<GateTransfer>(request);
    const uint8_t gateChannel = StationOf(state, transfer.address).channel;
    const uint32_t count =
        state.stoppedCount < kStoppedPlaces ? state.stoppedCount : kStoppedPlaces;
    for (uint32_t i = 0; i < count; ++i) {
        int16_t channel = gateChannel;
        int16_t number = static_cast<int16_t>(state.stoppedCyclic[i]);
        int16_t status = 0;
        startcyc(&channel, &number, &status);
        if (status != kCardOk)
            err(kLogError,
                "RIREVI: RestartCyclicFunctionsDuringWrite() error on Chan.%u Func.%u, stat %u",
                static_cast<uint32_t>(gateChannel), static_cast<uint32_t>(state.stoppedCyclic[i]),
                static_cast<uint32_t>(static_cast<int32_t>(status)));
    }
    return 1;
}

int32_t DoWrite(QunRequest* request, uint32_t functionCode) {
    DriverState& state = *request->state;
    GateTransfer& transfer = *ParametersOf<GateTransfer>(request);
    if (const int32_t refused = RefuseUnwritable(transfer)) return refused;
    const MemoryType& type = MemoryTypeAt(transfer.address.memoryType);
    if (CheckTransfer(state, transfer, type, functionCode == function_code::kSingleWrite,
                      "DoWrite") != 0)
        return 2;

    CardCall call = CardCallOf(state, transfer);
    int16_t cardNumber = static_cast<int16_t>(call.channel / 4 + 1);

    // Empty the list of stopped functions. Only entries below the count can
    // have been filled by a write, and only those are ever read.
    const uint32_t used = state.stoppedCount < kStoppedPlaces ? state.stoppedCount : kStoppedPlaces;
    std::memset(state.stoppedCyclic, 0, used * sizeof state.stoppedCyclic[0]);
    state.stoppedCount = 0;
    state.mirrorAddress = 0;

    if (const int32_t result = PutData(request, functionCode)) return result;

    int16_t status = 0;
    if (type.form == RoutineForm::Database) {
        CallWrite(type, call, state.cardBuffer, &status);
    } else {
        int16_t mirrorCount = call.count;
        const bool stopped = StopCyclicFunctionsDuringWrite(request, &mirrorCount) != 0;
        CallWrite(type, call, state.cardBuffer, &status);
        // Mirror only what the equipment took: a failed write leaves the image
        // as the function read it. The write's status decides the result.
        if (stopped && type.mirror != nullptr && status == kCardOk) {
            int32_t mirrorAddress = state.mirrorAddress;
            int16_t mirrorStatus = 0;
            type.mirror(&cardNumber, &mirrorCount, &mirrorAddress, state.cardBuffer, &mirrorStatus);
            if (mirrorStatus != kCardOk)
                err(kLogError,
                    "RIREVI: DoWrite() mirror to card %d database address %u failed, stat %d. "
                    "Tag '%s'",
                    cardNumber, static_cast<uint32_t>(state.mirrorAddress), mirrorStatus,
                    TagName(transfer));
        }
        RestartCyclicFunctionsDuringWrite(request);
    }
    if (status == kCardNotInitialised) {
        // Open the card access again and repeat the write alone, once; a
        // second 45 gives 2 like any other unknown status.
        initbus(&status);
        CallWrite(type, call, state.cardBuffer, &status);
    }
    return WriteResult(status);
}

int32_t SingleWrite(QunRequest* request) {
    const GateTransfer* transfer = ParametersOf<GateTransfer>(request);
    if (transfer == nullptr) {
        err(kLogError, "RIREVI: SingleWrite() no parameter block");
        return 2;
    }
    err(kLogTrace, "SingleWrite() entered. Writing to tag '%s'", TagName(*transfer));
    const int32_t result = DoWrite(request, function_code::kSingleWrite);
    err(kLogTrace, "SingleWrite() Writing to tag '%s' completed. rc = %d", TagName(*transfer),
        result);
    return result;
}

int32_t BlockWrite(QunRequest* request) {
    const GateTransfer* transfer = ParametersOf<GateTransfer>(request);
    if (transfer == nullptr) {
        err(kLogError, "RIREVI: BlockWrite() no parameter block");
        return 2;
    }
    err(kLogTrace, "RIREVI: BlockWrite(). Calling DoBlockWrite() Tag '%s' Block size %d",
        TagName(*transfer), transfer->count);
    const int32_t result = DoWrite(request, function_code::kBlockWrite);
    err(kLogTrace, "RIREVI: BlockWrite(). DoBlockWrite() Tag '%s' Block size %d completed rc = %d",
        TagName(*transfer), transfer->count, result);
    return result;
}
