// The card-traffic trace: a damaged file is read around its damage, a full
// ring drops and counts instead of holding the caller up and marks the loss
// where it happened, files rotate at their size limit, and a replay matches
// calls per thread and names the first one that departs from the recording.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "recorder/trace/card_routines.h"
#include "recorder/trace/trace_reader.h"
#include "recorder/trace/trace_recorder.h"
#include "recorder/trace/trace_replay.h"
#include "tests/recorder/trace/trace_test_support.h"

namespace {

using namespace qtrace;
using namespace trace_test;

TEST(Trace, DamageIsSkippedUpToTheNextWholeRecordAndEachStretchIsReported) {
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
    EXPECT_TRUE(whole.damaged.empty());

    // Where each record begins, and the end of the last.
    std::vector<size_t> starts;
    for (const TraceRecord& record : whole.records) starts.push_back(record.offset);
    starts.push_back(bytes.size());
    ASSERT_EQ(kFileHeaderBytes, starts[0]);
    // Every cut in the last three records, and a torn byte in each.
    for (size_t cut = starts[9]; cut <= bytes.size(); ++cut) {
        Trace trace;
        ASSERT_TRUE(ParseTrace(bytes.data(), cut, &trace, &error)) << cut;
        size_t wholeRecords = 0;
        while (wholeRecords < 12 && starts[wholeRecords + 1] <= cut) ++wholeRecords;
        EXPECT_EQ(wholeRecords, trace.records.size()) << "cut at " << cut;
        if (cut == starts[wholeRecords]) {
            EXPECT_TRUE(trace.damaged.empty()) << "cut at " << cut;
        } else {
            ASSERT_EQ(1u, trace.damaged.size()) << "cut at " << cut;
            EXPECT_EQ(starts[wholeRecords], trace.damaged[0].offset) << "cut at " << cut;
            EXPECT_EQ(cut - starts[wholeRecords], trace.damaged[0].bytes) << "cut at " << cut;
            EXPECT_EQ("a record cut off", trace.damaged[0].problem) << "cut at " << cut;
        }
        if (cut == bytes.size()) break;
        std::vector<uint8_t> torn(bytes.begin(), bytes.end());
        torn[cut] ^= 0x5A;
        ASSERT_TRUE(ParseTrace(torn.data(), torn.size(), &trace, &error));
        EXPECT_EQ(11u, trace.records.size()) << "torn at " << cut;
        ASSERT_EQ(1u, trace.damaged.size()) << "torn at " << cut;
        EXPECT_EQ(starts[wholeRecords], trace.damaged[0].offset) << "torn at " << cut;
        EXPECT_EQ(starts[wholeRecords + 1] - starts[wholeRecords], trace.damaged[0].bytes);
    }
    // A write torn by a full disk: 35 bytes of a record, then whole records again.
    std::vector<uint8_t> tear(bytes.begin(), bytes.begin() + starts[6]);
    tear.insert(tear.end(), bytes.begin() + starts[6], bytes.begin() + starts[6] + 35);
    tear.insert(tear.end(), bytes.begin() + starts[6], bytes.end());
    Trace trace;
    ASSERT_TRUE(ParseTrace(tear.data(), tear.size(), &trace, &error));
    EXPECT_EQ(12u, trace.records.size());
    ASSERT_EQ(1u, trace.damaged.size());
    EXPECT_EQ(starts[6], trace.damaged[0].offset);
    EXPECT_EQ(35u, trace.damaged[0].bytes);
    // Not a trace at all.
    const char* const notTraces[] = {"", "QUNTRACE", "NOTATRACE-------------------------------"};
    for (const char* text : notTraces) {
        EXPECT_FALSE(ParseTrace(reinterpret_cast<const uint8_t*>(text), std::string(text).size(),
                                &trace, &error))
            << text;
    }
}

// The record of lost calls stands where they were lost, with the first
// one's time, whether a call follows it or not.
TEST(Trace, LostCallsAreMarkedWhereTheyWereLost) {
    const std::string path = "lost.qtr";
    TraceRecorder recorder;
    RecorderSettings settings = Settings(path);
    settings.ringBytes = 4096;
    std::string error;
    ASSERT_TRUE(recorder.Start(settings, &error)) << error;
    for (bool callAfter : {true, false}) {
        recorder.PauseWriter(true);
        for (int i = 0; i < 100; ++i) RecordRead(recorder, 1, 0, 30, 1);
        recorder.PauseWriter(false);
        recorder.Drain();
        if (callAfter) RecordRead(recorder, 1, 0, 30, 1);
    }
    recorder.Stop();
    Trace trace;
    ASSERT_TRUE(ReadTrace(path, &trace, &error)) << error;
    uint64_t lastTicks = 0, calls = 0, lost = 0, marks = 0;
    for (const TraceRecord& record : trace.records) {
        if (record.kind == kCallRecord) {
            EXPECT_EQ(lastTicks + 10, record.ticks) << "a call " << record.ticks;
            ++calls;
        } else if (record.kind == kDroppedRecord) {
            ASSERT_EQ(2u, record.arguments.size());
            EXPECT_EQ(kRingFull, record.arguments[1]);
            EXPECT_EQ(lastTicks + 10, record.ticks) << "the first lost call's time";
            lost += static_cast<uint64_t>(record.arguments[0]);
            ++marks;
        } else {
            continue;
        }
        lastTicks = record.kind == kCallRecord ? record.ticks
                                               : record.ticks + 10 * (record.arguments[0] - 1);
    }
    EXPECT_EQ(2u, marks);
    EXPECT_EQ(201u, calls + lost);
    EXPECT_EQ(recorder.dropped(), lost);
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
        EXPECT_TRUE(trace.damaged.empty()) << file;
        for (const TraceRecord& record : trace.records)
            if (record.kind == kCallRecord) values.push_back(record.out[0]);
    }
    ASSERT_EQ(68u, values.size());
    for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(32 + i, values[i]);
    EXPECT_EQ(nullptr, std::fopen((path + ".3").c_str(), "rb"));
}

