// Not a test: scripts/report-bench.sh runs this case (it is disabled
// otherwise) to write the traces of a long recording of a 100-gate plant, on
// which the trace report's time and size are measured. Each second the host
// reads its 100 gates one by one (60 words on five pieces of equipment, 20
// floats, 10 packed bits, 10 double words), a few calls fail, the operator
// writes a set point every ten minutes, and a value jumps now and then. The
// recorder's own writer writes the files, rotating them at 64 MB.
//
//   QUN_TRACE_PATH   the newest file (default plant13h.qtr; older ones .1, .2, .3)
//   QUN_TRACE_HOURS  how long the recording runs (default 13)
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "recorder/trace/card_routines.h"
#include "recorder/trace/trace_recorder.h"

namespace {

uint64_t g_microseconds = 0;
uint64_t Clock() { return g_microseconds; }
uint64_t Microseconds() { return 1000000; }

std::string Setting(const char* name, const char* otherwise) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : otherwise;
}

TEST(PlantTrace, DISABLED_Pose) {
    qtrace::RecorderSettings settings;
    settings.path = Setting("QUN_TRACE_PATH", "plant13h.qtr");
    settings.ticks = Clock;
    settings.ticksPerSecond = Microseconds;
    settings.wallStartMicroseconds = 1796000000000000ull;
    settings.ringBytes = 4u << 20;
    qtrace::TraceRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.Start(settings, &error)) << error;

    const int readword = qtrace::RoutineByName("readword"),
              readfword = qtrace::RoutineByName("readfword"),
              readpackbit = qtrace::RoutineByName("readpackbit"),
              readdword = qtrace::RoutineByName("readdword"),
              writeword = qtrace::RoutineByName("writeword");
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> micros(150, 2500), chance(0, 9999);
    const long seconds = std::lround(3600 * std::atof(Setting("QUN_TRACE_HOURS", "13").c_str()));
    for (long s = 0; s < seconds; ++s) {
        for (int g = 0; g < 100; ++g) {
            g_microseconds = 1000000ull * static_cast<uint64_t>(s) + 9000u * g;
            const double phase = 2 * 3.14159265 * (s + g) / (600.0 + 7 * g);
            uint8_t out[4] = {};
            int routine = readword, channel = 0, equipment = 1 + g % 5, address = g;
            uint32_t bytes = 2;
            if (g < 60) {
                const uint32_t v = static_cast<uint32_t>(500 + 400 * std::sin(phase)) +
                                   (chance(random) == 0 ? 20000 : 0);  // the value that jumps
                out[0] = static_cast<uint8_t>(v);
                out[1] = static_cast<uint8_t>(v >> 8);
            } else if (g < 80) {
                routine = readfword, channel = 1, equipment = 5, bytes = 4;
                const float v = static_cast<float>(80 + 15 * std::sin(phase));
                std::memcpy(out, &v, 4);
            } else if (g < 90) {
                routine = readpackbit, channel = 2, equipment = 3, bytes = 1;
                out[0] = static_cast<uint8_t>((s / (10 + g)) & 0xFF);
            } else {
                routine = readdword, channel = 3, equipment = 7, bytes = 4;
                const uint32_t v = static_cast<uint32_t>(s * (g - 89));
                std::memcpy(out, &v, 4);
            }
            const int16_t status = chance(random) < 5 ? 70 : 0;  // a remote error now and then
            const int32_t arguments[] = {channel, equipment, routine == readpackbit ? 8 : 1,
                                         address};
            const uint64_t start = g_microseconds;
            recorder.Record(qtrace::CallRecord{static_cast<uint8_t>(routine), 1, start,
                                               start + micros(random), status, arguments, 4,
                                               nullptr, 0, out, status == 0 ? bytes : 0});
        }
        if (s % 600 == 300) {  // the operator's set point
            const int32_t arguments[] = {0, 4, 1, 3};
            const uint8_t in[2] = {static_cast<uint8_t>(s / 600), 2};
            const uint64_t start = g_microseconds + 1000;
            recorder.Record(qtrace::CallRecord{static_cast<uint8_t>(writeword), 1, start,
                                               start + 900, 0, arguments, 4, in, 2, nullptr, 0});
        }
        if (s % 20 == 0) recorder.Drain();
    }
    recorder.Stop();
    EXPECT_EQ(0u, recorder.dropped());
}

}  // namespace
