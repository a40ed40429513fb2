#include "recorder/trace/trace_recorder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
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
// A file that could not be written is tried again this often.
constexpr auto kRetryPause = std::chrono::seconds(1);
// A file begins with its header and up to two notes of the recorder; it must
// have room for the largest record after them.
constexpr uint64_t kLeastFileBytes = kFileHeaderBytes + 3 * kMostRecordBytes;

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

size_t SizeAt(const uint8_t* record) { return record[0] | (static_cast<size_t>(record[1]) << 8); }

// The record of lost calls, without its checksum.
void FillLossRecord(uint8_t* record, uint64_t calls, uint64_t firstTicks, LossCause cause) {
    RecordHeader header{};
    header.bytes = kDroppedRecordBytes;
    header.kind = kDroppedRecord;
    header.ticks = firstTicks;
    header.argumentCount = 2;
    const int32_t arguments[2] = {calls > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(calls),
                                  cause};
    std::memcpy(record, &header, sizeof header);
    std::memcpy(record + sizeof header, arguments, sizeof arguments);
}

void FinishRecord(uint8_t* record, size_t size) {
    const uint32_t sum = Checksum(record, size - kChecksumBytes);
    std::memcpy(record + size - kChecksumBytes, &sum, kChecksumBytes);
}

// "20261208-084024" for a time in microseconds since 1970 (UTC), without the
// C library's shared calendar buffers.
std::string Stamp(uint64_t microseconds) {
    const int64_t seconds = static_cast<int64_t>(microseconds / 1000000);
    const int64_t days = seconds / 86400, inDay = seconds % 86400;
    // Days since 1970 to a civil date (proleptic Gregorian calendar).
    const int64_t z = days + 719468, era = z / 146097, doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d-%02d%02d%02d", static_cast<int>(year % 10000),
                  static_cast<int>(month), static_cast<int>(day), static_cast<int>(inDay / 3600),
                  static_cast<int>(inDay / 60 % 60), static_cast<int>(inDay % 60));
    return text;
}

}  // namespace

TraceRecorder::~TraceRecorder() { Stop(); }

bool TraceRecorder::Start(const RecorderSettings& settings, std::string* error) {
    try {
        settings_ = settings;
        fs_ = settings_.fileSystem != nullptr ? settings_.fileSystem : &SystemFiles();
        settings_.files = std::max(1, std::min(settings_.files, 99));
        settings_.fileLimitBytes =
            std::max(kLeastFileBytes, std::min<uint64_t>(settings_.fileLimitBytes, kMostFileBytes));
        startTicks_ = settings_.ticks();
        batch_.resize(kBatchBytes);
        ring_.reset(new TraceRing(settings_.ringBytes, kDroppedRecordBytes));
        writer_ = std::thread([this] { WriterLoop(); });
        return true;
    } catch (const std::exception& exception) {
        *error = std::string("the recorder cannot start: ") + exception.what();
    } catch (...) {
        *error = "the recorder cannot start";
    }
    ring_.reset();
    return false;
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
    if (loss.records != 0) FillLossRecord(lossRecord, loss.records, loss.firstTicks, kRingFull);
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
    const uint64_t ticks = Now();
    Loss loss;
    uint8_t* lossRecord = nullptr;
    uint8_t* at = ring_->BeginPush(size, ticks, &loss, &lossRecord);
    if (at == nullptr) return;
    if (loss.records != 0) FillLossRecord(lossRecord, loss.records, loss.firstTicks, kRingFull);
    RecordHeader header{};
    header.bytes = static_cast<uint16_t>(size);
    header.kind = kNoteRecord;
    header.ticks = ticks;
    header.inBytes = static_cast<uint16_t>(length);
    std::memcpy(at, &header, sizeof header);
    std::memcpy(at + sizeof header, text.data(), length);
    ring_->EndPush();
}

std::string TraceRecorder::At(uint64_t ticks) const {
    char text[40];
    std::snprintf(text, sizeof text, "%.3f s",
                  ticksPerSecond_ != 0 ? static_cast<double>(ticks) / ticksPerSecond_ : 0.0);
    return text;
}

// ---- Files ------------------------------------------------------------------------

template <typename Step>
void TraceRecorder::Guarded(Step step) noexcept {
    try {
        try {
            step();
        } catch (const std::exception& exception) {
            Fail(std::string("the recorder failed: ") + exception.what());
        } catch (...) {
            Fail("the recorder failed");
        }
    } catch (...) {
        failing_ = true;  // not even the message could be made
    }
}

