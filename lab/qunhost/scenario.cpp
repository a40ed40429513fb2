#include "lab/qunhost/scenario.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "lab/qunhost/values.h"
#include "recorder/trace/card_routines.h"

namespace qunhost {

namespace {

// The scenario's words for the areas of ApcArea and the waves of ApcWave,
// in their order.
const char* const kAreaNames[] = {"bit",   "ibit",  "qbit",  "word",    "iword",   "qword",
                                  "dword", "float", "timer", "counter", "quickbit"};
static_assert(sizeof kAreaNames / sizeof kAreaNames[0] == APC_AREA_COUNT, "a word for each area");

const char* const kWaveNames[] = {"counter", "ramp", "square", "sine", "random"};
constexpr int32_t kWaveCount = sizeof kWaveNames / sizeof kWaveNames[0];
static_assert(kWaveCount == APC_WAVE_RANDOM + 1, "a word for each wave");

// A card routine's name, as a "fail" or "delay" line names it.
bool IsRoutineName(const std::string& word) { return qtrace::RoutineByName(word.c_str()) >= 0; }

std::string Quote(const std::string& word) { return "'" + word + "'"; }

// Reads one line's statement into the scenario. Each parse function returns
// false with the message set.
class LineParser {
public:
    LineParser(Scenario* scenario, int line, const std::vector<std::string>& words)
        : scenario_(scenario), line_(line), words_(words) {}

    bool Parse(bool* timelineStarted, int* timelineLine, std::string* message);

private:
    bool Fail(const std::string& message) {
        message_ = message;
        return false;
    }
    // The statement's keyword followed by exactly n words.
    bool Arity(size_t n, const char* usage) {
        if (words_.size() == n + 1) return true;
        return Fail(std::string(words_.size() <= n ? "too few" : "too many") +
                    " words; write: " + usage);
    }
    bool AtLeast(size_t n, const char* usage) {
        if (words_.size() >= n + 1) return true;
        return Fail(std::string("too few words; write: ") + usage);
    }
    bool Integer(size_t index, int64_t low, int64_t high, const char* what, int64_t* value) {
        if (!ParseInteger(words_[index], value))
            return Fail(std::string(what) + " " + Quote(words_[index]) + " is not a whole number");
        if (*value < low || *value > high)
            return Fail(std::string(what) + " " + words_[index] + " is out of range (" +
                        std::to_string(low) + " to " + std::to_string(high) + ")");
        return true;
    }
    bool Int32(size_t index, int64_t low, int64_t high, const char* what, int32_t* value) {
        int64_t v = 0;
        if (!Integer(index, low, high, what, &v)) return false;
        *value = static_cast<int32_t>(v);
        return true;
    }
    bool Number(size_t index, const char* what, double* value) {
        if (ParseNumber(words_[index], value)) return true;
        return Fail(std::string(what) + " " + Quote(words_[index]) + " is not a number");
    }
    bool Duration(size_t index, const char* what, int64_t* ms) {
        if (ParseDuration(words_[index], ms)) return true;
        return Fail(std::string(what) + " " + Quote(words_[index]) +
                    " is not a duration (write it with its unit, as 500ms or 2s)");
    }
    bool Area(size_t index, int32_t* area) {
        if (ParsePlantArea(words_[index], area)) return true;
        std::string list;
        for (int i = 0; i < APC_AREA_COUNT; ++i) list += std::string(i ? ", " : "") + kAreaNames[i];
        return Fail("unknown memory area " + Quote(words_[index]) + " (" + list + ")");
    }
    bool Statuses(size_t from, std::vector<int32_t>* statuses) {
        for (size_t i = from; i < words_.size(); ++i) {
            int32_t status = 0;
            if (!Int32(i, -32768, 32767, "status", &status)) return false;
            statuses->push_back(status);
        }
        return true;
    }
    bool Numbers(size_t from, std::vector<double>* numbers) {
        for (size_t i = from; i < words_.size(); ++i) {
            double v = 0;
            if (!Number(i, "value", &v)) return false;
            numbers->push_back(v);
        }
        return true;
    }

