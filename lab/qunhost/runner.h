// Runs a scenario against the loaded driver: the plant, the cold start, the
// gates, the time line and the summary, or in check mode the plan.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "lab/qunhost/card_control.h"
#include "lab/qunhost/driver.h"
#include "lab/qunhost/host_log.h"
#include "lab/qunhost/options.h"
#include "lab/qunhost/report.h"
#include "lab/qunhost/scenario.h"
#include "lab/qunhost/screen.h"

namespace qunhost {

class Runner {
public:
    // interrupted is set from outside (Ctrl+C) to end the time line early.
    Runner(const Options& options, const Scenario& scenario, Driver& driver,
           const CardControl& card, Screen& screen, const std::atomic<bool>& interrupted);
    ~Runner();
    Runner(const Runner&) = delete;
    Runner& operator=(const Runner&) = delete;

    // The exit status: 0, 1 (problems found) or 2 (the scenario cannot run
    // with this card library).
    int Run();

private:
    struct Gate {
        GateRun run;
        std::vector<uint8_t> buffer;  // value bytes, then guard bytes
        size_t valueBytes = 0;
        bool overrunReported = false;
    };

    bool CheckCardFunctions();
    void PrepareStation();
    bool ColdStart();
    void ParseGates();
    void ParseGate(Gate& gate);
    void RunTimeline();
    void FinishDriver();
    void PrintSummary();

    bool ExecuteStep(const Step& step, size_t number);
    bool PlantStep(const Step& step);
    void ReadStep(const Step& step);
    void ReadAll();
    void ReadGate(Gate& gate);
    void WriteStep(const Step& step);
    void Shutdown();
    void End();

    // Prints the driver's new log lines; returns them all.
    std::vector<LogEntry> Drain();
    // Waits until a point in time, printing the log meanwhile. False when
    // interrupted.
    bool WaitUntil(std::chrono::steady_clock::time_point until);
    bool SupervisorRegistered() const;

    std::vector<std::string> ValueTable(const std::string& heading);
    std::vector<GateRun> Runs() const;
    // --replay: the simulated card answers from the trace, and afterwards
    // says whether the run reproduced it.
    bool StartReplay();
    void FinishReplay();
    std::string Stamp() const;
    void Say(const std::string& text);
    void Error(const std::string& text);
    std::string Where(int line) const;

    const Options& options_;
    const Scenario& scenario_;
    Driver& driver_;
    const CardControl& card_;
    Screen& screen_;
    const std::atomic<bool>& interrupted_;
    HostLog log_;
    FILE* logFile_ = nullptr;
    std::chrono::steady_clock::time_point start_;
    std::vector<Gate> gates_;
    RunTotals totals_;
    bool shutdownSent_ = false;
    bool ended_ = false;
    bool coldStarted_ = false;
};

}  // namespace qunhost
