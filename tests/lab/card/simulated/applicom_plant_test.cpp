// The plant signals, the fault injection and the simulated card under calls
// from several threads at once.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/lab/card/simulated/applicom_support.h"

namespace apc_test {
namespace {

using Clock = std::chrono::steady_clock;
using ApcPlant = CardTest;
using ApcFaults = CardTest;

uint16_t PeekWord(int32_t address) {
    uint16_t word = 0;
    ApcPeek(0, 1, APC_AREA_WORD, address, &word, 1);
    return word;
}

// Waits until the predicate holds, at most timeout.
template <typename Predicate>
bool WaitFor(Predicate predicate, std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    while (!predicate()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

TEST_F(ApcPlant, SignalsChangeTheEquipmentsMemoryByThemselves) {
    ASSERT_EQ(ApcAddSignal(0, 1, APC_AREA_WORD, 0, APC_WAVE_COUNTER, 5, 7, 0.05, 0), 0);
    ASSERT_EQ(ApcAddSignal(0, 1, APC_AREA_WORD, 1, APC_WAVE_SQUARE, 100, 200, 0.1, 0), 1);
    ASSERT_EQ(ApcAddSignal(0, 1, APC_AREA_WORD, 2, APC_WAVE_RANDOM, 10, 20, 0.01, 42), 2);
    ASSERT_EQ(ApcAddSignal(0, 1, APC_AREA_WORD, 3, APC_WAVE_SINE, -100, 100, 0.2, 0), 3);
    ASSERT_EQ(ApcAddSignal(0, 1, APC_AREA_BIT, 0, APC_WAVE_SQUARE, 0, 1, 0.1, 0), 4);
    EXPECT_EQ(PeekWord(0), 5) << "a signal starts at once";
    EXPECT_EQ(PeekWord(1), 100);

    bool counterValues[3] = {}, squareValues[2] = {}, bitValues[2] = {};
    bool randomInBounds = true, sineInBounds = true;
    std::vector<uint16_t> randomSeen;
    const bool allSeen = WaitFor(
        [&] {
            const uint16_t counter = PeekWord(0);
            if (counter >= 5 && counter <= 7) counterValues[counter - 5] = true;
            const uint16_t square = PeekWord(1);
            if (square == 100 || square == 200) squareValues[square == 200] = true;
            const uint16_t random = PeekWord(2);
            randomInBounds = randomInBounds && random >= 10 && random <= 20;
            if (randomSeen.empty() || randomSeen.back() != random) randomSeen.push_back(random);
            const int16_t sine = static_cast<int16_t>(PeekWord(3));
            sineInBounds = sineInBounds && sine >= -100 && sine <= 100;
            uint8_t bit = 0;
            ApcPeek(0, 1, APC_AREA_BIT, 0, &bit, 1);
            bitValues[bit] = true;
            return counterValues[0] && counterValues[1] && counterValues[2] && squareValues[0] &&
                   squareValues[1] && bitValues[0] && bitValues[1] && randomSeen.size() > 2;
        },
        std::chrono::milliseconds(5000));
    EXPECT_TRUE(allSeen);
    EXPECT_TRUE(randomInBounds);
    EXPECT_TRUE(sineInBounds);

    ApcClearSignals();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const uint16_t frozen = PeekWord(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    EXPECT_EQ(PeekWord(0), frozen) << "cleared signals stand still";
}

TEST_F(ApcPlant, BadSignalsAreRefused) {
    struct Case {
        int32_t channel, equipment, area, address, wave;
        double low, high, period;
    };
    const Case cases[] = {
        {32, 0, APC_AREA_WORD, 0, APC_WAVE_RAMP, 0, 1, 1},
        {0, 256, APC_AREA_WORD, 0, APC_WAVE_RAMP, 0, 1, 1},
        {0, 0, APC_AREA_COUNT, 0, APC_WAVE_RAMP, 0, 1, 1},
        {0, 0, APC_AREA_QUICK_BIT, 16, APC_WAVE_RAMP, 0, 1, 1},
        {0, 0, APC_AREA_WORD, 65536, APC_WAVE_RAMP, 0, 1, 1},
        {0, 0, APC_AREA_WORD, 0, 5, 0, 1, 1},
        {0, 0, APC_AREA_WORD, 0, APC_WAVE_RAMP, 2, 1, 1},
        {0, 0, APC_AREA_WORD, 0, APC_WAVE_RAMP, 0, 1, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ApcAddSignal(c.channel, c.equipment, c.area, c.address, c.wave, c.low, c.high,
                               c.period, 0),
                  -1);
    EXPECT_EQ(ApcAddSignal(0, 0, APC_AREA_FLOAT, 0, APC_WAVE_RAMP, 0.5, 0.5, 1, 0), 0);
    float value = 0;
    ApcPeek(0, 0, APC_AREA_FLOAT, 0, &value, 1);
    EXPECT_EQ(value, 0.5f) << "floats are stored unrounded";
}

TEST_F(ApcFaults, InjectedFailuresFollowTheRateAndTheSeed) {
    const int16_t statuses[] = {2, 70};
    auto run = [&](uint32_t seed) {
        ApcSetFailureRate(0.5, seed, statuses, 2);
        std::vector<int16_t> answers;
        uint8_t data[2];
        for (int i = 0; i < 200; ++i) answers.push_back(Net(readword, 0, 1, 1, 0, data));
        return answers;
    };
    const std::vector<int16_t> first = run(7);
    int failures = 0, twos = 0;
    for (int16_t status : first) {
        EXPECT_TRUE(status == 0 || status == 2 || status == 70);
        failures += status != 0;
        twos += status == 2;
    }
    EXPECT_GT(failures, 50);
    EXPECT_LT(failures, 150);
    EXPECT_GT(twos, 0);
    EXPECT_LT(twos, failures);
    EXPECT_EQ(ApcInjectedFailureCount(), failures);
    EXPECT_EQ(run(7), first) << "the same seed fails the same calls";
    EXPECT_NE(run(8), first);

    ApcSetFailureRate(1, 0, nullptr, 0);
    uint8_t data[2];
    EXPECT_EQ(Net(readword, 0, 1, 1, 0, data), 70) << "the default injected status";
    int16_t status = -1;
    exitbus(&status);
    EXPECT_EQ(status, 0) << "initbus and exitbus never fail by injection";
    initbus(&status);
    EXPECT_EQ(status, 0);
    ApcSetFailureRate(0, 0, nullptr, 0);
    EXPECT_EQ(Net(readword, 0, 1, 1, 0, data), 0);
    ApcReset();
    EXPECT_EQ(ApcInjectedFailureCount(), 0);
}

TEST_F(ApcFaults, ADelayedCallDoesNotHoldUpOtherCallers) {
    ApcSetCallDelay(APC_readword, 300000);
    std::atomic<bool> slowDone{false};
    const auto start = Clock::now();
    std::thread slow([&] {
        uint8_t data[2];
        Net(readword, 0, 1, 1, 0, data);
        slowDone = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    uint8_t data[2];
    EXPECT_EQ(Net(readpackbit, 0, 1, 1, 0, data), 0);
    EXPECT_FALSE(slowDone) << "the other caller was not held up by the delay";
    slow.join();
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250));

    ApcSetCallDelay(-1, 0);
    const auto quick = Clock::now();
    Net(readword, 0, 1, 1, 0, data);
    EXPECT_LT(Clock::now() - quick, std::chrono::milliseconds(200));
}

// Several threads write pairs of equal values in one call and read them back,
// while the card's thread runs a function over the same words and a signal
// changes another word: no read may see half of a write.
TEST(ApcConcurrency, NoCallSeesHalfOfAnother) {
    ApcReset();
    ASSERT_EQ(Open(), 0);
    ApcSetJournalLimit(1000);
    ASSERT_EQ(ApcAddSignal(0, 1, APC_AREA_WORD, 200, APC_WAVE_RAMP, 0, 60000, 0.05, 0), 0);
    Cyc words;
    words.count = 64;
    words.address = 0;
    words.period = 0;
    ASSERT_EQ(Create(words), 0);
    Cyc dwords;
    dwords.number = 2;
    dwords.typeCode = 0x1007;
    dwords.kind = 4;
    dwords.count = 16;
    dwords.databaseAddress = 100;
    ASSERT_EQ(Create(dwords), 0);

    std::atomic<int> torn{0}, calls{0};
    const auto end = Clock::now() + std::chrono::milliseconds(1500);
    auto writer = [&](int seed) {
        uint16_t value = static_cast<uint16_t>(seed * 1000);
        while (Clock::now() < end) {
            ++value;
            uint16_t block[64];
            for (uint16_t& word : block) word = value;
            Net(writeword, 0, 1, 64, 0, block);
            uint32_t wide[16];
            for (uint32_t& dword : wide) dword = value * 0x10001u;
            Net(writedword, 0, 1, 16, 0, wide);
            Db(setword, 1, 64, 1000, block);
            calls += 3;
        }
    };
    auto allEqual = [](const uint16_t* words, int count) {
        for (int i = 1; i < count; ++i)
            if (words[i] != words[0]) return false;
        return true;
    };
    auto reader = [&] {
        while (Clock::now() < end) {
            uint16_t block[64];
            if (Net(readword, 0, 1, 64, 0, block) == 0 && !allEqual(block, 64)) ++torn;
            if (Trans(0, 1, block) == 0 && !allEqual(block, 64)) ++torn;
            uint32_t wide[16];
            if (Trans(0, 2, wide) == 0)
                for (uint32_t dword : wide)
                    if (dword != wide[0] || (dword >> 16) != (dword & 0xFFFF)) ++torn;
            if (Db(getword, 1, 64, 1000, block) == 0 && !allEqual(block, 64)) ++torn;
            int16_t channel = 0, number = 1, status = -1;
            uint8_t record[256];
            AppGetCycParam(&channel, &number, record, &status);
            calls += 5;
        }
    };
    auto toggler = [&] {
        while (Clock::now() < end) {
            Stop(0, 2);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            Start(0, 2);
            ApcJournalCount();
        }
    };
    std::vector<std::thread> threads;
    threads.emplace_back(writer, 1);
    threads.emplace_back(writer, 2);
    threads.emplace_back(reader);
    threads.emplace_back(reader);
    threads.emplace_back(toggler);
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(calls.load(), 100);
    EXPECT_LE(ApcJournalCount(), 1000);
    ApcReset();
}

}  // namespace
}  // namespace apc_test
