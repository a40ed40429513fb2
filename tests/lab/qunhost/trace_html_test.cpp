// The trace report: the example plant recorded through the recorder shows its
// counts, statuses and decoded values (a written gate shows the written value
// at the written time); drops and a damaged stretch are marked where they
// happened; rotated files read as one timeline; text from a trace cannot
// reach the page's markup; and every page is well formed and references
// nothing outside itself.
#include "lab/qunhost/trace_html.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "recorder/trace/card_routines.h"
#include "recorder/trace/trace_recorder.h"
#include "tests/lab/qunhost/plant_trace.h"
#include "tests/lab/qunhost/platform/child_process.h"

namespace qunhost {
namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Whether the page is well formed: every element closed in order (void
// elements excepted), attributes quoted, no markup character loose in text,
// every character reference complete; script and style bodies are raw text
// up to their end tag.
bool WellFormed(const std::string& page, std::string* why) {
    static const std::vector<std::string> kVoid = {"meta", "link", "br", "hr", "img", "input"};
    std::vector<std::string> open;
    size_t at = 0;
    const auto fail = [&](const std::string& what) {
        *why = what + " at byte " + std::to_string(at) + ": " + page.substr(at, 60);
        return false;
    };
    while (at < page.size()) {
        const char c = page[at];
        if (c == '&') {
            const size_t end = page.find(';', at);
            if (end == std::string::npos || end - at > 10) return fail("a loose &");
            at = end + 1;
        } else if (c == '>') {
            return fail("a loose >");
        } else if (c != '<') {
            ++at;
        } else if (page.compare(at, 4, "<!--") == 0) {
            const size_t end = page.find("-->", at);
            if (end == std::string::npos) return fail("an open comment");
            at = end + 3;
        } else if (page.compare(at, 9, "<!DOCTYPE") == 0) {
            at = page.find('>', at) + 1;
        } else if (page.compare(at, 2, "</") == 0) {
            const size_t end = page.find('>', at);
            const std::string name = Lower(page.substr(at + 2, end - at - 2));
            if (open.empty() || open.back() != name) return fail("</" + name + "> closes nothing");
            open.pop_back();
            at = end + 1;
        } else {
            size_t i = at + 1;
            while (i < page.size() && std::isalnum(static_cast<unsigned char>(page[i]))) ++i;
            const std::string name = Lower(page.substr(at + 1, i - at - 1));
            if (name.empty()) return fail("a loose <");
            for (;;) {  // attributes: name or name="value"
                while (page[i] == ' ' || page[i] == '\n') ++i;
                if (page[i] == '>') break;
                const size_t start = i;
                while (std::isalnum(static_cast<unsigned char>(page[i])) || page[i] == '-') ++i;
                if (i == start) return fail("a broken attribute in <" + name + ">");
                if (page[i] != '=') continue;
                if (page[i + 1] != '"') return fail("an unquoted attribute in <" + name + ">");
                const size_t close = page.find('"', i + 2);
                if (page.substr(i + 2, close - i - 2).find('<') != std::string::npos)
                    return fail("a < in an attribute");
                i = close + 1;
            }
            at = i + 1;
            if (name == "script" || name == "style") {
                const size_t end = Lower(page.substr(at)).find("</" + name + ">");
                if (end == std::string::npos) return fail("an open <" + name + ">");
                at += end + name.size() + 3;
            } else if (std::find(kVoid.begin(), kVoid.end(), name) == kVoid.end()) {
                open.push_back(name);
            }
        }
    }
    if (!open.empty()) return fail("<" + open.back() + "> left open");
    return true;
}

// What a page could fetch or send with: none of it may appear.
void ExpectSelfContained(const std::string& page) {
    std::string why;
    EXPECT_TRUE(WellFormed(page, &why)) << why;
    const std::string lower = Lower(page);
    for (const char* reference :
         {"src=", "href=\"h", "href=\"/", "href=\"f", "url(", "@import", "<link", "<iframe", "<img",
          "<object", "<embed", "fetch(", "xmlhttprequest", "import(", "websocket", "sendbeacon",
          "eventsource", "worker("})
        EXPECT_EQ(std::string::npos, lower.find(reference)) << reference;
    EXPECT_NE(std::string::npos, page.find("content=\"default-src 'none';"))
        << "the page forbids itself any connection";
    EXPECT_NE(std::string::npos, page.find("Permission is hereby granted"))
        << "the charting library's licence";
    EXPECT_NE(std::string::npos, page.find("var uPlot=function()")) << "the library itself";
}

std::string FileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

const GateFigures* Gate(const TraceDigest& digest, bool database, int64_t channel,
                        int64_t equipment, const char* area, int64_t address) {
    GateKey key;
    key.database = database;
    key.channel = channel;
    key.equipment = equipment;
    key.area = qtrace::RoutineByName(area);
    key.address = address;
    const auto found = digest.gates.find(key);
    return found == digest.gates.end() ? nullptr : &found->second;
}

TEST(TraceReport, TheExamplePlantShowsItsCountsStatusesAndDecodedValues) {
    const qunhost_test::PlantRecording& recording = qunhost_test::RecordedExamplePlant();
    ASSERT_EQ(0, recording.run.exitCode) << recording.run.output;
    qtrace::Trace trace;
    std::string error;
    ASSERT_TRUE(qtrace::ReadTrace(recording.trace, &trace, &error)) << error;
    uint64_t calls = 0, failed = 0;
    double setPointWrite = -1;
    for (const qtrace::TraceRecord& record : trace.records) {
        if (record.kind != qtrace::kCallRecord) continue;
        ++calls;
        failed += record.status != 0;
        if (setPointWrite < 0 && record.routine == qtrace::RoutineByName("writeword"))
            setPointWrite = trace.Seconds(record.ticks);
    }

    Timeline timeline;
    TraceDigest digest{TraceFilter()};
    ASSERT_TRUE(DigestTraces({recording.trace}, &timeline, &digest, &error)) << error;
    EXPECT_EQ(calls, digest.calls);
    EXPECT_EQ(failed, digest.failedCalls);
    uint64_t bucketed = 0;
    for (int k = 0; k < kCallKinds; ++k)
        for (const auto* series : {&digest.ok[k], &digest.failed[k]})
            for (uint32_t count : *series) bucketed += count;
    EXPECT_EQ(calls, bucketed) << "every call is in a bucket";
    EXPECT_LE(digest.buckets(), 2000);
    EXPECT_GE(digest.buckets(), 1000);
    EXPECT_EQ(2u, digest.threads.size());
    EXPECT_EQ(3u, digest.pausesTotal) << "the three waits of the scenario";
    EXPECT_EQ(0u, digest.dropsTotal);
    EXPECT_TRUE(timeline.damaged().empty());
    // The block gates' reads while the station was passive, and the end of
    // the clearing on the missing card's first channel.
    ASSERT_EQ(1u, digest.statuses.count(-6));
    EXPECT_EQ(48u, digest.statuses[-6].calls);
    EXPECT_EQ(48u, digest.statuses[-6].routines[qtrace::routine::transcycpack]);
    ASSERT_EQ(1u, digest.statuses.count(46));
    EXPECT_EQ(2u, digest.statuses[46].routines[qtrace::routine::createcyc]);
    EXPECT_EQ(47u, digest.gates.size());

    // The set point: 520 until the operator writes 750, then 750, read by
    // the single gate and by the block gate's cyclic function alike.
    const GateFigures* setPoint = Gate(digest, false, 0, 1, "readword", 5);
    ASSERT_NE(nullptr, setPoint);
    EXPECT_EQ(520, setPoint->low);
    EXPECT_EQ(750, setPoint->high);
    EXPECT_EQ(750, setPoint->last);
    EXPECT_EQ(1u, setPoint->changes);
    ASSERT_EQ(1u, setPoint->marks.size());
    EXPECT_DOUBLE_EQ(setPointWrite, setPoint->marks[0].seconds);
    EXPECT_EQ(750, setPoint->marks[0].value);
    EXPECT_EQ(0, setPoint->marks[0].status);
    EXPECT_EQ(0u, setPoint->unseenWrites);
    EXPECT_EQ(uint64_t(1) << qtrace::routine::transcycpack,
              setPoint->routines & (uint64_t(1) << qtrace::routine::transcycpack));

    // Decoded as each format says: the set values of the plant.
    struct Expected {
        bool database;
        int64_t channel, equipment;
        const char* area;
        int64_t address;
        double value;
    };
    const Expected constants[] = {
        {false, 1, 5, "readfword", 2, 15.5},  // floats, through the block gate
        {false, 1, 5, "readfword", 3, 16.25},
        {false, 0, 2, "readdword", 11, 1450},    // double word
        {false, 1, 5, "readtimer", 1, 120},      // timer
        {false, 4, 3, "readpackbyte", 0, 0x12},  // packed bytes of the words 0x3412 0x80F0
        {false, 4, 3, "readpackbyte", 3, 0x80},
        {false, 4, 3, "readpackibit", 5, 1},  // packed input bits 4 to 7: 1 1 0 1
        {false, 4, 3, "readpackibit", 6, 0},
        {false, 0, 1, "readpackbit", 3, 1},  // a bit of the tank controller
        {true, 1, -1, "getword", 104, 0},    // the recipe in the card's database
    };
    for (const Expected& e : constants) {
        const GateFigures* gate =
            Gate(digest, e.database, e.channel, e.equipment, e.area, e.address);
        ASSERT_NE(nullptr, gate) << e.area << " " << e.address;
        EXPECT_EQ(e.value, gate->low) << e.area << " " << e.address;
        EXPECT_EQ(e.value, gate->high) << e.area << " " << e.address;
        EXPECT_EQ(0u, gate->notNumbers);
    }
    const GateFigures* water = Gate(digest, false, 1, 5, "readfword", 0);  // sine 80 to 95
    ASSERT_NE(nullptr, water);
    EXPECT_GE(water->low, 80);
    EXPECT_LE(water->high, 95);
    EXPECT_GT(water->changes, 40u);
    const GateFigures* batch = Gate(digest, true, 1, -1, "getword", 101);  // recipe size
    ASSERT_NE(nullptr, batch);
    ASSERT_EQ(1u, batch->marks.size());
    EXPECT_EQ(650, batch->marks[0].value);
    EXPECT_EQ(650, batch->last);

    // The page, as qunhost writes it.
    const qunhost_test::Outcome made = qunhost_test::RunQunhost(
        {"--trace", recording.trace, "--report", "plant-report.html", "--gap", "500ms"});
    ASSERT_EQ(0, made.exitCode) << made.output;
    EXPECT_EQ("report plant-report.html written\n", made.output);
    const std::string page = FileText("plant-report.html");
    ExpectSelfContained(page);
    for (const char* shown :
         {"channel 0 equipment 1 word 5", "card 1 database word 101", "transcycpack",
          "<td class=\"n\">-6</td>", "\"marks\":[[", " --gap 0.500s"})
        EXPECT_NE(std::string::npos, page.find(shown)) << shown;
    EXPECT_LT(page.size(), 1500000u);
}

// readword(channel, 1, 1, address) delivering value, at the fake clock's time.
uint64_t g_now = 0;
uint64_t FakeClock() { return g_now; }
uint64_t Milliseconds() { return 1000; }

void RecordRead(qtrace::TraceRecorder& recorder, int32_t address, uint16_t value) {
    const int32_t arguments[] = {0, 1, 1, address};
    const uint8_t out[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    g_now += 100;  // 100 ms
    recorder.Record(
        qtrace::CallRecord{11, 7, g_now, g_now + 1, 0, arguments, 4, nullptr, 0, out, 2});
}

TEST(TraceReport, DropsADamagedStretchAndRotatedFilesAreShownWhereTheyHappened) {
    const std::string path = "marked.qtr";
    std::remove((path + ".1").c_str());
    qtrace::RecorderSettings settings;
    settings.path = path;
    settings.ticks = FakeClock;
    settings.ticksPerSecond = Milliseconds;
    settings.ringBytes = 4096;
    settings.fileLimitBytes = 6000;  // about a hundred reads to a file
    settings.files = 2;
    qtrace::TraceRecorder recorder;
    std::string error;
    ASSERT_TRUE(recorder.Start(settings, &error)) << error;
    for (int i = 0; i < 60; ++i) RecordRead(recorder, 100, static_cast<uint16_t>(i));
    recorder.Drain();
    // The writer stalls: the ring fills, and the calls past it are dropped.
    recorder.PauseWriter(true);
    for (int i = 0; i < 200; ++i) RecordRead(recorder, 100, 1000);
    const uint32_t dropped = recorder.dropped();
    ASSERT_GT(dropped, 100u);
    recorder.PauseWriter(false);
    recorder.Drain();
    recorder.Note("tap: </script><script>alert(1)</script> \x1b[2J \xff\xfe end");
    for (int i = 0; i < 60; ++i) RecordRead(recorder, 100, static_cast<uint16_t>(2000 + i));
    recorder.Stop();

    // How many of the stalled reads the ring held: the first lost call came next.
    uint64_t held = 0;
    for (const std::string& file : {path + ".1", path}) {
        qtrace::Trace trace;
        ASSERT_TRUE(qtrace::ReadTrace(file, &trace, &error)) << error;
        for (const qtrace::TraceRecord& record : trace.records)
            held += record.out == std::vector<uint8_t>{0xE8, 0x03};
    }
    ASSERT_EQ(200u, held + dropped);

    // A torn record in the newer file: the reader skips it and reads on.
    std::string bytes = FileText(path);
    const size_t torn = bytes.size() - 20 * 50;
    bytes[torn] = static_cast<char>(bytes[torn] ^ 0x5A);
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

    Timeline timeline;
    TraceDigest digest{TraceFilter()};
    // Given newest first, as a shell's wildcard may give them.
    ASSERT_TRUE(DigestTraces({path, path + ".1"}, &timeline, &digest, &error)) << error;
    ASSERT_EQ(2u, timeline.files().size());
    EXPECT_EQ(path + ".1", timeline.files()[0].path);
    EXPECT_EQ(path, timeline.files()[1].path);
    EXPECT_LT(timeline.files()[0].firstSeconds, timeline.files()[1].firstSeconds);
    EXPECT_EQ(1, timeline.recordings());

    ASSERT_EQ(1u, digest.drops.size());
    EXPECT_EQ(dropped, digest.droppedCalls);
    // Where the loss happened: at the first lost call's time.
    EXPECT_NEAR(0.1 * static_cast<double>(60 + held + 1), digest.drops[0].seconds, 1e-9);
    EXPECT_EQ("the recorder's memory was full", digest.drops[0].text);
    // The torn record, between the reads around it; the reads after it are shown.
    ASSERT_EQ(1u, timeline.damaged().size());
    const DamageMark& damaged = timeline.damaged()[0];
    EXPECT_EQ(path, damaged.file);
    EXPECT_LE(damaged.offset, torn);
    EXPECT_GT(damaged.offset + damaged.bytes, torn);
    EXPECT_GT(damaged.seconds, digest.drops[0].seconds);
    EXPECT_LT(damaged.seconds, digest.lastSeconds - 1.5);

    // The gate's values run on across the two files and past the tear.
    const GateFigures* gate = Gate(digest, false, 0, 1, "readword", 100);
    ASSERT_NE(nullptr, gate);
    EXPECT_EQ(0, gate->low);
    EXPECT_EQ(2059, gate->last);

    // The host restarted 100 s after the first recording began: the next
    // recording is placed by the wall clock of its start.
    settings.path = "later.qtr";
    settings.files = 1;
    settings.wallStartMicroseconds += 100000000;
    qtrace::TraceRecorder later;
    ASSERT_TRUE(later.Start(settings, &error)) << error;
    RecordRead(later, 100, 7);
    later.Stop();
    Timeline both;
    TraceDigest all{TraceFilter()};
    ASSERT_TRUE(DigestTraces({"later.qtr", path, path + ".1"}, &both, &all, &error)) << error;
    EXPECT_EQ(2, both.recordings());
    ASSERT_EQ(3u, both.files().size());
    EXPECT_EQ("later.qtr", both.files()[2].path);
    EXPECT_DOUBLE_EQ(100.1, both.files()[2].firstSeconds);
    EXPECT_DOUBLE_EQ(100.1, all.lastSeconds);

    const std::string page = TraceReportPage(timeline, digest);
    ExpectSelfContained(page);
    EXPECT_NE(std::string::npos, page.find("\"drops\":[[")) << "drawn on the plots";
    EXPECT_NE(std::string::npos, page.find("\"damaged\":[[")) << "drawn on the plots";
    EXPECT_NE(std::string::npos, page.find("<table class=\"drops\">"));
    EXPECT_NE(std::string::npos, page.find("<table class=\"damaged\">"));
    EXPECT_NE(std::string::npos, page.find(HtmlText(damaged.problem)));
    // The note's text is shown, never obeyed.
    EXPECT_EQ(std::string::npos, page.find("<script>alert"));
    EXPECT_NE(std::string::npos,
              page.find("tap: &lt;/script&gt;&lt;script&gt;alert(1)&lt;/script&gt; &#x001B;[2J "
                        "&#xFFFD;&#xFFFD; end"));
}

TEST(TraceReport, AForgedTraceIsBoundedAndItsTextEscaped) {
    // Calls reading a thousand words at addresses all over: more gates than
    // a report shows, and a createcyc whose image cannot be decoded.
    TraceFilter filter;
    DigestLimits limits;
    limits.gates = 50;
    TraceDigest digest(filter, limits);
    qtrace::Trace trace;
    trace.header.ticksPerSecond = 1;
    qtrace::TraceRecord read;
    read.kind = qtrace::kCallRecord;
    read.routine = static_cast<uint8_t>(qtrace::RoutineByName("readfword"));
    read.out.assign(1024, 0xFF);  // floats that are not numbers
    for (int i = 0; i < 10; ++i) {
        read.arguments = {0x7FFFFFFF, -5, 100000, -0x7FFFFFFF + i * 1000};
        read.ticks = static_cast<uint64_t>(i) << 60;  // centuries apart
        digest.Add(trace, read, trace.Seconds(read.ticks));
    }
    qtrace::TraceRecord image;
    image.kind = qtrace::kCallRecord;
    image.routine = qtrace::routine::transcycpack;
    image.arguments = {3, 9, 0, 0};
    image.out.assign(64, 1);
    digest.Add(trace, image, 0);
    EXPECT_EQ(50u, digest.gates.size());
    EXPECT_EQ(10u * 256 - 50, digest.gatesLeftOut);
    for (const auto& entry : digest.gates) {
        EXPECT_EQ(1u, entry.second.notNumbers);
        EXPECT_EQ(0u, entry.second.reads);
    }
    EXPECT_EQ(1u, digest.decoder.undefinedImages());
    EXPECT_LE(digest.buckets(), 2000);

    // BCD words read as their decimal value; a digit above 9 is no number.
    TraceDigest bcd{TraceFilter()};
    qtrace::TraceRecord word;
    word.kind = qtrace::kCallRecord;
    word.routine = qtrace::routine::readwordbcd;
    word.arguments = {0, 1, 2, 7};
    word.out = {0x34, 0x12, 0xA4, 0x12};
    bcd.Add(trace, word, 0);
    ASSERT_NE(nullptr, Gate(bcd, false, 0, 1, "readwordbcd", 7));
    EXPECT_EQ(1234, Gate(bcd, false, 0, 1, "readwordbcd", 7)->low);
    EXPECT_EQ(1u, Gate(bcd, false, 0, 1, "readwordbcd", 8)->notNumbers);

    EXPECT_EQ("&lt;b&gt; &amp;amp; &quot;&#39; &#x00E9; &#xFFFD;",
              HtmlText("<b> &amp; \"' \xC3\xA9 \xC0"));
    EXPECT_EQ("\"\\u003C/script\\u003E \\u0022\\u005C \\u00E9 \\uD83D\\uDE00\"",
              JsonString("</script> \"\\ \xC3\xA9 \xF0\x9F\x98\x80"));
}

}  // namespace
}  // namespace qunhost
