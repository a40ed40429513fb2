// The recorder on a plant's disk: a file that another recorder or program
// holds is never truncated, renamed over or deleted; a disk that fills up
// costs the calls it could not take, counted and recorded where they were
// lost, and nothing after; a recorder that cannot start never throws.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "recorder/trace/trace_reader.h"
#include "recorder/trace/trace_recorder.h"
#include "tests/recorder/trace/trace_test_support.h"

namespace {

using namespace qtrace;
using namespace trace_test;

// The system's file layer, with a disk that fills up and a file that another
// program holds, as Windows keeps a file open elsewhere from being renamed
// or deleted.
std::atomic<int64_t> g_room{-1};  // bytes the disk still takes; below 0 any
std::atomic<bool> g_truncates{true};
std::string g_held;

size_t FillingWrite(void* file, const void* bytes, size_t size, std::string* error) {
    int64_t room = g_room.load();
    if (room < 0 || static_cast<int64_t>(size) <= room) {
        if (room >= 0) g_room -= static_cast<int64_t>(size);
        return SystemFiles().write(file, bytes, size, error);
    }
    g_room = 0;
    const size_t written = SystemFiles().write(file, bytes, static_cast<size_t>(room), error);
    *error = "No space left on device";
    return written;
}
bool MaybeTruncate(void* file, uint64_t size) {
    return g_truncates && SystemFiles().truncate(file, size);
}
bool HeldRename(const char* from, const char* to, std::string* error) {
    if (g_held == from) {
        *error = "The process cannot access the file because it is being used by another process";
        return false;
    }
    return SystemFiles().rename(from, to, error);
}
bool HeldRemove(const char* path, std::string* error) {
    if (g_held == path) {
        *error = "The process cannot access the file because it is being used by another process";
        return false;
    }
    return SystemFiles().remove(path, error);
}

const TraceFiles& Faulty() {
    static const TraceFiles files = {SystemFiles().create, FillingWrite,       MaybeTruncate,
                                     SystemFiles().close,  HeldRename,         HeldRemove,
                                     SystemFiles().exists, SystemFiles().inUse};
    return files;
}

void RemoveFiles(const std::string& path) {
    for (const char* suffix : {"", ".1", ".2", ".3"}) std::remove((path + suffix).c_str());
}

std::vector<int> ValuesOf(const std::string& path) {
    Trace trace;
    std::string error;
    std::vector<int> values;
    if (!ReadTrace(path, &trace, &error)) return {-1};
    for (const TraceRecord& record : trace.records)
        if (record.kind == kCallRecord) values.push_back(record.out[0]);
    return values;
}

std::string NotesOf(const std::string& path) {
    Trace trace;
    std::string error, notes;
    ReadTrace(path, &trace, &error);
    for (const TraceRecord& record : trace.records)
        if (record.kind == kNoteRecord) notes += std::string(record.in.begin(), record.in.end());
    return notes;
}

// A recorder that starts on a path another recorder writes, or whose file
// another program holds open, goes on under a name of its own and says why.
TEST(RecorderFiles, AFileHeldByAnotherRecorderOrProgramIsNeverTruncatedOrPushedAway) {
    for (bool program : {false, true}) {
        const std::string path = program ? "held.qtr" : "shared.qtr";
        RemoveFiles(path);
        RecorderSettings settings = Settings(path);
        settings.files = 3;
        settings.fileSystem = &Faulty();
        TraceRecorder first;
        std::string error;
        ASSERT_TRUE(first.Start(settings, &error)) << error;
        for (int i = 0; i < 5; ++i) RecordRead(first, 1, 0, 1, 0xA0);
        first.Drain();
        std::FILE* holder = nullptr;
        if (program) {
            first.Stop();
            // On Windows a real hold; natively the layer refuses as Windows would.
            holder = std::fopen(path.c_str(), "rb");
#if !defined(_WIN32)
            g_held = path;
#endif
        }
        TraceRecorder second;
        ASSERT_TRUE(second.Start(settings, &error)) << error;
        for (int i = 0; i < 5; ++i) RecordRead(second, 2, 0, 1, 0xB0);
        second.Drain();
        const std::string own = second.FileName();
        if (!program) {
            for (int i = 0; i < 5; ++i) RecordRead(first, 1, 0, 1, 0xA1);
            first.Stop();
        }
        second.Stop();
        if (holder != nullptr) std::fclose(holder);
        g_held.clear();

        std::vector<int> firsts(5, 0xA0);
        if (!program) firsts.insert(firsts.end(), 5, 0xA1);
        EXPECT_EQ(firsts, ValuesOf(path)) << "the first recorder's file, whole and in place";
        EXPECT_NE(path, own);
        EXPECT_EQ(0u, own.find(path.substr(0, path.size() - 4) + "-")) << own;
        EXPECT_EQ(std::vector<int>(5, 0xB0), ValuesOf(own)) << own;
        EXPECT_NE(std::string::npos, NotesOf(own).find(": the recording goes on in " + own))
            << NotesOf(own);
        EXPECT_EQ(std::vector<int>{-1}, ValuesOf(path + ".1")) << "nothing pushed down";
        std::remove(own.c_str());
    }
}

// The disk fills up in the middle of a record and is freed later: the calls
// it could not take are counted and recorded where they were lost, with the
// first one's time, and every call after is in the trace. Where the torn
// record cannot be taken back, the reader reads on after it.
TEST(RecorderFiles, AFullDiskCostsOnlyTheCallsItCouldNotTakeAndSaysSo) {
    for (bool truncates : {true, false}) {
        const std::string path = truncates ? "full.qtr" : "torn.qtr";
        RemoveFiles(path);
        g_truncates = truncates;
        RecorderSettings settings = Settings(path);
        settings.fileSystem = &Faulty();
        TraceRecorder recorder;
        std::string error;
        const uint64_t start = g_ticks;  // the recording's start
        ASSERT_TRUE(recorder.Start(settings, &error)) << error;
        recorder.PauseWriter(true);
        recorder.Drain();
        for (int i = 0; i < 20; ++i) RecordRead(recorder, 1, 0, 1, 1);
        recorder.Drain();
        g_room = 35;  // a record is 50 bytes
        const uint64_t firstLost = g_ticks + 10 - start;
        for (int i = 0; i < 30; ++i) RecordRead(recorder, 1, 0, 1, 2);
        recorder.Drain();
        g_room = -1;  // freed
        for (int i = 0; i < 10; ++i) RecordRead(recorder, 1, 0, 1, 3);
        recorder.Stop();

        Trace trace;
        ASSERT_TRUE(ReadTrace(path, &trace, &error)) << error;
        std::string sequence;  // c: call (its value), d: dropped, n: note
        for (const TraceRecord& record : trace.records) {
            if (record.kind == kCallRecord) sequence += static_cast<char>('0' + record.out[0]);
            if (record.kind == kNoteRecord) sequence += 'n';
            if (record.kind != kDroppedRecord) continue;
            sequence += 'd';
            ASSERT_EQ(2u, record.arguments.size());
            EXPECT_EQ(30, record.arguments[0]);
            EXPECT_EQ(kWriteFailed, record.arguments[1]);
            EXPECT_EQ(firstLost, record.ticks);
        }
        EXPECT_EQ(std::string(20, '1') + "dn" + std::string(10, '3'), sequence);
        EXPECT_NE(std::string::npos, NotesOf(path).find("30 calls from 0.210 s to 0.500 s could "
                                                        "not be written (cannot write " +
                                                        path + ": No space left on device)"))
            << NotesOf(path);
        if (truncates) {
            EXPECT_TRUE(trace.damaged.empty());
        } else {
            ASSERT_EQ(1u, trace.damaged.size());
            EXPECT_EQ(35u, trace.damaged[0].bytes);
        }
    }
    g_truncates = true;
}

uint64_t Throws() { throw std::runtime_error("no clock"); }
std::string g_said;
void Remember(const std::string& line) { g_said += line + "\n"; }

TEST(RecorderFiles, ARecorderThatCannotStartOrRunNeverThrows) {
    TraceRecorder noClock;
    RecorderSettings settings = Settings("noclock.qtr");
    settings.ticks = Throws;
    std::string error;
    EXPECT_FALSE(noClock.Start(settings, &error));
    EXPECT_EQ("the recorder cannot start: no clock", error);
    RecordRead(noClock, 1, 0, 1, 1);  // nothing recorded, nothing broken
    noClock.Stop();

    // Measuring the clock fails on the writer's thread: the writer goes on.
    TraceRecorder noRate;
    settings = Settings("norate.qtr");
    settings.ticksPerSecond = Throws;
    settings.say = Remember;
    ASSERT_TRUE(noRate.Start(settings, &error)) << error;
    RecordRead(noRate, 1, 0, 1, 1);
    noRate.Stop();
    EXPECT_NE(std::string::npos, g_said.find("the recorder failed: no clock")) << g_said;
}

}  // namespace
