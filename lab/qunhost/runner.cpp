#include "lab/qunhost/runner.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "driver/address/parse_block.h"
#include "driver/entry/function_codes.h"
#include "driver/exchange/gate_transfer.h"
#include "lab/korvex/korvex_control.h"
#include "lab/qunhost/platform/system.h"
#include "lab/qunhost/values.h"

namespace qunhost {

namespace {

using Clock = std::chrono::steady_clock;

using namespace function_code;

// The supervisor thread polls every 500 ms; this leaves room for a loaded machine.
constexpr auto kShutdownWait = std::chrono::seconds(5);
// How often the log is looked at while the host waits.
constexpr auto kLogPoll = std::chrono::milliseconds(50);

std::string Pad(const std::string& text, size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}
std::string PadLeft(const std::string& text, size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

// The folder part of a path, or "" for a bare file name.
std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

Runner::Runner(const Options& options, const Scenario& scenario, Driver& driver,
               const CardControl& card, Screen& screen, const std::atomic<bool>& interrupted)
    : options_(options),
      scenario_(scenario),
      driver_(driver),
      card_(card),
      screen_(screen),
      interrupted_(interrupted) {}

Runner::~Runner() {
    if (logFile_ != nullptr) std::fclose(logFile_);
}

std::string Runner::Stamp() const {
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    char text[32];
    std::snprintf(text, sizeof text, "%8.3f", seconds);
    return text;
}

void Runner::Say(const std::string& text) { screen_.Line(text); }

void Runner::Error(const std::string& text) {
    totals_.errors.push_back(text);
    screen_.Line("  error: " + text);
}

std::string Runner::Where(int line) const { return scenario_.path + ":" + std::to_string(line); }

std::vector<LogEntry> Runner::Drain() {
    std::vector<LogEntry> entries = log_.Poll();
    for (const LogEntry& e : entries) {
        if (logFile_ != nullptr)
            std::fprintf(logFile_, "%s %s\n", Stamp().c_str(), FormatLogEntry(e).c_str());
        if (e.level >= options_.logLevel) Say(Stamp() + " " + FormatLogEntry(e));
    }
    if (logFile_ != nullptr && !entries.empty()) std::fflush(logFile_);
    return entries;
}

bool Runner::WaitUntil(Clock::time_point until) {
    for (;;) {
        Drain();
        if (interrupted_) return false;
        const auto now = Clock::now();
        if (now >= until) return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(until - now, kLogPoll));
    }
}

bool Runner::SupervisorRegistered() const {
    const int32_t count = KvxClientCount();
    for (int32_t i = 0; i < count; ++i) {
        char name[64];
        if (KvxClientName(i, name, sizeof name) >= 0 && std::strcmp(name, "APPLICOM") == 0)
            return true;
    }
    return false;
}

int Runner::Run() {
    start_ = Clock::now();
    if (!options_.logFile.empty()) {
        logFile_ = std::fopen(options_.logFile.c_str(), "w");
        if (logFile_ == nullptr) {
            PrintError("cannot write the log file " + options_.logFile + ": " +
                       std::strerror(errno));
            return 2;
        }
    }
    if (!CheckCardFunctions()) return 2;
    if (!options_.replayFile.empty() && !StartReplay()) return 2;

    // The driver reads its initialisation file from the current folder: run
    // in the scenario's folder, where the file belongs.
    const std::string folder = FolderOf(scenario_.path);
    std::string reason;
    if (!folder.empty() && !sys::ChangeFolder(folder, &reason)) {
        PrintError("cannot enter the scenario's folder " + folder + ": " + reason);
        return 2;
    }
    const std::string here = sys::CurrentFolder();
    const std::string initFile = InitFileName(scenario_.instance);
    if (sys::Exists(initFile))
        Say("initialisation file " + initFile + " in " + here);
    else
        Say("initialisation file " + initFile + " not found in " + here +
            ": the driver's defaults apply");

    PrepareStation();
    for (const Step& step : scenario_.prelude) PlantStep(step);
    ColdStart();
    ParseGates();

    if (options_.check) {
        Say("");
        for (const std::string& line : PlanLines(Runs(), driver_.state())) Say(line);
        Say("");
        Say("check done; ending the driver");
        FinishDriver();
        int64_t problems = static_cast<int64_t>(totals_.errors.size());
        for (const GateRun& g : Runs())
            if (g.parsed && !g.accepted) ++problems;
        Say(problems == 0 ? "check: OK"
                          : "check: " + std::to_string(problems) +
                                (problems == 1 ? " problem" : " problems"));
        return problems == 0 ? 0 : 1;
    }

    RunTimeline();
    FinishDriver();
    if (!options_.replayFile.empty()) FinishReplay();
    PrintSummary();
    return ProblemCount(Runs(), totals_) == 0 ? 0 : 1;
}

bool Runner::StartReplay() {
    if (card_.replayStart == nullptr || card_.replayFinish == nullptr) {
        PrintError(
            "--replay needs the simulated card, which answers from a trace; this card "
            "library has no ApcReplayStart");
        return false;
    }
    // The run goes on in the scenario's folder: the trace's full path now.
    const std::string path = sys::FullPath(options_.replayFile);
    char message[512] = "";
    if (card_.replayStart(path.c_str(), message, sizeof message) != 0) {
        PrintError(std::string("cannot replay ") + path + ": " + message);
        return false;
    }
    Say("replay: the simulated card answers every call from the trace " + path);
    return true;
}

void Runner::FinishReplay() {
    char text[2048] = "";
    const int32_t departed = card_.replayFinish(text, sizeof text);
    std::string lines = text;
    size_t start = 0;
    while (start <= lines.size()) {
        const size_t end = std::min(lines.find('\n', start), lines.size());
        Say("replay: " + lines.substr(start, end - start));
        start = end + 1;
    }
    if (departed != 0) totals_.errors.push_back("replay: the run departed from the recording");
}

std::vector<GateRun> Runner::Runs() const {
    std::vector<GateRun> runs;
    for (const Gate& g : gates_) runs.push_back(g.run);
    return runs;
}

bool Runner::CheckCardFunctions() {
    auto check = [&](const Step& step) {
        const char* missing = nullptr;
        switch (step.kind) {
            case StepKind::Signal:
                missing = card_.addSignal ? nullptr : "ApcAddSignal";
                break;
            case StepKind::Set:
                missing = card_.poke ? nullptr : "ApcPoke";
                break;
            case StepKind::DbSet:
                missing = step.area == APC_AREA_BIT
                              ? (card_.pokeDatabaseBits ? nullptr : "ApcPokeDatabaseBits")
                              : (card_.pokeDatabaseWords ? nullptr : "ApcPokeDatabaseWords");
                break;
            case StepKind::ClearSignals:
                missing = card_.clearSignals ? nullptr : "ApcClearSignals";
                break;
            case StepKind::Cards:
                missing = card_.setInstalledCards ? nullptr : "ApcSetInstalledCards";
                break;
            case StepKind::Fail:
                missing = !card_.routineByName  ? "ApcRoutineByName"
                          : !card_.scriptStatus ? "ApcScriptStatus"
                                                : nullptr;
                break;
            case StepKind::FailRate:
                missing = card_.setFailureRate ? nullptr : "ApcSetFailureRate";
                break;
            case StepKind::Delay:
                missing = !card_.setCallDelay                            ? "ApcSetCallDelay"
                          : (!step.text.empty() && !card_.routineByName) ? "ApcRoutineByName"
                                                                         : nullptr;
                break;
            case StepKind::ResetCard:
                missing = card_.simulateReset ? nullptr : "ApcSimulateReset";
                break;
            default:
                break;
        }
        if (missing == nullptr) return true;
        PrintError(Where(step.line) + ": '" + StepKeyword(step.kind) +
                   "' needs the simulated card, and this APPLICOM.dll has no " + missing);
        return false;
    };
    for (const Step& step : scenario_.prelude)
        if (!check(step)) return false;
    for (const Step& step : scenario_.timeline)
        if (!check(step)) return false;
    return true;
}

void Runner::PrepareStation() {
    KvxSetStationConfig(scenario_.backupStation ? 1u : 0u);
    KvxSetBackupMode(scenario_.initialMode);
    Say(std::string("station ") + (scenario_.backupStation ? "backup" : "master") + ", " +
        (scenario_.initialMode ? "passive" : "active"));
}

bool Runner::PlantStep(const Step& step) {
    Say(Stamp() + " plant  " + step.statement);
    const std::string where = Where(step.line) + ": " + StepKeyword(step.kind);
    switch (step.kind) {
        case StepKind::Signal: {
            const int32_t index =
                card_.addSignal(step.channel, step.equipment, step.area, step.address, step.wave,
                                step.low, step.high, step.periodS, step.seed);
            if (index < 0) Error(where + ": the simulated card refused the signal");
            return index >= 0;
        }
        case StepKind::Set: {
            std::vector<uint8_t> data;
            for (double v : step.numbers) {
                if (step.area == APC_AREA_FLOAT) {
                    const float f = static_cast<float>(v);
                    uint8_t b[4];
                    std::memcpy(b, &f, 4);
                    data.insert(data.end(), b, b + 4);
                } else if (step.area == APC_AREA_DWORD) {
                    const uint32_t u = static_cast<uint32_t>(static_cast<int64_t>(v));
                    for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(u >> (8 * i)));
                } else if (step.area == APC_AREA_BIT || step.area == APC_AREA_INPUT_BIT ||
                           step.area == APC_AREA_OUTPUT_BIT || step.area == APC_AREA_QUICK_BIT) {
                    data.push_back(v != 0 ? 1 : 0);
                } else {
                    const uint16_t u = static_cast<uint16_t>(static_cast<int32_t>(v));
                    data.push_back(static_cast<uint8_t>(u));
                    data.push_back(static_cast<uint8_t>(u >> 8));
                }
            }
            const int32_t rc = card_.poke(step.channel, step.equipment, step.area, step.address,
                                          data.data(), static_cast<int32_t>(step.numbers.size()));
            if (rc < 0)
                Error(where + ": the simulated card refused the values (" + std::to_string(rc) +
                      ")");
            return rc >= 0;
        }
        case StepKind::DbSet: {
            std::vector<uint8_t> data;
            for (double v : step.numbers) {
                if (step.area == APC_AREA_BIT) {
                    data.push_back(v != 0 ? 1 : 0);
                } else {
                    const uint16_t u = static_cast<uint16_t>(static_cast<int32_t>(v));
                    data.push_back(static_cast<uint8_t>(u));
                    data.push_back(static_cast<uint8_t>(u >> 8));
                }
            }
            const int32_t n = static_cast<int32_t>(step.numbers.size());
            const int32_t rc =
                step.area == APC_AREA_BIT
                    ? card_.pokeDatabaseBits(step.channel, step.address, data.data(), n)
                    : card_.pokeDatabaseWords(step.channel, step.address, data.data(), n);
            if (rc < 0)
                Error(where + ": the simulated card refused the values (" + std::to_string(rc) +
                      ")");
            return rc >= 0;
        }
        case StepKind::ClearSignals:
            card_.clearSignals();
            return true;
        case StepKind::Cards:
            card_.setInstalledCards(step.mask);
            return true;
        case StepKind::Fail: {
            const int32_t routine = card_.routineByName(step.text.c_str());
            if (routine < 0) {
                Error(where + ": the simulated card has no routine " + step.text);
                return false;
            }
            std::vector<int16_t> statuses(step.statuses.begin(), step.statuses.end());
            card_.scriptStatus(routine, statuses.data(), static_cast<int32_t>(statuses.size()));
            return true;
        }
        case StepKind::FailRate: {
            std::vector<int16_t> statuses(step.statuses.begin(), step.statuses.end());
            card_.setFailureRate(step.rate, step.seed, statuses.data(),
                                 static_cast<int32_t>(statuses.size()));
            return true;
        }
        case StepKind::Delay: {
            int32_t routine = -1;
            if (!step.text.empty()) {
                routine = card_.routineByName(step.text.c_str());
                if (routine < 0) {
                    Error(where + ": the simulated card has no routine " + step.text);
                    return false;
                }
            }
            card_.setCallDelay(routine, step.microseconds);
            return true;
        }
        case StepKind::ResetCard:
            card_.simulateReset();
            return true;
        default:
            return false;
    }
}

bool Runner::ColdStart() {
    ColdStartParams params{};
    params.openFlag = scenario_.openFlag;
    params.timeout = scenario_.timeout;
    Say(Stamp() + " cold start: instance " + std::to_string(scenario_.instance) + ", open flag " +
        std::to_string(params.openFlag) + ", timeout " + std::to_string(params.timeout) +
        " (x 10 ms)");
    const int32_t rc = driver_.Call(kColdStart, &params);
    coldStarted_ = true;
    Drain();
    Say(Stamp() + " cold start -> " + std::to_string(rc));
    if (rc != 0) Error("the cold start answered " + std::to_string(rc));
    const DriverState* state = driver_.state();
    if (state != nullptr) {
        Say(std::string("settings after the cold start: card ") +
            (state->cardOpen == 1 ? "open" : "closed") + ", " + std::to_string(state->retryCount) +
            " read attempts, clearing " + (state->clearCyclic ? "on" : "off") +
            ", first cyclic number " + std::to_string(state->firstCycNo) + ", balance free " +
            (state->balanceFree ? "on" : "off") + ", timeout " + std::to_string(state->timeoutMs) +
            " ms");
        if (params.openFlag != 0 && state->cardOpen != 1)
            Error(
                "the card was not opened (see the driver's log): block gates get no cyclic "
                "functions and every request reopens the card");
    }
    if (driver_.StateOverrun()) Error("the driver wrote beyond the end of its state block");
    return rc == 0;
}

void Runner::ParseGates() {
    // Block gates first: the first single gate ends the creation of cyclic
    // functions until the next cold start.
    for (const GateSpec& plan : scenario_.gates) {
        Gate gate;
        gate.run.plan = plan;
        gates_.push_back(gate);
    }
    for (Gate& gate : gates_)
        if (gate.run.plan.block) ParseGate(gate);
    for (Gate& gate : gates_)
        if (!gate.run.plan.block) ParseGate(gate);
    Say("");
    Say("gates (block gates parsed first):");
    for (const std::string& line : GateTableLines(Runs())) Say(line);
    Say("");
}

void Runner::ParseGate(Gate& gate) {
    GateRun& run = gate.run;
    const GateSpec& plan = run.plan;
    ParseBlock block{};
    block.addressText = plan.address.c_str();
    block.gateType = plan.gateType;
    block.elementCount = plan.count;
    const DriverState* state = driver_.state();
    if (state != nullptr) {
        run.marksKnown = true;
        run.before = {state->nextFreeBit, state->nextFreeWord, state->lowestUsedByte};
    }
    Drain();
    run.parseResult = driver_.Call(plan.block ? kBlockParse : kSingleParse, &block);
    run.parsed = true;
    run.accepted = run.parseResult == 0;
    run.address = block.address;
    if (state != nullptr)
        run.after = {state->nextFreeBit, state->nextFreeWord, state->lowestUsedByte};

    // The driver's errors and notable events logged by the call are the
    // gate's; the supervisor thread's lines only fall in between.
    for (const LogEntry& e : log_.Poll()) {
        if (logFile_ != nullptr)
            std::fprintf(logFile_, "%s %s\n", Stamp().c_str(), FormatLogEntry(e).c_str());
        if (e.level >= 32 && !IsSupervisorLine(e.text))
            run.notes.push_back(e.text);
        else if (e.level >= options_.logLevel)
            Say(Stamp() + " " + FormatLogEntry(e));
    }
    if (!run.accepted) return;

    const GateAddress& a = run.address;
    if (state != nullptr && a.stationIndex >= 0 && a.stationIndex < kStationCount) {
        run.channel = state->stations[a.stationIndex].channel;
        run.equipment = state->stations[a.stationIndex].equipment;
    }
    if (plan.block) {
        if (a.elementBits != 1 && a.elementBits != 8 && a.elementBits != 16 &&
            a.elementBits != 32) {
            run.accepted = false;
            run.notes.insert(run.notes.begin(), "(the driver accepted it with element size " +
                                                    std::to_string(a.elementBits) +
                                                    ", which no block can have)");
            Error("gate " + plan.name + ": the driver's record has element size " +
                  std::to_string(a.elementBits));
            return;
        }
        gate.valueBytes = BlockValueBytes(a.elementBits, plan.count);
    } else {
        gate.valueBytes = kSingleValueBytes;
    }
    gate.buffer.assign(gate.valueBytes + kGuardBytes, 0);
    FillGuard(gate.buffer.data() + gate.valueBytes);
}

void Runner::RunTimeline() {
    const size_t count = scenario_.timeline.size();
    for (size_t i = 0; i < count; ++i) {
        if (interrupted_) {
            totals_.interrupted = true;
            Say(Stamp() + " interrupted: the remaining steps are skipped");
            return;
        }
        ExecuteStep(scenario_.timeline[i], i + 1);
    }
    if (interrupted_) totals_.interrupted = true;
}

bool Runner::ExecuteStep(const Step& step, size_t number) {
    Say(Stamp() + " step " + std::to_string(number) + "/" +
        std::to_string(scenario_.timeline.size()) + " (line " + std::to_string(step.line) +
        "): " + step.statement);
    switch (step.kind) {
        case StepKind::Wait:
            WaitUntil(Clock::now() + std::chrono::milliseconds(step.ms));
            return true;
        case StepKind::Read:
            ReadStep(step);
            return true;
        case StepKind::Write:
            WriteStep(step);
            return true;
        case StepKind::Backup:
            KvxSetBackupMode(step.mode);
            Say(std::string("         the host reports the station ") +
                (step.mode ? "passive" : "active") +
                " from now on; the driver's supervisor looks every 500 ms");
            Drain();
            return true;
        case StepKind::Shutdown:
            Shutdown();
            return true;
        case StepKind::End:
            End();
            return true;
        case StepKind::Note:
            Say("         == " + step.text + " ==");
            return true;
        default:
            return PlantStep(step);
    }
}

void Runner::ReadStep(const Step& step) {
    const bool once = step.totalMs == 0;
    const int64_t samples = once ? 1 : step.totalMs / step.ms;
    const auto begin = Clock::now();
    auto nextTable = begin + std::chrono::milliseconds(options_.tableEveryMs);
    for (int64_t i = 0; i < samples; ++i) {
        if (!WaitUntil(begin + std::chrono::milliseconds(i * step.ms))) break;
        ReadAll();
        Drain();
        char at[32];
        std::snprintf(at, sizeof at, "%.2f",
                      std::chrono::duration<double>(Clock::now() - start_).count());
        const std::string heading = std::string("values at ") + at + " s, read " +
                                    std::to_string(i + 1) + " of " + std::to_string(samples) +
                                    (once ? "" : " (every " + FormatDuration(step.ms) + ")");
        if (screen_.live()) {
            screen_.Live(ValueTable(heading));
        } else if (options_.tableEveryMs > 0 && Clock::now() >= nextTable && i + 1 < samples) {
            for (const std::string& line : ValueTable(heading)) Say(line);
            nextTable += std::chrono::milliseconds(options_.tableEveryMs);
        }
        if (i + 1 == samples) {
            if (screen_.live()) {
                screen_.Freeze();
            } else {
                for (const std::string& line : ValueTable(heading)) Say(line);
            }
        }
    }
    if (interrupted_) {
        screen_.Freeze();
        return;
    }
    if (!once) WaitUntil(begin + std::chrono::milliseconds(step.totalMs));
}

void Runner::ReadAll() {
    for (Gate& gate : gates_)
        if (gate.run.accepted) ReadGate(gate);
    if (card_.journalClear != nullptr) card_.journalClear();  // nobody reads it here
}

void Runner::ReadGate(Gate& gate) {
    GateRun& run = gate.run;
    GateTransfer transfer{};
    transfer.tagName = run.plan.name.c_str();
    transfer.address = run.address;
    transfer.gateType = run.plan.gateType;
    transfer.count = run.plan.count;
    transfer.value = gate.buffer.data();
    const int32_t rc = driver_.Call(run.plan.block ? kBlockRead : kSingleRead, &transfer);
    ++run.reads;
    run.lastResult = rc;
    totals_.reads.Add(rc);
    if (rc == 0)
        run.hasValue = true;
    else
        ++run.readFailures;
    if (std::memcmp(&transfer.address, &run.address, sizeof run.address) != 0 &&
        !gate.overrunReported) {
        Error("gate " + run.plan.name + ": the read changed the gate's address record");
        gate.overrunReported = true;
    }
    if (!GuardIntact(gate.buffer.data() + gate.valueBytes) && !gate.overrunReported) {
        Error("gate " + run.plan.name + ": the driver wrote beyond the gate's " +
              std::to_string(gate.valueBytes) + "-byte value buffer");
        gate.overrunReported = true;
        FillGuard(gate.buffer.data() + gate.valueBytes);
    }
}

void Runner::WriteStep(const Step& step) {
    const int index = scenario_.FindGate(step.gate);
    Gate& gate = gates_[static_cast<size_t>(index)];
    GateRun& run = gate.run;
    if (!run.accepted) {
        Say("         skipped: the gate " + run.plan.name + " was refused");
        ++totals_.writesSkipped;
        return;
    }
    std::vector<uint8_t> buffer(std::max(gate.valueBytes, kSingleValueBytes) + kGuardBytes, 0);
    std::string problem;
    const bool encoded =
        run.plan.block
            ? EncodeBlockValues(step.values, run.address.elementBits, run.plan.gateType,
                                buffer.data(), &problem)
            : EncodeSingleValue(step.values[0], run.plan.gateType, buffer.data(), &problem);
    if (!encoded) {
        Error(Where(step.line) + ": write " + run.plan.name + ": " + problem);
        return;
    }
    FillGuard(buffer.data() + gate.valueBytes);
    GateTransfer transfer{};
    transfer.tagName = run.plan.name.c_str();
    transfer.address = run.address;
    transfer.gateType = run.plan.gateType;
    transfer.count = run.plan.count;
    transfer.value = buffer.data();
    const int32_t rc = driver_.Call(run.plan.block ? kBlockWrite : kSingleWrite, &transfer);
    totals_.writes.Add(rc);
    Drain();
    Say("         write " + run.plan.name + " -> " + std::to_string(rc) +
        (rc == 0 ? " (written)" : " (not written)"));
    if (!GuardIntact(buffer.data() + gate.valueBytes))
        Error("gate " + run.plan.name + ": the write went beyond the gate's " +
              std::to_string(gate.valueBytes) + "-byte value buffer");
}

void Runner::Shutdown() {
    if (shutdownSent_) {
        Say("         the shut-down message was sent already");
        return;
    }
    shutdownSent_ = true;
    const bool registered = SupervisorRegistered();
    KvxPostShutdown();
    if (!registered) {
        Say("         shut-down message sent; no supervisor thread is registered with the host");
        return;
    }
    const auto begin = Clock::now();
    while (SupervisorRegistered() && Clock::now() - begin < kShutdownWait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Drain();
    }
    Drain();
    if (SupervisorRegistered()) {
        Error("the driver's supervisor thread did not end within 5 s of the shut-down message");
        return;
    }
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
    Say("         shut-down message sent; the supervisor thread ended after " + std::to_string(ms) +
        " ms");
}

void Runner::End() {
    if (ended_) return;
    ended_ = true;
    const int32_t rc = driver_.Call(kEndQun, nullptr);
    Drain();
    Say(Stamp() + " end (EndQun) -> " + std::to_string(rc));
    if (rc != 0) Error("EndQun answered " + std::to_string(rc));
}

void Runner::FinishDriver() {
    if (!shutdownSent_) {
        Say(Stamp() + " shutdown (the scenario does not send it: sent now)");
        Shutdown();
    }
    if (!ended_) {
        Say(Stamp() + " end (the scenario does not end the driver: ended now)");
        End();
    }
    if (driver_.StateOverrun()) Error("the driver wrote beyond the end of its state block");
}

void Runner::PrintSummary() {
    Drain();
    totals_.logLines = log_.total();
    totals_.logTraces = log_.traces();
    totals_.logNotable = log_.notable();
    if (card_.softcardStatusLine != nullptr) {
        char line[1024];
        if (card_.softcardStatusLine(line, sizeof line) > 0) totals_.softcard = line;
    }
    const DriverState* state = driver_.state();
    Say("");
    for (const std::string& line :
         SummaryLines(Runs(), totals_, state != nullptr ? LoadCyclicCount(state) : -1))
        Say(line);
}

std::vector<std::string> Runner::ValueTable(const std::string& heading) {
    size_t nameWidth = 4, addressWidth = 7;
    for (const Gate& g : gates_) {
        nameWidth = std::max(nameWidth, g.run.plan.name.size());
        const std::string address =
            g.run.plan.address + (g.run.plan.block ? " x" + std::to_string(g.run.plan.count) : "");
        addressWidth = std::max(addressWidth, address.size());
    }
    nameWidth = std::min<size_t>(nameWidth, 24);
    addressWidth = std::min<size_t>(addressWidth, 28);
    std::vector<std::string> lines;
    lines.push_back("  " + heading);
    lines.push_back("  " + Pad("gate", nameWidth) + "  " + Pad("address", addressWidth) +
                    "  rc  reads  fail  cyclic       value");
    for (const Gate& g : gates_) {
        const GateRun& run = g.run;
        if (!run.accepted) continue;
        const std::string address =
            run.plan.address + (run.plan.block ? " x" + std::to_string(run.plan.count) : "");
        std::string cyclic;
        if (run.plan.block) {
            const int32_t number = run.address.bitOrCyclicNumber;
            if (number == kNoBitOrCyclic) {
                cyclic = "on demand";
            } else {
                cyclic = "#" + std::to_string(number);
                if (card_.cyclicState != nullptr && run.channel >= 0) {
                    const int32_t s = card_.cyclicState(run.channel, number);
                    cyclic += s == 1 ? " running" : s == 0 ? " stopped" : " gone";
                }
            }
        }
        std::string value = "-";
        if (run.hasValue) {
            if (run.plan.block) {
                value.clear();
                for (const std::string& v :
                     FormatBlockValues(g.buffer.data(), run.address.elementBits, run.plan.count,
                                       run.plan.gateType))
                    value += (value.empty() ? "" : " ") + v;
            } else {
                value = FormatSingleValue(g.buffer.data(), run.plan.gateType);
            }
        }
        const std::string rc = run.lastResult < 0 ? "-" : std::to_string(run.lastResult);
        lines.push_back("  " + Pad(run.plan.name, nameWidth) + "  " + Pad(address, addressWidth) +
                        "  " + PadLeft(rc, 2) + "  " + PadLeft(std::to_string(run.reads), 5) +
                        "  " + PadLeft(std::to_string(run.readFailures), 4) + "  " +
                        Pad(cyclic, 11) + "  " + value);
    }
    return lines;
}

}  // namespace qunhost
