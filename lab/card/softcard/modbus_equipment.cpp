// The software card's equipment side: each network routine is carried to the
// Modbus TCP device that the settings name for its channel and equipment.
//
// | Routines                                  | Modbus                                        |
// |-------------------------------------------|-----------------------------------------------|
// | packbit, packqbit (read, write)           | coils: 1 read, 5 write one, 15 write several  |
// | packibit                                  | discrete inputs: 2                            |
// | word, qword (read, write)                 | holding registers: 3, 6 one, 16 several       |
// | iword                                     | input registers: 4                            |
// | wordbcd (read, write)                     | holding registers holding BCD: 3, 6, 16       |
// | byte, qbyte, packbyte, packqbyte          | bytes of the holding registers: 3; writes of  |
// |                                           | whole registers 6 or 16, of one byte 22       |
// | ibyte, packibyte                          | bytes of the input registers: 4               |
// | dword, fword (read, write)                | holding register pairs: 3, 16                 |
// | timer, counter, quickbit                  | none: status 2                                |
//
// Addresses count the routine's elements: bit a is coil (or input) a, word a
// register a, byte b the low byte of register b/2 for even b and its high
// byte for odd b, and double word or float a the registers 2a and 2a + 1 in
// the equipment's word order. Requests longer than one Modbus request may
// carry are split.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <shared_mutex>

#include "lab/card/core/data_format.h"
#include "lab/card/core/equipment.h"
#include "lab/card/softcard/link.h"
#include "lab/card/softcard/settings.h"

