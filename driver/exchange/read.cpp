// Single reads, and the one read attempt that every read path shares.
#include "driver/exchange/read.h"

#include <cstring>

#include "driver/address/memory_types.h"
#include "driver/entry/driver_functions.h"
#include "driver/entry/driver_state.h"
#include "driver/exchange/transfer.h"
#include "driver/platform/card.h"
#include "driver/platform/host.h"
#include "driver/platform/os.h"

namespace {

// The card was busy: give it this long, keep the host's old value.
constexpr uint32_t kBusyPauseMs = 30;

// Calls the type's read routine in the type's argument form.
void CallRead(const MemoryType& type, CardCall& call, uint8_t* data, int16_t* status) {
    switch (type.form) {
        case RoutineForm::Network:
            type.networkRead(&call.channel, &call.equipment, &call.count, &call.address, data,
                             status);
            return;
        case RoutineForm::QuickBit:
            type.quickBitRead(&call.channel, &call.equipment, data, status);
            return;
        case RoutineForm::Database:
            type.databaseRead(&call.channel, &call.count, &call.address, data, status);
            return;
    }
}

// Bit number bit of value as 0 or 1; 0 for a number past 31.
inline uint16_t BitOf(uint32_t value, uint32_t bit) {
    return bit < 32 ? static_cast<uint16_t>((value >> bit) & 1u) : 0;
}

inline uint16_t SignExtended(uint8_t byte) {
    return static_cast<uint16_t>(static_cast<int16_t>(static_cast<int8_t>(byte)));
}

}  // namespace

int32_t DoRead(QunRequest* request, uint32_t functionCode, bool* delivered) {
    if (delivered != nullptr) *delivered = false;
    DriverState& state = *request->state;
    GateTransfer& transfer = *ParametersOf<GateTransfer>(request);
    if (!IsValidMemoryType(transfer.address.memoryType)) {
        err(kLogError, "RIREVI: DoRead() illegal memtype '%s'", TagName(transfer));
        return 1;
    }
    const MemoryType& type = MemoryTypeAt(transfer.address.memoryType);
    if (CheckTransfer(state, transfer, type, functionCode == function_code::kSingleRead,
                      "DoRead") != 0)
        return 2;

    CardCall call = CardCallOf(state, transfer);
    int16_t status = 0;
    CallRead(type, call, state.cardBuffer, &status);
    if (status == kCardNotInitialised) {
        // The card access was lost: open it again and repeat the read once.
        // A second 45 is a failure like any other status.
        initbus(&status);
        CallRead(type, call, state.cardBuffer, &status);
    }
    switch (status) {
        case kCardOk:
            StoreData(&transfer, state.cardBuffer, functionCode);
            if (delivered != nullptr) *delivered = true;
            return 0;
        case 2:
        case 3:
        case 4:
            return 1;
        case kCardBusy:
            os::SleepMs(kBusyPauseMs);
            return 0;
        case kCardRemoteError:
            err(kLogTrace, "RIREVI: COMM_ERR_BY_REMOTE Sleeping for %d", state.timeoutMs);
            PauseMs(state.timeoutMs);
            return 1;
        default:
            return 2;
    }
}

void StoreData(GateTransfer* transfer, const uint8_t* data, uint32_t functionCode) {
    const GateAddress& address = transfer->address;
    const MemoryType& type = MemoryTypeAt(address.memoryType);
    const ValueKind kind = ValueKindOf(type);

    if (functionCode == function_code::kBlockRead) {
        uint8_t* value = static_cast<uint8_t*>(transfer->value);
        if (kind == ValueKind::QuickBit) {
            // The quick bits from the gate's number on, unmasked, in one byte.
            value[0] = address.elementAddress < 32
                           ? static_cast<uint8_t>(data[0] >> address.elementAddress)
                           : 0;
        } else {
            std::memcpy(value, data, BlockBytes(type.elementBits, transfer->count));
        }
        return;
    }

    uint16_t word;
    std::memcpy(&word, data, sizeof word);
    const int32_t bit = address.bitOrCyclicNumber;
    uint16_t value16 = word;
    switch (kind) {
        case ValueKind::Bit:
            SetValue16(*transfer, word & 1u);
            return;
        case ValueKind::QuickBit:
            SetValue16(*transfer, BitOf(word, address.elementAddress));
            return;
        case ValueKind::Byte16:
            value16 = transfer->gateType == 1 ? SignExtended(data[0]) : word;
            break;
        case ValueKind::Byte8:
            value16 = transfer->gateType == 1 ? SignExtended(data[0]) : data[0];
            break;
        case ValueKind::Word:
            break;
        case ValueKind::DoubleWord:
        case ValueKind::Float: {
            uint32_t value32;
            std::memcpy(&value32, data, sizeof value32);
            SetValue32(*transfer, value32);
            // A bit of a double word goes to the upper half; the lower half
            // keeps the double word's low 16 bits.
            if (kind == ValueKind::DoubleWord && bit != kNoBitOrCyclic)
                SetValue16(*transfer, BitOf(value32, static_cast<uint32_t>(bit)));
            return;
        }
    }
    if (bit != kNoBitOrCyclic) value16 = BitOf(value16, static_cast<uint32_t>(bit));
    SetValue16(*transfer, value16);
}

int32_t ReadAttempts(QunRequest* request, uint32_t functionCode, bool* delivered) {
    const uint32_t attempts = ReadAttemptCount(*request->state);
    int32_t result = 0;
    for (uint32_t attempt = 0; attempt < attempts;) {
        result = DoRead(request, functionCode, delivered);
        if (result == 0) break;
        ++attempt;
        err(kLogTrace, "RIREVI: Error detected; retry number %d ", static_cast<int32_t>(attempt));
    }
    return result;
}

int32_t SingleRead(QunRequest* request) { return SingleRead(request, nullptr); }

int32_t SingleRead(QunRequest* request, bool* delivered) {
    if (delivered != nullptr) *delivered = false;
    const GateTransfer* transfer = ParametersOf<GateTransfer>(request);
    if (transfer == nullptr) {
        err(kLogError, "RIREVI: SingleRead() no parameter block");
        return 2;
    }
    err(kLogTrace, "RIREVI: SingleRead() entered. Tag '%s'", TagName(*transfer));
    const int32_t result = ReadAttempts(request, function_code::kSingleRead, delivered);
    if (result == 0) err(kLogTrace, "RIREVI: SingleRead() OK");
    err(kLogTrace, "RIREVI: SingleRead() exited. Tag '%s' rc = %d", TagName(*transfer), result);
    return result;
}
