#include "address/memory_types.h"

#include <cstring>

namespace {

constexpr auto kNone = DatabaseKind::None;
constexpr auto kBit = DatabaseKind::Bit;
constexpr auto kByte = DatabaseKind::Byte;
constexpr auto k16 = DatabaseKind::Word16;
constexpr auto k32 = DatabaseKind::Word32;
constexpr auto kFloat = DatabaseKind::Float;
constexpr auto kNet = RoutineForm::Network;
constexpr auto kQuick = RoutineForm::QuickBit;
constexpr auto kDb = RoutineForm::Database;

}  // namespace

// clang-format off
const MemoryType kMemoryTypes[kMemoryTypeCount] = {
//   mnemonic display name                 bits  bit#   kind   B/el code    form    net read        quick read    db read      net write        db write     mirror
    {"PB",   "Packed Bit",                 1,  false, kBit,   0, 0x1003, kNet,   readpackbit,   nullptr,      nullptr,     writepackbit,   nullptr,     setpackbit},
    {"PIB",  "Packed input Bit",           1,  false, kBit,   0, 0x1004, kNet,   readpackibit,  nullptr,      nullptr,     nullptr,        nullptr,     nullptr},
    {"PQB",  "Packed output Bit",          1,  false, kBit,   0, 0x105A, kNet,   readpackqbit,  nullptr,      nullptr,     writepackqbit,  nullptr,     setpackbit},
    {"QCKB", "Quick Bit",                  1,  false, kBit,   0, 0x100D, kQuick, nullptr,       readquickbit, nullptr,     nullptr,        nullptr,     nullptr},
    {"BY",   "Byte",                       16, true,  kByte,  2, 0x105F, kNet,   readbyte,      nullptr,      nullptr,     writebyte,      nullptr,     nullptr},
    {"IBY",  "Input Byte",                 16, true,  kByte,  2, 0x1069, kNet,   readibyte,     nullptr,      nullptr,     nullptr,        nullptr,     nullptr},
    {"QBY",  "Output Byte",                16, true,  kByte,  2, 0x106B, kNet,   readqbyte,     nullptr,      nullptr,     writeqbyte,     nullptr,     nullptr},
    {"PBY",  "Packed Byte",                8,  true,  kByte,  1, 0x105E, kNet,   readpackbyte,  nullptr,      nullptr,     writepackbyte,  nullptr,     setpackbyte},
    {"PIBY", "Packed input Byte",          8,  true,  kByte,  1, 0x1068, kNet,   readpackibyte, nullptr,      nullptr,     nullptr,        nullptr,     nullptr},
    {"PQBY", "Packed output Byte",         8,  true,  kByte,  1, 0x106A, kNet,   readpackqbyte, nullptr,      nullptr,     writepackqbyte, nullptr,     setpackbyte},
    {"W",    "Word",                       16, true,  k16,    0, 0x1005, kNet,   readword,      nullptr,      nullptr,     writeword,      nullptr,     setword},
    {"IW",   "Input Word",                 16, true,  k16,    0, 0x1006, kNet,   readiword,     nullptr,      nullptr,     nullptr,        nullptr,     nullptr},
    {"QW",   "Output Word",                16, true,  k16,    0, 0x1065, kNet,   readqword,     nullptr,      nullptr,     writeqword,     nullptr,     setword},
    {"BCDW", "Binary code decimal Word",   16, true,  k16,    0, 0x1062, kNet,   readwordbcd,   nullptr,      nullptr,     writewordbcd,   nullptr,     nullptr},
    {"DW",   "Double Word",                32, true,  k32,    0, 0x1007, kNet,   readdword,     nullptr,      nullptr,     writedword,     nullptr,     setdword},
    {"FW",   "Float Word",                 32, false, kFloat, 0, 0x1008, kNet,   readfword,     nullptr,      nullptr,     writefword,     nullptr,     setfword},
    {"TI",   "Timer",                      16, true,  kNone,  0, 0,      kNet,   readtimer,     nullptr,      nullptr,     writetimer,     nullptr,     nullptr},
    {"CO",   "Counter",                    16, true,  kNone,  0, 0,      kNet,   readcounter,   nullptr,      nullptr,     writecounter,   nullptr,     nullptr},
    {"MPB",  "Packed Bit",                 1,  false, kNone,  0, 0,      kDb,    nullptr,       nullptr,      getpackbit,  nullptr,        setpackbit,  nullptr},
    {"MB",   "Bit",                        1,  false, kNone,  0, 0,      kDb,    nullptr,       nullptr,      getpackbit,  nullptr,        setbit,      nullptr},
    {"MY",   "Packed Byte",                8,  true,  kNone,  0, 0,      kDb,    nullptr,       nullptr,      getpackbyte, nullptr,        setpackbyte, nullptr},
    {"MW",   "Word",                       16, true,  kNone,  0, 0,      kDb,    nullptr,       nullptr,      getword,     nullptr,        setword,     nullptr},
    {"MD",   "Double Word",                32, true,  kNone,  0, 0,      kDb,    nullptr,       nullptr,      getdword,    nullptr,        setdword,    nullptr},
    {"MF",   "Float Word",                 32, false, kNone,  0, 0,      kDb,    nullptr,       nullptr,      getfword,    nullptr,        setfword,    nullptr},
};
// clang-format on

int32_t FindMemoryType(const char* word, uint32_t length) {
    for (int32_t i = 0; i < kMemoryTypeCount; ++i) {
        const char* mnemonic = kMemoryTypes[i].mnemonic;
        if (std::strlen(mnemonic) == length && std::memcmp(mnemonic, word, length) == 0) return i;
    }
    return -1;
}

uint32_t InternalBlockLimit(uint16_t index) {
    switch (index) {
        case kMPB:
        case kMB:
        case kMY:
            return 256;
        case kMW:
            return 128;
        case kMD:
        case kMF:
            return 64;
        default:
            return 0;
    }
}
