// The tap as a host process meets it: loaded by full path in front of the
// simulated card, called, and freed again while its writer thread runs; set
// up from any settings file; and its settings file's reader.
//
// The tap sets itself up once per process and stays loaded once it records,
// so each case that loads it runs in a process of its own (a death test
// that must end with status 0).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "driver/platform/abi.h"
#include "lab/card/simulated/applicom_control.h"
#include "recorder/tap/settings.h"
#include "recorder/trace/card_routines.h"
#include "recorder/trace/trace_reader.h"
#include "tests/support/module_loader.h"
#include "tests/support/process.h"

namespace {

using Bus = void(QUN_CDECL*)(int16_t*);
using Network = void(QUN_CDECL*)(int16_t*, int16_t*, int16_t*, int32_t*, void*, int16_t*);
using CreateCyclic = void(QUN_CDECL*)(int16_t*, int16_t*, int16_t*, int16_t*, int16_t*, int16_t*,
                                      int16_t*, int16_t*, int32_t*, int16_t*, int16_t*, int16_t*);
using TransCyclic = void(QUN_CDECL*)(int16_t*, int16_t*, int16_t*, int16_t*, void*, int16_t*);

// Runs body in a child process, which must end with status 0.
void InAProcessOfItsOwn(void (*body)()) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            body();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

// The tap in front of the simulated card beside the test program (or the
// library given), recording into trace with the settings file given.
void* LoadTap(const std::string& trace, const std::string& settingsFile,
              const std::string& library = "") {
    const std::string real =
        library.empty() ? qun_test::ProgramFolder() + qun_test::kCardLibraryFile : library;
    qun_test::SetEnvironment("QUN_TAP_LIBRARY", real.c_str());
    qun_test::SetEnvironment("QUN_TAP_TRACE", trace.c_str());
    qun_test::SetEnvironment("QUN_TAP_SETTINGS", settingsFile.c_str());
    void* tap =
        qun_test::LoadModuleAt(qun_test::ProgramFolder() + "tap/" + qun_test::kCardLibraryFile);
    if (tap == nullptr) std::exit(2);
    return tap;
}

template <typename Function>
Function Routine(void* tap, const char* name) {
    return reinterpret_cast<Function>(qun_test::ModuleFunction(tap, name));
}

qtrace::Trace Read(const std::string& path) {
    qtrace::Trace trace;
    std::string error;
    EXPECT_TRUE(qtrace::ReadTrace(path, &trace, &error)) << error;
    return trace;
}

std::string Notes(const qtrace::Trace& trace) {
    std::string notes;
    for (const qtrace::TraceRecord& record : trace.records)
        if (record.kind == qtrace::kNoteRecord)
            notes += std::string(record.in.begin(), record.in.end()) + "\n";
    return notes;
}

// A host frees its driver modules, and with the driver the tap, while the
// tap's writer thread still runs; the host must go on unharmed, and what was
// recorded is written all the same.
TEST(Tap, AHostFreesTheTapWhileItsWriterRuns) {
    std::remove("unload.qtr");
    InAProcessOfItsOwn([] {
        void* tap = LoadTap("unload.qtr", "none.ini");
        int16_t status = -1;
        Routine<Bus>(tap, "initbus")(&status);
        Routine<Bus>(tap, "exitbus")(&status);
        qun_test::UnloadModule(tap);
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    });
    int calls = 0;
    for (const qtrace::TraceRecord& record : Read("unload.qtr").records)
        calls += record.kind == qtrace::kCallRecord;
    EXPECT_EQ(2, calls);
}

// Settings beyond what a 32-bit host can afford are held to their limits and
// said in the trace; a routine the real library lacks answers -100, and the
// trace shows that call too.
TEST(Tap, AnySettingsFileAndAMissingLibraryLeaveTheHostRunning) {
    std::remove("limits.qtr");
    std::remove("missing.qtr");
    if (std::FILE* file = std::fopen("limits.ini", "wb")) {
        std::fputs("ring_kb = 99999999\nfiles = 0\nfile_limit_mb = 4096\n", file);
        std::fclose(file);
    }
    InAProcessOfItsOwn([] {
        void* tap = LoadTap("limits.qtr", "limits.ini");
        int16_t status = -1;
        Routine<Bus>(tap, "initbus")(&status);
        Routine<Bus>(tap, "exitbus")(&status);
    });
    const std::string notes = Notes(Read("limits.qtr"));
    for (const char* said : {"line 1: ring_kb = 99999999 is above the most, 16384, which is used",
                             "line 2: files = 0 is below the least, 1, which is used",
                             "line 3: file_limit_mb = 4096 is above the most, 128, which is used"})
        EXPECT_NE(std::string::npos, notes.find(said)) << said << "\n" << notes;

    InAProcessOfItsOwn([] {
        void* tap = LoadTap("missing.qtr", "none.ini", "no-such-library.dll");
        int16_t channel = 0, equipment = 1, count = 1, status = 0;
        int32_t address = 100;
        uint8_t data[1024];
        Routine<Network>(tap, "readword")(&channel, &equipment, &count, &address, data, &status);
        if (status != -100) std::exit(3);
        Routine<Bus>(tap, "exitbus")(&status);
    });
    std::string calls;
    for (const qtrace::TraceRecord& record : Read("missing.qtr").records)
        if (record.kind == qtrace::kCallRecord)
            calls += qtrace::DescribeCall(record.routine, record.arguments) + " -> " +
                     std::to_string(record.status) + "\n";
    EXPECT_EQ(
        "readword(channel 0, equipment 1, count 1, address 100) -> -100\n"
        "exitbus() -> -100\n",
        calls);
}

// transcycpack's image is recorded as long as the card delivers it: for the
// byte kinds, one byte an element where the cyclic function repeats a packed
// byte read (PBY), two where it repeats a byte read (BY).
TEST(Tap, ACyclicImageOfBytesIsRecordedAsTheCardDeliversIt) {
    std::remove("image.qtr");
    InAProcessOfItsOwn([] {
        void* tap = LoadTap("image.qtr", "none.ini");
        ApcSetCyclicManual(1);
        int16_t status = -1;
        Routine<Bus>(tap, "initbus")(&status);
        const auto createcyc = Routine<CreateCyclic>(tap, "createcyc");
        const auto transcycpack = Routine<TransCyclic>(tap, "transcycpack");
        struct Function {
            int16_t number, typeCode, databaseAddress;
        } const functions[] = {{1, 0x105E, 13990}, {2, 0x105F, 13960}};  // PBY, BY
        for (const Function& f : functions) {
            int16_t channel = 0, number = f.number, period = 10, one = 1, code = f.typeCode;
            int16_t kind = 2, equipment = 1, count = 10, database = f.databaseAddress, minus = -1;
            int32_t address = 100;
            createcyc(&channel, &number, &period, &one, &code, &kind, &equipment, &count, &address,
                      &database, &minus, &status);
            if (status != 0) std::exit(3);
        }
        ApcCyclicStep();
        for (const Function& f : functions) {
            int16_t channel = 0, number = f.number, out1 = 0, out2 = 0;
            uint8_t data[1024];
            transcycpack(&channel, &number, &out1, &out2, data, &status);
            if (status != 0) std::exit(4);
        }
        Routine<Bus>(tap, "exitbus")(&status);
    });
    std::vector<size_t> images;
    for (const qtrace::TraceRecord& record : Read("image.qtr").records)
        if (record.kind == qtrace::kCallRecord && record.routine == qtrace::routine::transcycpack)
            images.push_back(record.out.size());
    EXPECT_EQ((std::vector<size_t>{10, 20}), images);
}

TEST(TapSettings, EachLineIsReadOrSaidWhyNot) {
    struct Case {
        const char* text;
        uint64_t fileLimitMb;
        int files;
        uint64_t ringKb;
        const char* problems;
    };
    const Case cases[] = {
        {"file_limit_mb = 16\nfiles = 9 ; nine\nring_kb = 2048 # two MB\n", 16, 9, 2048, ""},
        {"ring_kb = 1\nfiles = 100\n", 64, 99, 64,
         "line 1: ring_kb = 1 is below the least, 64, which is used; "
         "line 2: files = 100 is above the most, 99, which is used; "},
        {"ring_kb = 12k\nfiles = -3\nfile_limit_mb = 99999999999999999999\nwhat = 1\n", 64, 4, 1024,
         "line 1: 'ring_kb = 12k' ignored; line 2: 'files = -3' ignored; "
         "line 3: 'file_limit_mb = 99999999999999999999' ignored; line 4: 'what = 1' ignored; "},
    };
    for (const Case& c : cases) {
        std::string problems;
        const tap::Settings settings = tap::ReadSettings(c.text, "C:\\plant\\", &problems);
        EXPECT_EQ(c.fileLimitMb, settings.fileLimitMb) << c.text;
        EXPECT_EQ(c.files, settings.files) << c.text;
        EXPECT_EQ(c.ringKb, settings.ringKb) << c.text;
        EXPECT_EQ(c.problems, problems) << c.text;
    }
    std::string problems;
    const tap::Settings paths = tap::ReadSettings(
        "library = D:\\Vendor\\APPLICOM.dll\ntrace = traces\\card.qtr\n", "C:\\plant\\", &problems);
    EXPECT_EQ("D:\\Vendor\\APPLICOM.dll", paths.library);
    EXPECT_EQ("C:\\plant\\traces\\card.qtr", paths.trace);
}

}  // namespace
