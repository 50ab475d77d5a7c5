#include "sim/control_commands.h"

#include "sim/sim_config.h"

#include <cstdlib>
#include <sstream>

namespace mvsim {

static bool ParseTable(const std::string& word, SimTable& table) {
    if (word == "hr")
        table = SimTable::Holding;
    else if (word == "ir")
        table = SimTable::Input;
    else if (word == "co")
        table = SimTable::Coils;
    else if (word == "di")
        table = SimTable::DiscreteInputs;
    else
        return false;
    return true;
}

static bool Number(const std::string& word, long long minimum, long long maximum, long long& value) {
    return ParseSimNumber(word.c_str(), value) && value >= minimum && value <= maximum;
}

ControlOutcome RunControlCommand(const std::string& line, std::vector<std::unique_ptr<SimDevice>>& devices,
                                 uint64_t elapsedMs, std::string& reply) {
    std::istringstream in(line);
    std::vector<std::string> words;
    std::string word;
    while (in >> word)
        words.push_back(word);
    reply = "ok";
    if (words.empty()) {
        reply = "error empty command";
        return ControlOutcome::Done;
    }

    // A trailing "slave S" limits the command to one device; otherwise it applies to every device
    // (set and get then use the first one).
    std::vector<SimDevice*> targets;
    if (words.size() >= 3 && words[words.size() - 2] == "slave") {
        long long slave = 0;
        if (!Number(words.back(), 0, 255, slave)) {
            reply = "error bad slave";
            return ControlOutcome::Done;
        }
        for (auto& device : devices)
            if (device->Slave() == slave)
                targets.push_back(device.get());
        if (targets.empty()) {
            reply = "error no such slave";
            return ControlOutcome::Done;
        }
        words.resize(words.size() - 2);
    } else {
        for (auto& device : devices)
            targets.push_back(device.get());
    }

    const std::string& command = words[0];
    const size_t args = words.size() - 1;
    long long a = 0;
    long long b = 0;
    if (command == "ping" && args == 0)
        return ControlOutcome::Done;
    if (command == "quit" && args == 0)
        return ControlOutcome::Quit;
    if (command == "clear" && args == 0) {
        for (SimDevice* device : targets)
            device->faults = SimFaults{};
        return ControlOutcome::Done;
    }
    if ((command == "silent" || command == "crc") && args == 1 && Number(words[1], 0, 1, a)) {
        for (SimDevice* device : targets)
            (command == "silent" ? device->faults.silent : device->faults.corruptCrc) = a != 0;
        return ControlOutcome::Done;
    }
    if ((command == "late" || command == "drip") && args == 1 && Number(words[1], 0, 600000, a)) {
        for (SimDevice* device : targets)
            (command == "late" ? device->faults.lateMs : device->faults.dripMs) = static_cast<uint32_t>(a);
        return ControlOutcome::Done;
    }
    if (command == "exception" && (args == 1 || (args == 3 && words[2] == "fn")) &&
        Number(words[1], 0, 255, a) && (args == 1 || Number(words[3], 1, 127, b))) {
        for (SimDevice* device : targets) {
            device->faults.exception = static_cast<uint8_t>(a);
            device->faults.exceptionFunction = static_cast<uint8_t>(b);
        }
        return ControlOutcome::Done;
    }
    if (command == "maxitems" && (args == 1 || (args == 2 && words[2] == "silent")) &&
        Number(words[1], 0, 2000, a)) {
        for (SimDevice* device : targets) {
            device->faults.maxItems = static_cast<uint32_t>(a);
            device->faults.maxItemsSilent = args == 2;
        }
        return ControlOutcome::Done;
    }
    if ((command == "drop" || command == "reset") && args <= 1 &&
        (args == 0 || Number(words[1], 0, 1000000, a))) {
        for (SimDevice* device : targets) {
            device->faults.dropCount = args == 0 ? 1 : static_cast<uint32_t>(a);
            device->faults.dropWithReset = command == "reset";
        }
        return ControlOutcome::Done;
    }
    if ((command == "next" || command == "nextraw") && args >= 1) {
        std::vector<uint8_t> bytes;
        for (size_t i = 1; i < words.size(); ++i) {
            char* end = nullptr;
            unsigned long value = std::strtoul(words[i].c_str(), &end, 16);
            if (words[i].empty() || *end != '\0' || value > 0xFF) {
                reply = "error bad byte " + words[i];
                return ControlOutcome::Done;
            }
            bytes.push_back(static_cast<uint8_t>(value));
        }
        for (SimDevice* device : targets) {
            device->faults.hasNextReply = true;
            device->faults.nextRaw = command == "nextraw";
            device->faults.nextReply = bytes;
        }
        return ControlOutcome::Done;
    }
    if (command == "status" && args == 1 && Number(words[1], 0, 255, a)) {
        for (SimDevice* device : targets)
            device->exceptionStatus = static_cast<uint8_t>(a);
        return ControlOutcome::Done;
    }
    SimTable table;
    if (command == "set" && args == 3 && ParseTable(words[1], table) && Number(words[2], 0, 65535, a) &&
        Number(words[3], -32768, 65535, b)) {
        targets[0]->Store(table, static_cast<uint16_t>(a), static_cast<uint16_t>(b & 0xFFFF));
        return ControlOutcome::Done;
    }
    if (command == "get" && args == 2 && ParseTable(words[1], table) && Number(words[2], 0, 65535, a)) {
        reply = std::to_string(targets[0]->Value(table, static_cast<uint16_t>(a), elapsedMs));
        return ControlOutcome::Done;
    }
    reply = "error unknown command or bad arguments: " + line;
    return ControlOutcome::Done;
}

} // namespace mvsim
