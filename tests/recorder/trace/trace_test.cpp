// The card-traffic trace: a file cut off anywhere is read up to its last
// whole record, a full ring drops and counts instead of holding the caller
// up, files rotate at their size limit, and a replay matches calls per
// thread and names the first one that departs from the recording.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "recorder/trace/card_routines.h"
#include "recorder/trace/trace_reader.h"
#include "recorder/trace/trace_recorder.h"
#include "recorder/trace/trace_replay.h"

namespace {

using namespace qtrace;

// A clock that moves only when a call is recorded (from several threads).
std::atomic<uint64_t> g_ticks{0};
uint64_t FakeTicks() { return g_ticks.load(); }

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
}

RecorderSettings Settings(const std::string& path) {
    RecorderSettings settings;
    settings.path = path;
    settings.ticks = FakeTicks;
    settings.ticksPerSecond = 1000;
    return settings;
}

// readword(channel, 1, count, 100) delivering count words of value v.
void RecordRead(TraceRecorder& recorder, uint32_t thread, int32_t channel, int32_t count,
                uint8_t value) {
    const int32_t arguments[] = {channel, 1, count, 100};
    const std::vector<uint8_t> out(2 * static_cast<size_t>(count), value);
    const uint64_t now = g_ticks += 10;
    recorder.Record(CallRecord{qtrace::routine::readword, thread, now, now + 1, 0, arguments, 4,
                               nullptr, 0, out.data(), static_cast<uint32_t>(out.size())});
}

TEST(Trace, ACutOffFileIsReadUpToItsLastWholeRecord) {
    const std::string path = "cut.qtr";
    {
        TraceRecorder recorder;
        std::string error;
        ASSERT_TRUE(recorder.Start(Settings(path), &error)) << error;
        for (int i = 0; i < 12; ++i) RecordRead(recorder, 7, i, 1 + 37 * i % 200, uint8_t(i));
        recorder.Stop();
    }
    const std::vector<uint8_t> bytes = FileBytes(path);
    Trace whole;
    std::string error;
    ASSERT_TRUE(ParseTrace(bytes.data(), bytes.size(), &whole, &error)) << error;
    ASSERT_EQ(12u, whole.records.size());
    EXPECT_EQ(0u, whole.trailingBytes);

    // Where each record ends.
    std::vector<size_t> ends;
    size_t at = kFileHeaderBytes;
    for (const TraceRecord& record : whole.records) {
        at += kRecordHeaderBytes + 4 * record.arguments.size() + record.out.size() + kChecksumBytes;
        ends.push_back(at);
    }
    ASSERT_EQ(bytes.size(), ends.back());
    // Every cut in the last three records, and a torn byte in each.
    for (size_t cut = ends[8]; cut <= bytes.size(); ++cut) {
        Trace trace;
        ASSERT_TRUE(ParseTrace(bytes.data(), cut, &trace, &error)) << cut;
        size_t whole_records = 0;
        while (whole_records < ends.size() && ends[whole_records] <= cut) ++whole_records;
        EXPECT_EQ(whole_records, trace.records.size()) << "cut at " << cut;
        EXPECT_EQ(cut - (whole_records == 0 ? kFileHeaderBytes : ends[whole_records - 1]),
                  trace.trailingBytes);
        if (cut < bytes.size()) {
            std::vector<uint8_t> torn(bytes.begin(), bytes.end());
            torn[cut] ^= 0x5A;
            ASSERT_TRUE(ParseTrace(torn.data(), torn.size(), &trace, &error));
            EXPECT_LE(trace.records.size(), whole_records + 1) << "torn at " << cut;
            EXPECT_GE(trace.records.size(), whole_records) << "torn at " << cut;
            EXPECT_NE(0u, trace.trailingBytes) << "torn at " << cut;
        }
    }
    // Not a trace at all.
    const char* const notTraces[] = {"", "QUNTRACE", "NOTATRACE-------------------------------"};
    for (const char* text : notTraces) {
        Trace trace;
        EXPECT_FALSE(ParseTrace(reinterpret_cast<const uint8_t*>(text), std::string(text).size(),
                                &trace, &error))
            << text;
    }
}