    bool Declaration(const std::string& keyword);
    bool Gate(bool block);
    bool PlantStatement(const std::string& keyword, Step* step);
    bool TimelineStatement(const std::string& keyword, Step* step);

    Scenario* scenario_;
    int line_;
    const std::vector<std::string>& words_;
    std::string message_;
};

bool LineParser::Parse(bool* timelineStarted, int* timelineLine, std::string* message) {
    const std::string& keyword = words_[0];
    bool ok = false;
    if (keyword == "instance" || keyword == "open" || keyword == "timeout" ||
        keyword == "station" || keyword == "mode" || keyword == "single" || keyword == "block") {
        if (*timelineStarted) {
            ok = Fail(Quote(keyword) +
                      " belongs to the set-up and must come before the time line, which starts "
                      "at line " +
                      std::to_string(*timelineLine));
        } else {
            ok = Declaration(keyword);
        }
    } else {
        Step step;
        step.line = line_;
        for (size_t i = 0; i < words_.size(); ++i) step.statement += (i ? " " : "") + words_[i];
        if (PlantStatement(keyword, &step)) {
            (*timelineStarted ? scenario_->timeline : scenario_->prelude).push_back(step);
            ok = true;
        } else if (message_.empty() && TimelineStatement(keyword, &step)) {
            if (!*timelineStarted) {
                *timelineStarted = true;
                *timelineLine = line_;
            }
            scenario_->timeline.push_back(step);
            ok = true;
        } else if (message_.empty()) {
            ok = Fail("unknown statement " + Quote(keyword));
        }
    }
    if (!ok) *message = message_;
    return ok;
}

bool LineParser::Declaration(const std::string& keyword) {
    if (keyword == "instance") {
        if (!Arity(1, "instance NUMBER")) return false;
        int64_t v = 0;
        if (!Integer(1, 0, 4294967295LL, "instance", &v)) return false;
        scenario_->instance = static_cast<uint32_t>(v);
        return true;
    }
    if (keyword == "open") {
        if (!Arity(1, "open yes|no|FLAG")) return false;
        if (words_[1] == "yes") {
            scenario_->openFlag = 1;
        } else if (words_[1] == "no") {
            scenario_->openFlag = 0;
        } else {
            int32_t flag = 0;
            if (!Int32(1, INT32_MIN, INT32_MAX, "open flag", &flag)) return false;
            scenario_->openFlag = flag;
        }
        return true;
    }
    if (keyword == "timeout") {
        if (!Arity(1, "timeout DURATION (a multiple of 10ms)")) return false;
        int64_t ms = 0;
        if (!Duration(1, "timeout", &ms)) return false;
        if (ms % 10 != 0) return Fail("timeout " + words_[1] + " is not a multiple of 10ms");
        if (ms / 10 > INT32_MAX) return Fail("timeout " + words_[1] + " is too long");
        scenario_->timeout = static_cast<int32_t>(ms / 10);
        return true;
    }
    if (keyword == "station") {
        if (!Arity(1, "station master|backup")) return false;
        if (words_[1] != "master" && words_[1] != "backup")
            return Fail("station " + Quote(words_[1]) + " is neither master nor backup");
        scenario_->backupStation = words_[1] == "backup";
        return true;
    }
    if (keyword == "mode") {
        if (!Arity(1, "mode active|passive")) return false;
        if (words_[1] != "active" && words_[1] != "passive")
            return Fail("mode " + Quote(words_[1]) + " is neither active nor passive");
        scenario_->initialMode = words_[1] == "passive" ? 1 : 0;
        return true;
    }
    return Gate(keyword == "block");
}

bool LineParser::Gate(bool block) {
    if (block) {
        if (!Arity(4, "block NAME ADDRESS TYPE COUNT")) return false;
    } else {
        if (!Arity(3, "single NAME ADDRESS TYPE")) return false;
    }
    GateSpec gate;
    gate.name = words_[1];
    gate.block = block;
    gate.address = words_[2];
    gate.line = line_;
    if (scenario_->FindGate(gate.name) >= 0)
        return Fail("gate " + Quote(gate.name) + " is declared twice (first at line " +
                    std::to_string(scenario_->gates[scenario_->FindGate(gate.name)].line) + ")");
    if (!ParseGateTypeWord(words_[3], &gate.gateType))
        return Fail("unknown gate type " + Quote(words_[3]) +
                    " (u16, s8, s16, float, u32, s32, digital, or a code 0 to 6)");
    if (block) {
        // The driver moves at most 1024 bytes per transfer; the count itself is
        // the driver's to judge, so only what no gate can have is refused here.
        int32_t count = 0;
        if (!Int32(4, 1, 8192, "element count", &count)) return false;
        gate.count = count;
    }
    scenario_->gates.push_back(gate);
    return true;
}

bool LineParser::PlantStatement(const std::string& keyword, Step* step) {
    if (keyword == "signal") {
        step->kind = StepKind::Signal;
        const char* usage = "signal CHANNEL EQUIPMENT AREA ADDRESS WAVE LOW HIGH PERIOD [SEED]";
        if (words_.size() != 9 && words_.size() != 10) return Arity(8, usage);
        if (!Int32(1, 0, 31, "channel", &step->channel)) return false;
        if (!Int32(2, 0, 255, "equipment", &step->equipment)) return false;
        if (!Area(3, &step->area)) return false;
        if (!Int32(4, 0, INT32_MAX, "address", &step->address)) return false;
        if (!ParsePlantWave(words_[5], &step->wave))
            return Fail("unknown wave " + Quote(words_[5]) +
                        " (counter, ramp, square, sine, random)");
        if (!Number(6, "low", &step->low) || !Number(7, "high", &step->high)) return false;
        if (step->low > step->high) return Fail("low " + words_[6] + " is above high " + words_[7]);
        int64_t periodMs = 0;
        if (!Duration(8, "period", &periodMs)) return false;
        if (periodMs <= 0) return Fail("the period must be longer than 0");
        step->periodS = static_cast<double>(periodMs) / 1000.0;
        if (words_.size() == 10) {
            int64_t seed = 0;
            if (!Integer(9, 0, 4294967295LL, "seed", &seed)) return false;
            step->seed = static_cast<uint32_t>(seed);
        }
        return true;
    }
    if (keyword == "set") {
        step->kind = StepKind::Set;
        if (!AtLeast(5, "set CHANNEL EQUIPMENT AREA ADDRESS VALUE...")) return false;
        if (!Int32(1, 0, 31, "channel", &step->channel)) return false;
        if (!Int32(2, 0, 255, "equipment", &step->equipment)) return false;
        if (!Area(3, &step->area)) return false;
        if (!Int32(4, 0, INT32_MAX, "address", &step->address)) return false;
        if (!Numbers(5, &step->numbers)) return false;
        for (double v : step->numbers) {
            std::string message;
            if (!CheckAreaValue(step->area, v, &message)) return Fail(message);
        }
        return true;
    }
    if (keyword == "dbset") {
        step->kind = StepKind::DbSet;
        if (!AtLeast(4, "dbset CARD bits|words ADDRESS VALUE...")) return false;
        if (!Int32(1, 1, 8, "card", &step->channel)) return false;
        if (words_[2] == "bits") {
            step->area = APC_AREA_BIT;
        } else if (words_[2] == "words") {
            step->area = APC_AREA_WORD;
        } else {
            return Fail("database area " + Quote(words_[2]) + " is neither bits nor words");
        }
        if (!Int32(3, 0, 31999, "database address", &step->address)) return false;
        if (!Numbers(4, &step->numbers)) return false;
        if (step->address + static_cast<int64_t>(step->numbers.size()) > 32000)
            return Fail("the values run past the end of the database (address 31999)");
        for (double v : step->numbers) {
            std::string message;
            if (!CheckAreaValue(step->area, v, &message)) return Fail(message);
        }
        return true;
    }
    if (keyword == "clear-signals") {
        step->kind = StepKind::ClearSignals;
        return Arity(0, "clear-signals");
    }
    if (keyword == "cards") {
        step->kind = StepKind::Cards;
        if (!AtLeast(1, "cards all|none|CARD...")) return false;
        if (words_.size() == 2 && words_[1] == "all") {
            step->mask = 0xFF;
            return true;
        }
        if (words_.size() == 2 && words_[1] == "none") {
            step->mask = 0;
            return true;
        }
        for (size_t i = 1; i < words_.size(); ++i) {
            int32_t card = 0;
            if (!Int32(i, 1, 8, "card", &card)) return false;
            step->mask |= 1u << (card - 1);
        }
        return true;
    }
    if (keyword == "fail") {
        step->kind = StepKind::Fail;
        if (!AtLeast(2, "fail ROUTINE STATUS...")) return false;
        if (!IsRoutineName(words_[1])) return Fail("unknown card routine " + Quote(words_[1]));
        step->text = words_[1];
        return Statuses(2, &step->statuses);
    }
    if (keyword == "failrate") {
        step->kind = StepKind::FailRate;
        if (!AtLeast(2, "failrate RATE SEED STATUS...")) return false;
        if (!Number(1, "rate", &step->rate)) return false;
        if (step->rate < 0 || step->rate > 1)
            return Fail("rate " + words_[1] + " is not between 0 and 1");
        if (step->rate > 0 && words_.size() < 4)
            return Fail("give the statuses the failing calls answer: failrate RATE SEED STATUS...");
        int64_t seed = 0;
        if (!Integer(2, 0, 4294967295LL, "seed", &seed)) return false;
        step->seed = static_cast<uint32_t>(seed);
        return Statuses(3, &step->statuses);
    }
    if (keyword == "delay") {
        step->kind = StepKind::Delay;
        if (!Arity(2, "delay ROUTINE|all DURATION")) return false;
        if (words_[1] != "all" && !IsRoutineName(words_[1]))
            return Fail("unknown card routine " + Quote(words_[1]));
        step->text = words_[1] == "all" ? "" : words_[1];
        int64_t ms = 0;
        if (!Duration(2, "delay", &ms)) return false;
        if (ms > 60000) return Fail("delay " + words_[2] + " is longer than a minute");
        step->microseconds = static_cast<int32_t>(ms * 1000);
        return true;
    }
    if (keyword == "reset-card") {
        step->kind = StepKind::ResetCard;
        return Arity(0, "reset-card");
    }
    return false;
}

bool LineParser::TimelineStatement(const std::string& keyword, Step* step) {
    if (keyword == "wait") {
        step->kind = StepKind::Wait;
        if (!Arity(1, "wait DURATION")) return false;
        return Duration(1, "wait", &step->ms);
    }
    if (keyword == "read") {
        step->kind = StepKind::Read;
        if (words_.size() == 2 && words_[1] == "once") return true;
        const char* usage = "read every DURATION for DURATION, or read once";
        if (!Arity(4, usage)) return false;
        if (words_[1] != "every" || words_[3] != "for") return Fail(std::string("write: ") + usage);
        if (!Duration(2, "period", &step->ms) || !Duration(4, "duration", &step->totalMs))
            return false;
        if (step->ms <= 0) return Fail("the period must be longer than 0");
        if (step->totalMs < step->ms)
            return Fail("the duration " + words_[4] + " is shorter than the period " + words_[2]);
        return true;
    }
    if (keyword == "write") {
        step->kind = StepKind::Write;
        if (!AtLeast(2, "write GATE VALUE...")) return false;
        step->gate = words_[1];
        const int index = scenario_->FindGate(step->gate);
        if (index < 0) return Fail("write to an undeclared gate " + Quote(step->gate));
        const GateSpec& gate = scenario_->gates[index];
        step->values.assign(words_.begin() + 2, words_.end());
        if (static_cast<int32_t>(step->values.size()) != gate.count)
            return Fail("gate " + Quote(gate.name) + " has " + std::to_string(gate.count) +
                        (gate.count == 1 ? " element" : " elements") + ", the write gives " +
                        std::to_string(step->values.size()));
        // A single gate's value must fit its type; a block's element size is
        // known only once the driver has parsed the address.
        if (!gate.block) {
            uint8_t buffer[kSingleValueBytes];
            std::string message;
            if (!EncodeSingleValue(step->values[0], gate.gateType, buffer, &message))
                return Fail(message);
            return true;
        }
        for (const std::string& value : step->values) {
            double number = 0;
            int64_t whole = 0;
            if (gate.gateType == kTypeFloat) {
                if (!ParseNumber(value, &number))
                    return Fail("value " + Quote(value) + " is not a number");
            } else if (!ParseInteger(value, &whole)) {
                return Fail("value " + Quote(value) + " is not a whole number");
            }
        }
        return true;
    }
    if (keyword == "backup") {
        step->kind = StepKind::Backup;
        if (!Arity(1, "backup passive|active")) return false;
        if (words_[1] != "active" && words_[1] != "passive")
            return Fail("backup " + Quote(words_[1]) + " is neither active nor passive");
        step->mode = words_[1] == "passive" ? 1 : 0;
        return true;
    }
    if (keyword == "shutdown") {
        step->kind = StepKind::Shutdown;
        return Arity(0, "shutdown");
    }
    if (keyword == "end") {
        step->kind = StepKind::End;
        return Arity(0, "end");
    }
    if (keyword == "note") {
        step->kind = StepKind::Note;
        for (size_t i = 1; i < words_.size(); ++i) step->text += (i > 1 ? " " : "") + words_[i];
        return true;
    }
    return false;
}

}  // namespace

bool ParseGateTypeWord(const std::string& word, int32_t* code) {
    for (int32_t i = 0; i < kGateTypeCount; ++i) {
        if (word == GateTypeName(i) || word == std::to_string(i)) {
            *code = i;
            return true;
        }
    }
    return false;
}

const char* PlantAreaName(int32_t area) {
    return area >= 0 && area < APC_AREA_COUNT ? kAreaNames[area] : "?";
}

bool ParsePlantArea(const std::string& word, int32_t* area) {
    for (int32_t i = 0; i < APC_AREA_COUNT; ++i) {
        if (word == kAreaNames[i]) {
            *area = i;
            return true;
        }
    }
    return false;
}

const char* PlantWaveName(int32_t wave) {
    return wave >= 0 && wave < kWaveCount ? kWaveNames[wave] : "?";
}

bool ParsePlantWave(const std::string& word, int32_t* wave) {
    for (int32_t i = 0; i < kWaveCount; ++i) {
        if (word == kWaveNames[i]) {
            *wave = i;
            return true;
        }
    }
    return false;
}

bool IsTimelineOnly(StepKind kind) {
    switch (kind) {
        case StepKind::Wait:
        case StepKind::Read:
        case StepKind::Write:
        case StepKind::Backup:
        case StepKind::Shutdown:
        case StepKind::End:
        case StepKind::Note:
            return true;
        default:
            return false;
    }
}

const char* StepKeyword(StepKind kind) {
    switch (kind) {
        case StepKind::Wait:
            return "wait";
        case StepKind::Read:
            return "read";
        case StepKind::Write:
            return "write";
        case StepKind::Backup:
            return "backup";
        case StepKind::Shutdown:
            return "shutdown";
        case StepKind::End:
            return "end";
        case StepKind::Note:
            return "note";
        case StepKind::Signal:
            return "signal";
        case StepKind::Set:
            return "set";
        case StepKind::DbSet:
            return "dbset";
        case StepKind::ClearSignals:
            return "clear-signals";
        case StepKind::Cards:
            return "cards";
        case StepKind::Fail:
            return "fail";
        case StepKind::FailRate:
            return "failrate";
        case StepKind::Delay:
            return "delay";
        case StepKind::ResetCard:
            return "reset-card";
    }
    return "?";
}

int Scenario::FindGate(const std::string& name) const {
    for (size_t i = 0; i < gates.size(); ++i)
        if (gates[i].name == name) return static_cast<int>(i);
    return -1;
}

std::string InitFileName(uint32_t instance) {
    char name[32];
    std::snprintf(name, sizeof name, "qunDOZ%02u.INT", static_cast<unsigned>(instance));
    return name;
}

bool ParseScenario(const std::string& text, const std::string& path, Scenario* scenario,
                   ParseError* error) {
    *scenario = Scenario{};
    scenario->path = path;
    bool timelineStarted = false;
    int timelineLine = 0;
    int lineNumber = 0;
    // Editors on Windows like to begin UTF-8 files with a byte order mark.
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\0') != std::string::npos) {
            *error = {lineNumber, "the line holds a zero byte: this is not a scenario file"};
            return false;
        }
        std::vector<std::string> words;
        if (!SplitWords(line, &words)) {
            *error = {lineNumber, "a quotation mark is not closed"};
            return false;
        }
        if (words.empty()) continue;
        LineParser parser(scenario, lineNumber, words);
        std::string message;
        if (!parser.Parse(&timelineStarted, &timelineLine, &message)) {
            *error = {lineNumber, message};
            return false;
        }
    }
    // A read or write after the driver was ended would reopen the card behind
    // the host's back: refuse such a time line.
    bool ended = false;
    for (const Step& step : scenario->timeline) {
        if (step.kind == StepKind::End) {
            if (ended) {
                *error = {step.line, "the driver is ended twice"};
                return false;
            }
            ended = true;
        } else if (ended && (step.kind == StepKind::Read || step.kind == StepKind::Write)) {
            *error = {step.line, std::string("'") + StepKeyword(step.kind) +
                                     "' after 'end': the driver has been ended"};
            return false;
        }
    }
    return true;
}

