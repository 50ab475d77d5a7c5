#pragma once
// One simulated Modbus slave: its four data tables, the registers that move over time, the exception
// status byte, the identification objects and the fault switches that the control commands set.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace mvsim {

enum class SimTable { Coils, DiscreteInputs, Holding, Input };

// How a moving register derives its value from the time since the simulator started.
struct SimWave {
    enum Kind { kCounter, kRamp, kSine } kind = kCounter;
    int32_t start = 0;     // counter: first value
    int32_t step = 1;      // counter: added once per period
    int32_t minimum = 0;   // ramp: value at the start of each period
    int32_t maximum = 100; // ramp: value reached at the end of each period
    int32_t offset = 0;    // sine: centre line
    int32_t amplitude = 0; // sine: peak deviation from the centre
    uint32_t periodMs = 1000;
};

// Faults applied to the requests of one slave. All stay in force until changed, except the countdowns.
struct SimFaults {
    bool silent = false;   // no reply at all
    uint32_t lateMs = 0;   // every reply is held back this long
    uint32_t dripMs = 0;   // non-zero: replies go out one byte at a time, this far apart
    uint8_t exception = 0; // non-zero: every request (of exceptionFunction, when set) gets this exception
    uint8_t exceptionFunction = 0;
    bool corruptCrc = false;     // RTU replies carry an inverted CRC
    uint32_t maxItems = 0;       // non-zero: reads of more registers or bits than this are refused
    bool maxItemsSilent = false; // ... with no reply at all, rather than exception 3
    uint32_t dropCount = 0;      // TCP: close the connection instead of answering the next N requests
    bool dropWithReset = false;  // the close sends a reset (RST) rather than an orderly FIN
    bool nextRaw = false;        // nextReply is sent as the whole frame, without header or CRC
    bool hasNextReply = false;   // the next reply is replaced by nextReply
    std::vector<uint8_t> nextReply;
};

class SimDevice {
public:
    explicit SimDevice(uint8_t slave);

    uint8_t Slave() const { return slave_; }

    // When strict, reading or writing an address that the configuration never defined fails with
    // exception 2 (illegal data address); otherwise such addresses read as 0 and accept writes.
    void SetStrict(bool strict) { strict_ = strict; }
    bool Strict() const { return strict_; }

    void Define(SimTable table, uint16_t address, uint16_t value);
    void DefineWave(SimTable table, uint16_t address, const SimWave& wave);
    bool IsDefined(SimTable table, uint16_t address) const;
    // The value at `elapsedMs` after start; coils and discrete inputs are 0 or 1.
    uint16_t Value(SimTable table, uint16_t address, uint64_t elapsedMs) const;
    // Stores a fixed value; a moving register stops moving. Marks the address as defined.
    void Store(SimTable table, uint16_t address, uint16_t value);

    uint8_t exceptionStatus = 0;
    std::string identification[7];
    bool hasIdentification[7] = {false, false, false, false, false, false, false};
    uint8_t conformityLevel = 0; // 0: worked out from the objects present
    SimFaults faults;

private:
    struct Table {
        std::vector<uint16_t> values;
        std::vector<uint8_t> defined;
        std::map<uint16_t, SimWave> waves;
    };
    Table& TableOf(SimTable table) { return tables_[static_cast<int>(table)]; }
    const Table& TableOf(SimTable table) const { return tables_[static_cast<int>(table)]; }

    uint8_t slave_;
    bool strict_ = false;
    Table tables_[4];
};

} // namespace mvsim
