// The driver module as the host sees it: MORDALIX.DLL (natively
// libMORDALIX.so) loaded by path, its one export QunMain, and the state block
// that the host allocates for it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/entry/driver_state.h"
#include "driver/entry/qun_info.h"
#include "driver/entry/request.h"
#include "driver/platform/abi.h"

namespace qunhost {

// The driver module's file beside the host program.
std::string DefaultDriverPath();

class Driver {
public:
    // Loads the module; its libraries are looked for in its own folder first.
    // False with a message naming the file.
    bool Load(const std::string& path, std::string* error);
    const std::string& path() const { return path_; }

    // GetQunInfo (function 14).
    int32_t GetInfo(QunInfo* info);

    // Allocates the state block with the size GetQunInfo reported. False
    // with a message for a size no host could allocate.
    bool AllocateState(uint32_t size, std::string* error);

    // QunMain with the state block, the instance and a parameter block.
    int32_t Call(uint32_t functionCode, void* parameters);

    void set_instance(uint32_t instance) { instance_ = instance; }

    // The state block as the driver's own record, when the driver reported
    // the size of the record this program knows; null otherwise (the layout
    // is then unknown and only the driver reads the block).
    const DriverState* state() const;

    // Whether the driver has written beyond the end of its state block.
    bool StateOverrun() const;

    using Entry = int32_t(QUN_CDECL*)(QunRequest*);
    // QunMain itself, for commands that build their own requests.
    Entry entry() const { return entry_; }

private:
    std::string path_;
    Entry entry_ = nullptr;
    uint32_t instance_ = 1;
    uint32_t stateSize_ = 0;
    std::vector<uint64_t> stateStorage_;  // 8-byte aligned, guard bytes after the block
};

// Guard bytes after each buffer handed to the driver: a driver writing
// beyond a buffer is caught at the next check.
constexpr size_t kGuardBytes = 16;
constexpr uint8_t kGuardByte = 0xA7;
void FillGuard(uint8_t* guard);
bool GuardIntact(const uint8_t* guard);

}  // namespace qunhost
