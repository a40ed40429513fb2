// The host program's system layer on Linux and other POSIX systems: dlopen,
// a terminal driven by ANSI escape sequences, and signals.
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "lab/qunhost/platform/system.h"

namespace qunhost {
namespace sys {

const char kDriverFileName[] = "libMORDALIX.so";
const char kCardLibraryName[] = "libAPPLICOM.so";
const char kBuildName[] = "native";

namespace {

std::string ErrnoText(int code) {
    return std::string(std::strerror(code)) + " (errno " + std::to_string(code) + ")";
}

std::atomic<bool>* interruptFlag = nullptr;

void OnInterrupt(int signalNumber) {
    // A second request while the first is being handled ends the program the
    // way the signal itself would.
    if (interruptFlag == nullptr || interruptFlag->exchange(true)) {
        signal(signalNumber, SIG_DFL);
        raise(signalNumber);
    }
}

}  // namespace

std::string ProgramFolder() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return std::string();
    const std::string program(path, static_cast<size_t>(n));
    return program.substr(0, program.rfind('/') + 1);
}

std::string LastErrorText() { return ErrnoText(errno); }

std::string FullPath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    return CurrentFolder() + "/" + path;
}

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool ChangeFolder(const std::string& folder, std::string* error) {
    if (chdir(folder.c_str()) == 0) return true;
    *error = LastErrorText();
    return false;
}

std::string CurrentFolder() {
    char current[PATH_MAX];
    return getcwd(current, sizeof current) != nullptr ? std::string(current) : ".";
}

void* LoadModule(const std::string& path, std::string* error) {
    if (!Exists(path)) {
        *error = LastErrorText();
        return nullptr;
    }
    // The driver module finds the libraries beside it through its own run
    // path; RTLD_LOCAL keeps its symbols to itself, as a DLL's are.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* text = dlerror();
        *error = text != nullptr ? text : "dlopen failed";
    }
    return module;
}

void* FindFunction(void* module, const char* name) {
    if (module == nullptr) return nullptr;
    return dlsym(module, name);
}

void* LoadedModule(const char* name) { return dlopen(name, RTLD_NOW | RTLD_NOLOAD); }

void PrepareStreams() {}

Terminal::Terminal() { present_ = isatty(STDOUT_FILENO) == 1; }

Terminal::~Terminal() {}

int Terminal::Columns() const {
    winsize size{};
    if (!present_ || ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col <= 20) return 80;
    return size.ws_col;
}

int Terminal::Rows() const {
    winsize size{};
    if (!present_ || ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_row == 0) return 25;
    return size.ws_row;
}

void Terminal::Write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void Terminal::EraseLinesAbove(int count) {
    if (!present_ || count <= 0) return;
    // Up count lines, to the first column, and erase from there to the end of
    // the screen.
    Write("\x1b[" + std::to_string(count) + "A\r\x1b[J");
}

void CatchInterrupts(std::atomic<bool>* flag) {
    interruptFlag = flag;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace sys
}  // namespace qunhost