TEST(Trace, AFullRingDropsAndCountsWithoutHoldingTheCallerUp) {
    const std::string path = "full.qtr";
    TraceRecorder recorder;
    RecorderSettings settings = Settings(path);
    settings.ringBytes = 4096;  // room for about 40 of these records
    std::string error;
    ASSERT_TRUE(recorder.Start(settings, &error)) << error;
    recorder.PauseWriter(true);
    const auto begin = std::chrono::steady_clock::now();
    std::thread other([&] {
        for (int i = 0; i < 500; ++i) RecordRead(recorder, 2, 1, 30, 2);
    });
    for (int i = 0; i < 500; ++i) RecordRead(recorder, 1, 0, 30, 1);
    other.join();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
    const uint64_t dropped = recorder.dropped();
    EXPECT_GT(dropped, 900u);
    EXPECT_LT(dropped, 1000u);
    recorder.PauseWriter(false);
    recorder.Drain();
    RecordRead(recorder, 1, 0, 30, 1);  // room again
    recorder.Stop();
    EXPECT_EQ(dropped, recorder.dropped());

    Trace trace;
    ASSERT_TRUE(ReadTrace(path, &trace, &error)) << error;
    uint64_t calls = 0, marked = 0;
    for (const TraceRecord& record : trace.records) {
        if (record.kind == kCallRecord) ++calls;
        if (record.kind == kDroppedRecord) marked += static_cast<uint64_t>(record.arguments[0]);
    }
    EXPECT_EQ(dropped, marked);
    EXPECT_EQ(1001u, calls + marked);
}

TEST(Trace, FilesRotateAtTheirLimitAndEachIsReadable) {
    const std::string path = "rotate.qtr";
    TraceRecorder recorder;
    RecorderSettings settings = Settings(path);
    settings.fileLimitBytes = 8192;
    settings.files = 3;
    std::string error;
    ASSERT_TRUE(recorder.Start(settings, &error)) << error;
    for (int i = 0; i < 100; ++i) {
        RecordRead(recorder, 1, 0, 100, uint8_t(i));  // 260 bytes each
        if (i % 10 == 9) recorder.Drain();
    }
    recorder.Stop();
    // 32 records fill a file: the newest 100 - 32 are kept, oldest in .2.
    std::vector<uint8_t> values;
    for (const std::string& file : {path + ".2", path + ".1", path}) {
        Trace trace;
        ASSERT_TRUE(ReadTrace(file, &trace, &error)) << error;
        EXPECT_LE(FileBytes(file).size(), 8192u) << file;
        EXPECT_EQ(0u, trace.trailingBytes) << file;
        for (const TraceRecord& record : trace.records) values.push_back(record.out[0]);
    }
    ASSERT_EQ(68u, values.size());
    for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(32 + i, values[i]);
    EXPECT_EQ(nullptr, std::fopen((path + ".3").c_str(), "rb"));
}

TEST(Trace, ReplayMatchesPerThreadAndNamesTheFirstDeparture) {
    const std::string path = "replay.qtr";
    {
        TraceRecorder recorder;
        std::string error;
        ASSERT_TRUE(recorder.Start(Settings(path), &error)) << error;
        RecordRead(recorder, 100, 0, 1, 0x11);  // host thread
        RecordRead(recorder, 200, 5, 1, 0x22);  // supervisor thread
        RecordRead(recorder, 100, 1, 1, 0x33);
        RecordRead(recorder, 100, 2, 1, 0x44);
        recorder.Stop();
    }
    struct Call {
        uint32_t thread;
        int32_t channel;
        bool answered;
        uint8_t delivered;
    };
    struct Case {
        const char* what;
        std::vector<Call> calls;
        bool diverged;
        uint64_t callNumber;
    };
    const Case cases[] = {
        // The supervisor's call comes first this time: matched to its own thread.
        {"interleaved otherwise",
         {{9, 5, true, 0x22}, {8, 0, true, 0x11}, {8, 1, true, 0x33}, {8, 2, true, 0x44}},
         false,
         0},
        {"a changed argument",
         {{8, 0, true, 0x11}, {8, 1, true, 0x33}, {8, 3, false, 0}, {9, 5, false, 0}},
         true,
         4},
        {"a call left out", {{8, 0, true, 0x11}, {9, 5, true, 0x22}, {8, 1, true, 0x33}}, true, 4},
    };
    for (const Case& c : cases) {
        TraceReplay replay;
        std::string error;
        ASSERT_TRUE(replay.Load(path, &error)) << error;
        for (const Call& call : c.calls) {
            const int32_t arguments[] = {call.channel, 1, 1, 100};
            uint8_t data[2] = {0, 0};
            int16_t status = -1;
            EXPECT_EQ(call.answered,
                      replay.Answer(call.thread, qtrace::routine::readword, arguments, 4, nullptr,
                                    0, data, &status, nullptr))
                << c.what << " channel " << call.channel;
            if (call.answered) {
                EXPECT_EQ(0, status) << c.what;
                EXPECT_EQ(call.delivered, data[0]) << c.what;
            }
        }
        const TraceReplay::Outcome outcome = replay.Finish();
        EXPECT_EQ(c.diverged, outcome.diverged) << c.what;
        EXPECT_EQ(c.callNumber, outcome.callNumber) << c.what;
    }
}

}  // namespace