void TraceRecorder::Begin() {
    if (begun_) return;
    begun_ = true;
    ticksPerSecond_ = 1;
    if (settings_.ticksPerSecond != nullptr) ticksPerSecond_ = settings_.ticksPerSecond();
    if (ticksPerSecond_ == 0) ticksPerSecond_ = 1;
    NextFile();
}

// Pushes the older files one place down: path.(n-2) -> path.(n-1), ...,
// path -> path.1, the oldest removed. "" when done, else what stood in the way.
std::string TraceRecorder::ShiftOlder() {
    const std::string& path = settings_.path;
    if (fs_->inUse(path.c_str())) return path + " is being written by another recorder";
    const auto name = [&path](int i) { return i == 0 ? path : path + "." + std::to_string(i); };
    std::string error;
    const std::string oldest = name(settings_.files - 1);
    if (fs_->exists(oldest.c_str()) && !fs_->remove(oldest.c_str(), &error))
        return "cannot remove " + oldest + ": " + error;
    for (int i = settings_.files - 2; i >= 0; --i) {
        if (fs_->exists(name(i).c_str()) &&
            !fs_->rename(name(i).c_str(), name(i + 1).c_str(), &error))
            return "cannot rename " + name(i) + " to " + name(i + 1) + ": " + error;
    }
    return "";
}

// A file of a name of its own beside path: cardtrace-20261208-084024-1.qtr
// for cardtrace.qtr. Of these the recorder keeps as many as files.
void* TraceRecorder::CreateUnique(std::string* name, std::string* error) {
    const std::string& path = settings_.path;
    const size_t slash = path.find_last_of("/\\");
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path.size();
    const std::string stem = path.substr(0, dot) + "-" + Stamp(settings_.wallStartMicroseconds);
    for (int k = 1; k <= 999; ++k) {
        const std::string candidate = stem + "-" + std::to_string(k) + path.substr(dot);
        if (void* file = fs_->create(candidate.c_str(), error)) {
            *name = candidate;
            ownNames_.push_back(candidate);
            std::string ignored;
            while (ownNames_.size() > static_cast<size_t>(settings_.files)) {
                fs_->remove(ownNames_.front().c_str(), &ignored);
                ownNames_.pop_front();
            }
            return file;
        }
        if (!fs_->exists(candidate.c_str())) break;  // not a name in use: no name will do
    }
    return nullptr;
}

// Closes the current file, pushes the older ones down and begins the next.
bool TraceRecorder::NextFile() {
    if (file_ != nullptr) fs_->close(file_);
    file_ = nullptr;
    shiftConflict_ = ShiftOlder();
    shifted_ = true;
    return OpenFile();
}

// Begins a file under path, or where path cannot be had, under a name of its
// own; after a failure it is tried again without pushing the files down once
// more. False when no file can be created or written.
bool TraceRecorder::OpenFile() {
    std::string error, name = settings_.path, conflict = shiftConflict_;
    void* file = conflict.empty() ? fs_->create(name.c_str(), &error) : nullptr;
    if (file == nullptr && conflict.empty()) conflict = "cannot create " + name + ": " + error;
    if (file == nullptr) file = CreateUnique(&name, &error);
    if (file == nullptr) {
        Fail(conflict + "; no other file can be created either: " + error);
        return false;
    }
    shiftConflict_.clear();
    const std::string previous = fileName_;
    file_ = file;
    fileName_ = name;
    fileBytes_ = 0;
    headerWritten_ = false;
    if (!WriteHeader()) return false;
    if (++fileNumber_ > 1)
        WriteOwnNote("recorder: file " + std::to_string(fileNumber_) +
                     " of a recording; its times count from the recording's start, which the "
                     "header gives");
    if (!conflict.empty())
        WriteOwnNote("recorder: " + conflict + ": the recording goes on in " + name +
                     (previous.empty() || previous == settings_.path ? "" : " after " + previous));
    return true;
}

bool TraceRecorder::WriteHeader() {
    FileHeader header{};
    std::memcpy(header.magic, kMagic, sizeof header.magic);
    header.version = kVersion;
    header.headerBytes = kFileHeaderBytes;
    header.ticksPerSecond = ticksPerSecond_;
    header.wallStartMicroseconds = settings_.wallStartMicroseconds;
    std::string error;
    headerWritten_ = WriteRaw(&header, sizeof header, &error);
    if (!headerWritten_) Fail("cannot write " + fileName_ + ": " + error);
    return headerWritten_;
}

