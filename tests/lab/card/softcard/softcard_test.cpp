// The software card against an independent Modbus TCP device: pymodbus's
// server, started by tests/lab/card/softcard/with_peer.sh with the pattern image of
// lab/card/softcard/modbus_peer.py for unit 17 (PEER_PORT, PEER_CONTROL). The card's
// routines are called directly; what a write left in the device is read back
// over Modbus by libmodbus itself, past the card.
#include <gtest/gtest.h>
#include <modbus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "lab/card/softcard/settings.h"
#include "lab/card/softcard/softcard_control.h"
#include "tests/lab/card/simulated/applicom_support.h"
#include "tests/support/process.h"

namespace {

using namespace apc_test;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kUnit = 17;
constexpr int kTimeoutMs = 300;
constexpr int kReconnectMs = 200;

int PortOf(const char* variable) {
    const char* port = std::getenv(variable);
    return port != nullptr ? std::atoi(port) : 0;
}
int PeerPort() { return PortOf("PEER_PORT"); }

// The pattern image of modbus_peer.py.
uint16_t Coil(int32_t a) { return a % 3 == 0 ? 1 : 0; }
uint16_t DiscreteInput(int32_t a) { return a % 5 == 0 ? 1 : 0; }
uint16_t Holding(int32_t a) { return static_cast<uint16_t>(a * 7 + 3); }
uint16_t InputRegister(int32_t a) { return static_cast<uint16_t>((a * 11 + 5) ^ 0x8000); }

using Image = uint16_t (*)(int32_t);

Bytes PackedBits(Image image, int32_t first, int32_t count) {
    Bytes out((count + 7) / 8);
    for (int32_t k = 0; k < count; ++k)
        if (image(first + k) != 0) out[k / 8] |= static_cast<uint8_t>(1u << (k % 8));
    return out;
}

Bytes Words(Image image, int32_t first, int32_t count) {
    Bytes out;
    for (int32_t k = 0; k < count; ++k) {
        out.push_back(static_cast<uint8_t>(image(first + k)));
        out.push_back(static_cast<uint8_t>(image(first + k) >> 8));
    }
    return out;
}

uint8_t ByteOf(Image image, int32_t b) {
    return static_cast<uint8_t>(b % 2 == 0 ? image(b / 2) : image(b / 2) >> 8);
}

Bytes ByteElements(Image image, int32_t first, int32_t count, bool sixteenBits) {
    Bytes out;
    for (int32_t k = 0; k < count; ++k) {
        out.push_back(ByteOf(image, first + k));
        if (sixteenBits) out.push_back(0);
    }
    return out;
}

// Double words of the holding registers, registers 2a and 2a + 1.
Bytes Dwords(int32_t first, int32_t count, bool highFirst) {
    Bytes out;
    for (int32_t k = 0; k < count; ++k) {
        const uint32_t a = Holding(2 * (first + k)), b = Holding(2 * (first + k) + 1);
        const uint32_t value = highFirst ? (a << 16) | b : (b << 16) | a;
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
    return out;
}

// The device reached past the card.
class Device {
public:
    Device() : context_(modbus_new_tcp("127.0.0.1", PeerPort())) {
        modbus_set_slave(context_, kUnit);
        connected_ = modbus_connect(context_) == 0;
    }
    ~Device() {
        modbus_close(context_);
        modbus_free(context_);
    }
    bool connected() const { return connected_; }
    std::vector<uint16_t> Registers(int first, int count) {
        std::vector<uint16_t> values(count);
        for (int done = 0; done < count; done += MODBUS_MAX_READ_REGISTERS) {
            const int n = std::min(count - done, MODBUS_MAX_READ_REGISTERS);
            EXPECT_EQ(modbus_read_registers(context_, first + done, n, values.data() + done), n);
        }
        return values;
    }
    std::vector<uint16_t> Coils(int first, int count) {
        std::vector<uint8_t> bits(count);
        EXPECT_EQ(modbus_read_bits(context_, first, count, bits.data()), count);
        return std::vector<uint16_t>(bits.begin(), bits.end());
    }

private:
    modbus_t* context_;
    bool connected_ = false;
};

std::string Equipment(int equipment, int port, int unit, const char* extra) {
    return "[channel 0 equipment " + std::to_string(equipment) +
           "]\nhost = 127.0.0.1\nport = " + std::to_string(port) +
           "\nunit = " + std::to_string(unit) + "\ntimeout = " + std::to_string(kTimeoutMs) +
           "\nreconnect = " + std::to_string(kReconnectMs) + "\n" + extra;
}

// Equipment 1 high word first, 2 low word first, 3 a unit the device does
// not have, 5 a device that never answers, 6 a unit without mask write, 7
// unit 17 again on a connection of its own (the others of the device's port
// share one), 8 a unit that the device answers as a gateway does for a
// silent device behind it (exception 11);
// channel 1 speaks Modbus TCP without equipments; channel 4's equipment 1 is
// a port where nothing listens. The status file is rewritten every second.
std::string TestSettings() {
    const int port = PeerPort();
    return "; the software card's tests\n[status]\nperiod = 1\n"
           "[channel 0]\nprotocol = modbus-tcp\n" +
           Equipment(1, port, kUnit, "word_order = high-first\n") +
           Equipment(2, port, kUnit, "word_order = low-first\n") + Equipment(3, port, 99, "") +
           Equipment(5, PortOf("PEER_SILENT_PORT"), kUnit, "") + Equipment(6, port, 18, "") +
           Equipment(7, port, kUnit, "connection = own\n") + Equipment(8, port, 19, "") +
           "[channel 1]\nprotocol = modbus-tcp\n[channel 4]\nprotocol = modbus-tcp\n"
           "[channel 4 equipment 1]\nhost = 127.0.0.1\nport = 1\ntimeout = 300\n";
}

// The peer's record from line first on: the requests it served, each as
// "hr 0 124" or "hr 0 122 write", and its other events by name.
std::vector<std::string> PeerRecord(size_t first) {
    std::ifstream log("peer.log");
    std::vector<std::string> events;
    std::string line;
    const auto field = [&line](const std::string& name) {
        const size_t at = line.find("\"" + name + "\": ");
        if (at == std::string::npos) return std::string();
        const size_t from = at + name.size() + 4;
        std::string value = line.substr(from, line.find_first_of(",}", from) - from);
        if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
        return value;
    };
    for (size_t n = 0; std::getline(log, line); ++n) {
        if (n < first) continue;
        std::string event = field("event");
        if (event == "request")
            event = field("table") + " " + field("address") + " " + field("count") +
                    (field("write") == "true" ? " write" : "");
        events.push_back(event);
    }
    return events;
}

size_t PeerRecordLength() { return PeerRecord(0).size(); }

// The peer follows its control file and answers in the file beside it.
void SetPeer(const std::string& state) {
    const char* control = std::getenv("PEER_CONTROL");
    ASSERT_NE(control, nullptr);
    std::ofstream(control) << state << "\n";
    const std::string ack = std::string(control) + ".ack";
    for (int i = 0; i < 250; ++i) {
        std::ifstream in(ack);
        std::string seen;
        if (in >> seen && seen == state) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    FAIL() << "the peer did not go " << state;
}

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// A cyclic function's status once it becomes the one wanted, or its last
// status when that does not come within the time given.
int16_t TransWithin(int16_t channel, int16_t number, void* data, int16_t wanted, double seconds) {
    const Clock::time_point start = Clock::now();
    int16_t status = Trans(channel, number, data);
    while (status != wanted && Seconds(start) < seconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        status = Trans(channel, number, data);
    }
    return status;
}

class Softcard : public CardTest {
protected:
    void SetUp() override {
        std::ofstream("softcard-test.ini") << TestSettings();
        qun_test::SetEnvironment(softcard::kSettingsVariable, "softcard-test.ini");
        ASSERT_GT(PeerPort(), 0) << "run by with_peer.sh, which starts the device";
        CardTest::SetUp();
    }
};

struct ReadCase {
    const char* what;
    NetworkRoutine* routine;
    int16_t equipment;
    int32_t address;
    int16_t count;
    Bytes expected;
};

// Equipment 1 of the channel reads high word first, equipment 2 low word
// first; both hold the pattern image.
void ReadEveryMappedKind(int16_t channel) {
    const ReadCase cases[] = {
        {"coils", readpackbit, 1, 5, 20, PackedBits(Coil, 5, 20)},
        {"output bits are coils", readpackqbit, 1, 0, 3, PackedBits(Coil, 0, 3)},
        {"discrete inputs", readpackibit, 1, 3, 10, PackedBits(DiscreteInput, 3, 10)},
        {"coils in pieces of 2000", readpackbit, 1, 1, 8191, PackedBits(Coil, 1, 8191)},
        {"holding registers", readword, 1, 10, 4, Words(Holding, 10, 4)},
        {"output words are holding registers", readqword, 1, 0, 1, Words(Holding, 0, 1)},
        {"input registers", readiword, 1, 7, 3, Words(InputRegister, 7, 3)},
        {"registers in pieces of 125", readword, 1, 0, 512, Words(Holding, 0, 512)},
        {"bytes from an odd byte", readbyte, 1, 3, 4, ByteElements(Holding, 3, 4, true)},
        {"output bytes", readqbyte, 1, 8, 1, ByteElements(Holding, 8, 1, true)},
        {"packed bytes", readpackbyte, 1, 4, 3, ByteElements(Holding, 4, 3, false)},
        {"input bytes", readibyte, 1, 5, 2, ByteElements(InputRegister, 5, 2, true)},
        {"packed input bytes", readpackibyte, 1, 0, 5, ByteElements(InputRegister, 0, 5, false)},
        {"packed output bytes", readpackqbyte, 1, 1, 1, ByteElements(Holding, 1, 1, false)},
        {"double words, high word first", readdword, 1, 5, 2, Dwords(5, 2, true)},
        {"double words, low word first", readdword, 2, 5, 2, Dwords(5, 2, false)},
        {"floats travel as bit patterns", readfword, 1, 30, 3, Dwords(30, 3, true)},
        {"BCD words: 0x11 is 11", readwordbcd, 1, 2, 2, Bytes{11, 0, 18, 0}},
    };
    for (const ReadCase& c : cases) {
        Bytes data(1024, 0xEE);
        ASSERT_EQ(Net(c.routine, channel, c.equipment, c.count, c.address, data.data()), 0)
            << c.what;
        EXPECT_EQ(Bytes(data.begin(), data.begin() + static_cast<long>(c.expected.size())),
                  c.expected)
            << c.what;
        if (c.expected.size() < data.size()) {
            EXPECT_EQ(data[c.expected.size()], 0xEE) << c.what << ": bytes past the elements";
        }
    }
}

TEST_F(Softcard, ReadsEveryMappedKindFromItsTable) { ReadEveryMappedKind(0); }

struct WriteCase {
    const char* what;
    NetworkRoutine* routine;
    int16_t equipment;
    int32_t address;
    int16_t count;
    Bytes data;
    bool coils;  // else holding registers
    int first;   // of what is read back
    std::vector<uint16_t> expected;
};

// What a device holds, read past the card: equipment, coils (else holding
// registers), first, count.
using ReadBack = std::function<std::vector<uint16_t>(int16_t, bool, int, int)>;

// Equipment 1 of the channel writes high word first, equipment 2 low word
// first.
void WriteEveryMappedKind(int16_t channel, const ReadBack& readBack) {
    Bytes manyWords;
    std::vector<uint16_t> manyRegisters;
    for (int k = 0; k < 130; ++k) {
        manyWords.push_back(static_cast<uint8_t>(k));
        manyWords.push_back(0x40);
        manyRegisters.push_back(static_cast<uint16_t>(0x4000 + k));
    }
    const auto kept = [](int32_t r) { return Holding(r); };
    const WriteCase cases[] = {
        {"one coil", writepackbit, 1, 100, 1, {1}, true, 99, {Coil(99), 1, Coil(101)}},
        {"nine coils",
         writepackbit,
         1,
         200,
         9,
         {0xB5, 0x01},
         true,
         200,
         {1, 0, 1, 0, 1, 1, 0, 1, 1}},
        {"output bits are coils", writepackqbit, 1, 300, 2, {0x02}, true, 300, {0, 1}},
        {"one register",
         writeword,
         1,
         1000,
         1,
         {0x34, 0x12},
         false,
         999,
         {kept(999), 0x1234, kept(1001)}},
        {"130 registers in pieces of 123", writeword, 1, 1100, 130, manyWords, false, 1100,
         manyRegisters},
        {"output words", writeqword, 1, 1300, 1, {0xCD, 0xAB}, false, 1300, {0xABCD}},
        {"BCD: 1234 is 0x1234",
         writewordbcd,
         1,
         1310,
         2,
         {0xD2, 0x04, 0x0F, 0x27},
         false,
         1310,
         {0x1234, 0x9999}},
        {"double word, high word first",
         writedword,
         1,
         700,
         1,
         {0x78, 0x56, 0x34, 0x12},
         false,
         1400,
         {0x1234, 0x5678}},
        {"double word, low word first",
         writedword,
         2,
         701,
         1,
         {0x78, 0x56, 0x34, 0x12},
         false,
         1402,
         {0x5678, 0x1234}},
        {"float 1.5",
         writefword,
         1,
         710,
         1,
         {0x00, 0x00, 0xC0, 0x3F},
         false,
         1420,
         {0x3FC0, 0x0000}},
        // Bytes 3001..3003: the high byte of register 1500 alone (mask
        // write), then register 1501 whole; register 1502 stays.
        {"bytes from an odd byte",
         writebyte,
         1,
         3001,
         3,
         {0xA1, 0xFF, 0xB2, 0xEE, 0xC3, 0},
         false,
         1500,
         {static_cast<uint16_t>(0xA100 | (kept(1500) & 0xFF)), 0xC3B2, kept(1502)}},
        {"one packed byte, the low one",
         writepackbyte,
         1,
         3020,
         1,
         {0x5A},
         false,
         1510,
         {static_cast<uint16_t>((kept(1510) & 0xFF00) | 0x5A)}},
        {"two packed bytes, one register",
         writepackqbyte,
         1,
         3030,
         2,
         {0x11, 0x22},
         false,
         1515,
         {0x2211}},
    };
    for (const WriteCase& c : cases) {
        Bytes data = c.data;
        data.resize(1024);
        ASSERT_EQ(Net(c.routine, channel, c.equipment, c.count, c.address, data.data()), 0)
            << c.what;
        EXPECT_EQ(readBack(c.equipment, c.coils, c.first, static_cast<int>(c.expected.size())),
                  c.expected)
            << c.what;
    }
}

TEST_F(Softcard, WritesLandWhereTheAddressSays) {
    Device device;
    ASSERT_TRUE(device.connected());
    WriteEveryMappedKind(0, [&device](int16_t, bool coils, int first, int count) {
        return coils ? device.Coils(first, count) : device.Registers(first, count);
    });
}

struct StatusCase {
    const char* what;
    NetworkRoutine* routine;
    int16_t channel, equipment;
    int32_t address;
    int16_t count;
    int16_t status;
};

TEST_F(Softcard, RefusalsAndFailuresAnswerTheirStatus) {
    const StatusCase cases[] = {
        {"timers have no Modbus counterpart", readtimer, 0, 1, 0, 1, 2},
        {"counters neither", writecounter, 0, 1, 0, 1, 2},
        {"an equipment the settings do not name", readword, 0, 9, 0, 1, 3},
        {"a channel without equipments", readword, 1, 1, 0, 1, 3},
        {"a card without Modbus channels", readword, 8, 1, 0, 1, 3},
        {"illegal address: past the device's registers", readword, 0, 1, 9999, 2, 4},
        {"illegal address: past its coils", writepackbit, 0, 1, 10000, 1, 4},
        {"a register that is not BCD", readwordbcd, 0, 1, 4, 1, 4},
        {"BCD above 9999", writewordbcd, 0, 1, 0, 1, 4},
        {"a double word past the register space", readdword, 0, 1, 32768, 1, 4},
        {"a unit the device does not serve: no answer", readword, 0, 3, 0, 1, 70},
        {"nothing listens", readword, 4, 1, 0, 1, 70},
    };
    for (const StatusCase& c : cases) {
        Bytes data(1024, 0);
        data[0] = 0x10;
        data[1] = 0x27;  // 10000 for the BCD write
        EXPECT_EQ(Net(c.routine, c.channel, c.equipment, c.count, c.address, data.data()), c.status)
            << c.what;
    }
    int16_t channel = 0, equipment = 1, status = -1;
    Bytes data(1024);
    readquickbit(&channel, &equipment, data.data(), &status);
    EXPECT_EQ(status, 2) << "quick bits have no Modbus counterpart";
}

int32_t CyclesRun(int16_t channel, int16_t number) {
    int16_t status = -1;
    uint8_t record[256] = {};
    AppGetCycParam(&channel, &number, record, &status);
    EXPECT_EQ(status, 0);
    int32_t cycles;
    std::memcpy(&cycles, record + 48, sizeof cycles);
    return cycles;
}

TEST_F(Softcard, CyclicFunctionPollsTheDeviceAtItsPeriod) {
    Cyc c;
    c.period = 1;  // 100 ms
    c.count = 8;
    c.address = 40;
    ASSERT_EQ(Create(c), 0);
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const int32_t cycles = CyclesRun(0, 1);
    const double rate = cycles / Seconds(start);
    std::printf("cyclic function of period 100 ms: %d cycles in %.2f s, %.2f per second\n", cycles,
                Seconds(start), rate);
    // The first cycle runs at once: 16 in 1.5 s. A busy machine delays
    // cycles but never adds any; a period twice as long would give 8.
    EXPECT_GE(cycles, 10);
    EXPECT_LE(cycles, 19);
    Bytes data(1024);
    ASSERT_EQ(Trans(0, 1, data.data()), 0);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 16), Words(Holding, 40, 8));
}

TEST_F(Softcard, ADeviceThatGoesAwayIsReconnectedByItself) {
    Cyc c;
    c.period = 1;
    c.address = 60;
    ASSERT_EQ(Create(c), 0);
    Bytes data(1024);
    ASSERT_EQ(Net(readword, 0, 1, 1, 0, data.data()), 0);

    SetPeer("down");
    Clock::time_point start = Clock::now();
    EXPECT_EQ(Net(readword, 0, 1, 1, 0, data.data()), 70) << "a closed connection";
    EXPECT_EQ(Net(readword, 0, 1, 1, 0, data.data()), 70) << "while the device is away";
    EXPECT_LT(Seconds(start), 1.0) << "a refused connection answers at once";
    // A busy machine may delay the next cycle; what matters is that it fails.
    EXPECT_EQ(TransWithin(0, 1, data.data(), 70, 3.0), 70) << "the cyclic function's cycles fail";

    SetPeer("up");
    start = Clock::now();
    int16_t status = -1;
    while ((status = Net(readword, 0, 1, 1, 0, data.data())) != 0 && Seconds(start) < 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const double recovery = Seconds(start);
    std::printf("reads succeed again %.3f s after the device's return (reconnect %d ms)\n",
                recovery, kReconnectMs);
    ASSERT_EQ(status, 0);
    EXPECT_LT(recovery, 1.0);
    EXPECT_EQ(TransWithin(0, 1, data.data(), 0, 3.0), 0) << "the cyclic function reads again";

    SetPeer("mute");
    start = Clock::now();
    EXPECT_EQ(Net(readword, 0, 1, 1, 0, data.data()), 70) << "no answer";
    const double silent = Seconds(start);
    start = Clock::now();
    EXPECT_EQ(Net(readword, 0, 1, 1, 0, data.data()), 70) << "no new attempt yet";
    const double meanwhile = Seconds(start);
    std::printf("a silent device: %.3f s (timeout %d ms), then %.3f s until the reconnect time\n",
                silent, kTimeoutMs, meanwhile);
    EXPECT_GE(silent, kTimeoutMs / 1000.0 * 0.9);
    EXPECT_LT(silent, kTimeoutMs / 1000.0 * 3);
    EXPECT_LT(meanwhile, 0.1);
    SetPeer("up");
    start = Clock::now();
    while ((status = Net(readword, 0, 1, 1, 0, data.data())) != 0 && Seconds(start) < 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(status, 0);
}

// A device that never answers and one that refuses connections beside a
// healthy one: the healthy one's cyclic function keeps its period, and the
// driver's requests to it answer at once.
TEST_F(Softcard, SilentNeighboursCostAHealthyDeviceNothing) {
    Cyc healthy;
    healthy.period = 1;  // 100 ms
    healthy.count = 8;
    healthy.address = 40;
    Cyc silent = healthy;
    silent.number = 2;
    silent.equipment = 5;
    silent.databaseAddress = 100;
    Cyc refusing = healthy;
    refusing.channel = 4;
    refusing.equipment = 1;
    ASSERT_EQ(Create(silent), 0);
    ASSERT_EQ(Create(refusing), 0);
    ASSERT_EQ(Create(healthy), 0);
    Clock::time_point start = Clock::now();
    double slowest = 0;
    Bytes data(1024);
    while (Seconds(start) < 1.5) {
        const Clock::time_point asked = Clock::now();
        EXPECT_EQ(Net(readword, 0, 1, 1, 0, data.data()), 0);
        slowest = std::max(slowest, Seconds(asked));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const int32_t cycles = CyclesRun(0, 1);
    std::printf(
        "beside a silent and a refusing device: %d cycles of 100 ms in %.2f s; "
        "the slowest read %.3f s\n",
        cycles, Seconds(start), slowest);
    EXPECT_GE(cycles, 13) << "the healthy device's polls wait for nobody";
    EXPECT_LT(slowest, kTimeoutMs / 1000.0 / 2) << "nor do the driver's requests to it";
    EXPECT_EQ(Trans(0, 2, data.data()), 70) << "the silent device's function fails";
    EXPECT_EQ(Trans(4, 1, data.data()), 70) << "the refusing device's too";
    start = Clock::now();
    int16_t status = -1;
    exitbus(&status);
    std::printf("exitbus with a request to the silent device under way: %.3f s\n", Seconds(start));
}

// Equipments 1, 2, 3, 6 and 8 are units 17, 17, 99, 18 and 19 of one host and
// port, as behind a gateway: they share one connection; equipment 7 asked
// for one of its own.
TEST_F(Softcard, AGatewaysUnitsShareOneConnection) {
    const size_t before = PeerRecordLength();
    Bytes data(1024);
    for (const int16_t equipment : {1, 2, 6, 1, 7, 2})
        EXPECT_EQ(Net(readword, 0, equipment, 1, 0, data.data()), 0) << "equipment " << equipment;
    std::vector<std::string> record = PeerRecord(before);
    EXPECT_EQ(std::count(record.begin(), record.end(), "connect"), 2);

    // The gateway's exception 11 marks its unit away, not the gateway.
    EXPECT_EQ(Net(readword, 0, 8, 1, 0, data.data()), 70) << "exception 11";
    const size_t away = PeerRecordLength();
    EXPECT_EQ(Net(readword, 0, 8, 1, 0, data.data()), 70) << "the unit away";
    EXPECT_EQ(Net(readword, 0, 1, 1, 0, data.data()), 0) << "the gateway's other units answer";
    record = PeerRecord(away);
    EXPECT_EQ(std::count(record.begin(), record.end(), "unreachable"), 0)
        << "an away unit is not asked before its reconnect time";
    record = PeerRecord(before);
    EXPECT_EQ(std::count(record.begin(), record.end(), "connect"), 2) << "the connection kept";
}

// Polls of one unit and the driver's requests to another beside a silent
// unit on the same connection or line (channel, equipments): each attempt
// on the silent unit holds the connection for its timeout, and attempts
// come four timeouts apart at least, so the others lose a fifth of their
// time at most and a request waits one such timeout at most.
void ExpectASilentUnitCostsLittle(int16_t channel, int16_t polled, int16_t asked, int16_t silent) {
    Cyc healthy;
    healthy.channel = channel;
    healthy.equipment = polled;
    healthy.period = 1;  // 100 ms
    healthy.count = 8;
    healthy.address = 40;
    Cyc mute = healthy;
    mute.number = 2;
    mute.equipment = silent;
    mute.databaseAddress = 100;
    ASSERT_EQ(Create(mute), 0);
    ASSERT_EQ(Create(healthy), 0);
    const Clock::time_point start = Clock::now();
    double slowest = 0;
    Bytes data(1024);
    while (Seconds(start) < 3) {
        const Clock::time_point sent = Clock::now();
        EXPECT_EQ(Net(readword, channel, asked, 1, 0, data.data()), 0);
        slowest = std::max(slowest, Seconds(sent));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const int32_t cycles = CyclesRun(channel, 1);
    std::printf(
        "beside a silent unit of timeout %d ms: %d cycles of 100 ms in %.2f s; the slowest "
        "read %.3f s\n",
        kTimeoutMs, cycles, Seconds(start), slowest);
    // 30 cycles alone; a fifth less beside the silent unit, and a loaded
    // machine's delays: the bound is half.
    EXPECT_GE(cycles, 15) << "the polled unit keeps most of its period";
    EXPECT_LT(slowest, kTimeoutMs / 1000.0 + 0.4) << "a request waits one timeout at most";
    EXPECT_EQ(Trans(channel, 2, data.data()), 70) << "the silent unit's function fails";
}

TEST_F(Softcard, ASilentUnitBehindAGatewayCostsTheOthersLittle) {
    ExpectASilentUnitCostsLittle(0, 1, 6, 3);
}

// A double word or float comes from one request: requests are cut on
// register pairs, 124 registers to read and 122 to write.
TEST_F(Softcard, DoubleWordsAreNeverCutBetweenRequests) {
    Bytes data(1024);
    const size_t before = PeerRecordLength();
    ASSERT_EQ(Net(readdword, 0, 1, 256, 0, data.data()), 0);
    EXPECT_EQ(data, Dwords(0, 256, true));
    std::vector<uint16_t> registers;
    for (int32_t k = 0; k < 256; ++k) {
        const uint32_t value = 0x10000u * static_cast<uint32_t>(k) + 0x8000u + k;
        std::memcpy(&data[4 * k], &value, 4);
        registers.push_back(static_cast<uint16_t>(value >> 16));
        registers.push_back(static_cast<uint16_t>(value));
    }
    ASSERT_EQ(Net(writefword, 0, 1, 256, 1000, data.data()), 0);
    std::vector<std::string> requests;
    for (const std::string& event : PeerRecord(before))
        if (event.compare(0, 3, "hr ") == 0) requests.push_back(event);
    const std::vector<std::string> expected = {
        "hr 0 124",          "hr 124 124",        "hr 248 124",        "hr 372 124",
        "hr 496 16",         "hr 2000 122 write", "hr 2122 122 write", "hr 2244 122 write",
        "hr 2366 122 write", "hr 2488 24 write"};
    EXPECT_EQ(requests, expected);
    Device device;
    EXPECT_EQ(device.Registers(2000, 512), registers);
}

// Unit 18 answers mask write with exception 1: a lone byte is read with its
// register and written back whole, and the device is not asked again.
TEST_F(Softcard, LoneBytesReachADeviceWithoutMaskWrite) {
    Device device;
    ASSERT_TRUE(device.connected());
    const size_t before = PeerRecordLength();
    Bytes data(1024);
    data[0] = 0xA5;
    EXPECT_EQ(Net(writepackbyte, 0, 6, 1, 2 * 1600 + 1, data.data()), 0) << "a high byte";
    data[0] = 0x5A;
    EXPECT_EQ(Net(writebyte, 0, 6, 1, 2 * 1601, data.data()), 0) << "a low byte";
    EXPECT_EQ(device.Registers(1600, 2),
              (std::vector<uint16_t>{static_cast<uint16_t>(0xA500 | (Holding(1600) & 0xFF)),
                                     static_cast<uint16_t>((Holding(1601) & 0xFF00) | 0x5A)}));
    const std::vector<std::string> record = PeerRecord(before);
    EXPECT_EQ(std::count(record.begin(), record.end(), "refused"), 1)
        << "the device's answer is remembered";
}

// An answer to another transaction fails its request and keeps the
// connection: the next request goes out at once on it.
TEST_F(Softcard, AGarbledAnswerCostsItsRequestOnly) {
    Bytes data(1024);
    ASSERT_EQ(Net(readword, 0, 1, 1, 0, data.data()), 0);
    SetPeer("garble");
    EXPECT_EQ(Net(readword, 0, 1, 1, 0, data.data()), 70);
    SetPeer("up");
    const size_t before = PeerRecordLength();
    EXPECT_EQ(Net(readword, 0, 1, 1, 0, data.data()), 0) << "not away for the reconnect time";
    const std::vector<std::string> record = PeerRecord(before);
    EXPECT_EQ(std::count(record.begin(), record.end(), "connect"), 0) << "the same connection";
}

// The lines of a device's block in the status file, from its first line to
// the blank line after it.
std::string Block(const std::string& text, const std::string& device) {
    const size_t start = text.find("\n" + device + ": ");
    if (start == std::string::npos) return std::string();
    return text.substr(start + 1, text.find("\n\n", start + 1) - start - 1);
}

std::string StatusFile() {
    std::ifstream file("softcard-status.txt", std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST_F(Softcard, TheStatusFileShowsEachDevicesState) {
    Bytes data(1024);
    ASSERT_EQ(Net(readword, 0, 1, 1, 0, data.data()), 0);
    EXPECT_EQ(Net(readword, 0, 1, 2, 9999, data.data()), 4);
    EXPECT_EQ(Net(readword, 4, 1, 1, 0, data.data()), 70);
    const Clock::time_point start = Clock::now();
    std::string text;
    while (Block(text = StatusFile(), "channel 4 equipment 1").find("away") == std::string::npos &&
           Seconds(start) < 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::string port = std::to_string(PeerPort());
    const struct {
        const char* device;
        std::vector<std::string> lines;
    } cases[] = {
        {"channel 0 equipment 1",
         {"channel 0 equipment 1: 127.0.0.1:" + port + " unit 17", "  state       connected since ",
          "  requests    2: 1 ok, 1 status 4 (0 cyclic polls, 2 on demand)",
          "  latency     median ", "  last error  ",
          " status 4, readword 2 from 9999: exception 2 (Illegal data address)"}},
        {"channel 0 equipment 5", {"  state       not connected yet", "  requests    0 ("}},
        {"channel 4 equipment 1",
         {"  state       away since ", "  requests    1: 1 status 70 (0 cyclic polls, 1 on demand)",
          "  latency     no answer yet", " status 70, readword 1 from 0: "}},
    };
    for (const auto& c : cases)
        for (const std::string& line : c.lines)
            EXPECT_NE(Block(text, c.device).find(line), std::string::npos)
                << c.device << ": no '" << line << "' in\n"
                << text;
    // Equipment 2 is unit 17 on the shared connection too: the same device.
    EXPECT_NE(text.find("devices     8 devices: 2 connected, 1 away (channel 4 equipment 1); 3 "
                        "requests: 1 ok, 1 status 4, 1 status 70\n"),
              std::string::npos)
        << text;

    int16_t status = -1;
    exitbus(&status);
    EXPECT_NE(StatusFile().find(", closed (exitbus) at "), std::string::npos);
    char line[300];
    ASSERT_GT(SoftcardStatusLine(line, sizeof line), 0);
    EXPECT_EQ(std::string(line),
              "8 devices: 2 connected, 1 away (channel 4 equipment 1); 3 requests: 1 ok, 1 "
              "status 4, 1 status 70; status file softcard-status.txt")
        << "as exitbus found them";
}

// Prints the time of a call of each of a few routines on equipment 1 of
// the channel, the mean of rounds.
void PrintLatencies(int16_t channel, int rounds) {
    Bytes data(1024);
    for (const auto& [what, routine, count] :
         {std::tuple<const char*, NetworkRoutine*, int16_t>{"readword 1", readword, 1},
          {"readword 100", readword, 100},
          {"readpackbit 100", readpackbit, 100},
          {"writeword 1", writeword, 1},
          {"writeword 100", writeword, 100}}) {
        ASSERT_EQ(Net(routine, channel, 1, count, 2000, data.data()), 0) << what;
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < rounds; ++i) Net(routine, channel, 1, count, 2000, data.data());
        std::printf("%-16s %.3f ms a call\n", what, 1000 * Seconds(start) / rounds);
    }
}

TEST_F(Softcard, LatencyOfReadsAndWritesOverLoopback) { PrintLatencies(0, 200); }

// One round of work on the card: a cyclic function, connections to two
// equipments, two threads reading the first at once, and exitbus; answers
// the card's threads while it ran.
int32_t Round() {
    EXPECT_EQ(Open(), 0);
    Cyc c;
    c.period = 1;
    EXPECT_EQ(Create(c), 0);
    Bytes data(1024);
    EXPECT_EQ(Net(readword, 0, 2, 1, 0, data.data()), 0);
    const auto reads = [] {
        Bytes data(1024);
        for (int i = 0; i < 50; ++i) EXPECT_EQ(Net(readword, 0, 1, 1, 0, data.data()), 0);
    };
    std::thread other(reads);
    reads();
    other.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int32_t threads = qun_test::ThreadCount();
    int16_t status = -1;
    exitbus(&status);
    EXPECT_EQ(status, 0);
    return threads;
}

TEST_F(Softcard, ExitbusLeavesNoThreadAndNoConnection) {
    int16_t status = -1;
    exitbus(&status);
    // A first round: what the system sets up on the first connection of a
    // library (name resolution, sockets), and what its thread library sets
    // up the first time two threads meet at a lock, stays and is not the
    // card's.
    Round();
    const int32_t threads = qun_test::ThreadCount();
    const int32_t handles = qun_test::HandleCount();
    EXPECT_GT(Round(), threads) << "the card's thread ran";
    EXPECT_EQ(qun_test::ThreadCount(), threads);
    // A handle the system closes after the thread has gone may lag on a busy
    // machine; one the card leaks stays.
    int32_t now = qun_test::HandleCount();
    for (int i = 0; i < 20 && now != handles; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        now = qun_test::HandleCount();
    }
    EXPECT_EQ(now, handles);
}

// The card on a Modbus RTU line: tests/lab/card/softcard/with_line.sh
// starts pymodbus's serial server with units 1 and 2 behind a
// pseudo-terminal pair, whose other end (LINE_DEVICE) is channel 2's line at
// 19200 8E1. Equipment 1 is unit 1, 2 unit 2 (low word first), 3 unit 3
// that nothing answers, 4 the broadcast; channel 3's line is a serial port
// that does not exist.
const char* LineDevice() {
    const char* device = std::getenv("LINE_DEVICE");
    return device != nullptr ? device : "";
}

#if defined(_WIN32)
constexpr const char* kMissingPort = "COM200";
#else
constexpr const char* kMissingPort = "/dev/no-such-serial-port";
#endif

std::string LineUnit(int equipment, int unit, const char* extra) {
    return "[channel 2 equipment " + std::to_string(equipment) +
           "]\nunit = " + std::to_string(unit) + "\ntimeout = " + std::to_string(kTimeoutMs) +
           "\nreconnect = " + std::to_string(kReconnectMs) + "\n" + extra;
}

// LINE_BAUD: the line's rate when the peer was started at another than
// 19200 (with_line.sh --baud B).
std::string LineTestSettings(const std::string& lineKeys) {
    const char* baud = std::getenv("LINE_BAUD");
    return "[status]\nperiod = 1\n[channel 2]\nprotocol = modbus-rtu\ndevice = " +
           std::string(LineDevice()) + "\n" +
           (baud != nullptr ? "baud = " + std::string(baud) + "\n" : std::string()) + lineKeys +
           LineUnit(1, 1, "") + LineUnit(2, 2, "word_order = low-first\n") + LineUnit(3, 3, "") +
           LineUnit(4, 0, "") + "[channel 3]\nprotocol = modbus-rtu\ndevice = " + kMissingPort +
           "\n[channel 3 equipment 1]\nunit = 1\n";
}

class SoftcardLine : public CardTest {
protected:
    void SetUp() override {
        ASSERT_STRNE(LineDevice(), "") << "run by with_line.sh, which starts the line";
        std::ofstream("softcard-line.ini") << LineTestSettings("");
        qun_test::SetEnvironment(softcard::kSettingsVariable, "softcard-line.ini");
        CardTest::SetUp();
    }
    // The card opened again with other keys for the line.
    void Reopen(const std::string& lineKeys) {
        ApcReset();
        std::ofstream("softcard-line.ini") << LineTestSettings(lineKeys);
        ASSERT_EQ(Open(), 0);
    }
};

// What a unit of the line holds, read through the card.
std::vector<uint16_t> ReadThroughTheCard(int16_t equipment, bool coils, int first, int count) {
    Bytes data(2048);
    std::vector<uint16_t> values;
    if (coils) {
        EXPECT_EQ(Net(readpackbit, 2, equipment, static_cast<int16_t>(count), first, data.data()),
                  0);
        for (int k = 0; k < count; ++k) values.push_back((data[k / 8] >> (k % 8)) & 1);
    } else {
        EXPECT_EQ(Net(readword, 2, equipment, static_cast<int16_t>(count), first, data.data()), 0);
        for (int k = 0; k < count; ++k)
            values.push_back(static_cast<uint16_t>(data[2 * k] | data[2 * k + 1] << 8));
    }
    return values;
}

TEST_F(SoftcardLine, ReadsEveryMappedKindOnTwoUnits) { ReadEveryMappedKind(2); }

TEST_F(SoftcardLine, WritesLandOnTheirUnit) {
    WriteEveryMappedKind(2, ReadThroughTheCard);
    EXPECT_EQ(ReadThroughTheCard(2, false, 1000, 1), std::vector<uint16_t>{Holding(1000)})
        << "unit 1's register written, unit 2's kept";
    Bytes data(1024);
    data[0] = 0x21;
    data[1] = 0x43;
    EXPECT_EQ(Net(writeword, 2, 4, 1, 1600, data.data()), 0) << "a broadcast";
    for (const int16_t equipment : {1, 2})
        EXPECT_EQ(ReadThroughTheCard(equipment, false, 1600, 1), std::vector<uint16_t>{0x4321})
            << "the broadcast reached equipment " << equipment;
    EXPECT_EQ(Net(readword, 2, 4, 1, 0, data.data()), 2) << "nothing answers a broadcast read";
}

TEST_F(SoftcardLine, ASilentUnitCostsItsNeighboursLittle) {
    ExpectASilentUnitCostsLittle(2, 1, 2, 3);
}

// A card at another rate than the devices sends them noise, and hears
// nothing: no answer, the unit away. At another parity it hears answers
// whose bytes fail their parity, which fail the CRC: the request answers 70
// and the next one goes out at once.
TEST_F(SoftcardLine, AWrongRateOrParityAnswers70) {
    const struct {
        const char* keys;
        const char* peer;  // the peer's record of it
        bool away;         // the unit is away for its reconnect time after
    } cases[] = {
        {"baud = 9600\n", "noise", true},
        {"parity = odd\n", "parity-errors", false},
    };
    for (const auto& c : cases) {
        Reopen(c.keys);
        const size_t before = PeerRecordLength();
        Bytes data(1024);
        EXPECT_EQ(Net(readword, 2, 1, 1, 0, data.data()), 70) << c.keys;
        const Clock::time_point start = Clock::now();
        EXPECT_EQ(Net(readword, 2, 1, 1, 0, data.data()), 70) << c.keys;
        const double again = Seconds(start);
        EXPECT_EQ(again < 0.1, c.away) << c.keys << ": the second request took " << again << " s";
        const std::vector<std::string> record = PeerRecord(before);
        EXPECT_NE(std::find(record.begin(), record.end(), c.peer), record.end()) << c.keys;
    }
    Reopen("");
    Bytes data(1024);
    EXPECT_EQ(Net(readword, 2, 1, 1, 0, data.data()), 0) << "the right settings again";
}

TEST_F(SoftcardLine, LatencyOfReadsAndWrites) { PrintLatencies(2, 50); }

// Channel 3's serial port does not exist: the card opens all the same, its
// requests answer 70 at once, and its state says why; channel 2's line works.
TEST_F(SoftcardLine, ALineThatCannotBeOpenedAnswers70) {
    Bytes data(1024);
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(Net(readword, 3, 1, 1, 0, data.data()), 70);
    EXPECT_LT(Seconds(start), 0.5);
    EXPECT_EQ(Net(readword, 2, 1, 1, 0, data.data()), 0);
    std::string text;
    while (Block(text = StatusFile(), "channel 3 equipment 1").find("cannot be opened") ==
               std::string::npos &&
           Seconds(start) < 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_NE(Block(text, "channel 3 equipment 1").find("away since "), std::string::npos) << text;
    EXPECT_NE(Block(text, "channel 3 equipment 1").find("cannot be opened"), std::string::npos)
        << text;
    EXPECT_NE(Block(text, "channel 2 equipment 2").find("  shares      its line with 3 other"),
              std::string::npos)
        << text;
}

TEST(SoftcardSettings, MistakesAreNamedWithTheirLine) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"[channel 0]\nprotocol = profibus\n", "line 2: protocol 'profibus'"},
        {"[channel 32]\n", "line 1: unknown section"},
        {"[channel 0 equipment 256]\n", "line 1: unknown section"},
        {"[channel 0 unit 1]\n", "line 1: unknown section"},
        {"host = x\n", "line 1: 'host' outside"},
        {"[channel 0]\n[channel 0]\n", "line 2: section [channel 0] given twice"},
        {"[channel 0]\nprotocol = modbus-tcp\n[channel 0 equipment 1]\nport = 70000\n",
         "line 4: port 1 to 65535"},
        {"[channel 0]\nprotocol = modbus-tcp\n[channel 0 equipment 1]\nword_order = abcd\n",
         "line 4: word_order"},
        {"[channel 0]\nprotocol = modbus-tcp\n[channel 0 equipment 1]\ncolour = red\n",
         "line 4: unknown key 'colour'"},
        {"[channel 0]\nprotocol = modbus-tcp\n[channel 0 equipment 1]\nport = 502\n",
         "has no host"},
        {"[channel 0]\nprotocol = modbus-tcp\n[channel 0 equipment 1]\nhost = 192.0.2.7\r1\n",
         "line 4: host '192.0.2.7\r1' is not a name"},
        {"[channel 3 equipment 1]\nhost = h\n", "channel 3 has no 'protocol = modbus-tcp'"},
        {"[channel 0]\nprotocol modbus-tcp\n", "line 2: expected 'key = value'"},
        // The library would keep the unit it had and reach another device.
        {"[channel 0]\nprotocol = modbus-tcp\n[channel 0 equipment 1]\nunit = 248\n",
         "line 4: unit 248: 0 to 247, or 255"},
        {"[channel 0]\nprotocol = modbus-tcp\n[channel 0 equipment 1]\nunit = 254\n",
         "line 4: unit 254: 0 to 247, or 255"},
        {"[status]\nperiod = 0\n", "line 2: period 1 to 3600"},
        {"[channel 0]\nprotocol = modbus-tcp\n[channel 0 equipment 1]\nhost = h\n"
         "connection = private\n",
         "line 5: connection shared or own"},
        {"[channel 2]\nprotocol = modbus-rtu\n", "[channel 2] has no device"},
        {"[channel 2]\nprotocol = modbus-rtu\ndevice = COM3\nbaud = 14400\n", "line 4: baud 14400"},
        {"[channel 2]\nprotocol = modbus-rtu\ndevice = COM3\nparity = mark\n", "line 4: parity"},
        {"[channel 2]\nprotocol = modbus-rtu\ndevice = COM3\nstop_bits = 3\n", "line 4: stop_bits"},
        {"[channel 2]\nprotocol = modbus-tcp\nbaud = 9600\n",
         "'baud' is a key of a modbus-rtu channel"},
        {"[channel 2]\nprotocol = modbus-rtu\ndevice = COM3\n[channel 2 equipment 1]\nhost = h\n",
         "'host' is a key of a modbus-tcp equipment"},
        // 255 reaches the device itself over TCP; on a line it is nobody.
        {"[channel 2]\nprotocol = modbus-rtu\ndevice = COM3\n[channel 2 equipment 1]\nunit = 255\n",
         "unit 255 on a serial line: 1 to 247"},
        {"[channel 2]\nprotocol = modbus-rtu\ndevice = COM3\n[channel 3]\nprotocol = modbus-rtu\n"
         "device = COM3\n",
         "device COM3 is the line of channel 2"},
    };
    for (const auto& c : cases) {
        softcard::Settings settings;
        std::string error;
        EXPECT_FALSE(softcard::ParseSettings(c.text, &settings, &error)) << c.text;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.text << " gave: " << error;
    }
    softcard::Settings settings;
    std::string error;
    ASSERT_TRUE(softcard::ParseSettings(
        "\xEF\xBB\xBF# all keys\n[Channel 5]\nProtocol = Modbus-TCP ; comment\n"
        "[channel 5 equipment 7]\nhost = plc.example\nport = 1502\nunit = 255\ntimeout = 50\n"
        "word_order = low-first\nreconnect = 0\n",
        &settings, &error))
        << error;
    ASSERT_EQ(settings.devices.size(), 1u);
    const softcard::DeviceSettings& device = settings.devices[0];
    EXPECT_EQ(settings.channels, 1u << 5);
    EXPECT_EQ(device.host, "plc.example");
    EXPECT_EQ(device.port, 1502);
    EXPECT_EQ(device.unit, 255);
    EXPECT_EQ(device.timeoutMs, 50);
    EXPECT_EQ(device.reconnectMs, 0);
    EXPECT_EQ(device.wordOrder, softcard::WordOrder::kLowFirst);

    // A line's keys may come before its protocol; the rest keep the defaults.
    ASSERT_TRUE(
        softcard::ParseSettings("[channel 9]\nbaud = 9600\nprotocol = Modbus-RTU\n"
                                "device = \\\\.\\COM10\nparity = none\nstop_bits = 2\n"
                                "[channel 9 equipment 3]\nunit = 0\n",
                                &settings, &error))
        << error;
    const softcard::LineSettings* line = softcard::LineOf(settings, 9);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->device, "\\\\.\\COM10");
    EXPECT_EQ(line->baud, 9600);
    EXPECT_EQ(line->parity, softcard::Parity::kNone);
    EXPECT_EQ(line->dataBits, 8);
    EXPECT_EQ(line->stopBits, 2);
    EXPECT_EQ(settings.devices.back().unit, softcard::kBroadcastUnit);
}

TEST(SoftcardSettings, NoSettingsFileLeavesTheCardClosedWith47) {
    qun_test::SetEnvironment(softcard::kSettingsVariable, "no-such-softcard.ini");
    ApcReset();
    EXPECT_EQ(Open(), 47);
    Bytes data(1024);
    EXPECT_EQ(Net(readword, 0, 1, 1, 0, data.data()), 45) << "the card stays closed";
}

}  // namespace