namespace softcard {
namespace {

using apc::Format;
using apc::RoutineInfo;

enum class Table { kNone, kCoils, kDiscreteInputs, kHoldingRegisters, kInputRegisters };

Table TableOf(int32_t area) {
    switch (area) {
        case APC_AREA_BIT:
        case APC_AREA_OUTPUT_BIT:
            return Table::kCoils;
        case APC_AREA_INPUT_BIT:
            return Table::kDiscreteInputs;
        case APC_AREA_WORD:
        case APC_AREA_OUTPUT_WORD:
        case APC_AREA_DWORD:
        case APC_AREA_FLOAT:
            return Table::kHoldingRegisters;
        case APC_AREA_INPUT_WORD:
            return Table::kInputRegisters;
        default:  // timers, counters, quick bits
            return Table::kNone;
    }
}

constexpr int64_t kTableSize = 65536;
constexpr int32_t kMostBits = 8 * apc::kDataAreaBytes;
// Bytes from an odd address reach one register more than half their count.
constexpr int32_t kMostRegisters = apc::kDataAreaBytes / 2 + 1;

// Runs part(offset, n) over count elements in pieces of at most most.
template <typename Part>
int16_t InPieces(int32_t count, int32_t most, Part part) {
    for (int32_t done = 0; done < count;) {
        const int32_t n = std::min(count - done, most);
        const int16_t status = part(done, n);
        if (status != 0) return status;
        done += n;
    }
    return 0;
}

int16_t ReadBits(Link& link, Table table, int32_t first, int32_t count, uint8_t* bits) {
    return InPieces(count, MODBUS_MAX_READ_BITS, [&](int32_t done, int32_t n) {
        return link.Exchange([&](modbus_t* device) {
            return table == Table::kCoils
                       ? modbus_read_bits(device, first + done, n, bits + done)
                       : modbus_read_input_bits(device, first + done, n, bits + done);
        });
    });
}

int16_t ReadRegisters(Link& link, Table table, int32_t first, int32_t count, uint16_t* registers) {
    return InPieces(count, MODBUS_MAX_READ_REGISTERS, [&](int32_t done, int32_t n) {
        return link.Exchange([&](modbus_t* device) {
            return table == Table::kHoldingRegisters
                       ? modbus_read_registers(device, first + done, n, registers + done)
                       : modbus_read_input_registers(device, first + done, n, registers + done);
        });
    });
}

int16_t WriteBits(Link& link, int32_t first, int32_t count, const uint8_t* bits) {
    if (count == 1)
        return link.Exchange(
            [&](modbus_t* device) { return modbus_write_bit(device, first, bits[0]); });
    return InPieces(count, MODBUS_MAX_WRITE_BITS, [&](int32_t done, int32_t n) {
        return link.Exchange([&](modbus_t* device) {
            return modbus_write_bits(device, first + done, n, bits + done);
        });
    });
}

int16_t WriteRegisters(Link& link, int32_t first, int32_t count, const uint16_t* registers) {
    if (count == 1)
        return link.Exchange(
            [&](modbus_t* device) { return modbus_write_register(device, first, registers[0]); });
    return InPieces(count, MODBUS_MAX_WRITE_REGISTERS, [&](int32_t done, int32_t n) {
        return link.Exchange([&](modbus_t* device) {
            return modbus_write_registers(device, first + done, n, registers + done);
        });
    });
}

// One byte of a register, the other byte left as the device has it.
int16_t WriteByte(Link& link, int32_t byte, uint8_t value) {
    const bool low = byte % 2 == 0;
    const uint16_t keep = low ? 0xFF00 : 0x00FF;
    const uint16_t put = low ? value : static_cast<uint16_t>(value << 8);
    return link.Exchange(
        [&](modbus_t* device) { return modbus_mask_write_register(device, byte / 2, keep, put); });
}

uint8_t ByteOf(uint16_t registerValue, int32_t byte) {
    return static_cast<uint8_t>(byte % 2 == 0 ? registerValue : registerValue >> 8);
}

uint32_t JoinWords(uint16_t first, uint16_t second, WordOrder order) {
    return order == WordOrder::kHighFirst ? (static_cast<uint32_t>(first) << 16) | second
                                          : (static_cast<uint32_t>(second) << 16) | first;
}

void SplitWords(uint32_t value, WordOrder order, uint16_t* pair) {
    const uint16_t high = static_cast<uint16_t>(value >> 16);
    const uint16_t low = static_cast<uint16_t>(value);
    pair[0] = order == WordOrder::kHighFirst ? high : low;
    pair[1] = order == WordOrder::kHighFirst ? low : high;
}

int16_t ReadAs(Link& link, Table table, Format format, int32_t address, int32_t count,
               uint8_t* out) {
    const WordOrder order = link.settings().wordOrder;
    uint16_t registers[kMostRegisters];
    switch (format) {
        case Format::kPackedBits: {
            uint8_t bits[kMostBits];
            if (const int16_t status = ReadBits(link, table, address, count, bits)) return status;
            std::memset(out, 0, static_cast<size_t>(apc::FormatBytes(format, count)));
            for (int32_t k = 0; k < count; ++k)
                if (bits[k] != 0) out[k / 8] |= static_cast<uint8_t>(1u << (k % 8));
            return 0;
        }
        case Format::kWords:
        case Format::kBcdWords: {
            if (const int16_t status = ReadRegisters(link, table, address, count, registers))
                return status;
            for (int32_t k = 0; k < count; ++k) {
                uint32_t value = registers[k];
                if (format == Format::kBcdWords && !apc::FromBcd(registers[k], &value))
                    return kStatusRefused;
                apc::Put16(out + 2 * k, value);
            }
            return 0;
        }
        case Format::kBytes16:
        case Format::kPackedBytes: {
            const int32_t first = address / 2;
            const int32_t last = (address + count - 1) / 2;
            if (const int16_t status =
                    ReadRegisters(link, table, first, last - first + 1, registers))
                return status;
            for (int32_t k = 0; k < count; ++k) {
                const uint8_t byte = ByteOf(registers[(address + k) / 2 - first], address + k);
                if (format == Format::kPackedBytes)
                    out[k] = byte;
                else
                    apc::Put16(out + 2 * k, byte);
            }
            return 0;
        }
        case Format::kDwords: {
            if (const int16_t status =
                    ReadRegisters(link, table, 2 * address, 2 * count, registers))
                return status;
            for (int32_t k = 0; k < count; ++k)
                apc::Put32(out + 4 * k, JoinWords(registers[2 * k], registers[2 * k + 1], order));
            return 0;
        }
        case Format::kNone:
        case Format::kQuickBits:
        case Format::kCycParam:
        case Format::kCyclicImage:
            break;
    }
    return kStatusUnsupported;
}

int16_t WriteAs(Link& link, Format format, int32_t address, int32_t count, const uint8_t* in) {
    const WordOrder order = link.settings().wordOrder;
    uint16_t registers[kMostRegisters];
    switch (format) {
        case Format::kPackedBits: {
            uint8_t bits[kMostBits];
            for (int32_t k = 0; k < count; ++k) bits[k] = (in[k / 8] >> (k % 8)) & 1u;
            return WriteBits(link, address, count, bits);
        }
        case Format::kWords:
        case Format::kBcdWords:
            for (int32_t k = 0; k < count; ++k) {
                const uint32_t value = apc::Get16(in + 2 * k);
                if (format == Format::kBcdWords && value > apc::kMostBcdValue)
                    return kStatusRefused;
                registers[k] =
                    static_cast<uint16_t>(format == Format::kBcdWords ? apc::ToBcd(value) : value);
            }
            return WriteRegisters(link, address, count, registers);
        case Format::kBytes16:
        case Format::kPackedBytes: {
            // The byte routines take the low byte of each 16-bit element.
            const int32_t step = format == Format::kBytes16 ? 2 : 1;
            int32_t k = 0;
            if (address % 2 != 0) {  // the high byte of the first register alone
                if (const int16_t status = WriteByte(link, address, in[0])) return status;
                k = 1;
            }
            const int32_t whole = (count - k) / 2;
            for (int32_t r = 0; r < whole; ++r)
                registers[r] = static_cast<uint16_t>(in[step * (k + 2 * r)] |
                                                     (in[step * (k + 2 * r + 1)] << 8));
            if (whole > 0) {
                if (const int16_t status =
                        WriteRegisters(link, (address + k) / 2, whole, registers))
                    return status;
            }
            k += 2 * whole;
            if (k < count) return WriteByte(link, address + k, in[step * k]);
            return 0;
        }
        case Format::kDwords:
            for (int32_t k = 0; k < count; ++k)
                SplitWords(apc::Get32(in + 4 * k), order, registers + 2 * k);
            return WriteRegisters(link, 2 * address, 2 * count, registers);
        case Format::kNone:
        case Format::kQuickBits:
        case Format::kCycParam:
        case Format::kCyclicImage:
            break;
    }
    return kStatusUnsupported;
}

class ModbusEquipment : public apc::Equipment {
public:
    int16_t Open(uint32_t* installedCards) override {
        const std::string path = SettingsPath(apc::LibraryFolder());
        Settings settings;
        std::string error;
        if (!LoadSettings(path, &settings, &error)) {
            std::fprintf(stderr, "softcard: %s; initbus answers %d\n", error.c_str(),
                         kStatusNoSettings);
            std::fflush(stderr);
            return kStatusNoSettings;
        }
        std::map<int32_t, std::unique_ptr<Link>> links;
        for (const DeviceSettings& device : settings.devices)
            links[Key(device.channel, device.equipment)] = std::make_unique<Link>(device);
        uint32_t cards = 0;
        for (int32_t channel = 0; channel < apc::kChannelCount; ++channel)
            if ((settings.channels & (1u << channel)) != 0)
                cards |= 1u << (channel / apc::kChannelsPerCard);
        *installedCards = cards;
        std::fprintf(stderr, "softcard: %s: %d equipment(s) over Modbus TCP\n", path.c_str(),
                     static_cast<int>(settings.devices.size()));
        std::fflush(stderr);
        std::unique_lock<std::shared_mutex> guard(lock_);
        channels_ = settings.channels;
        links_.swap(links);
        return 0;
    }

