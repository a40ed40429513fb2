#include "driver/browse/browse_types.h"

#include <cstring>

namespace {

// Every type whose bit number may be given also takes a byte/wordness, and the
// two lists together hold the 24 memory types in the table's order.
constexpr bool RowsAreSound(const BrowseMemoryType* rows, int32_t count, uint16_t first) {
    for (int32_t i = 0; i < count; ++i) {
        const BrowseMemoryType& row = rows[i];
        if (row.memoryType != first + i) return false;
        if (row.highestBit != 0 && row.highestBit != 7 && row.highestBit != 15) return false;
        if (row.highestBit != 0 && row.byteWordnessAllowed != 1) return false;
        if (row.byteWordnessAllowed != 0 && row.byteWordnessAllowed != 1) return false;
    }
    return true;
}
static_assert(RowsAreSound(ExternalBrowseTypes, kExternalBrowseTypeCount, kPB), "");
static_assert(RowsAreSound(InternalBrowseTypes, kInternalBrowseTypeCount, kMPB), "");
static_assert(kExternalBrowseTypeCount + kInternalBrowseTypeCount == kMemoryTypeCount, "");

}  // namespace

BrowseTypeList BrowseTypesOf(int32_t mode) {
    if (mode == kInternalMemory) return {InternalBrowseTypes, kInternalBrowseTypeCount};
    return {ExternalBrowseTypes, kExternalBrowseTypeCount};
}

int32_t FindBrowseType(int32_t mode, const char* name) {
    const BrowseTypeList list = BrowseTypesOf(mode);
    for (int32_t i = 0; i < list.count; ++i)
        if (std::strcmp(DisplayNameOf(list.rows[i]), name) == 0) return i;
    return -1;
}

const BrowseMemoryType* FindBrowseRow(int32_t mode, const char* name) {
    const int32_t position = FindBrowseType(mode, name);
    return position < 0 ? nullptr : &BrowseTypesOf(mode).rows[position];
}
