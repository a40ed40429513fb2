// Block gates: the sample rate, the cyclic function that reads the block on
// the card by itself, and the area of the card's database that receives it.
#include "driver/address/block_parser.h"

#include "driver/address/decimal.h"
#include "driver/address/parse_block.h"
#include "driver/address/parser.h"
#include "driver/entry/driver_functions.h"
#include "driver/platform/card.h"
#include "driver/platform/host.h"
#include "driver/platform/os.h"

namespace {

constexpr uint16_t kNoDatabaseAddress = 65535;
constexpr uint16_t kLastCyclicNumber = 255;
constexpr uint32_t kRateUnitMs = 100;
// The period goes to the card as a signed 16-bit count of rate units.
constexpr uint32_t kHighestRateMs = 32767 * kRateUnitMs + kRateUnitMs - 1;
// The areas of the card's database, in bits and words.
constexpr int64_t kBitAreaSize = 32000;
constexpr int64_t kWordAreaSize = 32000;
// Byte b of the byte area lies in word kByteAreaWord + b / 2 of the word space.
constexpr int64_t kByteAreaWord = 25000;
constexpr int64_t kCardBufferBits = kCardBufferSize * 8;

// The text after the first "_" followed by "S" (in either case), or null.
// The string has passed Parse, so it is terminated within the parser's copy size.
const char* FindSampleRateField(const char* text) {
    for (const char* p = text; *p != '\0'; ++p) {
        if (p[0] == '_' && (p[1] == 'S' || p[1] == 's')) return p + 2;
    }
    return nullptr;
}

// Whether one of the first count functions of the registry lies on channel.
bool HasRegisteredFunctionOn(const DriverState* state, int16_t count, uint8_t channel) {
    for (int16_t i = 0; i < count; ++i) {
        if (state->cyclicChannel[i] == channel) return true;
    }
    return false;
}

}  // namespace

uint16_t GetFreeAddress(QunRequest* request, DatabaseKind kind) {
    DriverState* state = request->state;
    const ParseBlock* block = ParametersOf<ParseBlock>(request);
    // A negative count wraps to a size no area can hold.
    const int64_t n = static_cast<uint32_t>(block->elementCount);
    const int64_t wordLimit = kByteAreaWord + state->lowestUsedByte / 2;

    switch (kind) {
        case DatabaseKind::Bit: {
            if (state->nextFreeBit + n >= kBitAreaSize) {
                err(kLogError, "RIREVI: GetFreeAddress() Error: APPLICOM BIT DATABASE overflow");
                return kNoDatabaseAddress;
            }
            const uint16_t start = state->nextFreeBit;
            state->nextFreeBit = static_cast<uint16_t>(start + n);
            err(kLogTrace, "RIREVI: GetFreeAddr() BIT %u", static_cast<unsigned>(start));
            return start;
        }
        case DatabaseKind::Byte: {
            const uint8_t bytesPerElement = MemoryTypeAt(block->address.memoryType).bytesPerElement;
            if (bytesPerElement == 0) {
                err(kLogError, "RIREVI: GetFreeAddress() Error: illegal byte type");
                return kNoDatabaseAddress;
            }
            const int64_t size = bytesPerElement * n;
            if (state->lowestUsedByte <= size ||
                (state->lowestUsedByte - size) / 2 + kByteAreaWord <= state->nextFreeWord) {
                err(kLogError, "RIREVI: GetFreeAddress() Error: APPLICOM BYTE DATABASE overflow");
                return kNoDatabaseAddress;
            }
            state->lowestUsedByte = static_cast<uint16_t>(state->lowestUsedByte - size);
            err(kLogTrace, "RIREVI: GetFreeAddr() BYTE %u",
                static_cast<unsigned>(state->lowestUsedByte));
            return state->lowestUsedByte;
        }
        case DatabaseKind::Word16:
        case DatabaseKind::Word32:
        case DatabaseKind::Float: {
            int64_t start = state->nextFreeWord;
            int64_t words = n;
            const char* name = "16BIT";
            if (kind == DatabaseKind::Word32) {
                words = 2 * n;
                name = "32BIT";
            } else if (kind == DatabaseKind::Float) {
                // Floats begin on an even word.
                start = (start + 1) & ~int64_t{1};
                words = 2 * n;
                name = "FLOAT";
            }
            const int64_t end = start + words;
            if (end >= kWordAreaSize || end >= wordLimit) {
                err(kLogError, "RIREVI: GetFreeAddress() Error: APPLICOM WORD DATABASE overflow");
                return kNoDatabaseAddress;
            }
            state->nextFreeWord = static_cast<uint16_t>(end);
            err(kLogTrace, "RIREVI: GetFreeAddr() %s %u", name, static_cast<unsigned>(start));
            return static_cast<uint16_t>(start);
        }
        default:
            return kNoDatabaseAddress;
    }
}

