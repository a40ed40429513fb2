#include <windows.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "tests/lab/qunhost/platform/child_process.h"

namespace qunhost_test {

std::string QunhostPath() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string folder(path, n);
    return folder.substr(0, folder.find_last_of("\\/") + 1) + "qunhost.exe";
}

struct ChildProcess::Impl {
    PROCESS_INFORMATION process{};
    HANDLE readEnd = nullptr;
    bool started = false;
    mutable std::mutex lock;
    std::string output;
    std::thread reader;
};

namespace {

// One argument quoted for the command line.
std::string Quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           bool /*terminal*/)
    : impl_(new Impl) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&impl_->readEnd, &writeEnd, &inherit, 0)) return;
    SetHandleInformation(impl_->readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    std::string command = Quoted(program);
    for (const std::string& argument : arguments) command += " " + Quoted(argument);
    impl_->started = CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                    nullptr, nullptr, &startup, &impl_->process) != 0;
    CloseHandle(writeEnd);
    if (!impl_->started) return;
    Impl* impl = impl_.get();
    impl_->reader = std::thread([impl] {
        char chunk[4096];
        DWORD n = 0;
        while (ReadFile(impl->readEnd, chunk, sizeof chunk, &n, nullptr) && n > 0) {
            std::lock_guard<std::mutex> hold(impl->lock);
            impl->output.append(chunk, n);
        }
    });
}

ChildProcess::~ChildProcess() {
    if (impl_->started) Wait(0);
    if (impl_->readEnd != nullptr) CloseHandle(impl_->readEnd);
}

bool ChildProcess::started() const { return impl_->started; }

std::string ChildProcess::Output() const {
    std::lock_guard<std::mutex> hold(impl_->lock);
    return impl_->output;
}

void ChildProcess::Interrupt() {}

int ChildProcess::Wait(int timeoutMs) {
    if (!impl_->started) return -1;
    DWORD code = 99;
    if (WaitForSingleObject(impl_->process.hProcess, static_cast<DWORD>(timeoutMs)) !=
        WAIT_OBJECT_0) {
        TerminateProcess(impl_->process.hProcess, 99);
        WaitForSingleObject(impl_->process.hProcess, INFINITE);
    }
    GetExitCodeProcess(impl_->process.hProcess, &code);
    if (impl_->reader.joinable()) impl_->reader.join();
    CloseHandle(impl_->process.hThread);
    CloseHandle(impl_->process.hProcess);
    impl_->started = false;
    return static_cast<int>(code);
}

}  // namespace qunhost_test
