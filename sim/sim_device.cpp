#include "sim/sim_device.h"

#include <cmath>

namespace mvsim {

SimDevice::SimDevice(uint8_t slave) : slave_(slave) {
    for (Table& table : tables_) {
        table.values.assign(65536, 0);
        table.defined.assign(65536, 0);
    }
}

static bool IsBitTable(SimTable table) {
    return table == SimTable::Coils || table == SimTable::DiscreteInputs;
}

void SimDevice::Define(SimTable table, uint16_t address, uint16_t value) {
    Table& t = TableOf(table);
    t.values[address] = IsBitTable(table) ? (value != 0) : value;
    t.defined[address] = 1;
    t.waves.erase(address);
}

void SimDevice::DefineWave(SimTable table, uint16_t address, const SimWave& wave) {
    Table& t = TableOf(table);
    t.defined[address] = 1;
    t.waves[address] = wave;
}

bool SimDevice::IsDefined(SimTable table, uint16_t address) const {
    return TableOf(table).defined[address] != 0;
}

static uint16_t WaveValue(const SimWave& wave, uint64_t elapsedMs) {
    uint64_t period = wave.periodMs == 0 ? 1 : wave.periodMs;
    int64_t value = 0;
    switch (wave.kind) {
    case SimWave::kCounter:
        value = wave.start + static_cast<int64_t>(wave.step) * static_cast<int64_t>(elapsedMs / period);
        break;
    case SimWave::kRamp: {
        double phase = static_cast<double>(elapsedMs % period) / static_cast<double>(period);
        value = wave.minimum +
                static_cast<int64_t>(std::floor((static_cast<double>(wave.maximum) - wave.minimum) * phase));
        break;
    }
    case SimWave::kSine: {
        double phase = static_cast<double>(elapsedMs % period) / static_cast<double>(period);
        value =
            static_cast<int64_t>(std::lround(wave.offset + wave.amplitude * std::sin(2.0 * M_PI * phase)));
        break;
    }
    }
    // Negative values wrap to their 16-bit two's complement, as a device register holds them.
    return static_cast<uint16_t>(static_cast<uint64_t>(value) & 0xFFFF);
}

uint16_t SimDevice::Value(SimTable table, uint16_t address, uint64_t elapsedMs) const {
    const Table& t = TableOf(table);
    if (!t.waves.empty()) {
        auto it = t.waves.find(address);
        if (it != t.waves.end()) {
            uint16_t value = WaveValue(it->second, elapsedMs);
            return IsBitTable(table) ? (value & 1) : value;
        }
    }
    return t.values[address];
}

void SimDevice::Store(SimTable table, uint16_t address, uint16_t value) {
    Define(table, address, value);
}

} // namespace mvsim