int32_t BlockAddressParser(QunRequest* request) {
    if (request->parameters == nullptr) {
        err(kLogError, "RIREVI: BlockParse() no parameter block");
        return 1;
    }
    const int32_t parsed = Parse(request);
    if (parsed != 0) return parsed;

    DriverState* state = request->state;
    ParseBlock* block = ParametersOf<ParseBlock>(request);
    GateAddress& address = block->address;
    const char* text = block->addressText;
    if (address.bitOrCyclicNumber != kNoBitOrCyclic) {
        err(kLogError, "RIREVI: BlockParse() spec. dig. gates not allowed as block");
        return 1;
    }

    const char* rateText = FindSampleRateField(text);
    if (rateText == nullptr) {
        err(kLogError, "RIREVI: BlockParse() sample rate field missing '%s'", text);
        return 1;
    }
    const Decimal rate = ReadUnsigned(rateText);
    if (rate.status == DecimalStatus::NoNumber) {
        err(kLogError, "RIREVI: BlockParse() illegal sample rate field '%s'", text);
        return 1;
    }
    // 0 and 100 ms up are rates; a rate whose period the card cannot take is not.
    if (rate.status != DecimalStatus::Ok || (rate.value >= 1 && rate.value < kRateUnitMs) ||
        rate.value > kHighestRateMs) {
        err(kLogError, "RIREVI: BlockParse() illegal sample rate '%s'", text);
        return 1;
    }

    const MemoryType& type = MemoryTypeAt(address.memoryType);
    const int32_t count = block->elementCount;
    if (type.internalBlockLimit != 0 && count > static_cast<int32_t>(type.internalBlockLimit))
        return 1;
    // Every block goes through the card buffer, by its cyclic function or on
    // demand; the internal limits lie within it.
    const int32_t maxCount = type.internalBlockLimit != 0
                                 ? static_cast<int32_t>(type.internalBlockLimit)
                                 : static_cast<int32_t>(kCardBufferBits / type.elementBits);
    if (count <= 0 || count > maxCount) {
        err(kLogError, "RIREVI: BlockParse() block size %d out of range 1 to %d '%s'", count,
            maxCount, text);
        return 1;
    }

    if (state->cardOpen != 1 || state->cyclicAllowed != 1) return 0;
    if (type.databaseKind == DatabaseKind::None) return 0;

    const StationEntry& station = StationOf(*state, address);
    const uint8_t channelByte = station.channel;
    // The per-channel counters cover channels 0 to 30 only.
    if (channelByte >= kCounterChannels) {
        err(kLogError,
            "RIREVI: BlockParse() no cyclic function on channel %u, gate '%s' read on demand",
            static_cast<unsigned>(channelByte), text);
        return 0;
    }
    // The registry holds 32 functions; one that is not registered could never
    // be stopped.
    const int16_t registered = LoadCyclicCount(state);
    if (registered < 0 || registered >= kRegistryChannelPlaces) {
        err(kLogError,
            "RIREVI: BlockParse() Warning %d cyclic functions registered, gate '%s' read on "
            "demand",
            kRegistryChannelPlaces, text);
        return 0;
    }

    const int16_t period = static_cast<int16_t>(rate.value / kRateUnitMs);
    const uint16_t databaseAddress = GetFreeAddress(request, type.databaseKind);

    // The database area and the number, once taken, are not given back.
    uint16_t& last = state->channelLastCyc[channelByte];
    if (last >= kLastCyclicNumber) {
        err(kLogError, "RIREVI: BlockParse() Warning > 255 cyclic functions defined");
        return 0;
    }
    ++last;
    const uint16_t number = last;

    if (databaseAddress == kNoDatabaseAddress) {
        err(kLogError, "RIREVI: BlockParse() calling WAIT function in stead");
        return 0;
    }

    // Every argument goes by address; each call gets fresh copies.
    int16_t status = 0;
    auto create = [&] {
        int16_t channelArg = channelByte;
        int16_t numberArg = static_cast<int16_t>(number);
        int16_t periodArg = period;
        int16_t one = 1;
        int16_t functionCode = static_cast<int16_t>(type.cyclicFunctionCode);
        int16_t kind = static_cast<int16_t>(type.databaseKind);
        int16_t equipment = station.equipment;
        int16_t elementCount = static_cast<int16_t>(count);
        int32_t equipmentAddress = CardAddress(address);
        int16_t databaseArg = static_cast<int16_t>(databaseAddress);
        int16_t minusOne = -1;
        createcyc(&channelArg, &numberArg, &periodArg, &one, &functionCode, &kind, &equipment,
                  &elementCount, &equipmentAddress, &databaseArg, &minusOne, &status);
    };
    create();
    if (status == kCardNotInitialised) {
        initbus(&status);
        create();
    }
    if (status != kCardOk) {
        err(kLogError, "RIREVI: BlockParse() Error adding cyclic function, stats %u",
            static_cast<unsigned>(static_cast<int32_t>(status)));
        return 0;
    }

    // The channel's functions are channelFirstCyc to channelLastCyc, whatever
    // number the counters started from.
    if (!HasRegisteredFunctionOn(state, registered, channelByte))
        state->channelFirstCyc[channelByte] = number;
    err(kLogTrace,
        "RIREVI: BlockParse() cycl func.%u added on channel.%u, type %u size %u, Sample rate = "
        "%u ms",
        static_cast<unsigned>(number), static_cast<unsigned>(channelByte),
        static_cast<unsigned>(type.databaseKind), static_cast<unsigned>(count), rate.value);
    address.bitOrCyclicNumber = number;
    state->cyclicChannel[registered] = channelByte;
    state->cyclicNumber[registered] = static_cast<int16_t>(number);
    PublishCyclicCount(state, static_cast<int16_t>(registered + 1));
    // The supervisor thread may be waiting for the first function.
    if (state->initSemaphore != nullptr) os::SemaphoreRelease(state->initSemaphore);
    return 0;
}
