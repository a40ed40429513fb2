// The plant: signals that make elements of an equipment's memory change by
// themselves, computed from the time since the signal was added and written by
// the card's thread every 10 ms.
//
// * counter: low, low + 1, ... high, low, ... one step per period (integers).
// * ramp: rises from low to high over each period, then starts again.
// * square: low for the first half of each period, high for the second.
// * sine: low + (high - low) * (1 + sin(2 pi t / period)) / 2.
// * random: starts half-way, then one step per period of up to a tenth of
//   (high - low) either way, reflected at the bounds; the seed fixes the walk.
//
// Values are stored rounded to the nearest integer (1-bit areas: 1 when not
// 0; 16-bit areas: -32768 to 65535 as 16-bit patterns; DWORD: as 32-bit
// patterns), floats as they are.
#include <cmath>
#include <cstring>

#include "lab/card/simulated/simulated_card.h"

namespace apc {
namespace {

constexpr double kPi = 3.14159265358979323846;
// A random walk catches up at most this many steps at once.
constexpr int64_t kMaxCatchUp = 100000;
constexpr size_t kMaxSignals = 4096;

double Fraction(double x) { return x - std::floor(x); }

double ValueAt(Signal& signal, double t) {
    const double span = signal.high - signal.low;
    const double cycles = t / signal.periodSeconds;
    switch (signal.wave) {
        case APC_WAVE_COUNTER: {
            const int64_t low = static_cast<int64_t>(std::ceil(signal.low));
            int64_t high = static_cast<int64_t>(std::floor(signal.high));
            if (high < low) high = low;
            const int64_t steps = static_cast<int64_t>(std::floor(cycles));
            return static_cast<double>(low + steps % (high - low + 1));
        }
        case APC_WAVE_RAMP:
            return signal.low + span * Fraction(cycles);
        case APC_WAVE_SQUARE:
            return Fraction(cycles) < 0.5 ? signal.low : signal.high;
        case APC_WAVE_SINE:
            return signal.low + span * (1 + std::sin(2 * kPi * cycles)) / 2;
        default: {
            const int64_t target = static_cast<int64_t>(std::floor(cycles));
            if (target - signal.steps > kMaxCatchUp) signal.steps = target - kMaxCatchUp;
            std::uniform_real_distribution<double> step(-span / 10, span / 10);
            for (; signal.steps < target; ++signal.steps) {
                double value = signal.value + step(signal.random);
                if (value > signal.high) value = 2 * signal.high - value;
                if (value < signal.low) value = 2 * signal.low - value;
                signal.value = std::fmin(signal.high, std::fmax(signal.low, value));
            }
            return signal.value;
        }
    }
}

uint32_t Stored(int32_t area, double value) {
    if (area == APC_AREA_FLOAT) {
        const float single = static_cast<float>(value);
        uint32_t bits;
        std::memcpy(&bits, &single, sizeof bits);
        return bits;
    }
    double rounded = std::round(value);
    if (AreaBits(area) == 1) return rounded != 0 ? 1 : 0;
    if (AreaBits(area) == 16) rounded = std::fmin(65535.0, std::fmax(-32768.0, rounded));
    rounded = std::fmin(4294967295.0, std::fmax(-2147483648.0, rounded));
    return static_cast<uint32_t>(static_cast<int64_t>(rounded));
}

void Write(Plant& plant, Signal& signal, Clock::time_point now) {
    const double t = std::chrono::duration<double>(now - signal.start).count();
    SetElement(plant, signal.channel, signal.equipment, signal.area, signal.address,
               Stored(signal.area, ValueAt(signal, t)));
}

}  // namespace

void AdvanceSignals(Plant& plant, Clock::time_point now) {
    for (Signal& signal : plant.signals) Write(plant, signal, now);
}

}  // namespace apc

using namespace apc;

QUN_EXPORT int32_t ApcAddSignal(int32_t channel, int32_t equipment, int32_t area, int32_t address,
                                int32_t wave, double low, double high, double periodSeconds,
                                uint32_t seed) {
    if (channel < 0 || channel >= kChannelCount || equipment < 0 || equipment >= kEquipmentCount ||
        area < 0 || area >= APC_AREA_COUNT || address < 0 || address >= AreaElements(area) ||
        wave < APC_WAVE_COUNTER || wave > APC_WAVE_RANDOM || !std::isfinite(low) ||
        !std::isfinite(high) || !(high >= low) || !std::isfinite(periodSeconds) ||
        !(periodSeconds > 0))
        return -1;
    int32_t index;
    {
        Plant& plant = ThePlant();
        std::lock_guard<std::mutex> guard(plant.lock);
        if (plant.signals.size() >= kMaxSignals) return -1;
        Signal signal{channel, equipment, area,          address,      wave,
                      low,     high,      periodSeconds, Clock::now(), std::mt19937(seed)};
        signal.value = (low + high) / 2;
        Write(plant, signal, signal.start);
        plant.signals.push_back(signal);
        index = static_cast<int32_t>(plant.signals.size() - 1);
    }
    WakeCardThread();
    return index;
}

QUN_EXPORT void ApcClearSignals(void) {
    Plant& plant = ThePlant();
    std::lock_guard<std::mutex> guard(plant.lock);
    plant.signals.clear();
}
