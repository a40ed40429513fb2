#include "lab/qunhost/driver.h"

#include <cstring>

#include "driver/entry/function_codes.h"
#include "lab/qunhost/platform/system.h"

namespace qunhost {

std::string DefaultDriverPath() { return sys::ProgramFolder() + sys::kDriverFileName; }

bool Driver::Load(const std::string& path, std::string* error) {
    path_ = sys::FullPath(path);
    if (sys::IsFolder(path_)) {
        *error = "the driver " + path_ + " is a folder, not a module";
        return false;
    }
    std::string reason;
    void* module = sys::LoadModule(path_, &reason);
    if (module == nullptr) {
        *error = "the driver " + path_ + " cannot be loaded: " + reason;
        if (sys::Exists(path_))
            *error += std::string(
                " (is it a module for this system, and are the host and card "
                "libraries beside it?)");
        return false;
    }
    entry_ = reinterpret_cast<Entry>(sys::FindFunction(module, "QunMain"));
    if (entry_ == nullptr) {
        *error = "the driver " + path_ + " has no export QunMain";
        return false;
    }
    return true;
}

int32_t Driver::GetInfo(QunInfo* info) {
    QunRequest request{};
    request.functionCode = function_code::kGetQunInfo;
    request.instance = instance_;
    request.parameters = info;
    return entry_(&request);
}

bool Driver::AllocateState(uint32_t size, std::string* error) {
    // A state block of a driver instance is a few kilobytes; anything near a
    // megabyte is a broken information record rather than a real demand.
    if (size == 0 || size > (1u << 20)) {
        *error = "the driver reports a state block of " + std::to_string(size) +
                 " bytes, which no host allocates";
        return false;
    }
    stateSize_ = size;
    stateStorage_.assign((size + kGuardBytes + 7) / 8, 0);
    FillGuard(reinterpret_cast<uint8_t*>(stateStorage_.data()) + size);
    return true;
}

int32_t Driver::Call(uint32_t functionCode, void* parameters) {
    QunRequest request{};
    request.state = reinterpret_cast<DriverState*>(stateStorage_.data());
    request.functionCode = functionCode;
    request.instance = instance_;
    request.parameters = parameters;
    return entry_(&request);
}

const DriverState* Driver::state() const {
    if (stateSize_ != sizeof(DriverState)) return nullptr;
    return reinterpret_cast<const DriverState*>(stateStorage_.data());
}

bool Driver::StateOverrun() const {
    if (stateStorage_.empty()) return false;
    return !GuardIntact(reinterpret_cast<const uint8_t*>(stateStorage_.data()) + stateSize_);
}

void FillGuard(uint8_t* guard) { std::memset(guard, kGuardByte, kGuardBytes); }

bool GuardIntact(const uint8_t* guard) {
    for (size_t i = 0; i < kGuardBytes; ++i)
        if (guard[i] != kGuardByte) return false;
    return true;
}

}  // namespace qunhost
