// No request of the driver takes memory from the heap. The program puts its
// own malloc, calloc, realloc, free and operator new and delete in place of
// the C and C++ libraries' (the driver module binds to the program's), and
// counts every allocation the calling thread makes while QunMain runs.
//
// The stand-ins are set up not to allocate during a call themselves: no card
// journal, host log lines formatted and dropped, every equipment memory area
// the requests touch made beforehand.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "driver/address/memory_types.h"
#include "driver/address/parse_block.h"
#include "driver/entry/qun_info.h"
#include "driver/exchange/gate_transfer.h"
#include "driver/platform/card.h"
#include "tests/support/driver_harness.h"

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void __libc_free(void*);

namespace {

constexpr int kRecorded = 8;

// Per thread: counting on, allocations seen, the callers of the first ones.
// Threads the system library starts inside a request (the supervisor)
// count nothing here.
thread_local bool tCounting = false;
thread_local bool tInSystemCall = false;
thread_local int tAllocations = 0;
thread_local void* tCallers[kRecorded];

inline void Seen(void* caller) {
    if (!tCounting || tInSystemCall) return;
    if (tAllocations < kRecorded) tCallers[tAllocations] = caller;
    ++tAllocations;
}

}  // namespace

extern "C" void* malloc(size_t size) {
    Seen(__builtin_return_address(0));
    return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
    Seen(__builtin_return_address(0));
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* pointer, size_t size) {
    Seen(__builtin_return_address(0));
    return __libc_realloc(pointer, size);
}
extern "C" void free(void* pointer) { __libc_free(pointer); }

