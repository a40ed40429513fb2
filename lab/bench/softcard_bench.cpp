// The software card at a plant's scale (scripts/softcard-bench.sh runs it
// beside modbus_bench_peer): one card whose devices are spread over its four
// channels, each polled by four cyclic functions of 10 registers at 100, 200,
// 500 and 1000 ms (the function of period p ms reads from register p/100, so
// that the devices' record tells the functions apart), some devices healthy,
// some silent and some refusing connections. Meanwhile this thread reads one
// register of a healthy device on demand every 10 ms.
//
//   softcard_bench --ports FILE --healthy N --silent N --refusing N --seconds S
//
// FILE lists the devices' ports, the healthy ones first (the peer's); the
// refusing ones get port 1, where nothing listens. Prints "key values" lines:
// the on-demand reads (count, failures; median, 99th percentile and largest
// latency in ms), the card's threads and memory before initbus and once it
// polls (committed and address space, KB), and the time exitbus took.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "driver/platform/card.h"
#include "tests/support/process.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int16_t kPeriods[] = {1, 2, 5, 10};  // 100 ms units
constexpr int16_t kRegisters = 10;
constexpr int32_t kChannels = 4;

enum class Kind { kHealthy, kSilent, kRefusing };

struct Device {
    Kind kind;
    int16_t channel;
    int16_t equipment;
    int port;
};

// Healthy devices first in the ports' order, the troubled ones spread
// evenly among them, and each device on the next channel in turn.
std::vector<Device> Devices(const std::vector<int>& ports, int healthy, int silent, int refusing) {
    const int total = healthy + silent + refusing;
    std::vector<Kind> kinds(static_cast<size_t>(total), Kind::kHealthy);
    const int troubled = silent + refusing;
    for (int k = 0; k < troubled; ++k)
        kinds[static_cast<size_t>((2 * k + 1) * total / (2 * troubled))] =
            k < silent ? Kind::kSilent : Kind::kRefusing;
    std::vector<Device> devices;
    size_t nextHealthy = 0, nextSilent = static_cast<size_t>(healthy);
    for (int i = 0; i < total; ++i) {
        const Kind kind = kinds[static_cast<size_t>(i)];
        const int port = kind == Kind::kHealthy  ? ports.at(nextHealthy++)
                         : kind == Kind::kSilent ? ports.at(nextSilent++)
                                                 : 1;
        devices.push_back({kind, static_cast<int16_t>(i % kChannels),
                           static_cast<int16_t>(i / kChannels + 1), port});
    }
    return devices;
}

std::string Settings(const std::vector<Device>& devices) {
    std::string text = "; softcard_bench\n";
    for (int32_t channel = 0; channel < kChannels; ++channel)
        text += "[channel " + std::to_string(channel) + "]\nprotocol = modbus-tcp\n";
    for (const Device& device : devices)
        text += "[channel " + std::to_string(device.channel) + " equipment " +
                std::to_string(device.equipment) +
                "]\nhost = 127.0.0.1\nport = " + std::to_string(device.port) + "\n";
    return text;
}

int16_t CreateFunctions(const std::vector<Device>& devices) {
    int16_t perChannel[kChannels] = {};
    int16_t databaseAddress = 0;
    for (const Device& device : devices)
        for (int16_t period : kPeriods) {
            int16_t channel = device.channel, number = perChannel[device.channel]++,
                    periodUnits = period, one = 1, typeCode = 0x1005, kind = 3,
                    equipment = device.equipment, count = kRegisters, address16 = databaseAddress,
                    minusOne = -1, status = -1;
            int32_t address = period;
            createcyc(&channel, &number, &periodUnits, &one, &typeCode, &kind, &equipment, &count,
                      &address, &address16, &minusOne, &status);
            if (status != 0) return status;
            databaseAddress = static_cast<int16_t>(databaseAddress + kRegisters);
        }
    return 0;
}

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t rank = static_cast<size_t>(share * static_cast<double>(values.size()) + 0.999999);
    return values[std::min(values.size(), std::max<size_t>(rank, 1)) - 1];
}

void SayMemory(const char* when, const qun_test::MemoryUse& use) {
    std::printf("memory_%s_kb %lld %lld\n", when, static_cast<long long>(use.committedBytes / 1024),
                static_cast<long long>(use.addressSpaceBytes / 1024));
}

}  // namespace

int main(int argc, char** argv) {
    const char* portsFile = nullptr;
    int healthy = 0, silent = 0, refusing = 0;
    double seconds = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--ports") portsFile = argv[i + 1];
        if (option == "--healthy") healthy = std::atoi(argv[i + 1]);
        if (option == "--silent") silent = std::atoi(argv[i + 1]);
        if (option == "--refusing") refusing = std::atoi(argv[i + 1]);
        if (option == "--seconds") seconds = std::atof(argv[i + 1]);
    }
    std::vector<int> ports;
    std::ifstream list(portsFile != nullptr ? portsFile : "");
    for (int port; list >> port;) ports.push_back(port);
    if (healthy < 1 || static_cast<int>(ports.size()) < healthy + silent ||
        healthy + silent + refusing > kChannels * 64) {
        std::fprintf(stderr,
                     "usage: softcard_bench --ports FILE --healthy N --silent N --refusing N "
                     "--seconds S (at most 256 devices, a port for each healthy or silent one)\n");
        return 2;
    }
    const std::vector<Device> devices = Devices(ports, healthy, silent, refusing);
    std::ofstream("softcard-bench.ini") << Settings(devices);
    qun_test::SetEnvironment("SOFTCARD_INI", "softcard-bench.ini");

    const int32_t threadsBefore = qun_test::ThreadCount();
    const qun_test::MemoryUse memoryBefore = qun_test::Memory();
    int16_t status = -1;
    initbus(&status);
    if (status != 0 || (status = CreateFunctions(devices)) != 0) {
        std::fprintf(stderr, "softcard_bench: the card answered %d\n", status);
        return 1;
    }

    // The first healthy device, read on demand from here.
    const Device& probe = *std::find_if(devices.begin(), devices.end(),
                                        [](const Device& d) { return d.kind == Kind::kHealthy; });
    std::vector<double> latencies;
    int failures = 0;
    const Clock::time_point start = Clock::now();
    const auto elapsed = [&start] {
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    uint8_t data[1024];
    while (elapsed() < seconds) {
        int16_t channel = probe.channel, equipment = probe.equipment, count = 1;
        int32_t address = 0;
        const Clock::time_point asked = Clock::now();
        readword(&channel, &equipment, &count, &address, data, &status);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - asked).count();
        // The first seconds make the connections.
        if (elapsed() > 2) {
            latencies.push_back(ms);
            if (status != 0) ++failures;
        }
        std::this_thread::sleep_until(asked + std::chrono::milliseconds(10));
    }
    std::printf("ondemand_reads %zu %d\n", latencies.size(), failures);
    std::printf("ondemand_ms %.3f %.3f %.3f\n", Percentile(latencies, 0.5),
                Percentile(latencies, 0.99), Percentile(latencies, 1.0));
    std::printf("threads %d %d\n", threadsBefore, qun_test::ThreadCount());
    SayMemory("before", memoryBefore);
    SayMemory("polling", qun_test::Memory());
    const Clock::time_point closing = Clock::now();
    exitbus(&status);
    std::printf("exitbus_s %.3f\n", std::chrono::duration<double>(Clock::now() - closing).count());
    std::printf("threads_after_exitbus %d\n", qun_test::ThreadCount());
    return 0;
}