// ---- Writing ----------------------------------------------------------------------

bool TraceRecorder::WriteRaw(const void* bytes, size_t size, std::string* error) {
    const size_t written = fs_->write(file_, bytes, size, error);
    if (written == size) {
        fileBytes_ += size;
        return true;
    }
    // Whatever of it reached the file is taken back where that is possible.
    if (!fs_->truncate(file_, fileBytes_)) fileBytes_ += written;
    return false;
}

// A record of the recorder's own (a note, a loss), in the current file or,
// where it is full, the next.
void TraceRecorder::WriteOwn(uint8_t* record, size_t size) {
    FinishRecord(record, size);
    if (file_ != nullptr && fileBytes_ + size > settings_.fileLimitBytes) NextFile();
    if (file_ == nullptr || !headerWritten_) return;
    std::string error;
    if (WriteRaw(record, size, &error)) return;
    Fail("cannot write " + fileName_ + ": " + error);
    Lose(record, size);
}

void TraceRecorder::WriteOwnNote(const std::string& text) {
    uint8_t record[kRecordHeaderBytes + kMostDataBytes + kChecksumBytes];
    const size_t length = std::min(text.size(), kMostDataBytes);
    RecordHeader header{};
    header.bytes = static_cast<uint16_t>(kRecordHeaderBytes + length + kChecksumBytes);
    header.kind = kNoteRecord;
    header.ticks = Now();
    header.inBytes = static_cast<uint16_t>(length);
    std::memcpy(record, &header, sizeof header);
    std::memcpy(record + sizeof header, text.data(), length);
    WriteOwn(record, header.bytes);
}

// Counts records the file did not take.
void TraceRecorder::Lose(const uint8_t* records, size_t size) {
    for (size_t at = 0; at < size; at += SizeAt(records + at)) {
        RecordHeader header;
        std::memcpy(&header, records + at, sizeof header);
        uint64_t calls = 0;
        if (header.kind == kCallRecord) {
            calls = 1;
        } else if (header.kind == kDroppedRecord) {
            int32_t count;
            std::memcpy(&count, records + at + sizeof header, 4);
            calls = static_cast<uint32_t>(count);
        } else {
            ++lost_.notes;
        }
        if (calls == 0) continue;
        if (lost_.calls == 0) lost_.firstTicks = header.ticks;
        lost_.lastTicks = header.ticks;
        lost_.calls += calls;
    }
}

void TraceRecorder::Fail(const std::string& why) {
    if (!failing_ && settings_.say != nullptr)
        settings_.say(why + ": calls are counted as lost until the trace can be written again");
    failing_ = true;
    if (lost_.why.empty()) lost_.why = why;
    retryAt_ = std::chrono::steady_clock::now() + kRetryPause;
}

// Whether the file takes records (again): after a failure, once a pause has
// passed, the loss is recorded first, where it happened.
bool TraceRecorder::Recovered() {
    if (!failing_) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now < retryAt_) return false;
    retryAt_ = now + kRetryPause;
    if (file_ == nullptr && !(shifted_ ? OpenFile() : NextFile())) return false;
    if (!headerWritten_ && !WriteHeader()) return false;
    if (fileBytes_ + kDroppedRecordBytes + kMostRecordBytes > settings_.fileLimitBytes &&
        !NextFile())
        return false;
    uint8_t loss[kDroppedRecordBytes];
    FillLossRecord(loss, lost_.calls, lost_.firstTicks, kWriteFailed);
    FinishRecord(loss, sizeof loss);
    std::string error;
    if (lost_.calls != 0 && !WriteRaw(loss, sizeof loss, &error)) return false;
    failing_ = false;
    std::string what = std::to_string(lost_.calls) + " calls";
    if (lost_.calls != 0) what += " from " + At(lost_.firstTicks) + " to " + At(lost_.lastTicks);
    if (lost_.notes != 0) what += " and " + std::to_string(lost_.notes) + " notes";
    WriteOwnNote("recorder: " + what + " could not be written (" + lost_.why + ")");
    lost_ = Lost();
    return !failing_;
}

// Writes records of the ring into the current file; on a failure counts what
// the file did not take.
void TraceRecorder::WriteRun(const uint8_t* run, size_t size) {
    std::string error;
    const size_t written = fs_->write(file_, run, size, &error);
    if (written == size) {
        fileBytes_ += size;
        return;
    }
    // The records that reached the file whole stay; a torn one is taken back.
    size_t whole = 0;
    while (whole < size && whole + SizeAt(run + whole) <= written) whole += SizeAt(run + whole);
    fileBytes_ += fs_->truncate(file_, fileBytes_ + whole) ? whole : written;
    Fail("cannot write " + fileName_ + ": " + error);
    Lose(run + whole, size - whole);
}

