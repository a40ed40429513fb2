// The operating system as the host program sees it: loading the driver
// module, folders, the terminal and Ctrl+C. One implementation per system
// (system_win32.cpp, system_posix.cpp); the rest of the program is the same
// on both.
#pragma once

#include <atomic>
#include <string>

namespace qunhost {
namespace sys {

// The driver module's file name on this system, and the card library's, as
// the driver module names it among its imports.
extern const char kDriverFileName[];
extern const char kCardLibraryName[];
// What this build of the host program is, for reports: "Windows" or "native".
extern const char kBuildName[];

// The folder of the running program, with its trailing separator.
std::string ProgramFolder();

// The system's message for the last failed call, with its code.
std::string LastErrorText();

// The path as an absolute one; the path itself when that fails.
std::string FullPath(const std::string& path);
bool Exists(const std::string& path);
bool IsFolder(const std::string& path);

// Makes folder the current one; false with the system's message.
bool ChangeFolder(const std::string& folder, std::string* error);
std::string CurrentFolder();

// Loads a module by path; the libraries it imports are looked for in its own
// folder first. Null with a message on failure.
void* LoadModule(const std::string& path, std::string* error);
// An exported function of a loaded module; null when it has none.
void* FindFunction(void* module, const char* name);
// The module of that name if the process has loaded it (the card library the
// driver imports); null otherwise.
void* LoadedModule(const char* name);

// Standard output and standard error that are not terminals end their lines
// in a bare line feed. Called first thing, before anything is printed.
void PrepareStreams();

// Standard output as a terminal: UTF-8 text, its size, and erasing lines
// already written so that a live region can be redrawn in place.
class Terminal {
public:
    Terminal();
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Whether standard output is a terminal at all.
    bool present() const { return present_; }
    // Columns and rows of its window (80 by 25 when it does not say).
    int Columns() const;
    int Rows() const;
    // Writes UTF-8 text at the cursor.
    void Write(const std::string& text);
    // Erases the count lines above the cursor (the cursor stands at the start
    // of the line below them) and leaves the cursor where the first one began.
    void EraseLinesAbove(int count);

private:
    bool present_ = false;
    unsigned savedCodePage_ = 0;
};

// From now on Ctrl+C (and, on Windows, Ctrl+Break; natively also a
// termination request) sets *flag instead of ending the program; a second one
// while the flag is set ends it at once, as the system would.
void CatchInterrupts(std::atomic<bool>* flag);

}  // namespace sys
}  // namespace qunhost
