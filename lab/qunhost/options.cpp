#include "lab/qunhost/options.h"

#include "lab/qunhost/scenario.h"
#include "recorder/trace/card_routines.h"

namespace qunhost {

bool ParseOptions(const std::vector<std::string>& arguments, Options* options, std::string* error) {
    *options = Options{};
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        // Options that take a value accept "--name value" and "--name=value".
        std::string name = a;
        std::string value;
        bool hasValue = false;
        const size_t equals = a.find('=');
        if (a.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = a.substr(0, equals);
            value = a.substr(equals + 1);
            hasValue = true;
        }
        auto takeValue = [&](const char* what) {
            if (hasValue) return true;
            if (i + 1 >= arguments.size()) {
                *error = name + " needs " + what;
                return false;
            }
            value = arguments[++i];
            return true;
        };
        auto noValue = [&]() {
            if (!hasValue) return true;
            *error = name + " takes no value";
            return false;
        };
        if (name == "-h" || name == "--help") {
            options->help = true;
        } else if (name == "--version") {
            if (!noValue()) return false;
            options->version = true;
        } else if (name == "-c" || name == "--check") {
            if (!noValue()) return false;
            options->check = true;
        } else if (name == "-i" || name == "--info") {
            if (!noValue()) return false;
            options->info = true;
        } else if (name == "--browse") {
            if (!noValue()) return false;
            options->browse = true;
        } else if (name == "--plain") {
            if (!noValue()) return false;
            options->plain = true;
        } else if (name == "-v" || name == "--verbose") {
            if (!noValue()) return false;
            options->logLevel = 0;
        } else if (name == "-q" || name == "--quiet") {
            if (!noValue()) return false;
            options->logLevel = 1000;
        } else if (name == "--log-level") {
            if (!takeValue("a level (8 shows traces, 32 only errors and notable events)"))
                return false;
            int64_t level = 0;
            if (!ParseInteger(value, &level) || level < 0 || level > 1000) {
                *error = "--log-level " + value + " is not a level from 0 to 1000";
                return false;
            }
            options->logLevel = static_cast<int32_t>(level);
        } else if (name == "--table-every") {
            if (!takeValue("a duration, as 2s")) return false;
            if (!ParseDuration(value, &options->tableEveryMs)) {
                *error = "--table-every " + value + " is not a duration (as 500ms or 2s)";
                return false;
            }
        } else if (name == "--driver") {
            if (!takeValue("the driver module's path")) return false;
            options->driverPath = value;
        } else if (name == "--log") {
            if (!takeValue("a file name")) return false;
            options->logFile = value;
        } else if (name == "--trace") {
            if (!takeValue("a trace file")) return false;
            options->traceFile = value;
            options->traceFiles.push_back(value);
        } else if (name == "--report") {
            if (!takeValue("the report's file name, as report.html")) return false;
            options->reportFile = value;
        } else if (name == "--replay") {
            if (!takeValue("a trace file")) return false;
            options->replayFile = value;
        } else if (name == "--list") {
            if (!noValue()) return false;
            options->traceList = true;
        } else if (name == "--routine") {
            if (!takeValue("a card routine's name")) return false;
            options->traceFilter.routine = qtrace::RoutineByName(value.c_str());
            if (options->traceFilter.routine < 0) {
                *error = "--routine " + value + " is not a card routine (as readword)";
                return false;
            }
        } else if (name == "--channel" || name == "--equipment" || name == "--status") {
            if (!takeValue("a number")) return false;
            int64_t number = 0;
            if (!ParseInteger(value, &number) || number < -32768 || number > 32767 ||
                (name != "--status" && number < 0)) {
                *error = name + " " + value + " is not a number of that kind";
                return false;
            }
            if (name == "--channel") options->traceFilter.channel = number;
            if (name == "--equipment") options->traceFilter.equipment = number;
            if (name == "--status") {
                options->traceFilter.statusGiven = true;
                options->traceFilter.status = static_cast<int16_t>(number);
            }
        } else if (name == "--from" || name == "--to" || name == "--gap") {
            if (!takeValue("a time, as 1.5s or 200ms")) return false;
            int64_t ms = 0;
            if (!ParseDuration(value, &ms)) {
                *error = name + " " + value + " is not a time (as 1.5s or 200ms)";
                return false;
            }
            const double seconds = static_cast<double>(ms) / 1000;
            if (name == "--from") options->traceFilter.fromSeconds = seconds;
            if (name == "--to") options->traceFilter.toSeconds = seconds;
            if (name == "--gap") options->traceFilter.gapSeconds = seconds;
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            *error = "unknown option " + a + " (see --help)";
            return false;
        } else if (!options->traceFile.empty()) {
            options->traceFiles.push_back(a);  // rotated files of the recording
        } else if (options->scenario.empty()) {
            options->scenario = a;
        } else {
            *error = "one scenario at a time: " + options->scenario + " and " + a;
            return false;
        }
    }
    if (options->help || options->version) return true;
    if (!options->reportFile.empty() && options->traceFile.empty()) {
        *error = "--report needs the traces to report on: --trace FILE [FILE...] --report " +
                 options->reportFile;
        return false;
    }
    if (!options->traceFile.empty()) {
        if (!options->scenario.empty() || !options->replayFile.empty() || options->check ||
            options->browse) {
            *error = "--trace reads a trace and runs nothing: give it alone, with its filters";
            return false;
        }
        return true;
    }
    if (options->scenario.empty() && !options->info && !options->browse) {
        *error = "no scenario file given (see --help)";
        return false;
    }
    if (options->browse && !options->scenario.empty()) {
        *error =
            "--browse opens the dialog only; run the scenario " + options->scenario + " without it";
        return false;
    }
    if (!options->replayFile.empty() && options->scenario.empty()) {
        *error = "--replay needs the scenario that was recorded";
        return false;
    }
    if (options->check && options->scenario.empty()) {
        *error = "--check needs a scenario file";
        return false;
    }
    return true;
}

