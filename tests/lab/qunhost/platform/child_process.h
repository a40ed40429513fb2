// The host program run as a child process with its output in a pipe (or, on
// POSIX systems, a pseudo-terminal), as a CI log or a user's terminal sees it.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace qunhost_test {

// The host program beside the test program: qunhost.exe, natively qunhost.
std::string QunhostPath();

class ChildProcess {
public:
    // Starts program with the arguments, in the current folder; standard
    // output and standard error both go to the pipe, or to a terminal of 120
    // columns and 40 rows when terminal is true (POSIX systems only).
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 bool terminal = false);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const;
    // Everything the child wrote so far.
    std::string Output() const;
    // Waits until the output holds text; false after timeoutMs.
    bool WaitForOutput(const std::string& text, int timeoutMs) const;
    // Ctrl+C, as a terminal would send it (POSIX systems only).
    void Interrupt();
    // Waits for the child's end and returns its exit status; a child still
    // running after timeoutMs is killed and 99 returned.
    int Wait(int timeoutMs);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Runs the host program to its end with its output in a pipe.
struct Outcome {
    int exitCode = -1;
    std::string output;  // standard output and standard error together
};
Outcome RunQunhost(const std::vector<std::string>& arguments, int timeoutMs = 180000);

}  // namespace qunhost_test