    // The connections close when their links go.
    void Close() override {
        std::map<int32_t, std::unique_ptr<Link>> links;
        std::unique_lock<std::shared_mutex> guard(lock_);
        channels_ = 0;
        links_.swap(links);
    }

    void Reset() override { Close(); }

    bool InRange(const RoutineInfo& routine, int32_t address, int32_t count) override {
        if (address < 0 || count < 0) return false;
        const int64_t end = static_cast<int64_t>(address) + count;
        switch (routine.format) {
            case Format::kBytes16:
            case Format::kPackedBytes:
                return end <= 2 * kTableSize;
            case Format::kDwords:
                return 2 * end <= kTableSize;
            default:
                return end <= kTableSize;
        }
    }

    int16_t Read(int32_t channel, int32_t equipment, const RoutineInfo& routine, int32_t address,
                 int32_t count, uint8_t* out) override {
        std::shared_lock<std::shared_mutex> guard(lock_);
        int16_t status;
        Link* link = Find(channel, equipment, &status);
        if (link == nullptr) return status;
        const Table table = TableOf(routine.area);
        if (table == Table::kNone) return kStatusUnsupported;
        return ReadAs(*link, table, routine.format, address, count, out);
    }

    int16_t Write(int32_t channel, int32_t equipment, const RoutineInfo& routine, int32_t address,
                  int32_t count, const uint8_t* in) override {
        std::shared_lock<std::shared_mutex> guard(lock_);
        int16_t status;
        Link* link = Find(channel, equipment, &status);
        if (link == nullptr) return status;
        if (TableOf(routine.area) != Table::kCoils &&
            TableOf(routine.area) != Table::kHoldingRegisters)
            return kStatusUnsupported;
        return WriteAs(*link, routine.format, address, count, in);
    }

private:
    static int32_t Key(int32_t channel, int32_t equipment) {
        return channel * apc::kEquipmentCount + equipment;
    }

    // The link of (channel, equipment), or null with the status to answer.
    // The caller holds lock_.
    Link* Find(int32_t channel, int32_t equipment, int16_t* status) {
        const auto found = links_.find(Key(channel, equipment));
        if ((channels_ & (1u << channel)) == 0 || found == links_.end()) {
            *status = kStatusNotConfigured;
            return nullptr;
        }
        return found->second.get();
    }

    std::shared_mutex lock_;
    uint32_t channels_ = 0;
    std::map<int32_t, std::unique_ptr<Link>> links_;
};

}  // namespace
}  // namespace softcard

namespace apc {

Equipment& TheEquipment() {
    static softcard::ModbusEquipment* equipment = new softcard::ModbusEquipment;
    return *equipment;
}

}  // namespace apc
