// The software card's equipment side: each network routine is carried to the
// Modbus unit that the settings name for its channel and equipment, over TCP
// or on a serial line (Modbus RTU).
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
// carry are split; those of double words and floats on register pairs, so
// that each value comes from one request.
//
// Each equipment is a unit on a connection (connection.h): the TCP
// connection that the equipments with its host and port share, one of its
// own, or its channel's serial line. The connection's worker does the cyclic
// polls of its units; the routines that the driver calls run on the caller's
// thread, one at a time with the requests of the same connection. The
// broadcast unit of a line is only written to: its reads answer 2, as
// routines without a Modbus counterpart do. A status file (status_file.h)
// shows each device's state.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <shared_mutex>
#include <vector>

#include "driver/platform/abi.h"
#include "lab/card/core/data_format.h"
#include "lab/card/core/equipment.h"
#include "lab/card/softcard/connection.h"
#include "lab/card/softcard/device_stats.h"
#include "lab/card/softcard/settings.h"
#include "lab/card/softcard/softcard_control.h"
#include "lab/card/softcard/status_file.h"

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
// Register pairs are never cut: a double word or float comes from one request.
constexpr int32_t kMostPairsRead = MODBUS_MAX_READ_REGISTERS / 2 * 2;      // 124
constexpr int32_t kMostPairsWritten = MODBUS_MAX_WRITE_REGISTERS / 2 * 2;  // 122

// An equipment: a unit on a connection.
struct Device {
    Device(const DeviceSettings& given, const std::string& label)
        : settings(given), unit{given.unit, given.timeoutMs, given.reconnectMs, label} {}
    const DeviceSettings settings;
    const Unit unit;
    Connection* connection = nullptr;
    bool broadcast = false;  // the broadcast unit of a line
    size_t sharedWith = 0;   // other equipments on its connection
    std::string where;       // host:port, or the line
    DeviceStats stats;
    // It answered mask write (22) with exception 1: lone bytes are written
    // by reading the register and writing it back.
    std::atomic<bool> noMaskWrite{false};
};

// One request of the card to a device, and the errno of its last failure.
struct Call {
    Device& device;
    int error = 0;

    template <typename Request>
    int16_t Exchange(Request request) {
        return device.connection->Exchange(device.unit, device.stats, &error, request);
    }
};

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

int16_t ReadBits(Call& call, Table table, int32_t first, int32_t count, uint8_t* bits) {
    return InPieces(count, MODBUS_MAX_READ_BITS, [&](int32_t done, int32_t n) {
        return call.Exchange([&](modbus_t* device) {
            return table == Table::kCoils
                       ? modbus_read_bits(device, first + done, n, bits + done)
                       : modbus_read_input_bits(device, first + done, n, bits + done);
        });
    });
}

int16_t ReadRegisters(Call& call, Table table, int32_t first, int32_t count, int32_t most,
                      uint16_t* registers) {
    return InPieces(count, most, [&](int32_t done, int32_t n) {
        return call.Exchange([&](modbus_t* device) {
            return table == Table::kHoldingRegisters
                       ? modbus_read_registers(device, first + done, n, registers + done)
                       : modbus_read_input_registers(device, first + done, n, registers + done);
        });
    });
}

int16_t WriteBits(Call& call, int32_t first, int32_t count, const uint8_t* bits) {
    if (count == 1)
        return call.Exchange(
            [&](modbus_t* device) { return modbus_write_bit(device, first, bits[0]); });
    return InPieces(count, MODBUS_MAX_WRITE_BITS, [&](int32_t done, int32_t n) {
        return call.Exchange([&](modbus_t* device) {
            return modbus_write_bits(device, first + done, n, bits + done);
        });
    });
}

int16_t WriteRegisters(Call& call, int32_t first, int32_t count, int32_t most,
                       const uint16_t* registers) {
    if (count == 1)
        return call.Exchange(
            [&](modbus_t* device) { return modbus_write_register(device, first, registers[0]); });
    return InPieces(count, most, [&](int32_t done, int32_t n) {
        return call.Exchange([&](modbus_t* device) {
            return modbus_write_registers(device, first + done, n, registers + done);
        });
    });
}

