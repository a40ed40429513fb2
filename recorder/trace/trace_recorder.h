// The recording side of a card-traffic trace: calls are copied into a ring by
// the calling threads, and a writer thread of the recorder's own writes them
// to the trace file, rotating it at a size limit.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "recorder/trace/trace_format.h"
#include "recorder/trace/trace_ring.h"

namespace qtrace {

struct RecorderSettings {
    std::string path;                     // the trace file; older ones get .1, .2, ...
    uint64_t fileLimitBytes = 64u << 20;  // a file is rotated before it grows past this
    int files = 4;                        // files kept, the current one included
    size_t ringBytes = 1u << 20;          // memory between the callers and the writer
    uint64_t ticksPerSecond = 1000000000;
    uint64_t (*ticks)() = nullptr;  // the clock of the time stamps
    uint64_t wallStartMicroseconds = 0;
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

    // Opens the trace file (older ones rotated away) and starts the writer.
    // False with a message when the file cannot be written.
    bool Start(const RecorderSettings& settings, std::string* error);

    // Called by the calling threads: copies the record into the ring, or
    // counts it as dropped. Never waits for the file.
    void Record(const CallRecord& call);
    // A line of text in the trace (the tap's own messages).
    void Note(const std::string& text);

    // Writes everything recorded so far and flushes the file.
    void Drain();
    // The same, unless another thread is writing right now (at the process's
    // end, when that thread may have been stopped half-way).
    void TryDrain();
    // Drains and ends the writer thread.
    void Stop();

    uint32_t dropped() const { return ring_ ? ring_->dropped() : 0; }
    // Suspends the writer thread (tests of a full ring).
    void PauseWriter(bool paused) { paused_.store(paused); }

private:
    void WriterLoop();
    // Writes what the ring holds; the file lock is held. Whether there was
    // anything.
    bool WriteTaken();
    bool OpenFile(std::string* error);
    void WriteRecord(uint8_t* record, size_t size);

    RecorderSettings settings_;
    std::unique_ptr<TraceRing> ring_;
    std::mutex fileLock_;
    std::FILE* file_ = nullptr;
    uint64_t fileBytes_ = 0;
    uint64_t startTicks_ = 0;
    std::vector<uint8_t> batch_;
    std::thread writer_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> paused_{false};
};

}  // namespace qtrace
