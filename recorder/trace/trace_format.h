// The card-traffic trace: a compact binary file of every call a program made
// into the card library, written by the tap (recorder/tap/) and read by the host
// program's trace reader and the simulated card's replay.
//
// A file is a 32-byte header followed by records, all little-endian:
//
//   header   magic "QUNTRACE", u16 version (1), u16 header bytes (32),
//            u32 flags (0), u64 ticks per second of the time stamps,
//            u64 wall clock at the start (microseconds since 1970)
//   record   u16 bytes of the whole record, checksum included
//            u8 kind (1 call, 2 records dropped, 3 note)
//            u8 routine (its identifier, 0 to 48: card_routines.h)
//            u32 calling thread
//            u64 time stamp at the call's start (ticks since the file's start)
//            u32 duration (ticks)
//            i16 status the routine answered
//            u8 count of scalar arguments, u8 0
//            u16 bytes of data in, u16 bytes of data out
//            i32 scalar arguments, in the routine's order
//            the data in (what a write handed over), then the data out
//            (what a read delivered)
//            u32 checksum: FNV-1a over the record's bytes before it, taken
//            as 32-bit little-endian words (the last one filled with zeros)
//
// A "dropped" record stands where calls were lost: its time stamp is the
// first lost call's, its first argument how many were lost, its second why
// (1 the recorder's memory was full, 2 the file could not be written; files
// of older recorders have the first argument only). A "note" record carries
// a text as its data in. Where a file is damaged (cut off, torn by a failed
// write), a reader skips to the next whole record with a good checksum.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qtrace {

constexpr char kMagic[8] = {'Q', 'U', 'N', 'T', 'R', 'A', 'C', 'E'};
constexpr uint16_t kVersion = 1;
constexpr size_t kFileHeaderBytes = 32;
constexpr size_t kRecordHeaderBytes = 28;
constexpr size_t kChecksumBytes = 4;
constexpr int kMostArguments = 11;
constexpr size_t kMostDataBytes = 1024;  // the card's data area
constexpr size_t kMostRecordBytes =
    kRecordHeaderBytes + 4 * kMostArguments + 2 * kMostDataBytes + kChecksumBytes;
// A file is never written past this; readers read no further.
constexpr size_t kMostFileBytes = size_t{128} << 20;

enum RecordKind : uint8_t { kCallRecord = 1, kDroppedRecord = 2, kNoteRecord = 3 };
// Why calls were lost: the second argument of a dropped record.
enum LossCause : int32_t { kRingFull = 1, kWriteFailed = 2 };
constexpr size_t kDroppedRecordBytes = kRecordHeaderBytes + 2 * 4 + kChecksumBytes;

// The file header, as it is laid out on disk.
struct FileHeader {
    char magic[8];
    uint16_t version;
    uint16_t headerBytes;
    uint32_t flags;
    uint64_t ticksPerSecond;
    uint64_t wallStartMicroseconds;
};
static_assert(sizeof(FileHeader) == kFileHeaderBytes, "the file header is 32 bytes");

// The fixed part of a record, as it is laid out on disk.
#pragma pack(push, 1)
struct RecordHeader {
    uint16_t bytes;
    uint8_t kind;
    uint8_t routine;
    uint32_t thread;
    uint64_t ticks;
    uint32_t durationTicks;
    int16_t status;
    uint8_t argumentCount;
    uint8_t reserved;
    uint16_t inBytes;
    uint16_t outBytes;
};
#pragma pack(pop)
static_assert(sizeof(RecordHeader) == kRecordHeaderBytes, "a record header is 28 bytes");

// FNV-1a over 32-bit little-endian words (the last one filled with zeros):
// cheap, and enough to tell a torn record from a whole one.
inline uint32_t Checksum(const uint8_t* bytes, size_t size) {
    uint32_t hash = 2166136261u;
    size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        const uint32_t word = bytes[i] | (static_cast<uint32_t>(bytes[i + 1]) << 8) |
                              (static_cast<uint32_t>(bytes[i + 2]) << 16) |
                              (static_cast<uint32_t>(bytes[i + 3]) << 24);
        hash = (hash ^ word) * 16777619u;
    }
    if (i < size) {
        uint32_t word = 0;
        for (size_t b = 0; i + b < size; ++b)
            word |= static_cast<uint32_t>(bytes[i + b]) << (8 * b);
        hash = (hash ^ word) * 16777619u;
    }
    return hash;
}

}  // namespace qtrace
