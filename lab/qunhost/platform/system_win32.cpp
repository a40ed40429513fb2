// The host program's system layer on Windows: the module loader, the console
// API and the console's control handler.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "lab/qunhost/platform/system.h"

namespace qunhost {
namespace sys {

const char kDriverFileName[] = "MORDALIX.DLL";
const char kCardLibraryName[] = "APPLICOM.dll";
const char kBuildName[] = "Windows";

namespace {

std::string ErrorText(DWORD code) {
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

std::wstring Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

HANDLE Output() { return GetStdHandle(STD_OUTPUT_HANDLE); }

std::atomic<bool>* interruptFlag = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    if (interruptFlag == nullptr || interruptFlag->exchange(true)) return FALSE;
    return TRUE;
}

}  // namespace

std::string ProgramFolder() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return std::string();
    const std::string program(path, n);
    const size_t slash = program.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : program.substr(0, slash + 1);
}

std::string LastErrorText() { return ErrorText(GetLastError()); }

std::string FullPath(const std::string& path) {
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return n > 0 && n < sizeof full ? std::string(full, n) : path;
}

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ChangeFolder(const std::string& folder, std::string* error) {
    if (SetCurrentDirectoryA(folder.c_str())) return true;
    *error = LastErrorText();
    return false;
}

std::string CurrentFolder() {
    char current[MAX_PATH];
    const DWORD n = GetCurrentDirectoryA(sizeof current, current);
    return n > 0 && n < sizeof current ? std::string(current, n) : ".";
}

void* LoadModule(const std::string& path, std::string* error) {
    if (!Exists(path)) {
        *error = LastErrorText();
        return nullptr;
    }
    // Stop the system from showing its own dialog for a module that fails.
    const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD code = GetLastError();
    SetErrorMode(oldMode);
    if (module == nullptr) *error = ErrorText(code);
    return module;
}

void* FindFunction(void* module, const char* name) {
    if (module == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void* LoadedModule(const char* name) { return GetModuleHandleA(name); }

void PrepareStreams() {
    DWORD mode = 0;
    if (!GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode))
        _setmode(_fileno(stdout), _O_BINARY);
    if (!GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode))
        _setmode(_fileno(stderr), _O_BINARY);
}

Terminal::Terminal() {
    DWORD mode = 0;
    const HANDLE out = Output();
    present_ = out != INVALID_HANDLE_VALUE && out != nullptr && GetConsoleMode(out, &mode);
    if (present_) {
        savedCodePage_ = GetConsoleOutputCP();
        SetConsoleOutputCP(CP_UTF8);
    }
}

Terminal::~Terminal() {
    if (present_ && savedCodePage_ != 0) SetConsoleOutputCP(savedCodePage_);
}

int Terminal::Columns() const {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!present_ || !GetConsoleScreenBufferInfo(Output(), &info)) return 80;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 20 ? columns : 80;
}

int Terminal::Rows() const {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!present_ || !GetConsoleScreenBufferInfo(Output(), &info)) return 25;
    return info.srWindow.Bottom - info.srWindow.Top + 1;
}

void Terminal::Write(const std::string& text) {
    if (!present_) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return;
    }
    const std::wstring wide = Widen(text);
    DWORD written = 0;
    WriteConsoleW(Output(), wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

void Terminal::EraseLinesAbove(int count) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!present_ || count <= 0 || !GetConsoleScreenBufferInfo(Output(), &info)) return;
    int top = info.dwCursorPosition.Y - count;
    if (top < 0) top = 0;
    const COORD start = {0, static_cast<SHORT>(top)};
    const DWORD cells =
        static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(info.dwCursorPosition.Y - top + 1);
    DWORD done = 0;
    FillConsoleOutputCharacterW(Output(), L' ', cells, start, &done);
    FillConsoleOutputAttribute(Output(), info.wAttributes, cells, start, &done);
    SetConsoleCursorPosition(Output(), start);
}

void CatchInterrupts(std::atomic<bool>* flag) {
    interruptFlag = flag;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

}  // namespace sys
}  // namespace qunhost