TEST(Trace, ReplayMatchesPerThreadAndNamesTheEarliestDeparture) {
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
        {"a changed argument; the other thread's earlier call is still answered",
         {{8, 0, true, 0x11}, {8, 1, true, 0x33}, {8, 3, false, 0}, {9, 5, true, 0x22}},
         true,
         4},
        {"an earlier call departs after a later one",
         {{8, 0, true, 0x11}, {8, 1, true, 0x33}, {8, 3, false, 0}, {9, 6, false, 0}},
         true,
         2},
        {"an earlier call never made after a later departure",
         {{8, 0, true, 0x11}, {8, 1, true, 0x33}, {8, 3, false, 0}},
         true,
         2},
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

// A forged or damaged trace whose calls deliver more data than their routine
// can: a departure, and nothing copied.
TEST(Trace, ReplayCopiesNoMoreThanTheRoutineCanDeliver) {
    const std::string path = "forged.qtr";
    const std::vector<uint8_t> a(1024, 0x41);
    // createcyc of 2 double words (kind 4) as number 1 on channel 0.
    const int32_t create[] = {0, 1, 10, 1, 0x1007, 4, 1, 2, 100, 0, -1};
    struct Forged {
        uint8_t routine;
        std::vector<int32_t> arguments;
        int inputs;
        uint32_t outBytes;
        uint32_t most;
    } const forged[] = {
        {48, {0, 1}, 2, 1024, 256},         // AppGetCycParam: its 256-byte record
        {11, {0, 1, 1, 100}, 4, 4, 2},      // readword of one word
        {33, {1, 10, 0}, 3, 3, 2},          // getpackbit of ten bits
        {19, {0, 1}, 2, 4, 2},              // readquickbit: one word
        {47, {0, 1, 2, 0}, 2, 10, 8},       // transcycpack of the function created
        {47, {0, 9, 2, 0}, 2, 1024, 1024},  // of one not created in the recording: in bounds
    };
    for (const Forged& call : forged) {
        {
            TraceRecorder recorder;
            std::string error;
            ASSERT_TRUE(recorder.Start(Settings(path), &error)) << error;
            recorder.Record(
                CallRecord{44, 1, g_ticks, g_ticks, 0, create, 11, nullptr, 0, nullptr, 0});
            recorder.Record(CallRecord{call.routine, 1, g_ticks, g_ticks, 0, call.arguments.data(),
                                       static_cast<int>(call.arguments.size()), nullptr, 0,
                                       a.data(), call.outBytes});
            recorder.Stop();
        }
        TraceReplay replay;
        std::string error;
        ASSERT_TRUE(replay.Load(path, &error)) << error;
        int16_t status = -1, outputs[2] = {0, 0};
        ASSERT_TRUE(replay.Answer(5, 44, create, 11, nullptr, 0, nullptr, &status, nullptr));
        std::vector<uint8_t> data(1024, 0);
        const bool inBounds = call.outBytes <= call.most;
        EXPECT_EQ(inBounds, replay.Answer(5, call.routine, call.arguments.data(), call.inputs,
                                          nullptr, 0, data.data(), &status, outputs))
            << int(call.routine);
        EXPECT_EQ(inBounds ? a : std::vector<uint8_t>(1024, 0), data) << int(call.routine);
        const TraceReplay::Outcome outcome = replay.Finish();
        EXPECT_EQ(!inBounds, outcome.diverged);
        if (inBounds) continue;
        EXPECT_EQ(2u, outcome.callNumber);
        EXPECT_NE(
            std::string::npos,
            outcome.recorded.find(" delivering " + std::to_string(call.outBytes) +
                                  " bytes, more than it can (" + std::to_string(call.most) + ")"))
            << outcome.recorded;
    }
}

// The manual publishes the routine identifiers that every trace carries; its
// table must be the routine table's, so that a reader written from the
// manual names every routine right.
TEST(Trace, TheManualsTableOfRoutineIdentifiersIsTheRoutineTable) {
    std::ifstream manual(std::string(QUN_SOURCE_DIR) + "/docs/recording.md");
    ASSERT_TRUE(manual.good());
    std::map<int, std::string> published;
    for (std::string line; std::getline(manual, line);) {
        // Rows of "| 0 | `initbus` | 7 | `readqbyte` | ...".
        std::istringstream cells(line);
        std::string bar, id, name;
        while (cells >> bar >> id >> bar >> name) {
            if (name.size() < 3 || name.front() != '`' || name.back() != '`' ||
                id.find_first_not_of("0123456789") != std::string::npos)
                break;
            published[std::stoi(id)] = name.substr(1, name.size() - 2);
        }
    }
    std::map<int, std::string> table;
    for (int id = 0; id < kRoutineCount; ++id) table[id] = kCardRoutines[id].name;
    EXPECT_EQ(table, published);
}

}  // namespace
