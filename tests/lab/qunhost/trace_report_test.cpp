// qunhost --trace on traces from elsewhere: a note's escape sequences never
// reach the engineer's terminal, and a header with any clock rate at all is
// summarised.
#include "lab/qunhost/trace_report.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "recorder/trace/trace_reader.h"

namespace {

// A trace of the given header fields and records, read back as qunhost reads it.
qtrace::Trace Made(uint64_t ticksPerSecond, const std::vector<qtrace::TraceRecord>& records) {
    qtrace::FileHeader header{};
    std::memcpy(header.magic, qtrace::kMagic, sizeof header.magic);
    header.version = qtrace::kVersion;
    header.headerBytes = qtrace::kFileHeaderBytes;
    header.ticksPerSecond = ticksPerSecond;
    std::vector<uint8_t> bytes(reinterpret_cast<uint8_t*>(&header),
                               reinterpret_cast<uint8_t*>(&header + 1));
    for (const qtrace::TraceRecord& record : records) {
        const std::vector<uint8_t> encoded = qtrace::EncodeRecord(record);
        bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    }
    qtrace::Trace trace;
    std::string error;
    EXPECT_TRUE(qtrace::ParseTrace(bytes.data(), bytes.size(), &trace, &error)) << error;
    return trace;
}

qtrace::TraceRecord Note(const std::string& text, uint64_t ticks) {
    qtrace::TraceRecord note;
    note.kind = qtrace::kNoteRecord;
    note.ticks = ticks;
    note.in.assign(text.begin(), text.end());
    return note;
}

qtrace::TraceRecord Readword(uint64_t ticks) {
    qtrace::TraceRecord call;
    call.kind = qtrace::kCallRecord;
    call.routine = 11;
    call.ticks = ticks;
    call.arguments = {0, 1, 1, 100};
    call.out = {1, 0};
    return call;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

TEST(TraceReport, NotesAreShownWithTheirControlBytesEscaped) {
    const qtrace::Trace trace = Made(1000, {Note("tap: \x1b]0;owned\x07\x1b[2J\x9b"
                                                 "31m D:\\Vendor\\APPLICOM.dll",
                                                 5)});
    const std::string escaped = "tap: \\x1B]0;owned\\x07\\x1B[2J\\x9B31m D:\\Vendor\\APPLICOM.dll";
    qunhost::TraceFilter filter;
    for (const std::string& text : {Joined(qunhost::TraceSummary("t.qtr", trace, filter)),
                                    Joined(qunhost::TraceListing(trace, filter))}) {
        EXPECT_NE(std::string::npos, text.find(escaped)) << text;
        for (char c : text) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << int(c);
    }
}

TEST(TraceReport, AnyClockRateIsSummarised) {
    struct Case {
        uint64_t ticksPerSecond;
        const char* pauses;
    };
    const Case cases[] = {
        {1000, "pauses      the card was not called for more than 1.000 s 1 time:"},
        {0xFFFFFFFFFFFFFFFFull, "pauses      no pause of the card longer than 1.000 s"},
        {0, "pauses      no pause of the card longer than 1.000 s"},
    };
    for (const Case& c : cases) {
        const qtrace::Trace trace = Made(c.ticksPerSecond, {Readword(0), Readword(5000)});
        const std::string summary = Joined(qunhost::TraceSummary("t.qtr", trace, {}));
        EXPECT_NE(std::string::npos, summary.find(c.pauses)) << summary;
    }
}

}  // namespace
