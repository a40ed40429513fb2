#include "host/driver.h"

#include <windows.h>

#include <cstring>

namespace qunhost {

std::string DefaultDriverPath() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder;
    if (n > 0 && n < sizeof path) {
        folder.assign(path, n);
        const size_t slash = folder.find_last_of("\\/");
        folder = slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
    }
    return folder + "MORDALIX.DLL";
}

std::string SystemErrorText(unsigned long code) {
    char* text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = n > 0 && text != nullptr ? std::string(text, n) : std::string();
    if (text != nullptr) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    if (message.empty()) message = "system error";
    return message + " (error " + std::to_string(code) + ")";
}

bool Driver::Load(const std::string& path, std::string* error) {
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    path_ = n > 0 && n < sizeof full ? std::string(full, n) : path;
    const DWORD attributes = GetFileAttributesA(path_.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        *error = "the driver " + path_ + " cannot be loaded: " + SystemErrorText(GetLastError());
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        *error = "the driver " + path_ + " is a folder, not a module";
        return false;
    }
    // Stop the system from showing its own dialog for a module that fails.
    const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryExA(path_.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD code = GetLastError();
    SetErrorMode(oldMode);
    if (module == nullptr) {
        *error = "the driver " + path_ + " cannot be loaded: " + SystemErrorText(code) +
                 " (is it a 32-bit module, and are KORVEX.dll and APPLICOM.dll beside it?)";
        return false;
    }
    entry_ = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "QunMain")));
    if (entry_ == nullptr) {
        *error = "the driver " + path_ + " has no export QunMain";
        return false;
    }
    return true;
}

int32_t Driver::GetInfo(QunInfo* info) {
    QunRequest request{};
    request.functionCode = 14;
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