std::string UsageText() {
    return "usage: qunhost [options] SCENARIO\n"
           "       qunhost --info\n"
           "       qunhost --browse\n"
           "       qunhost --version\n"
           "       qunhost --trace FILE [FILE...] [--list] [--report REPORT.html] [filters]\n"
           "       qunhost --replay FILE [options] SCENARIO\n"
           "\n"
           "Loads MORDALIX.DLL as the Korvex host does and runs a scenario: cold start,\n"
           "the gates, the plant of the simulated card and the time line of steps.\n"
           "\n"
           "options:\n"
           "  -c, --check          cold start and parse the gates only, then report the\n"
           "                       plan: refused gates, card database, cyclic functions,\n"
           "                       registry and station table\n"
           "  -i, --info           print the driver's information record\n"
           "      --browse         open the \"Tag Format\" dialog and print the address\n"
           "  -v, --verbose        show the driver's traces (level 8) too\n"
           "  -q, --quiet          show none of the driver's log\n"
           "      --log-level N    show the driver's log lines from level N up (default 32)\n"
           "      --log FILE       write the whole driver log, every level, to FILE\n"
           "      --plain          plain lines even on a terminal\n"
           "      --table-every D  plain output: print the table of values every D\n"
           "                       (default 2s; 0s: at the end of each read step only)\n"
           "      --driver PATH    the driver module (default: MORDALIX.DLL beside qunhost)\n"
           "      --trace FILE     summarise a card-traffic trace of the tap (runs nothing);\n"
           "                       --list adds every call; filters: --routine NAME,\n"
           "                       --channel N, --equipment N, --status N, --from T,\n"
           "                       --to T (times since the recording's start, as 2.5s);\n"
           "                       --gap T lists the card's pauses longer than T (1s);\n"
           "                       several files (rotated ones) are read one by one\n"
           "      --report REPORT.html  with --trace: the files as one timeline in a page\n"
           "                       of plots that any browser opens offline (calls,\n"
           "                       statuses, durations, every gate's values, the summary)\n"
           "      --replay FILE    run the scenario with the simulated card answering\n"
           "                       from the trace, and report the first call that\n"
           "                       differs from the recording\n"
           "      --version        print the release's version\n"
           "  -h, --help           this text\n"
           "\n"
           "exit status: 0 all went well; 1 the run found problems (refused gates, failed\n"
           "reads or writes, errors); 2 bad input or a driver that cannot be loaded\n";
}

}  // namespace qunhost
