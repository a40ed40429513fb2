#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <mutex>
#include <thread>

#include "tests/lab/qunhost/platform/child_process.h"

namespace qunhost_test {

std::string QunhostPath() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string program(path, n > 0 ? static_cast<size_t>(n) : 0);
    return program.substr(0, program.rfind('/') + 1) + "qunhost";
}

struct ChildProcess::Impl {
    pid_t pid = -1;
    int readEnd = -1;
    mutable std::mutex lock;
    std::string output;
    std::thread reader;
};

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           bool terminal)
    : impl_(new Impl) {
    int writeEnd = -1;
    if (terminal) {
        winsize size{};
        size.ws_col = 120;
        size.ws_row = 40;
        if (openpty(&impl_->readEnd, &writeEnd, nullptr, nullptr, &size) != 0) return;
    } else {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) return;
        impl_->readEnd = ends[0];
        writeEnd = ends[1];
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    impl_->pid = fork();
    if (impl_->pid == 0) {
        if (terminal) {
            setsid();
            ioctl(writeEnd, TIOCSCTTY, 0);
        }
        dup2(writeEnd, STDOUT_FILENO);
        dup2(writeEnd, STDERR_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(writeEnd);
    if (impl_->pid < 0) return;
    Impl* impl = impl_.get();
    impl_->reader = std::thread([impl] {
        char chunk[4096];
        for (;;) {
            const ssize_t n = read(impl->readEnd, chunk, sizeof chunk);
            if (n > 0) {
                std::lock_guard<std::mutex> hold(impl->lock);
                impl->output.append(chunk, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                break;  // end of the pipe, or EIO once a terminal's child is gone
            }
        }
    });
}

ChildProcess::~ChildProcess() {
    if (impl_->pid > 0) Wait(0);
    if (impl_->readEnd >= 0) close(impl_->readEnd);
}

bool ChildProcess::started() const { return impl_->pid > 0; }

std::string ChildProcess::Output() const {
    std::lock_guard<std::mutex> hold(impl_->lock);
    return impl_->output;
}

void ChildProcess::Interrupt() {
    if (impl_->pid > 0) kill(impl_->pid, SIGINT);
}

int ChildProcess::Wait(int timeoutMs) {
    if (impl_->pid <= 0) return -1;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    pid_t done;
    while ((done = waitpid(impl_->pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    int code;
    if (done == impl_->pid) {
        code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    } else {
        kill(impl_->pid, SIGKILL);
        waitpid(impl_->pid, &status, 0);
        code = 99;
    }
    impl_->pid = -1;
    if (impl_->reader.joinable()) impl_->reader.join();
    return code;
}

}  // namespace qunhost_test
