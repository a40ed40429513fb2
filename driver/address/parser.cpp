// The address parser: channel "_" equipment "_" mnemonic "_" address, then the
// options "_B" bit number, "_/" byteness and "_S" sample rate.
#include "driver/address/parser.h"

#include "driver/address/decimal.h"
#include "driver/address/memory_types.h"
#include "driver/address/parse_block.h"
#include "driver/entry/driver_functions.h"
#include "driver/platform/host.h"

namespace {

constexpr uint32_t kHighestChannel = 31;
constexpr uint32_t kHighestEquipment = 255;
constexpr uint32_t kHighestCard = 8;
constexpr uint16_t kNoStation = 65535;

// Copies the host's string into copy, upper-cased and terminated. Reads at most
// one character beyond the copy's capacity, to tell whether the string is longer.
// False when the string does not fit.
bool CopyUpper(const char* text, char (&copy)[kAddressCopySize]) {
    uint32_t i = 0;
    if (text != nullptr) {
        for (; i < kAddressCopySize - 1 && text[i] != '\0'; ++i) {
            const char c = text[i];
            copy[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
        }
    }
    copy[i] = '\0';
    return text == nullptr || text[i] == '\0';
}

const char* FindChar(const char* p, char c) {
    while (*p != '\0' && *p != c) ++p;
    return *p == c ? p : nullptr;
}

// The end of a field: the next "_", the next "/" or the end of the string.
const char* SkipField(const char* p) {
    while (*p != '\0' && *p != '_' && *p != '/') ++p;
    return p;
}

int32_t Refuse(const char* format, const char* copy) {
    err(kLogError, format, copy);
    return 1;
}

}  // namespace

uint16_t GetStationIndex(DriverState* state, uint8_t channel, uint8_t equipment) {
    for (int i = 0; i < kStationCount; ++i) {
        const StationEntry& entry = state->stations[i];
        if (entry.channel == channel && entry.equipment == equipment)
            return static_cast<uint16_t>(i);
    }
    for (int i = 0; i < kStationCount; ++i) {
        StationEntry& entry = state->stations[i];
        if (entry.channel == kFreeStation && entry.equipment == kFreeStation) {
            entry.channel = channel;
            entry.equipment = equipment;
            return static_cast<uint16_t>(i);
        }
    }
    return kNoStation;
}

int32_t Parse(QunRequest* request) {
    DriverState* state = request->state;
    ParseBlock* block = ParametersOf<ParseBlock>(request);
    GateAddress& address = block->address;

    char copy[kAddressCopySize];
    if (!CopyUpper(block->addressText, copy)) {
        // Cutting the string could drop an option and name another gate.
        err(kLogError, "RIREVI: Parse() gate addr. str. longer than %u characters '%s...'",
            kAddressCopySize - 1, copy);
        return 1;
    }

    // Channel "_" equipment.
    const Decimal channel = ReadUnsigned(copy);
    Decimal equipment{DecimalStatus::NoNumber, 0, copy};
    if (channel.status != DecimalStatus::NoNumber && *channel.end == '_')
        equipment = ReadUnsigned(channel.end + 1);
    if (channel.status == DecimalStatus::NoNumber || equipment.status == DecimalStatus::NoNumber)
        return Refuse("RIREVI: Parse() error reading channel and equipment '%s'", copy);
    if (channel.status != DecimalStatus::Ok || channel.value > kHighestChannel)
        return Refuse("RIREVI: Parse() channel nr. '%s' out of range", copy);
    if (equipment.status != DecimalStatus::Ok || equipment.value > kHighestEquipment)
        return Refuse("RIREVI: Parse() equipment nr. '%s' out of range", copy);

    // The pair keeps its slot even if a later step refuses the string.
    address.stationIndex = GetStationIndex(state, static_cast<uint8_t>(channel.value),
                                           static_cast<uint8_t>(equipment.value));
    if (address.stationIndex >= kStationCount) {
        err(kLogError, "RIREVI: Parse() MAX 256 different equipments allowed");
        return 1;
    }

    // The mnemonic: after the second "_", up to the next "_" or the end.
    const char* first = FindChar(copy, '_');
    const char* second = first == nullptr ? nullptr : FindChar(first + 1, '_');
    if (second == nullptr) return Refuse("RIREVI: Parse() ill. end gate addr. str. '%s'", copy);
    const char* mnemonic = second + 1;
    const char* mnemonicEnd = mnemonic;
    while (*mnemonicEnd != '\0' && *mnemonicEnd != '_') ++mnemonicEnd;
    const int32_t row = FindMemoryType(mnemonic, static_cast<uint32_t>(mnemonicEnd - mnemonic));
    if (row < 0) return Refuse("RIREVI: Parse() ill. memtype '%s'", copy);
    const MemoryType& type = MemoryTypeAt(static_cast<uint16_t>(row));
    // memoryType and byteness are one 32-bit value for the host: byteness is 0
    // until the options are read.
    address.memoryType = static_cast<uint16_t>(row);
    address.byteness = 0;
    address.elementBits = type.elementBits;

    // An internal type names the card (1 to 8) in the channel field.
    if (IsInternal(address) && (channel.value == 0 || channel.value > kHighestCard)) return 1;

    // The address.
    if (*mnemonicEnd != '_') return Refuse("RIREVI: Parse() ill. end gate addr. str. '%s'", copy);
    const Decimal number = ReadUnsigned(mnemonicEnd + 1);
    if (number.status != DecimalStatus::Ok)
        return Refuse("RIREVI: Parse() ill. dec address '%s'", copy);
    address.byteness = 1;
    address.bitOrCyclicNumber = kNoBitOrCyclic;

    // Options, in any order and number; a later one replaces an earlier one.
    const char* p = SkipField(number.end);
    while (*p != '\0') {
        if (*p != '_') return Refuse("RIREVI: Parse() ill. optional field '%s'", copy);
        const char option = p[1];
        if (option == 'B') {
            if (type.elementBits == 1)
                return Refuse("RIREVI: Parse() bitnumber not allowed on DIG gate '%s'", copy);
            const Decimal bit = ReadUnsigned(p + 2);
            if (bit.status == DecimalStatus::NoNumber)
                return Refuse("RIREVI: Parse() ill. bitnr '%s'", copy);
            if (bit.status != DecimalStatus::Ok || bit.value >= type.elementBits)
                return Refuse("RIREVI: Parse() ill. bitnr > elementSize '%s'", copy);
            if (!type.bitNumberAllowed)
                return Refuse("RIREVI: Parse() spec. dig. gates not allowed on mem type, '%s'",
                              copy);
            address.bitOrCyclicNumber = static_cast<int32_t>(bit.value);
        } else if (option == '/') {
            if (p[2] == '2') {
                address.byteness = 2;
            } else if (p[2] == '4') {
                address.byteness = 4;
            } else {
                return Refuse("RIREVI: Parse() ill. byteness '%s'", copy);
            }
        } else if (option != 'S') {
            return Refuse("RIREVI: Parse() ill. optional field '%s'", copy);
        }
        p = SkipField(p + 2);
    }

    const uint32_t byteness = static_cast<uint32_t>(address.byteness);
    if (number.value % byteness != 0)
        return Refuse("RIREVI: Parse() addr. must be multiple of byteness, '%s'", copy);
    address.elementAddress = number.value / byteness;
    return 0;
}

int32_t SingleAddressParser(QunRequest* request) {
    // The first single gate ends the creation of cyclic functions, whatever
    // becomes of it.
    request->state->cyclicAllowed = 0;
    if (request->parameters == nullptr) {
        err(kLogError, "RIREVI: SingleParse() no parameter block");
        return 1;
    }
    const int32_t result = Parse(request);
    if (result != 0) return result;

    const ParseBlock* block = ParametersOf<ParseBlock>(request);
    const GateAddress& address = block->address;
    const MemoryType& type = MemoryTypeAt(address.memoryType);
    const int32_t gateType = block->gateType;
    const char* text = block->addressText;
    if (IsDigital(address)) {
        if (gateType != kGateTypeDigital)
            return Refuse("RIREVI: SingleParse() gate '%s' should be DIGITAL", text);
    } else if (type.elementBits == 8 || type.elementBits == 16) {
        if (gateType < 0 || gateType > 2)
            return Refuse("RIREVI: SingleParse() gate '%s' should be 16 BIT", text);
    } else if (!type.isFloat) {
        if (gateType != 4 && gateType != 5)
            return Refuse("RIREVI: SingleParse() gate '%s' should be 32 BIT", text);
    } else if (gateType != kGateTypeFloat) {
        return Refuse("RIREVI: SingleParse() gate '%s' should be FLOAT", text);
    }
    return 0;
}