std::string FormatParseError(const std::string& path, const ParseError& error) {
    if (error.line == 0) return path + ": " + error.message;
    return path + ":" + std::to_string(error.line) + ": " + error.message;
}

bool ParseDuration(const std::string& text, int64_t* ms) {
    size_t unit = 0;
    while (unit < text.size() &&
           (std::isdigit(static_cast<unsigned char>(text[unit])) || text[unit] == '.'))
        ++unit;
    if (unit == 0 || unit == text.size()) return false;
    const std::string number = text.substr(0, unit);
    const std::string suffix = text.substr(unit);
    if (number.find('.') != number.rfind('.') || number == ".") return false;
    const double value = std::strtod(number.c_str(), nullptr);
    double scaled = 0;
    if (suffix == "ms") {
        scaled = value;
    } else if (suffix == "s") {
        scaled = value * 1000.0;
    } else if (suffix == "min") {
        scaled = value * 60000.0;
    } else {
        return false;
    }
    if (scaled > 7 * 24 * 3600e3) return false;  // longer than a week is a typing error
    const double rounded = std::floor(scaled + 0.5);
    if (std::fabs(rounded - scaled) > 1e-6) return false;  // fractions of a millisecond
    *ms = static_cast<int64_t>(rounded);
    return true;
}

std::string FormatDuration(int64_t ms) {
    if (ms % 1000 == 0) return std::to_string(ms / 1000) + "s";
    if (ms >= 1000 && ms % 100 == 0) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1fs", static_cast<double>(ms) / 1000.0);
        return text;
    }
    return std::to_string(ms) + "ms";
}

