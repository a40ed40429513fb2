#include "recorder/trace/trace_recorder.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>

namespace qtrace {

namespace {

constexpr size_t kBatchBytes = 64u << 10;
// The writer looks again after 1 ms while calls keep coming, so that a small
// ring (which stays in the processor's cache) keeps up with a busy driver;
// when the ring was empty it waits twice as long each time, up to 16 ms, so
// that a quiet plant costs few wake-ups.
constexpr int kShortestPauseMs = 1;
constexpr int kLongestPauseMs = 16;

// Copies of a few bytes are done here: a call into the C library's memcpy
// costs more than the copy (on Windows it goes through an import).
inline void CopySmall(uint8_t* to, const void* from, size_t size) {
    if (size > 32) {
        std::memcpy(to, from, size);
        return;
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(from);
    for (size_t i = 0; i < size; ++i) to[i] = bytes[i];
}

// The record of lost calls, without its checksum.
void FillLossRecord(uint8_t* record, const Loss& loss, LossCause cause) {
    RecordHeader header{};
    header.bytes = kDroppedRecordBytes;
    header.kind = kDroppedRecord;
    header.ticks = loss.firstTicks;
    header.argumentCount = 2;
    const int32_t arguments[2] = {
        loss.records > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(loss.records), cause};
    std::memcpy(record, &header, sizeof header);
    std::memcpy(record + sizeof header, arguments, sizeof arguments);
}

void FinishRecord(uint8_t* record, size_t size) {
    const uint32_t sum = Checksum(record, size - kChecksumBytes);
    std::memcpy(record + size - kChecksumBytes, &sum, kChecksumBytes);
}

}  // namespace

TraceRecorder::~TraceRecorder() { Stop(); }

bool TraceRecorder::OpenFile(std::string* error) {
    // Rotation: path.(n-2) -> path.(n-1), ..., path -> path.1.
    for (int i = settings_.files - 1; i >= 1; --i) {
        const std::string older = settings_.path + "." + std::to_string(i);
        const std::string newer =
            i == 1 ? settings_.path : settings_.path + "." + std::to_string(i - 1);
        std::remove(older.c_str());
        std::rename(newer.c_str(), older.c_str());
    }
    if (settings_.files <= 1) std::remove(settings_.path.c_str());
    file_ = std::fopen(settings_.path.c_str(), "wb");
    if (file_ == nullptr) {
        if (error != nullptr) *error = "cannot write the trace file " + settings_.path;
        return false;
    }
    FileHeader header{};
    std::memcpy(header.magic, kMagic, sizeof header.magic);
    header.version = kVersion;
    header.headerBytes = kFileHeaderBytes;
    header.ticksPerSecond = settings_.ticksPerSecond;
    header.wallStartMicroseconds = settings_.wallStartMicroseconds;
    std::fwrite(&header, sizeof header, 1, file_);
    std::fflush(file_);
    fileBytes_ = sizeof header;
    return true;
}

bool TraceRecorder::Start(const RecorderSettings& settings, std::string* error) {
    settings_ = settings;
    if (settings_.files < 1) settings_.files = 1;
    if (settings_.fileLimitBytes < kFileHeaderBytes + kMostRecordBytes)
        settings_.fileLimitBytes = kFileHeaderBytes + kMostRecordBytes;
    startTicks_ = settings_.ticks();
    if (!OpenFile(error)) return false;
    ring_.reset(new TraceRing(settings_.ringBytes, kDroppedRecordBytes));
    batch_.resize(kBatchBytes);
    writer_ = std::thread([this] { WriterLoop(); });
    return true;
}

void TraceRecorder::Record(const CallRecord& call) {
    if (!ring_) return;
    const size_t argumentBytes = 4 * static_cast<size_t>(call.argumentCount);
    const size_t size =
        kRecordHeaderBytes + argumentBytes + call.inBytes + call.outBytes + kChecksumBytes;
    const uint64_t ticks = call.startTicks - startTicks_;
    Loss loss;
    uint8_t* lossRecord = nullptr;
    uint8_t* at = ring_->BeginPush(size, ticks, &loss, &lossRecord);
    if (at == nullptr) return;  // counted as dropped
    if (loss.records != 0) FillLossRecord(lossRecord, loss, kRingFull);
    RecordHeader header;
    header.bytes = static_cast<uint16_t>(size);
    header.kind = kCallRecord;
    header.routine = call.routine;
    header.thread = call.thread;
    header.ticks = ticks;
    const uint64_t duration = call.endTicks - call.startTicks;
    header.durationTicks = duration > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(duration);
    header.status = call.status;
    header.argumentCount = static_cast<uint8_t>(call.argumentCount);
    header.reserved = 0;
    header.inBytes = static_cast<uint16_t>(call.inBytes);
    header.outBytes = static_cast<uint16_t>(call.outBytes);
    std::memcpy(at, &header, sizeof header);
    at += sizeof header;
    CopySmall(at, call.arguments, argumentBytes);
    at += argumentBytes;
    CopySmall(at, call.in, call.inBytes);
    at += call.inBytes;
    CopySmall(at, call.out, call.outBytes);
    // The checksum's four bytes are the writer's to fill in.
    ring_->EndPush();
}

void TraceRecorder::Note(const std::string& text) {
    if (!ring_) return;
    const size_t length = text.size() < kMostDataBytes ? text.size() : kMostDataBytes;
    const size_t size = kRecordHeaderBytes + length + kChecksumBytes;
    const uint64_t ticks = settings_.ticks() - startTicks_;
    Loss loss;
    uint8_t* lossRecord = nullptr;
    uint8_t* at = ring_->BeginPush(size, ticks, &loss, &lossRecord);
    if (at == nullptr) return;
    if (loss.records != 0) FillLossRecord(lossRecord, loss, kRingFull);
    RecordHeader header{};
    header.bytes = static_cast<uint16_t>(size);
    header.kind = kNoteRecord;
    header.ticks = ticks;
    header.inBytes = static_cast<uint16_t>(length);
    std::memcpy(at, &header, sizeof header);
    std::memcpy(at + sizeof header, text.data(), length);
    ring_->EndPush();
}

void TraceRecorder::WriteRecord(uint8_t* record, size_t size) {
    FinishRecord(record, size);
    if (fileBytes_ + size > settings_.fileLimitBytes) {
        std::fclose(file_);
        file_ = nullptr;
        if (!OpenFile(nullptr)) return;
    }
    if (file_ == nullptr) return;
    std::fwrite(record, 1, size, file_);
    fileBytes_ += size;
}

bool TraceRecorder::WriteTaken() {
    bool wrote = false;
    for (;;) {
        const size_t taken = ring_->Take(batch_.data(), batch_.size());
        if (taken == 0) {
            // Calls dropped after the last record taken, and none since.
            Loss loss;
            if (!ring_->TakeLoss(&loss)) break;
            uint8_t record[kDroppedRecordBytes];
            FillLossRecord(record, loss, kRingFull);
            WriteRecord(record, sizeof record);
            wrote = true;
            continue;
        }
        wrote = true;
        for (size_t at = 0; at < taken;) {
            const size_t size = batch_[at] | (static_cast<size_t>(batch_[at + 1]) << 8);
            WriteRecord(&batch_[at], size);
            at += size;
        }
    }
    if (wrote && file_ != nullptr) std::fflush(file_);
    return wrote;
}

void TraceRecorder::WriterLoop() {
    int pauseMs = kShortestPauseMs;
    while (!stopping_.load()) {
        bool wrote = false;
        if (!paused_.load()) {
            std::lock_guard<std::mutex> hold(fileLock_);
            wrote = WriteTaken();
        }
        pauseMs = wrote ? kShortestPauseMs : std::min(2 * pauseMs, kLongestPauseMs);
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
}

void TraceRecorder::Drain() {
    if (!ring_) return;
    std::lock_guard<std::mutex> hold(fileLock_);
    WriteTaken();
}

void TraceRecorder::TryDrain() {
    if (!ring_ || !fileLock_.try_lock()) return;
    WriteTaken();
    fileLock_.unlock();
}

void TraceRecorder::Stop() {
    if (!ring_) return;
    stopping_.store(true);
    if (writer_.joinable()) writer_.join();
    Drain();
    std::lock_guard<std::mutex> hold(fileLock_);
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

}  // namespace qtrace
