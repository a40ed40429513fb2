// The simulated card's equipment side for the card core: every routine reads
// and writes the simulated memory at once, and the card's thread advances the
// plant's signals every 10 ms.
#include "lab/card/core/equipment.h"
#include "lab/card/simulated/simulated_card.h"

namespace apc {
namespace {

constexpr auto kSignalStep = std::chrono::milliseconds(10);

class SimulatedEquipment : public Equipment {
public:
    // The simulated cards are installed as ApcSetInstalledCards says.
    int16_t Open(uint32_t*) override { return kStatusOk; }
    void Close() override {}

    void Reset() override {
        Plant& plant = ThePlant();
        std::lock_guard<std::mutex> guard(plant.lock);
        plant.memory.clear();
        plant.signals.clear();
    }

    bool InRange(const RoutineInfo& routine, int32_t address, int32_t count) override {
        return AreaRange(routine.area, routine.format, address, count);
    }

    int16_t Read(int32_t channel, int32_t equipment, const RoutineInfo& routine, int32_t address,
                 int32_t count, uint8_t* out) override {
        Plant& plant = ThePlant();
        std::lock_guard<std::mutex> guard(plant.lock);
        return ReadArea(plant, channel, equipment, routine.area, routine.format, address, count,
                        out)
                   ? kStatusOk
                   : kStatusBadArgument;
    }

    int16_t Write(int32_t channel, int32_t equipment, const RoutineInfo& routine, int32_t address,
                  int32_t count, const uint8_t* in) override {
        Plant& plant = ThePlant();
        std::lock_guard<std::mutex> guard(plant.lock);
        return WriteArea(plant, channel, equipment, routine.area, routine.format, address, count,
                         in)
                   ? kStatusOk
                   : kStatusBadArgument;
    }

    Clock::time_point Tick(Clock::time_point now) override {
        Plant& plant = ThePlant();
        std::lock_guard<std::mutex> guard(plant.lock);
        if (plant.signals.empty()) return Clock::time_point::max();
        AdvanceSignals(plant, now);
        return now + kSignalStep;
    }

    bool HasOwnWork() override {
        Plant& plant = ThePlant();
        std::lock_guard<std::mutex> guard(plant.lock);
        return !plant.signals.empty();
    }
};

}  // namespace

Plant& ThePlant() {
    static Plant* plant = new Plant;
    return *plant;
}

Equipment& TheEquipment() {
    static SimulatedEquipment* equipment = new SimulatedEquipment;
    return *equipment;
}

}  // namespace apc