void* operator new(size_t size) {
    Seen(__builtin_return_address(0));
    void* p = __libc_malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* operator new[](size_t size) {
    Seen(__builtin_return_address(0));
    void* p = __libc_malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void operator delete(void* p) noexcept { __libc_free(p); }
void operator delete[](void* p) noexcept { __libc_free(p); }
void operator delete(void* p, size_t) noexcept { __libc_free(p); }
void operator delete[](void* p, size_t) noexcept { __libc_free(p); }

// Starting a thread is the system's business: the C library's own bookkeeping
// of a new thread (its thread-local storage) is not the driver's heap use,
// as a kernel object of CreateThread is not on Windows.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*procedure)(void*), void* argument) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const Create real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    const bool outer = tInSystemCall;
    tInSystemCall = true;
    const int result = real(thread, attributes, procedure, argument);
    tInSystemCall = outer;
    return result;
}

namespace qun_test {
namespace {

constexpr int16_t kChannel = 2;
constexpr int16_t kEquipment = 7;

// Where the allocations came from, for the failure message.
std::string Callers(int count) {
    std::string text;
    for (int i = 0; i < count && i < kRecorded; ++i) {
        Dl_info info{};
        char line[256];
        if (dladdr(tCallers[i], &info) != 0 && info.dli_sname != nullptr)
            std::snprintf(line, sizeof line, "\n  from %s (%s)", info.dli_sname, info.dli_fname);
        else
            std::snprintf(line, sizeof line, "\n  from %p", tCallers[i]);
        text += line;
    }
    return text;
}

class AllocationTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        ApcSetJournalLimit(0);
        ApcSetCyclicManual(1);
        KvxLogDiscard(1);
        // An initialisation file, so that the cold start reads one.
        if (std::FILE* file = std::fopen("qunDOZ01.INT", "w")) {
            std::fputs("STATION001=02,007\nRETRY=3\nCLEAR=ON\nBALANCE_FREE=ON\n", file);
            std::fclose(file);
        }
        int16_t status = 0;
        initbus(&status);
        // Every equipment area, made now: the card makes one on first touch.
        const uint32_t zero = 0;
        for (int32_t area = 0; area < APC_AREA_COUNT; ++area)
            ApcPoke(kChannel, kEquipment, area, 0, &zero, 1);
        ColdStartOnce();
        std::memset(value_, 0, sizeof value_);
    }

    void ColdStartOnce() {
        ColdStartParams params{};
        params.openFlag = 1;
        ASSERT_EQ(0, Call(1, &params));
    }

    // Calls QunMain and answers the allocations the calling thread made in it.
    int Allocations(uint32_t code, void* parameters, std::string* where) {
        tAllocations = 0;
        tCounting = true;
        Call(code, parameters);
        tCounting = false;
        const int count = tAllocations;
        *where = Callers(count);
        return count;
    }

    GateTransfer Gate(uint16_t type, uint32_t address, int32_t bitOrCyclic, int32_t count) {
        GateTransfer transfer{};
        transfer.tagName = "ALLOC.TAG";
        transfer.address =
            GateAddress{0, type, 1, address, bitOrCyclic, kMemoryTypes[type].elementBits};
        transfer.count = count;
        transfer.value = value_;
        return transfer;
    }

    uint8_t value_[1100];
};

#define EXPECT_NO_ALLOCATION(code, parameters, what)                                     \
    do {                                                                                 \
        std::string where;                                                               \
        EXPECT_EQ(0, Allocations(code, parameters, &where)) << (what) << where;         \
    } while (0)

// The counter sees what the modules called by QunMain allocate: a host log
// that keeps its lines stores each in a string of its own.
TEST_F(AllocationTest, CountsAllocationsOfTheModulesCalled) {
    KvxLogDiscard(0);
    QunInfo info{};
    std::string where;
    EXPECT_GT(Allocations(14, &info, &where), 0);
}

TEST_F(AllocationTest, ColdStartWithFileCardAndSupervisorAndEndQun) {
    ColdStartParams params{};
    params.openFlag = 1;
    EXPECT_NO_ALLOCATION(1, &params, "second cold start");
    EXPECT_NO_ALLOCATION(11, nullptr, "EndQun");
    std::remove("qunDOZ01.INT");
    EXPECT_NO_ALLOCATION(1, &params, "cold start without a file");
    KvxPostShutdown();
}

TEST_F(AllocationTest, InformationAndControlFunctions) {
    WarmStartParams warm{3};
    QunInfo info{};
    EXPECT_NO_ALLOCATION(2, &warm, "WarmStart");
    EXPECT_NO_ALLOCATION(12, nullptr, "CloseCom");
    EXPECT_NO_ALLOCATION(13, nullptr, "ReOpenCom");
    EXPECT_NO_ALLOCATION(14, &info, "GetQunInfo");
    EXPECT_NO_ALLOCATION(15, nullptr, "ChangeQunParams");
    for (uint32_t code : {0u, 8u, 9u, 17u, 18u}) EXPECT_NO_ALLOCATION(code, nullptr, code);
}

TEST_F(AllocationTest, ParsersAcceptingAndRefusingWithCyclicFunctions) {
    struct Case {
        uint32_t code;
        const char* text;
        int32_t gateType;
    };
    const Case cases[] = {
        {3, "2_7_W_100", 0},       {3, "2_7_DW_10_B17", kGateTypeDigital},
        {3, "2_7_FW_4", kGateTypeFloat}, {3, "3_0_MW_5", 0},
        {3, "9_9_XX_1", 0},        {3, "2_7_W_100_B99", kGateTypeDigital},
        {3, "2_7_W_100", kGateTypeFloat}, {4, "2_7_W_200_S100", 0},
        {4, "2_7_PB_0_S0", 0},     {4, "2_7_QCKB_3_S0", 0},
        {4, "1_0_MF_0_S0", 0},     {4, "2_7_W_0", 0},
        {4, "2_7_W_0_S50", 0},
    };
    for (const Case& c : cases) {
        ParseBlock block{};
        block.addressText = c.text;
        block.gateType = c.gateType;
        block.elementCount = 10;
        EXPECT_NO_ALLOCATION(c.code, &block, c.text);
    }
}

TEST_F(AllocationTest, SingleReadsAndWritesOfEveryMemoryType) {
    for (uint16_t type = 0; type < kMemoryTypeCount; ++type) {
        GateTransfer transfer = Gate(type, type >= kFirstInternalType ? 0 : 4, kNoBitOrCyclic, 1);
        if (type >= kFirstInternalType) state().stations[0] = {1, 0};
        const std::string name = kMemoryTypes[type].mnemonic;
        EXPECT_NO_ALLOCATION(5, &transfer, "read " + name);
        EXPECT_NO_ALLOCATION(7, &transfer, "write " + name);
        EXPECT_NO_ALLOCATION(6, &transfer, "block read " + name);
        EXPECT_NO_ALLOCATION(10, &transfer, "block write " + name);
        state().stations[0] = {kChannel, kEquipment};
    }
    GateTransfer bit = Gate(14, 8, 17, 1);  // DW, bit 17: read, set, write
    EXPECT_NO_ALLOCATION(5, &bit, "read DW bit");
    EXPECT_NO_ALLOCATION(7, &bit, "write DW bit");
}

TEST_F(AllocationTest, CyclicReadsAndBalanceFreeWrites) {
    // Block gates through the parser: the driver creates their cyclic
    // functions on the card.
    int32_t numbers[3] = {};
    const char* texts[3] = {"2_7_W_100_S0", "2_7_W_200_S0", "2_7_DW_300_S0"};
    for (int i = 0; i < 3; ++i) {
        ParseBlock block{};
        block.addressText = texts[i];
        block.elementCount = 20;
        ASSERT_EQ(0, Call(4, &block)) << texts[i];
        numbers[i] = block.address.bitOrCyclicNumber;
    }
    ApcCyclicStep();
    GateTransfer cyclic = Gate(10, 100, numbers[0], 20);
    EXPECT_NO_ALLOCATION(6, &cyclic, "cyclic block read");
    GateTransfer covered = Gate(10, 205, kNoBitOrCyclic, 1);
    state().balanceFree = 1;
    EXPECT_NO_ALLOCATION(7, &covered, "balance-free single write");
    GateTransfer block = Gate(14, 300, kNoBitOrCyclic, 5);
    EXPECT_NO_ALLOCATION(10, &block, "balance-free block write");
    // Failures: the card busy, a remote error, a lost card access.
    const int16_t busy[] = {5};
    ApcScriptStatus(APC_transcycpack, busy, 1);
    EXPECT_NO_ALLOCATION(6, &cyclic, "busy cyclic read");
    const int16_t remote[] = {70, 70, 70};
    ApcScriptStatus(APC_readword, remote, 3);
    state().timeoutMs = 0;
    EXPECT_NO_ALLOCATION(5, &covered, "remote errors");
    ApcSimulateReset();
    EXPECT_NO_ALLOCATION(5, &covered, "read after a card reset");
    EXPECT_NO_ALLOCATION(11, nullptr, "EndQun with cyclic functions");
    KvxPostShutdown();
}

}  // namespace
}  // namespace qun_test