// One byte of a register, the other byte left as the device has it: by mask
// write (22), or where the device has no mask write by reading the register
// (3) and writing it back (6), which another master may come between.
int16_t WriteByte(Call& call, int32_t byte, uint8_t value) {
    const bool low = byte % 2 == 0;
    const uint16_t keep = low ? 0xFF00 : 0x00FF;
    const uint16_t put = low ? value : static_cast<uint16_t>(value << 8);
    Device& device = call.device;
    if (!device.noMaskWrite) {
        const int16_t status = call.Exchange([&](modbus_t* context) {
            return modbus_mask_write_register(context, byte / 2, keep, put);
        });
        if (status != kStatusRefused || call.error != EMBXILFUN) return status;
        if (!device.noMaskWrite.exchange(true)) {
            std::fprintf(stderr,
                         "softcard: channel %d equipment %d: the device has no mask write "
                         "(function 22): lone bytes are read and written back whole\n",
                         device.settings.channel, device.settings.equipment);
            std::fflush(stderr);
        }
    }
    uint16_t word = 0;
    if (const int16_t status = call.Exchange(
            [&](modbus_t* context) { return modbus_read_registers(context, byte / 2, 1, &word); }))
        return status;
    word = static_cast<uint16_t>((word & keep) | put);
    return call.Exchange(
        [&](modbus_t* context) { return modbus_write_register(context, byte / 2, word); });
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

int16_t ReadAs(Call& call, Table table, Format format, int32_t address, int32_t count,
               uint8_t* out) {
    const WordOrder order = call.device.settings.wordOrder;
    uint16_t registers[kMostRegisters];
    switch (format) {
        case Format::kPackedBits: {
            uint8_t bits[kMostBits];
            if (const int16_t status = ReadBits(call, table, address, count, bits)) return status;
            std::memset(out, 0, static_cast<size_t>(apc::FormatBytes(format, count)));
            for (int32_t k = 0; k < count; ++k)
                if (bits[k] != 0) out[k / 8] |= static_cast<uint8_t>(1u << (k % 8));
            return 0;
        }
        case Format::kWords:
        case Format::kBcdWords: {
            if (const int16_t status = ReadRegisters(call, table, address, count,
                                                     MODBUS_MAX_READ_REGISTERS, registers))
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
            if (const int16_t status = ReadRegisters(call, table, first, last - first + 1,
                                                     MODBUS_MAX_READ_REGISTERS, registers))
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
                    ReadRegisters(call, table, 2 * address, 2 * count, kMostPairsRead, registers))
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

int16_t WriteAs(Call& call, Format format, int32_t address, int32_t count, const uint8_t* in) {
    const WordOrder order = call.device.settings.wordOrder;
    uint16_t registers[kMostRegisters];
    switch (format) {
        case Format::kPackedBits: {
            uint8_t bits[kMostBits];
            for (int32_t k = 0; k < count; ++k) bits[k] = (in[k / 8] >> (k % 8)) & 1u;
            return WriteBits(call, address, count, bits);
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
            return WriteRegisters(call, address, count, MODBUS_MAX_WRITE_REGISTERS, registers);
        case Format::kBytes16:
        case Format::kPackedBytes: {
            // The byte routines take the low byte of each 16-bit element.
            const int32_t step = format == Format::kBytes16 ? 2 : 1;
            int32_t k = 0;
            if (address % 2 != 0) {  // the high byte of the first register alone
                if (const int16_t status = WriteByte(call, address, in[0])) return status;
                k = 1;
            }
            const int32_t whole = (count - k) / 2;
            for (int32_t r = 0; r < whole; ++r)
                registers[r] = static_cast<uint16_t>(in[step * (k + 2 * r)] |
                                                     (in[step * (k + 2 * r + 1)] << 8));
            if (whole > 0) {
                if (const int16_t status = WriteRegisters(call, (address + k) / 2, whole,
                                                          MODBUS_MAX_WRITE_REGISTERS, registers))
                    return status;
            }
            k += 2 * whole;
            if (k < count) return WriteByte(call, address + k, in[step * k]);
            return 0;
        }
        case Format::kDwords:
            for (int32_t k = 0; k < count; ++k)
                SplitWords(apc::Get32(in + 4 * k), order, registers + 2 * k);
            return WriteRegisters(call, 2 * address, 2 * count, kMostPairsWritten, registers);
        case Format::kNone:
        case Format::kQuickBits:
        case Format::kCycParam:
        case Format::kCyclicImage:
            break;
    }
    return kStatusUnsupported;
}

// What a failed request of the card tried, and why it failed, for the
// device's last error.
std::string Failure(const Call& call, const RoutineInfo& routine, int32_t address, int32_t count,
                    int16_t status) {
    std::string why;
    if (call.error >= EMBXILFUN && call.error <= EMBXGTAR)
        why = "exception " + std::to_string(call.error - MODBUS_ENOBASE) + " (" +
              modbus_strerror(call.error) + ")";
    else if (status == kStatusRemote)
        why = call.device.connection->Reason(call.error, call.device.unit.timeoutMs);
    else if (status == kStatusUnsupported)
        why = call.device.broadcast ? "the broadcast unit is only written to"
                                    : "no Modbus counterpart";
    else
        why = "a value that is no BCD";
    return "status " + std::to_string(status) + ", " + routine.name + " " + std::to_string(count) +
           " from " + std::to_string(address) + ": " + why;
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
        Equipments equipments;
        equipments.settingsPath = path;
        equipments.status = settings.status;
        equipments.openedAt = std::time(nullptr);
        Connect(settings, &equipments);
        uint32_t cards = 0;
        for (int32_t channel = 0; channel < apc::kChannelCount; ++channel)
            if ((settings.channels & (1u << channel)) != 0)
                cards |= 1u << (channel / apc::kChannelsPerCard);
        *installedCards = cards;
        const std::string statusPath = StatusPath(path, settings.status);
        const int32_t onLines = static_cast<int32_t>(std::count_if(
            settings.devices.begin(), settings.devices.end(), [&settings](const DeviceSettings& d) {
                return LineOf(settings, d.channel) != nullptr;
            }));
        std::fprintf(stderr,
                     "softcard: %s: %d equipment(s) over Modbus TCP, %d on %d serial line(s), "
                     "%d connection(s); status file %s\n",
                     path.c_str(), static_cast<int>(settings.devices.size()) - onLines, onLines,
                     static_cast<int>(settings.lines.size()),
                     static_cast<int>(equipments.connections.size()),
                     statusPath.empty() ? "off" : statusPath.c_str());
        std::fflush(stderr);
        // A line is opened now, so that one that is not there is said at once.
        for (const auto& connection : equipments.connections)
            if (connection->serial()) connection->OpenNow();
        {
            std::unique_lock<std::shared_mutex> guard(lock_);
            channels_ = settings.channels;
            std::swap(equipments_, equipments);
        }
        {
            std::lock_guard<Lock> guard(summaryLock_);
            statusPath_ = statusPath;
        }
        {
            std::shared_lock<std::shared_mutex> guard(lock_);
            Summarise(View(equipments_, 0));
        }
        if (!statusPath.empty())
            writer_.Start(statusPath, settings.status.periodSeconds, [this] {
                std::shared_lock<std::shared_mutex> guard(lock_);
                const CardView view = View(equipments_, 0);
                Summarise(view);
                return StatusText(view);
            });
        return 0;
    }

    // The connections close first, each breaking off the request under way;
    // then the status file shows the state in which exitbus found them.
    void Close() override {
        writer_.Stop();
        Equipments closing;
        {
            std::unique_lock<std::shared_mutex> guard(lock_);
            channels_ = 0;
            std::swap(equipments_, closing);
        }
        if (closing.devices.empty() && closing.settingsPath.empty()) return;
        std::vector<ConnectionState> states;
        for (const auto& entry : closing.devices)
            states.push_back(entry.second->connection->State(entry.second->unit.number));
        for (const auto& connection : closing.connections) connection->Stop();
        for (const auto& connection : closing.connections) connection->Close();
        CardView view = View(closing, std::time(nullptr));
        for (size_t i = 0; i < view.devices.size(); ++i) view.devices[i].connection = states[i];
        Summarise(view);
        if (!StatusPath(closing.settingsPath, closing.status).empty())
            writer_.Write(StatusText(view));
    }

    void Reset() override { Close(); }

    // A plant runs this card for months: a journal of its calls would hold
    // up to its limit of them (tens of MB) in the host's memory. Tests and
    // tools that want one ask for it.
    int32_t JournalLimit() const override { return 0; }

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
        Device* device = Find(channel, equipment, &status);
        if (device == nullptr) return status;
        return ReadFrom(*device, false, routine, address, count, out);
    }

    int16_t Write(int32_t channel, int32_t equipment, const RoutineInfo& routine, int32_t address,
                  int32_t count, const uint8_t* in) override {
        std::shared_lock<std::shared_mutex> guard(lock_);
        int16_t status;
        Device* device = Find(channel, equipment, &status);
        if (device == nullptr) return status;
        Call call{*device};
        if (TableOf(routine.area) != Table::kCoils &&
            TableOf(routine.area) != Table::kHoldingRegisters)
            status = kStatusUnsupported;
        else
            status = WriteAs(call, routine.format, address, count, in);
        device->stats.Finished(
            false, status,
            status == 0 ? std::string() : Failure(call, routine, address, count, status));
        return status;
    }

    // The poll goes to the device's connection, whose worker answers the core.
    bool Post(const apc::CycleRequest& request) override {
        std::shared_lock<std::shared_mutex> guard(lock_);
        int16_t status;
        Device* device = Find(request.channel, request.equipment, &status);
        if (device == nullptr) return false;
        // The device lives until Close has ended the worker.
        return device->connection->Post([device, request] {
            uint8_t image[apc::kDataAreaBytes];
            const int16_t status =
                ReadFrom(*device, true, *request.routine, request.address, request.count, image);
            apc::FinishCycle(request, status, image);
        });
    }

    // The summary line with the status file's path.
    std::string StatusLine() {
        std::lock_guard<Lock> guard(summaryLock_);
        if (summary_.empty()) return summary_;
        return summary_ + "; status file " + (statusPath_.empty() ? "off" : statusPath_);
    }

private:
    struct Equipments {
        std::string settingsPath;
        StatusSettings status;
        std::time_t openedAt = 0;
        std::vector<std::unique_ptr<Connection>> connections;
        std::map<int32_t, std::unique_ptr<Device>> devices;  // by Key
    };

    static int32_t Key(int32_t channel, int32_t equipment) {
        return channel * apc::kEquipmentCount + equipment;
    }

    static std::string Name(const DeviceSettings& device) {
        return "channel " + std::to_string(device.channel) + " equipment " +
               std::to_string(device.equipment);
    }

    // Where a device is: "host:port", or "line DEVICE 19200 8E1".
    static std::string Where(const DeviceSettings& device, const LineSettings* line) {
        if (line == nullptr) return device.host + ":" + std::to_string(device.port);
        return "line " + line->device + " " + std::to_string(line->baud) + " " +
               std::to_string(line->dataBits) + ParityLetter(line->parity) +
               std::to_string(line->stopBits);
    }

    // The connections: one for each line, one for each host and port (the
    // gateway's), and one for each device that wants its own; each device
    // a unit on its connection.
    static void Connect(const Settings& settings, Equipments* equipments) {
        std::map<std::string, std::vector<const DeviceSettings*>> sharing;
        std::vector<std::string> order;
        for (const DeviceSettings& given : settings.devices) {
            const LineSettings* line = LineOf(settings, given.channel);
            std::string key = line != nullptr
                                  ? "line " + std::to_string(line->channel)
                                  : "tcp " + Lower(given.host) + ":" + std::to_string(given.port);
            if (line == nullptr && given.ownConnection) key += " own " + Name(given);
            if (sharing[key].empty()) order.push_back(key);
            sharing[key].push_back(&given);
        }
        for (const std::string& key : order) {
            const std::vector<const DeviceSettings*>& units = sharing[key];
            const DeviceSettings& first = *units.front();
            const LineSettings* line = LineOf(settings, first.channel);
            Endpoint endpoint;
            endpoint.serial = line != nullptr;
            endpoint.host = first.host;
            endpoint.port = first.port;
            if (line != nullptr) endpoint.line = *line;
            endpoint.units = static_cast<int32_t>(units.size());
            endpoint.timeoutMs = 0;
            endpoint.reconnectMs = units.front()->reconnectMs;
            for (const DeviceSettings* unit : units) {
                endpoint.timeoutMs = std::max(endpoint.timeoutMs, unit->timeoutMs);
                endpoint.reconnectMs = std::min(endpoint.reconnectMs, unit->reconnectMs);
            }
            std::string label = Where(first, line);
            if (line != nullptr) {
                label = "line " + line->device + " of channel " + std::to_string(line->channel);
            } else if (units.size() == 1) {
                label = Name(first) + " (" + label + " unit " + std::to_string(first.unit) + ")";
            } else {
                label += " (shared by " + std::to_string(units.size()) + " equipments)";
            }
            equipments->connections.push_back(std::make_unique<Connection>(endpoint, label));
            Connection* connection = equipments->connections.back().get();
            for (const DeviceSettings* unit : units) {
                const std::string where = Where(*unit, line);
                auto device =
                    std::make_unique<Device>(*unit, Name(*unit) + " (" + where + " unit " +
                                                        std::to_string(unit->unit) + ")");
                device->where = where;
                device->connection = connection;
                device->broadcast = line != nullptr && unit->unit == kBroadcastUnit;
                device->sharedWith = units.size() - 1;
                equipments->devices[Key(unit->channel, unit->equipment)] = std::move(device);
            }
        }
    }

    static std::string Lower(std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    }

    static CardView View(const Equipments& equipments, std::time_t closedAt) {
        CardView view;
        view.settingsPath = equipments.settingsPath;
        view.periodSeconds = equipments.status.periodSeconds;
        view.now = std::time(nullptr);
        view.openedAt = equipments.openedAt;
        view.closedAt = closedAt;
        for (const auto& entry : equipments.devices) {
            const Device& device = *entry.second;
            DeviceView seen;
            seen.channel = device.settings.channel;
            seen.equipment = device.settings.equipment;
            seen.endpoint = device.where;
            seen.unit = device.settings.unit;
            seen.sharedWith = static_cast<int32_t>(device.sharedWith);
            seen.connection = device.connection->State(device.unit.number);
            seen.stats = device.stats.Take();
            seen.maskWriteRefused = device.noMaskWrite;
            view.devices.push_back(seen);
        }
        return view;
    }

    void Summarise(const CardView& view) {
        std::lock_guard<Lock> guard(summaryLock_);
        summary_ = SummaryLine(view);
    }

    static int16_t ReadFrom(Device& device, bool poll, const RoutineInfo& routine, int32_t address,
                            int32_t count, uint8_t* out) {
        Call call{device};
        const Table table = TableOf(routine.area);
        const int16_t status = table == Table::kNone || device.broadcast
                                   ? kStatusUnsupported
                                   : ReadAs(call, table, routine.format, address, count, out);
        device.stats.Finished(
            poll, status,
            status == 0 ? std::string() : Failure(call, routine, address, count, status));
        return status;
    }

    // The device of (channel, equipment), or null with the status to answer.
    // The caller holds lock_.
    Device* Find(int32_t channel, int32_t equipment, int16_t* status) {
        const auto found = equipments_.devices.find(Key(channel, equipment));
        if ((channels_ & (1u << channel)) == 0 || found == equipments_.devices.end()) {
            *status = kStatusNotConfigured;
            return nullptr;
        }
        return found->second.get();
    }

    std::shared_mutex lock_;
    uint32_t channels_ = 0;
    Equipments equipments_;
    StatusWriter writer_;
    Lock summaryLock_;
    std::string summary_;
    std::string statusPath_;
};

}  // namespace
}  // namespace softcard

namespace apc {

Equipment& TheEquipment() {
    static softcard::ModbusEquipment* equipment = new softcard::ModbusEquipment;
    return *equipment;
}

}  // namespace apc

QUN_EXPORT int32_t SoftcardStatusLine(char* text, int32_t size) {
    auto& equipment = static_cast<softcard::ModbusEquipment&>(apc::TheEquipment());
    const std::string line = equipment.StatusLine();
    if (text != nullptr && size > 0) {
        const size_t n = std::min(line.size(), static_cast<size_t>(size - 1));
        std::memcpy(text, line.data(), n);
        text[n] = '\0';
    }
    return static_cast<int32_t>(line.size());
}
