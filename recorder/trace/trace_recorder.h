// The recording side of a card-traffic trace: calls are copied into a ring by
// the calling threads, and a writer thread of the recorder's own writes them
// to the trace file, rotating it at a size limit.
//
// The writer does everything that may take time: it measures the clock, opens
// and rotates the files, and writes. What the file cannot take (a full disk,
// a file that cannot be created) is counted and recorded as lost as soon as
// the file takes records again; a file that another program or recorder holds
// is never truncated, renamed over or deleted: the recording goes on under a
// name of its own, and says so in the trace.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "recorder/trace/trace_files.h"
#include "recorder/trace/trace_format.h"
#include "recorder/trace/trace_ring.h"

namespace qtrace {

struct RecorderSettings {
    std::string path;  // the trace file; older ones get .1, .2, ...
    // A file is rotated before it grows past this (at most kMostFileBytes).
    uint64_t fileLimitBytes = 64u << 20;
    int files = 4;                  // files kept, the current one included
    size_t ringBytes = 1u << 20;    // memory between the callers and the writer
    uint64_t (*ticks)() = nullptr;  // the clock of the time stamps
    // Its ticks per second: asked once, on the writer's thread, as measuring
    // the clock may take a while.
    uint64_t (*ticksPerSecond)() = nullptr;
    uint64_t wallStartMicroseconds = 0;
    // Where the recorder says what the trace cannot hold (no file to write
    // to); may be null.
    void (*say)(const std::string& line) = nullptr;
    const TraceFiles* fileSystem = &SystemFiles();
};

// One call as the tap saw it.
struct CallRecord {
    uint8_t routine;
    uint32_t thread;
    uint64_t startTicks;  // the clock's reading, not yet made relative
    uint64_t endTicks;
    int16_t status;
    const int32_t* arguments;
    int argumentCount;
    const void* in;
    uint32_t inBytes;
    const void* out;
    uint32_t outBytes;
};

class TraceRecorder {
public:
    TraceRecorder() = default;
    ~TraceRecorder();
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    // Starts the writer, which opens the trace file (older ones rotated
    // away). False with a message, and nothing started, when the recorder
    // cannot start at all (no memory for the ring, no thread); never throws.
    bool Start(const RecorderSettings& settings, std::string* error);

    // Called by the calling threads: copies the record into the ring, or
    // counts it as dropped. Never waits for the file.
    void Record(const CallRecord& call);
    // A line of text in the trace (the tap's own messages).
    void Note(const std::string& text);

    // Asks the writer to write everything recorded so far, and waits for it
    // at most wait; whether it was written in time.
    bool Flush(std::chrono::milliseconds wait);
    // Writes everything recorded so far on the caller's thread.
    void Drain();
    // The same, unless another thread is writing right now (at the process's
    // end, when that thread may have been stopped half-way).
    void TryDrain();
    // Drains and ends the writer thread.
    void Stop();

    uint32_t dropped() const { return ring_ ? ring_->dropped() : 0; }
    // The file being written ("" before the first).
    std::string FileName();
    // Suspends the writer thread (tests of a full ring).
    void PauseWriter(bool paused) { paused_.store(paused); }

private:
    // Calls and notes the file could not take, since the last that it did.
    struct Lost {
        uint64_t calls = 0;
        uint64_t notes = 0;
        uint64_t firstTicks = 0;
        uint64_t lastTicks = 0;
        std::string why;
    };

    void WriterLoop();
    // The rest is called with fileLock_ held.
    // Runs a step of the writer: what it throws (memory running out) costs
    // what the step was writing, never the host.
    template <typename Step>
    void Guarded(Step step) noexcept;
    void Begin();
    bool WriteTaken();
    void WriteBatch(uint8_t* batch, size_t size);
    void WriteRun(const uint8_t* run, size_t size);
    void WriteOwn(uint8_t* record, size_t size);
    void WriteOwnNote(const std::string& text);
    bool WriteRaw(const void* bytes, size_t size, std::string* error);
    void Lose(const uint8_t* records, size_t size);
    void Fail(const std::string& why);
    bool Recovered();
    bool NextFile();
    bool OpenFile();
    bool WriteHeader();
    std::string ShiftOlder();
    void* CreateUnique(std::string* name, std::string* error);
    uint64_t Now() const { return settings_.ticks() - startTicks_; }
    std::string At(uint64_t ticks) const;

    RecorderSettings settings_;
    const TraceFiles* fs_ = nullptr;
    std::unique_ptr<TraceRing> ring_;
    uint64_t startTicks_ = 0;
    std::vector<uint8_t> batch_;
    std::thread writer_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> paused_{false};

    // The writer's wake-ups: Flush and Stop wake it early.
    std::mutex wakeLock_;
    std::condition_variable wakeUp_;
    std::condition_variable flushed_;
    uint64_t flushWanted_ = 0;
    uint64_t flushDone_ = 0;

    std::mutex fileLock_;
    // Under fileLock_:
    bool begun_ = false;
    bool stopped_ = false;
    uint64_t ticksPerSecond_ = 0;
    void* file_ = nullptr;
    std::string fileName_;
    uint64_t fileBytes_ = 0;
    bool headerWritten_ = false;
    bool shifted_ = false;              // the files were pushed down for the next one
    std::string shiftConflict_;         // why the next file cannot be path
    int fileNumber_ = 0;                // files begun by this recording
    std::deque<std::string> ownNames_;  // files under names of their own, oldest first
    bool failing_ = false;
    Lost lost_;
    std::chrono::steady_clock::time_point retryAt_;
};

}  // namespace qtrace