void TraceRecorder::WriteBatch(uint8_t* batch, size_t size) {
    size_t at = 0;
    bool fresh = false;  // a file just begun takes at least one record
    while (at < size) {
        if (!Recovered()) {
            Lose(batch + at, size - at);
            return;
        }
        size_t end = at;
        while (end < size &&
               (fileBytes_ + (end - at) + SizeAt(batch + end) <= settings_.fileLimitBytes ||
                (fresh && end == at))) {
            FinishRecord(batch + end, SizeAt(batch + end));
            end += SizeAt(batch + end);
        }
        if (end == at) {
            fresh = NextFile();
            continue;
        }
        fresh = false;
        WriteRun(batch + at, end - at);
        at = end;
    }
}

bool TraceRecorder::WriteTaken() {
    bool wrote = false;
    for (;;) {
        const size_t taken = ring_->Take(batch_.data(), batch_.size());
        if (taken == 0) {
            // Calls dropped after the last record taken, and none since.
            Loss loss;
            if (!ring_->TakeLoss(&loss)) break;
            FillLossRecord(batch_.data(), loss.records, loss.firstTicks, kRingFull);
            WriteBatch(batch_.data(), kDroppedRecordBytes);
            wrote = true;
            continue;
        }
        wrote = true;
        WriteBatch(batch_.data(), taken);
    }
    if (failing_) Recovered();  // a loss with nothing after it is recorded all the same
    return wrote;
}

// ---- The writer thread ------------------------------------------------------------

void TraceRecorder::WriterLoop() {
    {
        std::lock_guard<std::mutex> hold(fileLock_);
        Guarded([this] { Begin(); });
    }
    int pauseMs = kShortestPauseMs;
    std::unique_lock<std::mutex> wake(wakeLock_);
    while (!stopping_.load()) {
        wakeUp_.wait_for(wake, std::chrono::milliseconds(pauseMs),
                         [this] { return stopping_.load() || flushWanted_ != flushDone_; });
        const uint64_t wanted = flushWanted_;
        wake.unlock();
        bool wrote = false;
        const bool paused = paused_.load();
        if (!paused) {
            std::lock_guard<std::mutex> hold(fileLock_);
            Guarded([&] { wrote = WriteTaken(); });
        }
        wake.lock();
        if (!paused) {
            flushDone_ = wanted;
            flushed_.notify_all();
        }
        pauseMs = wrote ? kShortestPauseMs : std::min(2 * pauseMs, kLongestPauseMs);
    }
}

bool TraceRecorder::Flush(std::chrono::milliseconds wait) {
    if (!ring_) return true;
    std::unique_lock<std::mutex> wake(wakeLock_);
    const uint64_t mine = ++flushWanted_;
    wakeUp_.notify_one();
    return flushed_.wait_for(wake, wait, [&] { return flushDone_ >= mine; });
}

void TraceRecorder::Drain() {
    if (!ring_) return;
    std::lock_guard<std::mutex> hold(fileLock_);
    if (stopped_) return;
    Guarded([this] {
        Begin();
        WriteTaken();
    });
}

void TraceRecorder::TryDrain() {
    if (!ring_ || !fileLock_.try_lock()) return;
    if (!stopped_) {
        Guarded([this] {
            Begin();
            WriteTaken();
        });
    }
    fileLock_.unlock();
}

std::string TraceRecorder::FileName() {
    std::lock_guard<std::mutex> hold(fileLock_);
    return fileName_;
}

// The ring stays: callers may still come (at the process's end), and their
// records are no longer written.
void TraceRecorder::Stop() {
    if (!ring_) return;
    {
        std::lock_guard<std::mutex> wake(wakeLock_);
        stopping_.store(true);
    }
    wakeUp_.notify_all();
    if (writer_.joinable()) writer_.join();
    std::lock_guard<std::mutex> hold(fileLock_);
    if (stopped_) return;
    retryAt_ = std::chrono::steady_clock::time_point();  // one last try after a failure
    Guarded([this] {
        Begin();
        WriteTaken();
    });
    if (file_ != nullptr) fs_->close(file_);
    file_ = nullptr;
    stopped_ = true;
}

}  // namespace qtrace
