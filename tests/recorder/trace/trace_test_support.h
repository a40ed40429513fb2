// What the trace's tests share: a clock that moves only when a call is
// recorded, recorder settings for a test, and reads of a word to record.
#pragma once

#include <atomic>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "recorder/trace/card_routines.h"
#include "recorder/trace/trace_recorder.h"

namespace trace_test {

inline std::atomic<uint64_t> g_ticks{0};
inline uint64_t FakeTicks() { return g_ticks.load(); }
inline uint64_t Milliseconds() { return 1000; }

inline std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
}

inline qtrace::RecorderSettings Settings(const std::string& path) {
    qtrace::RecorderSettings settings;
    settings.path = path;
    settings.ticks = FakeTicks;
    settings.ticksPerSecond = Milliseconds;
    return settings;
}

// readword(channel, 1, count, 100) delivering count words of value v.
inline void RecordRead(qtrace::TraceRecorder& recorder, uint32_t thread, int32_t channel,
                       int32_t count, uint8_t value) {
    const int32_t arguments[] = {channel, 1, count, 100};
    const std::vector<uint8_t> out(2 * static_cast<size_t>(count), value);
    const uint64_t now = g_ticks += 10;
    recorder.Record(qtrace::CallRecord{qtrace::routine::readword, thread, now, now + 1, 0,
                                       arguments, 4, nullptr, 0, out.data(),
                                       static_cast<uint32_t>(out.size())});
}

}  // namespace trace_test