bool CheckAreaValue(int32_t area, double value, std::string* message) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", value);
    const std::string written = text;
    switch (area) {
        case APC_AREA_BIT:
        case APC_AREA_INPUT_BIT:
        case APC_AREA_OUTPUT_BIT:
        case APC_AREA_QUICK_BIT:
            if (value == 0 || value == 1) return true;
            *message = "value " + written + " for a bit area: write 0 or 1";
            return false;
        case APC_AREA_FLOAT:
            return true;
        case APC_AREA_DWORD:
            if (value == std::floor(value) && value >= -2147483648.0 && value <= 4294967295.0)
                return true;
            *message =
                "value " + written + " does not fit a double word (-2147483648 to 4294967295)";
            return false;
        default:
            if (value == std::floor(value) && value >= -32768 && value <= 65535) return true;
            *message = "value " + written + " does not fit a word (-32768 to 65535)";
            return false;
    }
}

bool SplitWords(const std::string& line, std::vector<std::string>* words) {
    words->clear();
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t') {
            ++i;
        } else if (c == '#') {
            break;
        } else if (c == '"') {
            const size_t close = line.find('"', i + 1);
            if (close == std::string::npos) return false;
            words->push_back(line.substr(i + 1, close - i - 1));
            i = close + 1;
        } else {
            size_t end = i;
            while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '#' &&
                   line[end] != '"')
                ++end;
            words->push_back(line.substr(i, end - i));
            i = end;
        }
    }
    return true;
}

}  // namespace qunhost
