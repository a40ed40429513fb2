#include "driver/address/memory_types.h"

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
//   mnemonic display name                bits float  bit#   kind   B/el code   limit form    net read       quick read    db read      net write       db write     mirror
    {"PB",   "Packed Bit",                1,  false, false, kBit,   0, 0x1003, 0,   kNet,   readpackbit,   nullptr,      nullptr,     writepackbit,   nullptr,     setpackbit},
    {"PIB",  "Packed input Bit",          1,  false, false, kBit,   0, 0x1004, 0,   kNet,   readpackibit,  nullptr,      nullptr,     nullptr,        nullptr,     nullptr},
    {"PQB",  "Packed output Bit",         1,  false, false, kBit,   0, 0x105A, 0,   kNet,   readpackqbit,  nullptr,      nullptr,     writepackqbit,  nullptr,     setpackbit},
    {"QCKB", "Quick Bit",                 1,  false, false, kBit,   0, 0x100D, 0,   kQuick, nullptr,       readquickbit, nullptr,     nullptr,        nullptr,     nullptr},
    {"BY",   "Byte",                      16, false, true,  kByte,  2, 0x105F, 0,   kNet,   readbyte,      nullptr,      nullptr,     writebyte,      nullptr,     nullptr},
    {"IBY",  "Input Byte",                16, false, true,  kByte,  2, 0x1069, 0,   kNet,   readibyte,     nullptr,      nullptr,     nullptr,        nullptr,     nullptr},
    {"QBY",  "Output Byte",               16, false, true,  kByte,  2, 0x106B, 0,   kNet,   readqbyte,     nullptr,      nullptr,     writeqbyte,     nullptr,     nullptr},
    {"PBY",  "Packed Byte",               8,  false, true,  kByte,  1, 0x105E, 0,   kNet,   readpackbyte,  nullptr,      nullptr,     writepackbyte,  nullptr,     setpackbyte},
    {"PIBY", "Packed input Byte",         8,  false, true,  kByte,  1, 0x1068, 0,   kNet,   readpackibyte, nullptr,      nullptr,     nullptr,        nullptr,     nullptr},
    {"PQBY", "Packed output Byte",        8,  false, true,  kByte,  1, 0x106A, 0,   kNet,   readpackqbyte, nullptr,      nullptr,     writepackqbyte, nullptr,     setpackbyte},
    {"W",    "Word",                      16, false, true,  k16,    0, 0x1005, 0,   kNet,   readword,      nullptr,      nullptr,     writeword,      nullptr,     setword},
    {"IW",   "Input Word",                16, false, true,  k16,    0, 0x1006, 0,   kNet,   readiword,     nullptr,      nullptr,     nullptr,        nullptr,     nullptr},
    {"QW",   "Output Word",               16, false, true,  k16,    0, 0x1065, 0,   kNet,   readqword,     nullptr,      nullptr,     writeqword,     nullptr,     setword},
    {"BCDW", "Binary code decimal Word",  16, false, true,  k16,    0, 0x1062, 0,   kNet,   readwordbcd,   nullptr,      nullptr,     writewordbcd,   nullptr,     nullptr},
    {"DW",   "Double Word",               32, false, true,  k32,    0, 0x1007, 0,   kNet,   readdword,     nullptr,      nullptr,     writedword,     nullptr,     setdword},
    {"FW",   "Float Word",                32, true,  false, kFloat, 0, 0x1008, 0,   kNet,   readfword,     nullptr,      nullptr,     writefword,     nullptr,     setfword},
    {"TI",   "Timer",                     16, false, true,  kNone,  0, 0,      0,   kNet,   readtimer,     nullptr,      nullptr,     writetimer,     nullptr,     nullptr},
    {"CO",   "Counter",                   16, false, true,  kNone,  0, 0,      0,   kNet,   readcounter,   nullptr,      nullptr,     writecounter,   nullptr,     nullptr},
    {"MPB",  "Packed Bit",                1,  false, false, kNone,  0, 0,      256, kDb,    nullptr,       nullptr,      getpackbit,  nullptr,        setpackbit,  nullptr},
    {"MB",   "Bit",                       1,  false, false, kNone,  0, 0,      256, kDb,    nullptr,       nullptr,      getpackbit,  nullptr,        setbit,      nullptr},
    {"MY",   "Packed Byte",               8,  false, true,  kNone,  1, 0,      256, kDb,    nullptr,       nullptr,      getpackbyte, nullptr,        setpackbyte, nullptr},
    {"MW",   "Word",                      16, false, true,  kNone,  0, 0,      128, kDb,    nullptr,       nullptr,      getword,     nullptr,        setword,     nullptr},
    {"MD",   "Double Word",               32, false, true,  kNone,  0, 0,      64,  kDb,    nullptr,       nullptr,      getdword,    nullptr,        setdword,    nullptr},
    {"MF",   "Float Word",                32, true,  false, kNone,  0, 0,      64,  kDb,    nullptr,       nullptr,      getfword,    nullptr,        setfword,    nullptr},
};
// clang-format on

int32_t FindMemoryType(const char* word, uint32_t length) {
    for (int32_t i = 0; i < kMemoryTypeCount; ++i) {
        const char* mnemonic = kMemoryTypes[i].mnemonic;
        if (std::strlen(mnemonic) == length && std::memcmp(mnemonic, word, length) == 0) return i;
    }
    return -1;
}
