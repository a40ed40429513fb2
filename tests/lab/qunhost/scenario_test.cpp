// The scenario parser: what a good file yields, and the message and line of
// each kind of mistake.
#include "lab/qunhost/scenario.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lab/qunhost/options.h"

namespace qunhost {
namespace {

Scenario MustParse(const std::string& text) {
    Scenario scenario;
    ParseError error;
    EXPECT_TRUE(ParseScenario(text, "t.scn", &scenario, &error))
        << FormatParseError("t.scn", error);
    return scenario;
}

std::string ErrorOf(const std::string& text) {
    Scenario scenario;
    ParseError error;
    if (ParseScenario(text, "t.scn", &scenario, &error)) return "(accepted)";
    return FormatParseError("t.scn", error);
}

TEST(ScenarioParser, ReadsSettingsGatesPreludeAndTimeline) {
    const Scenario s = MustParse(
        "# a comment\r\n"
        "instance 12\n"
        "open no\n"
        "timeout 250ms   # in 10 ms units for the driver\n"
        "station backup\n"
        "mode passive\n"
        "signal 0 1 word 0 ramp 0 1000 10s 5\n"
        "block  Levels \"0_1_W_0_S200\" s16 8\n"
        "single Alarm 0_1_PB_0 digital\n"
        "single Raw 0_1_W_1 2\n"
        "\n"
        "read every 250ms for 1s\n"
        "set 0 1 word 4 -1 65535\n"
        "write Levels 1 2 3 4 5 6 7 -8\n"
        "backup active\n"
        "note two  words\n"
        "shutdown\n"
        "end\n");
    EXPECT_EQ(12u, s.instance);
    EXPECT_EQ(0, s.openFlag);
    EXPECT_EQ(25, s.timeout);
    EXPECT_TRUE(s.backupStation);
    EXPECT_EQ(1, s.initialMode);
    ASSERT_EQ(3u, s.gates.size());
    EXPECT_TRUE(s.gates[0].block);
    EXPECT_EQ("0_1_W_0_S200", s.gates[0].address);
    EXPECT_EQ(kTypeS16, s.gates[0].gateType);
    EXPECT_EQ(8, s.gates[0].count);
    EXPECT_EQ(8, s.gates[0].line);
    EXPECT_EQ(kTypeDigital, s.gates[1].gateType);
    EXPECT_EQ(1, s.gates[1].count);
    EXPECT_EQ(kTypeS16, s.gates[2].gateType);  // a code stands for its type
    ASSERT_EQ(1u, s.prelude.size());
    EXPECT_EQ(StepKind::Signal, s.prelude[0].kind);
    EXPECT_EQ(APC_WAVE_RAMP, s.prelude[0].wave);
    EXPECT_DOUBLE_EQ(10.0, s.prelude[0].periodS);
    EXPECT_EQ(5u, s.prelude[0].seed);
    // Plant statements after the first step belong to the time line.
    ASSERT_EQ(7u, s.timeline.size());
    EXPECT_EQ(StepKind::Read, s.timeline[0].kind);
    EXPECT_EQ(250, s.timeline[0].ms);
    EXPECT_EQ(1000, s.timeline[0].totalMs);
    EXPECT_EQ(StepKind::Set, s.timeline[1].kind);
    EXPECT_EQ((std::vector<double>{-1, 65535}), s.timeline[1].numbers);
    EXPECT_EQ(StepKind::Write, s.timeline[2].kind);
    EXPECT_EQ(8u, s.timeline[2].values.size());
    EXPECT_EQ("write Levels 1 2 3 4 5 6 7 -8", s.timeline[2].statement);
    EXPECT_EQ(0, s.timeline[3].mode);
    EXPECT_EQ("two words", s.timeline[4].text);
    EXPECT_EQ(StepKind::End, s.timeline[6].kind);
}

TEST(ScenarioParser, DefaultsWithoutSettings) {
    const Scenario s = MustParse("\xEF\xBB\xBFsingle A 0_1_W_0 u16");  // a byte order mark first
    ASSERT_EQ(1u, s.gates.size());
    EXPECT_EQ(1u, s.instance);
    EXPECT_EQ(1, s.openFlag);
    EXPECT_EQ(50, s.timeout);
    EXPECT_FALSE(s.backupStation);
    EXPECT_EQ(0, s.initialMode);
    EXPECT_TRUE(s.timeline.empty());
    EXPECT_EQ("qunDOZ01.INT", InitFileName(1));
    EXPECT_EQ("qunDOZ12.INT", InitFileName(12));
}

TEST(ScenarioParser, ReportsEachMistakeWithItsLine) {
    struct Case {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"single A 0_1_W_0 int17\n",
         "t.scn:1: unknown gate type 'int17' (u16, s8, s16, float, u32, s32, digital, or a code "
         "0 to 6)"},
        {"single A 0_1_W_0 7\n",
         "t.scn:1: unknown gate type '7' (u16, s8, s16, float, u32, s32, "
         "digital, or a code 0 to 6)"},
        {"\n\nfrobnicate 3\n", "t.scn:3: unknown statement 'frobnicate'"},
        {"single A 0_1_W_0\n", "t.scn:1: too few words; write: single NAME ADDRESS TYPE"},
        {"block B 0_1_W_0_S200 u16\n",
         "t.scn:1: too few words; write: block NAME ADDRESS TYPE COUNT"},
        {"block B 0_1_W_0_S200 u16 0\n", "t.scn:1: element count 0 is out of range (1 to 8192)"},
        {"block B 0_1_W_0_S200 u16 ten\n", "t.scn:1: element count 'ten' is not a whole number"},
        {"single A 0_1_W_0 u16\nsingle A 0_1_W_1 u16\n",
         "t.scn:2: gate 'A' is declared twice (first at line 1)"},
        {"timeout 15ms\n", "t.scn:1: timeout 15ms is not a multiple of 10ms"},
        {"timeout 100\n",
         "t.scn:1: timeout '100' is not a duration (write it with its unit, as 500ms or 2s)"},
        {"station spare\n", "t.scn:1: station 'spare' is neither master nor backup"},
        {"wait 1s\nsingle A 0_1_W_0 u16\n",
         "t.scn:2: 'single' belongs to the set-up and must come before the time line, which "
         "starts at line 1"},
        {"read every 0ms for 1s\n", "t.scn:1: the period must be longer than 0"},
        {"read every 2s for 1s\n", "t.scn:1: the duration 1s is shorter than the period 2s"},
        {"read each 1s for 2s\n", "t.scn:1: write: read every DURATION for DURATION, or read once"},
        {"write Nobody 1\n", "t.scn:1: write to an undeclared gate 'Nobody'"},
        {"block B 0_1_W_0_S200 u16 2\nwrite B 1\n",
         "t.scn:2: gate 'B' has 2 elements, the write gives 1"},
        {"single F 0_1_FW_0 float\nwrite F warm\n", "t.scn:2: value 'warm' is not a number"},
        {"single W 0_1_W_0 u16\nwrite W 1.5\n", "t.scn:2: value '1.5' is not a whole number"},
        {"single W 0_1_W_0 u16\nwrite W 70000\n",
         "t.scn:2: value 70000 is out of range for a u16 gate (0 to 65535)"},
        {"single D 0_1_PB_0 digital\nwrite D 2\n",
         "t.scn:2: value 2 is out of range for a digital gate (0 to 1)"},
        {"block B 0_1_W_0_S200 u16 1\nwrite B 0x\n", "t.scn:2: value '0x' is not a whole number"},
        {"signal 0 1 word 0 zigzag 0 1 1s\n",
         "t.scn:1: unknown wave 'zigzag' (counter, ramp, square, sine, random)"},
        {"signal 32 1 word 0 ramp 0 1 1s\n", "t.scn:1: channel 32 is out of range (0 to 31)"},
        {"signal 0 1 word 0 ramp 5 1 1s\n", "t.scn:1: low 5 is above high 1"},
        {"set 0 1 words 0 1\n",
         "t.scn:1: unknown memory area 'words' (bit, ibit, qbit, word, iword, qword, dword, "
         "float, timer, counter, quickbit)"},
        {"set 0 1 bit 0 2\n", "t.scn:1: value 2 for a bit area: write 0 or 1"},
        {"set 0 1 word 0 70000\n", "t.scn:1: value 70000 does not fit a word (-32768 to 65535)"},
        {"dbset 9 words 0 1\n", "t.scn:1: card 9 is out of range (1 to 8)"},
        {"dbset 1 words 31999 1 2\n",
         "t.scn:1: the values run past the end of the database (address 31999)"},
        {"fail readwords 2\n", "t.scn:1: unknown card routine 'readwords'"},
        {"fail readword 40000\n", "t.scn:1: status 40000 is out of range (-32768 to 32767)"},
        {"failrate 0.5 1\n",
         "t.scn:1: give the statuses the failing calls answer: failrate RATE SEED STATUS..."},
        {"failrate 1.5 1 2\n", "t.scn:1: rate 1.5 is not between 0 and 1"},
        {"single A \"0_1_W_0 u16\n", "t.scn:1: a quotation mark is not closed"},
        {"end\nend\n", "t.scn:2: the driver is ended twice"},
        {"single A 0_1_W_0 u16\nend\nread once\n",
         "t.scn:3: 'read' after 'end': the driver has been ended"},
        {"shutdown now\n", "t.scn:1: too many words; write: shutdown"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.message, ErrorOf(c.text)) << c.text;
    EXPECT_EQ("t.scn:2: the line holds a zero byte: this is not a scenario file",
              ErrorOf(std::string("single A 0_1_W_0 u16\n\x00\n", 23)));
}

TEST(ScenarioParser, WordsDurationsAndNumbers) {
    std::vector<std::string> words;
    ASSERT_TRUE(SplitWords("  a\t\"b # c\"  d#comment", &words));
    EXPECT_EQ((std::vector<std::string>{"a", "b # c", "d"}), words);
    ASSERT_TRUE(SplitWords("\"\" x", &words));
    EXPECT_EQ((std::vector<std::string>{"", "x"}), words);

    struct Duration {
        const char* text;
        bool ok;
        int64_t ms;
    };
    const Duration durations[] = {
        {"500ms", true, 500},  {"2s", true, 2000},    {"1.5s", true, 1500}, {"0ms", true, 0},
        {"1min", true, 60000}, {"0.0005s", false, 0}, {"5", false, 0},      {"s", false, 0},
        {"-1s", false, 0},     {"1.2.3s", false, 0},  {"2h", false, 0},     {"1e3ms", false, 0},
    };
    for (const Duration& d : durations) {
        int64_t ms = -1;
        EXPECT_EQ(d.ok, ParseDuration(d.text, &ms)) << d.text;
        if (d.ok) {
            EXPECT_EQ(d.ms, ms) << d.text;
        }
    }
    EXPECT_EQ("250ms", FormatDuration(250));
    EXPECT_EQ("2s", FormatDuration(2000));
    EXPECT_EQ("1.5s", FormatDuration(1500));

    struct Integer {
        const char* text;
        bool ok;
        int64_t value;
    };
    const Integer integers[] = {
        {"0", true, 0},
        {"-12", true, -12},
        {"+7", true, 7},
        {"0x1F", true, 31},
        {"0XfF", true, 255},
        {"0x", false, 0},
        {"1.0", false, 0},
        {"", false, 0},
        {"12a", false, 0},
        {"-", false, 0},
        {"4294967295", true, 4294967295LL},
    };
    for (const Integer& i : integers) {
        int64_t value = -99;
        EXPECT_EQ(i.ok, ParseInteger(i.text, &value)) << i.text;
        if (i.ok) {
            EXPECT_EQ(i.value, value) << i.text;
        }
    }
    double v = 0;
    EXPECT_TRUE(ParseNumber("-1.25e2", &v));
    EXPECT_DOUBLE_EQ(-125.0, v);
    EXPECT_FALSE(ParseNumber("inf", &v));
    EXPECT_FALSE(ParseNumber("nan", &v));
    EXPECT_FALSE(ParseNumber("0x1p3", &v));
}

TEST(CommandLine, OptionsAndMistakes) {
    Options o;
    std::string error;
    ASSERT_TRUE(ParseOptions({"--check", "-v", "--table-every=500ms", "--driver", "d.dll", "p.scn"},
                             &o, &error));
    EXPECT_TRUE(o.check);
    EXPECT_EQ(0, o.logLevel);
    EXPECT_EQ(500, o.tableEveryMs);
    EXPECT_EQ("d.dll", o.driverPath);
    EXPECT_EQ("p.scn", o.scenario);
    ASSERT_TRUE(ParseOptions({"--info"}, &o, &error));
    EXPECT_TRUE(o.scenario.empty());
    // Rotated files of a recording follow the first one.
    ASSERT_TRUE(ParseOptions({"--trace", "t.qtr.1", "t.qtr", "--report=r.html", "--channel", "0"},
                             &o, &error))
        << error;
    EXPECT_EQ((std::vector<std::string>{"t.qtr.1", "t.qtr"}), o.traceFiles);
    EXPECT_EQ("r.html", o.reportFile);
    EXPECT_EQ(0, o.traceFilter.channel);

    struct Case {
        std::vector<std::string> arguments;
        const char* message;
    };
    const Case cases[] = {
        {{}, "no scenario file given (see --help)"},
        {{"--check"}, "no scenario file given (see --help)"},
        {{"--bogus", "p.scn"}, "unknown option --bogus (see --help)"},
        {{"a.scn", "b.scn"}, "one scenario at a time: a.scn and b.scn"},
        {{"--log-level"},
         "--log-level needs a level (8 shows traces, 32 only errors and notable events)"},
        {{"--log-level", "x", "p.scn"}, "--log-level x is not a level from 0 to 1000"},
        {{"--table-every", "2", "p.scn"}, "--table-every 2 is not a duration (as 500ms or 2s)"},
        {{"--plain=yes", "p.scn"}, "--plain takes no value"},
        {{"--report", "r.html"},
         "--report needs the traces to report on: --trace FILE [FILE...] --report r.html"},
        {{"--trace", "t.qtr", "--report"}, "--report needs the report's file name, as report.html"},
        {{"--browse", "p.scn"},
         "--browse opens the dialog only; run the scenario p.scn without it"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(ParseOptions(c.arguments, &o, &error));
        EXPECT_EQ(c.message, error);
    }
}

}  // namespace
}  // namespace qunhost
