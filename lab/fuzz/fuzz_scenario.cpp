// Scenario files of the host program with arbitrary contents. The parser
// either refuses the file at a line of it, or gives a scenario whose every
// step the runner can carry out without checking it again.
#include <cstdint>
#include <string>

#include "lab/qunhost/scenario.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

template <typename T>
bool InRange(T value, T low, T high) {
    return value >= low && value <= high;
}

void CheckStatuses(const qunhost::Step& step) {
    for (int32_t status : step.statuses) Check(InRange(status, -32768, 32767));
}

void CheckStep(const qunhost::Scenario& scenario, const qunhost::Step& step) {
    using qunhost::StepKind;
    Check(step.line > 0 && !step.statement.empty());
    switch (step.kind) {
        case StepKind::Wait: {
            // What the screen shows of a pause reads back as the same pause.
            int64_t ms = -1;
            Check(step.ms >= 0 && qunhost::ParseDuration(qunhost::FormatDuration(step.ms), &ms));
            Check(ms == step.ms);
            break;
        }
        case StepKind::Read:
            Check(step.totalMs == 0 || (step.ms > 0 && step.totalMs >= step.ms));
            break;
        case StepKind::Write: {
            const int index = scenario.FindGate(step.gate);
            Check(index >= 0);
            Check(static_cast<int32_t>(step.values.size()) == scenario.gates[index].count);
            break;
        }
        case StepKind::Signal:
            Check(InRange(step.channel, 0, 31) && InRange(step.equipment, 0, 255));
            Check(InRange(step.area, 0, APC_AREA_COUNT - 1) && step.address >= 0);
            Check(InRange(step.wave, 0, static_cast<int32_t>(APC_WAVE_RANDOM)));
            Check(step.low <= step.high && step.periodS > 0);
            break;
        case StepKind::Set:
            Check(InRange(step.channel, 0, 31) && InRange(step.equipment, 0, 255));
            Check(InRange(step.area, 0, APC_AREA_COUNT - 1) && step.address >= 0);
            Check(!step.numbers.empty());
            break;
        case StepKind::DbSet:
            Check(InRange(step.channel, 1, 8) && step.address >= 0 && !step.numbers.empty());
            Check(step.address + static_cast<int64_t>(step.numbers.size()) <= 32000);
            break;
        case StepKind::Cards:
            Check(step.mask <= 0xFF);
            break;
        case StepKind::Fail:
            Check(!step.text.empty() && !step.statuses.empty());
            CheckStatuses(step);
            break;
        case StepKind::FailRate:
            Check(step.rate >= 0 && step.rate <= 1);
            Check(step.rate == 0 || !step.statuses.empty());
            CheckStatuses(step);
            break;
        case StepKind::Delay:
            Check(InRange(step.microseconds, 0, 60000000));
            break;
        default:
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    qunhost::Scenario scenario;
    qunhost::ParseError error;
    if (!qunhost::ParseScenario(text, "fuzz.scn", &scenario, &error)) {
        Check(!error.message.empty() && error.line >= 0);
        Check(!qunhost::FormatParseError("fuzz.scn", error).empty());
        return 0;
    }
    Check(InRange(scenario.timeout, 0, INT32_MAX));
    for (size_t i = 0; i < scenario.gates.size(); ++i) {
        const qunhost::GateSpec& gate = scenario.gates[i];
        Check(scenario.FindGate(gate.name) == static_cast<int>(i));  // declared once
        Check(InRange(gate.gateType, 0, qunhost::kGateTypeCount - 1));
        Check(gate.block ? InRange(gate.count, 1, 8192) : gate.count == 1);
    }
    // Plant statements before the time line; after 'end' no read or write.
    for (const qunhost::Step& step : scenario.prelude) {
        Check(!qunhost::IsTimelineOnly(step.kind));
        CheckStep(scenario, step);
    }
    bool ended = false;
    for (const qunhost::Step& step : scenario.timeline) {
        CheckStep(scenario, step);
        if (ended)
            Check(step.kind != qunhost::StepKind::Read && step.kind != qunhost::StepKind::Write &&
                  step.kind != qunhost::StepKind::End);
        ended = ended || step.kind == qunhost::StepKind::End;
    }
    return 0;
}
